// The virtual wave device: it plays each buffer for the time its frames last at the
// format's rate (on a clock that a test may speed up) and, when named "virtual:FILE",
// records what it played into a WAV file. The recording is written beside its final name
// and renamed into place when the stream ends, so a failed or unfinished recording never
// stands under that name. A virtual input hears what the virtual outputs have played,
// through the loop the host sets (a simulated system) or a plain cable, frame for frame
// as they play: output and input run on one clock.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>

#include "platform/portable/wave_backends.h"

namespace tovrel::portable::detail {
namespace {

constexpr char kPrefix[] = "virtual:";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr std::size_t kWavHeaderBytes = 44;

std::atomic<double>& Speed() {
  static std::atomic<double> speed{1.0};
  return speed;
}

void PutLe(unsigned char* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The canonical 44-byte header of a PCM WAV file with `dataBytes` of samples.
void WavHeader(unsigned char* h, const WAVEFORMATEX& f, uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  PutLe(h + 4, 36 + dataBytes, 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe(h + 16, 16, 4);
  PutLe(h + 20, WAVE_FORMAT_PCM, 2);
  PutLe(h + 22, f.nChannels, 2);
  PutLe(h + 24, f.nSamplesPerSec, 4);
  PutLe(h + 28, f.nAvgBytesPerSec, 4);
  PutLe(h + 32, f.nBlockAlign, 2);
  PutLe(h + 34, f.wBitsPerSample, 2);
  std::memcpy(h + 36, "data", 4);
  PutLe(h + 40, dataBytes, 4);
}

int16_t ToSample16(const char* at, WORD bits) {
  if (bits == 8) return static_cast<int16_t>((static_cast<int>(static_cast<unsigned char>(*at)) - 128) * 256);
  return static_cast<int16_t>(static_cast<unsigned char>(at[0]) | (static_cast<unsigned char>(at[1]) << 8));
}
void FromSample16(int16_t v, char* at, WORD bits) {
  if (bits == 8) {
    *at = static_cast<char>((v >> 8) + 128);
    return;
  }
  at[0] = static_cast<char>(v & 0xFF);
  at[1] = static_cast<char>((v >> 8) & 0xFF);
}

class VirtualSource : public WaveSource {
 public:
  explicit VirtualSource(const WAVEFORMATEX& format) : format_(format) {}
  ~VirtualSource() override { Stop(); }
  const WAVEFORMATEX& format() const { return format_; }

  bool Start() override;
  void Stop() override;

  long Capture(char* data, std::size_t bytes, WaveInterrupt& interrupt) override {
    bytes -= bytes % format_.nBlockAlign;
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!heard_.empty()) {
        const std::size_t n = std::min(bytes, heard_.size());
        std::copy_n(heard_.begin(), n, data);
        heard_.erase(heard_.begin(), heard_.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<long>(n);
      }
      if (interrupt.IsSet()) return 0;
      more_.wait_for(lock, std::chrono::milliseconds(5));
    }
  }

  // Whole frames heard, from the output's thread.
  void Hear(const char* data, std::size_t bytes) {
    std::lock_guard lock(mutex_);
    heard_.insert(heard_.end(), data, data + bytes);
    more_.notify_all();
  }

 private:
  WAVEFORMATEX format_;
  std::mutex mutex_;
  std::condition_variable more_;
  std::deque<char> heard_;
};

// The recording virtual inputs and the loop they hear the outputs through.
struct Loop {
  std::mutex mutex;
  std::vector<VirtualSource*> listening;
  VirtualWaveLoop loop;
};
Loop& TheLoop() {
  static Loop* loop = new Loop;  // never destroyed: used until process exit
  return *loop;
}

bool VirtualSource::Start() {
  auto& l = TheLoop();
  std::lock_guard lock(l.mutex);
  if (std::find(l.listening.begin(), l.listening.end(), this) == l.listening.end()) l.listening.push_back(this);
  return true;
}

void VirtualSource::Stop() {
  {
    auto& l = TheLoop();
    std::lock_guard lock(l.mutex);
    l.listening.erase(std::remove(l.listening.begin(), l.listening.end(), this), l.listening.end());
  }
  std::lock_guard lock(mutex_);
  heard_.clear();
}

// Frames an output has played reach every recording input, through the loop.
void PassToInputs(const char* data, std::size_t bytes, const WAVEFORMATEX& played) {
  auto& l = TheLoop();
  std::lock_guard lock(l.mutex);
  if (l.listening.empty() || bytes == 0) return;
  const std::size_t frames = bytes / played.nBlockAlign;
  const int outChannels = played.nChannels;
  const std::size_t outBytes = played.wBitsPerSample / 8;
  std::vector<int16_t> out(frames * static_cast<std::size_t>(outChannels));
  for (std::size_t k = 0; k < out.size(); ++k) out[k] = ToSample16(data + k * outBytes, played.wBitsPerSample);
  for (VirtualSource* source : l.listening) {
    const WAVEFORMATEX& f = source->format();
    const int inChannels = f.nChannels;
    std::vector<int16_t> heard(frames * static_cast<std::size_t>(inChannels));
    if (l.loop) {
      l.loop(out.data(), frames, outChannels, heard.data(), inChannels);
    } else {
      for (std::size_t n = 0; n < frames; ++n)
        for (int c = 0; c < inChannels; ++c)
          heard[n * static_cast<std::size_t>(inChannels) + static_cast<std::size_t>(c)] =
              out[n * static_cast<std::size_t>(outChannels) + static_cast<std::size_t>(std::min(c, outChannels - 1))];
    }
    const std::size_t inBytes = f.wBitsPerSample / 8;
    std::vector<char> bytesHeard(heard.size() * inBytes);
    for (std::size_t k = 0; k < heard.size(); ++k) FromSample16(heard[k], bytesHeard.data() + k * inBytes, f.wBitsPerSample);
    source->Hear(bytesHeard.data(), bytesHeard.size());
  }
}

class VirtualSink : public WaveSink {
 public:
  VirtualSink(const WAVEFORMATEX& format, std::string path) : format_(format), path_(std::move(path)) {}
  ~VirtualSink() override {
    if (file_ != nullptr) {
      std::fclose(file_);
      std::remove(PartPath().c_str());
    }
  }

  MMRESULT Start() {
    if (path_.empty()) return MMSYSERR_NOERROR;
    file_ = std::fopen(PartPath().c_str(), "wb");
    if (file_ == nullptr) return MMSYSERR_ERROR;
    unsigned char header[kWavHeaderBytes];
    WavHeader(header, format_, 0);
    ok_ = std::fwrite(header, 1, sizeof header, file_) == sizeof header;
    return ok_ ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
  }

  bool Play(const char* data, std::size_t bytes, WaveClock::time_point queuedAt, WaveInterrupt& interrupt) override {
    bytes -= bytes % format_.nBlockAlign;
    // The device plays on from where its last buffer ended; when that was before this
    // buffer came, it ran dry in between.
    WaveClock::time_point start = WaveClock::now();
    if (playedUntil_) {
      if (queuedAt > *playedUntil_) ++underruns;
      start = std::max(*playedUntil_, queuedAt);
    }
    const double seconds = static_cast<double>(bytes) / format_.nAvgBytesPerSec / Speed().load();
    const auto end = start + std::chrono::duration_cast<WaveClock::duration>(std::chrono::duration<double>(seconds));
    std::size_t played = bytes;
    if (interrupt.WaitUntil(end)) {
      // Cut short: what had been played by now.
      const double part = std::chrono::duration<double>(WaveClock::now() - start).count() / seconds;
      played = part <= 0 ? 0 : part >= 1 ? bytes : static_cast<std::size_t>(part * static_cast<double>(bytes));
      played -= played % format_.nBlockAlign;
      playedUntil_.reset();
    } else {
      playedUntil_ = end;
    }
    Record(data, played);
    PassToInputs(data, played, format_);
    return ok_;
  }

  void Discard() override { playedUntil_.reset(); }

  bool Finish() override {
    if (file_ == nullptr) return ok_;
    unsigned char header[kWavHeaderBytes];
    if (dataBytes_ > 0xFFFFFFFFull - 36) ok_ = false;  // beyond what a WAV file can say
    WavHeader(header, format_, static_cast<uint32_t>(dataBytes_));
    ok_ = ok_ && std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, file_) == sizeof header;
    ok_ = std::fclose(file_) == 0 && ok_;
    file_ = nullptr;
    ok_ = ok_ && std::rename(PartPath().c_str(), path_.c_str()) == 0;
    if (!ok_) std::remove(PartPath().c_str());
    return ok_;
  }

 private:
  std::string PartPath() const { return path_ + ".part"; }

  void Record(const char* data, std::size_t bytes) {
    if (file_ == nullptr || bytes == 0 || !ok_) return;
    ok_ = std::fwrite(data, 1, bytes, file_) == bytes;
    dataBytes_ += bytes;
  }

  WAVEFORMATEX format_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool ok_ = true;
  uint64_t dataBytes_ = 0;
  std::optional<WaveClock::time_point> playedUntil_;
};

}  // namespace

bool IsVirtualName(const std::string& name) {
  return name == "virtual" || (name.compare(0, kPrefixLength, kPrefix) == 0 && name.size() > kPrefixLength);
}

double VirtualSpeed() { return Speed().load(); }

WaveDeviceInfo ProbeVirtual(const std::string& name) {
  WaveDeviceInfo info;
  info.name = name;
  info.backend = "virtual";
  info.description = name == "virtual" ? "plays silently in real time" : "records to " + name.substr(kPrefixLength);
  info.caps = MakeCaps(name, 0xFFF, 2);
  info.inCaps = MakeInCaps(name, 0xFFF, 2);
  return info;
}

MMRESULT OpenVirtualInput(const WAVEFORMATEX& format, std::unique_ptr<WaveSource>* source) {
  *source = std::make_unique<VirtualSource>(format);
  return MMSYSERR_NOERROR;
}

MMRESULT OpenVirtual(const std::string& name, const WAVEFORMATEX& format, std::unique_ptr<WaveSink>* sink) {
  auto s = std::make_unique<VirtualSink>(format, name == "virtual" ? std::string() : name.substr(kPrefixLength));
  if (MMRESULT r = s->Start(); r != MMSYSERR_NOERROR) return r;
  *sink = std::move(s);
  return MMSYSERR_NOERROR;
}

}  // namespace tovrel::portable::detail

namespace tovrel::portable {

void SetVirtualWaveSpeed(double factor) { detail::Speed().store(factor > 0 ? factor : 1.0); }

void SetVirtualWaveLoop(VirtualWaveLoop loop) {
  auto& l = detail::TheLoop();
  std::lock_guard lock(l.mutex);
  l.loop = std::move(loop);
}

}  // namespace tovrel::portable
