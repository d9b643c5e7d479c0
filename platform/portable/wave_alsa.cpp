// The ALSA back end: a wave device is an ALSA PCM by name ("default", "hw:0", "plughw:1"
// or a PCM of the configuration), its playback stream for output and its capture stream for
// input. The PCMs are opened non-blocking, so the threads wait in short slices and a reset
// never waits for the device.
//
// Play and record stay sample-synchronous: an input and an output open on the same name
// are linked (snd_pcm_link), so the output's start starts both; where the PCMs cannot be
// linked, the input starts right after the output does and the gap between their trigger
// time stamps, in frames, is made up (silence before the recording's first frame, or frames
// dropped), so that recorded frame k is heard when played frame k is sent.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/portable/wave_backends.h"

namespace tovrel::portable::detail {
namespace {

constexpr unsigned kLatencyMicroseconds = 100000;
constexpr int kWaitSliceMilliseconds = 20;

// libasound prints its errors to stderr; here they become return codes.
void Quiet(const char*, int, const char*, int, const char*, ...) {}
void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(Quiet); });
}

MMRESULT OpenError(int err) {
  if (err == -EBUSY || err == -EAGAIN) return MMSYSERR_ALLOCATED;
  if (err == -ENOMEM) return MMSYSERR_NOMEM;
  return MMSYSERR_BADDEVICEID;
}

snd_pcm_format_t AlsaFormat(WORD bits) { return bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE; }

// Whether the PCM takes the format exactly (rate within 1 %, as plug devices resample).
bool Supports(snd_pcm_t* pcm, snd_pcm_format_t format, unsigned channels, unsigned rate) {
  snd_pcm_hw_params_t* params = nullptr;
  if (snd_pcm_hw_params_malloc(&params) < 0) return false;
  bool ok = snd_pcm_hw_params_any(pcm, params) >= 0 &&
            snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
            snd_pcm_hw_params_set_format(pcm, params, format) >= 0 &&
            snd_pcm_hw_params_set_channels(pcm, params, channels) >= 0;
  if (ok) {
    unsigned near = rate;
    ok = snd_pcm_hw_params_set_rate_near(pcm, params, &near, nullptr) >= 0 && near * 100 >= rate * 99 &&
         near * 100 <= rate * 101;
  }
  snd_pcm_hw_params_free(params);
  return ok;
}

class AlsaSource;

// The open streams by name, to pair an input with the output on the same PCM.
struct Pairs {
  std::mutex mutex;
  std::map<std::string, snd_pcm_t*> playing;
  std::map<std::string, AlsaSource*> recording;
};
Pairs& ThePairs() {
  static Pairs* pairs = new Pairs;  // never destroyed: used until process exit
  return *pairs;
}

double TriggerSeconds(snd_pcm_t* pcm) {
  snd_pcm_status_t* status = nullptr;
  if (snd_pcm_status_malloc(&status) < 0) return 0;
  double seconds = 0;
  if (snd_pcm_status(pcm, status) >= 0) {
    snd_htimestamp_t t{};
    snd_pcm_status_get_trigger_htstamp(status, &t);
    seconds = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  snd_pcm_status_free(status);
  return seconds;
}

class AlsaSource : public WaveSource {
 public:
  AlsaSource(snd_pcm_t* pcm, std::string name, const WAVEFORMATEX& format)
      : pcm_(pcm), name_(std::move(name)), format_(format) {
    auto& p = ThePairs();
    std::lock_guard lock(p.mutex);
    p.recording[name_] = this;
    if (auto it = p.playing.find(name_); it != p.playing.end()) Link(it->second);
  }
  ~AlsaSource() override {
    {
      auto& p = ThePairs();
      std::lock_guard lock(p.mutex);
      if (auto it = p.recording.find(name_); it != p.recording.end() && it->second == this) p.recording.erase(it);
    }
    if (linked_) snd_pcm_unlink(pcm_);
    snd_pcm_close(pcm_);
  }

  // With the pairs locked: links to the output's PCM when the library can.
  void Link(snd_pcm_t* playback) {
    playback_ = playback;
    linked_ = snd_pcm_link(playback, pcm_) >= 0;
  }
  void Unpair() {
    if (linked_) snd_pcm_unlink(pcm_);
    linked_ = false;
    playback_ = nullptr;
    waiting_ = false;
  }

  bool Start() override {
    auto& p = ThePairs();
    std::lock_guard lock(p.mutex);
    pad_ = 0;
    started_ = false;
    if (playback_ != nullptr && snd_pcm_state(playback_) == SND_PCM_STATE_PREPARED) {
      // The output has not started yet: the input starts with it.
      waiting_ = !linked_;
      return true;
    }
    started_ = snd_pcm_start(pcm_) >= 0;
    return started_;
  }

  // With the pairs locked, from the output's thread once it runs: starts now and measures
  // how many frames later than the output.
  void StartWith(snd_pcm_t* playback) {
    if (!waiting_) return;
    waiting_ = false;
    started_ = snd_pcm_start(pcm_) >= 0;
    if (!started_) return;
    const double a = TriggerSeconds(playback), b = TriggerSeconds(pcm_);
    if (a > 0 && b > 0) {
      const double frames = std::round((b - a) * format_.nSamplesPerSec);
      pad_ = static_cast<long>(std::clamp(frames, -static_cast<double>(format_.nSamplesPerSec),
                                          static_cast<double>(format_.nSamplesPerSec)));
    }
  }
  bool Waiting() const { return waiting_; }

  long Capture(char* data, std::size_t bytes, WaveInterrupt& interrupt) override {
    const std::size_t frame = format_.nBlockAlign;
    // A period at a time: some plug-ins (the file PCM's input file) take no more per read.
    snd_pcm_uframes_t buffer = 0, period = 0;
    snd_pcm_uframes_t want = bytes / frame;
    if (snd_pcm_get_params(pcm_, &buffer, &period) >= 0 && period > 0) want = std::min(want, period);
    for (;;) {
      if (interrupt.IsSet() || want == 0) return 0;
      bool running = false;
      {
        std::lock_guard lock(ThePairs().mutex);
        if (pad_ > 0) {  // the frames the input missed, started after the output
          const auto n = std::min<snd_pcm_uframes_t>(want, static_cast<snd_pcm_uframes_t>(pad_));
          std::memset(data, format_.wBitsPerSample == 8 ? 0x80 : 0, n * frame);
          pad_ -= static_cast<long>(n);
          return static_cast<long>(n * frame);
        }
        // A linked input runs once the output has started both.
        if (!started_ && linked_ && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) started_ = true;
        running = started_;
      }
      if (!running) {  // waits for the output
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMilliseconds / 4));
        continue;
      }
      snd_pcm_sframes_t n = snd_pcm_readi(pcm_, data, want);
      if (n == -EAGAIN || n == 0) {
        snd_pcm_wait(pcm_, kWaitSliceMilliseconds);
        continue;
      }
      if (n < 0) {
        if (n == -EPIPE) ++overruns;
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0 || snd_pcm_start(pcm_) < 0) return -1;
        continue;
      }
      std::lock_guard lock(ThePairs().mutex);
      if (pad_ < 0) {  // the frames recorded before the output started
        const long drop = std::min<long>(-pad_, static_cast<long>(n));
        pad_ += drop;
        n -= drop;
        std::memmove(data, data + static_cast<std::size_t>(drop) * frame, static_cast<std::size_t>(n) * frame);
        if (n == 0) continue;
      }
      return static_cast<long>(static_cast<std::size_t>(n) * frame);
    }
  }

  void Stop() override {
    std::lock_guard lock(ThePairs().mutex);
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    started_ = false;
    waiting_ = false;
    pad_ = 0;
  }

 private:
  snd_pcm_t* pcm_;
  std::string name_;
  WAVEFORMATEX format_;
  snd_pcm_t* playback_ = nullptr;  // the output on the same name
  bool linked_ = false;
  bool waiting_ = false;  // to start once the output runs
  bool started_ = false;
  long pad_ = 0;          // silence to give first (> 0) or frames to drop (< 0)
};

class AlsaSink : public WaveSink {
 public:
  AlsaSink(snd_pcm_t* pcm, std::string name, const WAVEFORMATEX& format)
      : pcm_(pcm), name_(std::move(name)), format_(format) {
    auto& p = ThePairs();
    std::lock_guard lock(p.mutex);
    p.playing[name_] = pcm_;
    if (auto it = p.recording.find(name_); it != p.recording.end()) it->second->Link(pcm_);
  }
  ~AlsaSink() override {
    {
      auto& p = ThePairs();
      std::lock_guard lock(p.mutex);
      if (auto it = p.playing.find(name_); it != p.playing.end() && it->second == pcm_) {
        p.playing.erase(it);
        if (auto r = p.recording.find(name_); r != p.recording.end()) r->second->Unpair();
      }
    }
    snd_pcm_close(pcm_);
  }

  bool Play(const char* data, std::size_t bytes, WaveClock::time_point, WaveInterrupt& interrupt) override {
    snd_pcm_uframes_t left = bytes / format_.nBlockAlign;
    while (left > 0) {
      if (interrupt.IsSet()) return true;
      snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, left);
      if (n == -EAGAIN) {
        snd_pcm_wait(pcm_, kWaitSliceMilliseconds);
        continue;
      }
      if (n < 0) {
        if (n == -EPIPE) ++underruns;
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return false;
        continue;
      }
      data += static_cast<std::size_t>(n) * format_.nBlockAlign;
      left -= static_cast<snd_pcm_uframes_t>(n);
      StartWaitingInput();
    }
    return true;
  }

  void Discard() override {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
  }

  bool Finish() override {
    // Plays out what the device still holds (the last fraction of a second).
    StartWaitingInput();
    snd_pcm_nonblock(pcm_, 0);
    const int err = snd_pcm_drain(pcm_);
    return err >= 0 || err == -EBADFD;
  }

 private:
  // An input on the same name that could not be linked starts once this output runs.
  void StartWaitingInput() {
    auto& p = ThePairs();
    std::lock_guard lock(p.mutex);
    auto it = p.recording.find(name_);
    if (it == p.recording.end() || !it->second->Waiting()) return;
    // Started now rather than at the start threshold, which some PCMs never reach.
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) it->second->StartWith(pcm_);
  }

  snd_pcm_t* pcm_;
  std::string name_;
  WAVEFORMATEX format_;
};

// The standard formats the PCM takes, and its most channels (up to 2).
void ProbeFormats(snd_pcm_t* pcm, DWORD& formats, WORD& channels) {
  static const unsigned kRates[] = {11025, 22050, 44100};
  formats = 0;
  DWORD bit = 1;
  for (unsigned rate : kRates)
    for (snd_pcm_format_t f : {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE})
      for (unsigned c : {1u, 2u}) {
        // Bits in the order of WAVE_FORMAT_1M08, 1S08, 1M16, 1S16, 2M08, ...
        if (Supports(pcm, f, c, rate)) formats |= bit;
        bit <<= 1;
      }
  channels = 0;
  snd_pcm_hw_params_t* params = nullptr;
  if (snd_pcm_hw_params_malloc(&params) >= 0) {
    unsigned most = 0;
    if (snd_pcm_hw_params_any(pcm, params) >= 0 && snd_pcm_hw_params_get_channels_max(params, &most) >= 0)
      channels = static_cast<WORD>(std::min(most, 2u));
    snd_pcm_hw_params_free(params);
  }
}

}  // namespace

WaveDeviceInfo ProbeAlsa(const std::string& name) {
  SilenceAlsa();
  WaveDeviceInfo info;
  info.name = name;
  info.backend = "alsa";
  snd_pcm_t* pcm = nullptr;
  if (int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK); err < 0) {
    info.problem = snd_strerror(err);
    info.caps = MakeCaps(name, 0, 0);
    info.inProblem = info.problem;
    info.inCaps = MakeInCaps(name, 0, 0);
    return info;
  }
  snd_pcm_info_t* pcmInfo = nullptr;
  if (snd_pcm_info_malloc(&pcmInfo) >= 0) {
    if (snd_pcm_info(pcm, pcmInfo) >= 0) info.description = snd_pcm_info_get_name(pcmInfo);
    snd_pcm_info_free(pcmInfo);
  }
  if (info.description.empty()) info.description = snd_pcm_type_name(snd_pcm_type(pcm));
  DWORD formats = 0;
  WORD channels = 0;
  ProbeFormats(pcm, formats, channels);
  snd_pcm_close(pcm);
  info.caps = MakeCaps(name, formats, channels);
  if (int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK); err < 0) {
    info.inProblem = snd_strerror(err);
    info.inCaps = MakeInCaps(name, 0, 0);
    return info;
  }
  ProbeFormats(pcm, formats, channels);
  snd_pcm_close(pcm);
  info.inCaps = MakeInCaps(name, formats, channels);
  return info;
}

MMRESULT OpenAlsa(const std::string& name, const WAVEFORMATEX& format, bool queryOnly,
                  std::unique_ptr<WaveSink>* sink) {
  SilenceAlsa();
  snd_pcm_t* pcm = nullptr;
  if (int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK); err < 0)
    return OpenError(err);
  if (queryOnly) {
    const bool ok = Supports(pcm, AlsaFormat(format.wBitsPerSample), format.nChannels, format.nSamplesPerSec);
    snd_pcm_close(pcm);
    return ok ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
  }
  if (snd_pcm_set_params(pcm, AlsaFormat(format.wBitsPerSample), SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                         format.nSamplesPerSec, 1, kLatencyMicroseconds) < 0) {
    snd_pcm_close(pcm);
    return WAVERR_BADFORMAT;
  }
  *sink = std::make_unique<AlsaSink>(pcm, name, format);
  return MMSYSERR_NOERROR;
}

MMRESULT OpenAlsaInput(const std::string& name, const WAVEFORMATEX& format, bool queryOnly,
                       std::unique_ptr<WaveSource>* source) {
  SilenceAlsa();
  snd_pcm_t* pcm = nullptr;
  if (int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK); err < 0)
    return OpenError(err);
  if (queryOnly) {
    const bool ok = Supports(pcm, AlsaFormat(format.wBitsPerSample), format.nChannels, format.nSamplesPerSec);
    snd_pcm_close(pcm);
    return ok ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
  }
  bool ok = snd_pcm_set_params(pcm, AlsaFormat(format.wBitsPerSample), SND_PCM_ACCESS_RW_INTERLEAVED,
                               format.nChannels, format.nSamplesPerSec, 1, kLatencyMicroseconds) >= 0;
  // Started only on purpose (or with the linked output), never by the first read.
  snd_pcm_sw_params_t* sw = nullptr;
  if (ok && snd_pcm_sw_params_malloc(&sw) >= 0) {
    snd_pcm_uframes_t boundary = 0;
    ok = snd_pcm_sw_params_current(pcm, sw) >= 0 && snd_pcm_sw_params_get_boundary(sw, &boundary) >= 0 &&
         snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary) >= 0 && snd_pcm_sw_params(pcm, sw) >= 0;
    snd_pcm_sw_params_free(sw);
  }
  if (!ok) {
    snd_pcm_close(pcm);
    return WAVERR_BADFORMAT;
  }
  *source = std::make_unique<AlsaSource>(pcm, name, format);
  return MMSYSERR_NOERROR;
}

std::vector<std::pair<std::string, std::string>> AlsaCards() {
  SilenceAlsa();
  std::vector<std::pair<std::string, std::string>> cards;
  int card = -1;
  while (snd_card_next(&card) >= 0 && card >= 0) {
    char* cardName = nullptr;
    std::string description;
    if (snd_card_get_name(card, &cardName) >= 0 && cardName != nullptr) {
      description = cardName;
      std::free(cardName);
    }
    cards.emplace_back("plughw:" + std::to_string(card), description);
  }
  return cards;
}

}  // namespace tovrel::portable::detail
