// The ALSA back end: a wave device is an ALSA playback PCM by name ("default", "hw:0",
// "plughw:1" or a PCM of the configuration). The PCM is opened non-blocking, so the player
// thread waits for room in short slices and a reset never waits for the device.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

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

class AlsaSink : public WaveSink {
 public:
  AlsaSink(snd_pcm_t* pcm, const WAVEFORMATEX& format) : pcm_(pcm), format_(format) {}
  ~AlsaSink() override { snd_pcm_close(pcm_); }

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
    }
    return true;
  }

  void Discard() override {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
  }

  bool Finish() override {
    // Plays out what the device still holds (the last fraction of a second).
    snd_pcm_nonblock(pcm_, 0);
    const int err = snd_pcm_drain(pcm_);
    return err >= 0 || err == -EBADFD;
  }

 private:
  snd_pcm_t* pcm_;
  WAVEFORMATEX format_;
};

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
    return info;
  }
  snd_pcm_info_t* pcmInfo = nullptr;
  if (snd_pcm_info_malloc(&pcmInfo) >= 0) {
    if (snd_pcm_info(pcm, pcmInfo) >= 0) info.description = snd_pcm_info_get_name(pcmInfo);
    snd_pcm_info_free(pcmInfo);
  }
  if (info.description.empty()) info.description = snd_pcm_type_name(snd_pcm_type(pcm));
  static const unsigned kRates[] = {11025, 22050, 44100};
  DWORD formats = 0;
  DWORD bit = 1;
  for (unsigned rate : kRates)
    for (snd_pcm_format_t f : {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE})
      for (unsigned channels : {1u, 2u}) {
        // Bits in the order of WAVE_FORMAT_1M08, 1S08, 1M16, 1S16, 2M08, ...
        if (Supports(pcm, f, channels, rate)) formats |= bit;
        bit <<= 1;
      }
  WORD channels = 0;
  snd_pcm_hw_params_t* params = nullptr;
  if (snd_pcm_hw_params_malloc(&params) >= 0) {
    unsigned most = 0;
    if (snd_pcm_hw_params_any(pcm, params) >= 0 && snd_pcm_hw_params_get_channels_max(params, &most) >= 0)
      channels = static_cast<WORD>(std::min(most, 2u));
    snd_pcm_hw_params_free(params);
  }
  snd_pcm_close(pcm);
  info.caps = MakeCaps(name, formats, channels);
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
  *sink = std::make_unique<AlsaSink>(pcm, format);
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
