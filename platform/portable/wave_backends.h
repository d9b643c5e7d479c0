// The audio back ends behind the wave output and input calls (waveout.cpp, wavein.cpp): the
// virtual device and ALSA. A back end opens a stream in one PCM format and plays buffers
// into it or records buffers from it; the fronts keep the device table, the queues of
// headers and the threads that play and record them.
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

// An open input stream. Only the device's recorder thread calls Capture; Start and Stop are
// called while the recorder is parked.
class WaveSource {
 public:
  virtual ~WaveSource() = default;
  // Starts recording (a stream linked to an output of the same device may start with it).
  virtual bool Start() = 0;
  // Records whole frames into `data` (at most `bytes`), waiting until some are there;
  // returns what it recorded, 0 when interrupted first, -1 when the device failed.
  virtual long Capture(char* data, std::size_t bytes, WaveInterrupt& interrupt) = 0;
  // Stops recording and drops what the device still holds.
  virtual void Stop() = 0;
  // Times the device had more than the buffers could take.
  long overruns = 0;
};

// Header flags, stored atomically: the caller may poll them (WaveHeaderDone) while a
// device's thread sets them.
inline DWORD HeaderFlags(const WAVEHDR* h) { return __atomic_load_n(&h->dwFlags, __ATOMIC_ACQUIRE); }
inline void StoreHeaderFlags(WAVEHDR* h, DWORD flags) { __atomic_store_n(&h->dwFlags, flags, __ATOMIC_RELEASE); }
inline void MarkHeaderDone(WAVEHDR* h) {
  StoreHeaderFlags(h, (HeaderFlags(h) & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE);
}
inline bool ValidHeader(const WAVEHDR* h, UINT size) { return h != nullptr && size >= sizeof(WAVEHDR); }
// Checks a header for queueing (waveOutWrite, waveInAddBuffer): 0 when it may be queued.
inline MMRESULT QueueableHeader(const WAVEHDR* h, UINT size) {
  if (!ValidHeader(h, size)) return MMSYSERR_INVALPARAM;
  const DWORD flags = HeaderFlags(h);
  if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  return MMSYSERR_NOERROR;
}
// waveOut/waveInPrepareHeader (prepare) and UnprepareHeader, on a device that is open.
inline MMRESULT PrepareHeader(WAVEHDR* h, UINT size, bool open, bool prepare) {
  if (!ValidHeader(h, size) || (prepare && h->lpData == nullptr && h->dwBufferLength > 0)) return MMSYSERR_INVALPARAM;
  if (!open) return MMSYSERR_INVALHANDLE;
  const DWORD flags = HeaderFlags(h);
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  StoreHeaderFlags(h, prepare ? flags | WHDR_PREPARED : flags & ~static_cast<DWORD>(WHDR_PREPARED));
  return MMSYSERR_NOERROR;
}

// The PCM formats a device is asked for: format tag 1, 8 or 16 bits, consistent fields.
bool ValidPcmFormat(const WAVEFORMATEX& format);
// A device's capabilities record: the name (truncated) and the standard formats.
WAVEOUTCAPSA MakeCaps(const std::string& name, DWORD formats, WORD channels);
WAVEINCAPSA MakeInCaps(const std::string& name, DWORD formats, WORD channels);

// The device table (waveout.cpp), shared by the input front: the name and capabilities of
// device `device` (WAVE_MAPPER: the first); false when there is no such device.
bool DeviceAt(UINT device, WaveDeviceInfo& info);
// Counts what an input did into WaveOutActivity.
void CountInputActivity(long recorded, long overruns, long errors);

// "virtual" and "virtual:FILE".
bool IsVirtualName(const std::string& name);
WaveDeviceInfo ProbeVirtual(const std::string& name);
MMRESULT OpenVirtual(const std::string& name, const WAVEFORMATEX& format, std::unique_ptr<WaveSink>* sink);
double VirtualSpeed();
MMRESULT OpenVirtualInput(const WAVEFORMATEX& format, std::unique_ptr<WaveSource>* source);

// ALSA PCMs.
WaveDeviceInfo ProbeAlsa(const std::string& name);
MMRESULT OpenAlsa(const std::string& name, const WAVEFORMATEX& format, bool queryOnly, std::unique_ptr<WaveSink>* sink);
MMRESULT OpenAlsaInput(const std::string& name, const WAVEFORMATEX& format, bool queryOnly,
                       std::unique_ptr<WaveSource>* source);
// "plughw:N" for each sound card, with the card's name.
std::vector<std::pair<std::string, std::string>> AlsaCards();

}  // namespace tovrel::portable::detail
