// The audio back ends behind the wave output calls (waveout.cpp): the virtual device and
// ALSA. A back end opens a stream in one PCM format and plays buffers into it; the front
// keeps the device table, the queue of headers and the thread that plays them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/portable/faces.h"

namespace tovrel::portable::detail {

using WaveClock = std::chrono::steady_clock;

// Set by waveOutReset and waveOutClose to cut a buffer short.
class WaveInterrupt {
 public:
  void Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    set_ = false;
  }
  bool IsSet() {
    std::lock_guard lock(mutex_);
    return set_;
  }
  // Waits until `deadline`; true when interrupted first.
  bool WaitUntil(WaveClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

// An open stream. Only the device's player thread calls Play; Discard and Finish are called
// while the player is parked.
class WaveSink {
 public:
  virtual ~WaveSink() = default;
  // Plays whole frames of `bytes` (queued by the caller at `queuedAt`), returning once the
  // device has taken them at its own pace, or early when interrupted. False: the device failed.
  virtual bool Play(const char* data, std::size_t bytes, WaveClock::time_point queuedAt, WaveInterrupt& interrupt) = 0;
  // Drops what the device still holds.
  virtual void Discard() = 0;
  // Ends the stream after what it holds has played; false when that failed (a recording not kept).
  virtual bool Finish() = 0;
  // Times the device ran dry before the next buffer came.
  long underruns = 0;
};

// The PCM formats a device is asked for: format tag 1, 8 or 16 bits, consistent fields.
bool ValidPcmFormat(const WAVEFORMATEX& format);
// A device's capabilities record: the name (truncated) and the standard formats.
WAVEOUTCAPSA MakeCaps(const std::string& name, DWORD formats, WORD channels);

// "virtual" and "virtual:FILE".
bool IsVirtualName(const std::string& name);
WaveDeviceInfo ProbeVirtual(const std::string& name);
MMRESULT OpenVirtual(const std::string& name, const WAVEFORMATEX& format, std::unique_ptr<WaveSink>* sink);
double VirtualSpeed();

// ALSA PCMs.
WaveDeviceInfo ProbeAlsa(const std::string& name);
MMRESULT OpenAlsa(const std::string& name, const WAVEFORMATEX& format, bool queryOnly, std::unique_ptr<WaveSink>* sink);
// "plughw:N" for each sound card, with the card's name.
std::vector<std::pair<std::string, std::string>> AlsaCards();

}  // namespace tovrel::portable::detail
