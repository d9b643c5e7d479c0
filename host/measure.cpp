#include "host/measure.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>

#include "frame/clipwave.h"
#include "frame/fft.h"
#include "host/user.h"
#include "platform/wave.h"
#include "platform/win.h"

namespace tovrel::host {

namespace {

constexpr long kBufferFrames = 4096;
constexpr int kBuffers = 8;           // in flight on each side
constexpr double kStallSeconds = 10;  // an input that records nothing this long has failed

// Rounded to 0.01 dB (and never -0).
double Db(double v) { return v > 0 ? std::round(2000.0 * std::log10(v / 32768.0)) / 100.0 + 0.0 : -200.0; }

std::string WaveError(MMRESULT r) {
  char text[MAXERRORLENGTH] = {};
  waveOutGetErrorTextA(r, text, sizeof text);
  return text;
}

struct Headers {
  std::vector<std::vector<int16_t>> data;
  std::vector<WAVEHDR> headers;
  Headers(int count, std::size_t samples) : data(static_cast<std::size_t>(count), std::vector<int16_t>(samples)),
                                            headers(static_cast<std::size_t>(count)) {
    for (std::size_t k = 0; k < headers.size(); ++k) headers[k].lpData = reinterpret_cast<LPSTR>(data[k].data());
  }
};

// The open devices, closed on every path: queued headers are taken back first.
struct Duplex {
  HWAVEOUT out = nullptr;
  HWAVEIN in = nullptr;
  HANDLE event = nullptr;
  Headers played, recorded;
  Duplex(int outChannels, int inChannels)
      : played(kBuffers, static_cast<std::size_t>(kBufferFrames * outChannels)),
        recorded(kBuffers, static_cast<std::size_t>(kBufferFrames * inChannels)) {}
  ~Duplex() {
    if (out != nullptr) {
      waveOutReset(out);
      for (auto& h : played.headers) waveOutUnprepareHeader(out, &h, sizeof h);
      waveOutClose(out);
    }
    if (in != nullptr) {
      waveInReset(in);
      for (auto& h : recorded.headers) waveInUnprepareHeader(in, &h, sizeof h);
      waveInClose(in);
    }
    if (event != nullptr) CloseHandle(event);
  }
};

}  // namespace

Levels LevelsOf(const std::vector<int16_t>& samples, int channels, int channel) {
  Levels l;
  double peak = 0, sum = 0;
  std::size_t count = 0;
  for (std::size_t k = channel < 0 ? 0 : static_cast<std::size_t>(channel); k < samples.size();
       k += channel < 0 ? 1 : static_cast<std::size_t>(channels)) {
    const double v = samples[k];
    peak = std::max(peak, std::fabs(v));
    sum += v * v;
    ++count;
  }
  l.peakDbfs = Db(peak);
  l.rmsDbfs = count ? Db(std::sqrt(sum / static_cast<double>(count))) : -200.0;
  return l;
}

long FindLatency(const std::vector<double>& played, const std::vector<double>& recorded, long maxLag) {
  if (played.empty() || recorded.empty()) return 0;
  std::size_t size = 2;
  while (size < std::max(played.size(), recorded.size()) + static_cast<std::size_t>(maxLag) + 1) size <<= 1;
  std::vector<float> a(size, 0.0f), b(size, 0.0f);
  for (std::size_t k = 0; k < recorded.size(); ++k) a[k] = static_cast<float>(recorded[k] / 32768.0);
  for (std::size_t k = 0; k < played.size(); ++k) b[k] = static_cast<float>(played[k] / 32768.0);
  RealFft(a.data(), static_cast<long>(size), 1);
  RealFft(b.data(), static_cast<long>(size), 1);
  // The cross-correlation: A times the conjugate of B.
  a[0] *= b[0];
  a[1] *= b[1];
  for (std::size_t k = 2; k < size; k += 2) {
    const float re = a[k] * b[k] + a[k + 1] * b[k + 1];
    const float im = a[k + 1] * b[k] - a[k] * b[k + 1];
    a[k] = re;
    a[k + 1] = im;
  }
  RealFft(a.data(), static_cast<long>(size), -1);
  long best = 0;
  for (long lag = 1; lag <= maxLag && static_cast<std::size_t>(lag) < size; ++lag)
    if (std::fabs(a[static_cast<std::size_t>(lag)]) > std::fabs(a[static_cast<std::size_t>(best)])) best = lag;
  return best;
}

std::optional<MeasureResult> PlayAndRecord(const Document& excitation, const MeasureSettings& s, std::string& error,
                                           bool& cancelled) {
  cancelled = false;
  const long start = excitation.selectionLength() > 0 ? excitation.selStart : 0;
  const long period = excitation.selectionLength() > 0 ? excitation.selectionLength() : excitation.frames();
  const int outChannels = excitation.channels;
  const int inChannels = s.inChannels;
  if (period <= 0) {
    error = "the excitation is empty";
    return std::nullopt;
  }
  if (s.periods < 1 || s.preRoll < 0 || inChannels < 1 || inChannels > 2 || s.referenceChannel < 0 ||
      s.referenceChannel > inChannels) {
    error = "a measurement records 1 period or more after 0 or more, on 1 or 2 channels, the reference among them";
    return std::nullopt;
  }
  const long margin = s.marginFrames >= 0 ? s.marginFrames : excitation.sampleRate / 2;
  const double total = static_cast<double>(period) * static_cast<double>(s.preRoll + s.periods) + static_cast<double>(margin);
  if (total * std::max(inChannels, outChannels) > 1e9) {
    error = "the measurement would be too long";
    return std::nullopt;
  }
  const long frames = static_cast<long>(total);
  // What is played: the period, looped, then silence.
  auto playedSample = [&](long n, int c) -> int16_t {
    if (n >= period * (s.preRoll + s.periods)) return 0;
    return excitation.samples[static_cast<std::size_t>((start + n % period) * outChannels + c)];
  };

  WAVEFORMATEX outFormat{}, inFormat{};
  for (auto [f, channels] : {std::pair{&outFormat, outChannels}, std::pair{&inFormat, inChannels}}) {
    f->wFormatTag = WAVE_FORMAT_PCM;
    f->nChannels = static_cast<WORD>(channels);
    f->nSamplesPerSec = static_cast<DWORD>(excitation.sampleRate);
    f->wBitsPerSample = 16;
    f->nBlockAlign = static_cast<WORD>(2 * channels);
    f->nAvgBytesPerSec = f->nSamplesPerSec * f->nBlockAlign;
  }
  Duplex d(outChannels, inChannels);
  d.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (MMRESULT r = waveInOpen(&d.in, s.device, &inFormat, reinterpret_cast<DWORD_PTR>(d.event), 0, CALLBACK_EVENT);
      r != MMSYSERR_NOERROR) {
    d.in = nullptr;
    error = "the device cannot record " + std::to_string(inChannels) + " channel(s) of 16 bits at " +
            std::to_string(excitation.sampleRate) + " Hz: " + WaveError(r);
    return std::nullopt;
  }
  for (auto& h : d.recorded.headers) {
    h.dwBufferLength = static_cast<DWORD>(kBufferFrames * inFormat.nBlockAlign);
    if (waveInPrepareHeader(d.in, &h, sizeof h) != MMSYSERR_NOERROR || waveInAddBuffer(d.in, &h, sizeof h) != MMSYSERR_NOERROR) {
      error = "the device's input takes no buffers";
      return std::nullopt;
    }
  }
  if (MMRESULT r = waveOutOpen(&d.out, s.device, &outFormat, reinterpret_cast<DWORD_PTR>(d.event), 0, CALLBACK_EVENT);
      r != MMSYSERR_NOERROR) {
    d.out = nullptr;
    error = "the device cannot play " + std::to_string(outChannels) + " channel(s) of 16 bits at " +
            std::to_string(excitation.sampleRate) + " Hz: " + WaveError(r);
    return std::nullopt;
  }
  for (auto& h : d.played.headers)
    if (waveOutPrepareHeader(d.out, &h, sizeof h) != MMSYSERR_NOERROR) {
      error = "the device's output takes no buffers";
      return std::nullopt;
    }
  if (waveInStart(d.in) != MMSYSERR_NOERROR) {
    error = "the device's input does not start";
    return std::nullopt;
  }

  MeasureResult result;
  std::vector<int16_t> all;
  all.reserve(static_cast<std::size_t>(frames) * static_cast<std::size_t>(inChannels));
  long sent = 0;
  std::deque<WAVEHDR*> playing;
  std::size_t nextIn = 0;
  auto lastProgress = std::chrono::steady_clock::now();
  // The output goes on with silence until the input has recorded everything.
  auto send = [&](WAVEHDR& h) {
    const long n = kBufferFrames;
    auto* data = reinterpret_cast<int16_t*>(h.lpData);
    for (long k = 0; k < n; ++k)
      for (int c = 0; c < outChannels; ++c) data[k * outChannels + c] = playedSample(sent + k, c);
    h.dwBufferLength = static_cast<DWORD>(n * outFormat.nBlockAlign);
    sent += n;
    if (waveOutWrite(d.out, &h, sizeof h) != MMSYSERR_NOERROR) return false;
    playing.push_back(&h);
    return true;
  };
  for (auto& h : d.played.headers)
    if (!send(h)) {
      error = "the device does not play";
      return std::nullopt;
    }
  while (static_cast<long>(all.size() / static_cast<std::size_t>(inChannels)) < frames) {
    WaitForSingleObject(d.event, 20);
    if (s.cancelled && s.cancelled()) {
      cancelled = true;
      error = "cancelled";
      return std::nullopt;
    }
    while (!playing.empty() && WaveHeaderDone(playing.front())) {
      WAVEHDR* h = playing.front();
      playing.pop_front();
      if (!send(*h)) {
        error = "the device stopped playing";
        return std::nullopt;
      }
    }
    bool got = false;
    for (;;) {
      WAVEHDR& h = d.recorded.headers[nextIn];
      if (!WaveHeaderDone(&h)) break;
      const auto* data = reinterpret_cast<const int16_t*>(h.lpData);
      all.insert(all.end(), data, data + h.dwBytesRecorded / 2);
      if (h.dwBytesRecorded < h.dwBufferLength) {
        error = "the device stopped recording";
        return std::nullopt;
      }
      if (waveInAddBuffer(d.in, &h, sizeof h) != MMSYSERR_NOERROR) {
        error = "the device's input takes no more buffers";
        return std::nullopt;
      }
      nextIn = (nextIn + 1) % d.recorded.headers.size();
      got = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (got) {
      lastProgress = now;
      if (s.progress)
        s.progress(std::min(1.0, static_cast<double>(all.size() / static_cast<std::size_t>(inChannels)) /
                                     static_cast<double>(frames)));
    } else if (std::chrono::duration<double>(now - lastProgress).count() > kStallSeconds) {
      error = "the device records nothing";
      return std::nullopt;
    }
  }
  all.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(inChannels));
  result.recordedFrames = frames;

  // The latency: where the played signal reappears on the loopback channel.
  if (s.referenceChannel > 0) {
    const int ref = s.referenceChannel - 1;
    std::vector<double> played(static_cast<std::size_t>(frames)), heard(static_cast<std::size_t>(frames));
    for (long n = 0; n < frames; ++n) {
      played[static_cast<std::size_t>(n)] = playedSample(n, 0);
      heard[static_cast<std::size_t>(n)] = all[static_cast<std::size_t>(n * inChannels + ref)];
    }
    // A loopback that hears nothing would give a latency of chance.
    double peak = 0;
    for (double v : heard) peak = std::max(peak, std::fabs(v));
    if (Db(peak) < -60) {
      char level[32];
      std::snprintf(level, sizeof level, "%.1f", Db(peak));
      error = "the reference channel " + std::to_string(s.referenceChannel) + " records nothing of what was played (peak " +
              level + " dBFS): is the loopback connected?";
      return std::nullopt;
    }
    result.latency = FindLatency(played, heard, margin);
    // Drift: the latency of each recorded period, near the whole recording's.
    constexpr long kNear = 32;
    for (long p = s.preRoll; p < s.preRoll + s.periods; ++p) {
      long best = result.latency;
      double bestValue = -1;
      for (long lag = std::max(0L, result.latency - kNear); lag <= std::min(margin, result.latency + kNear); ++lag) {
        double sum = 0;
        for (long n = p * period; n < (p + 1) * period && n + lag < frames; ++n)
          sum += played[static_cast<std::size_t>(n)] * heard[static_cast<std::size_t>(n + lag)];
        if (std::fabs(sum) > bestValue) {
          bestValue = std::fabs(sum);
          best = lag;
        }
      }
      result.periodLatency.push_back(best);
    }
  }
  const long from = s.preRoll * period + result.latency;
  result.recording = Document::Empty(excitation.sampleRate, inChannels);
  result.recording.samples.assign(all.begin() + from * inChannels, all.begin() + (from + s.periods * period) * inChannels);
  result.recording.SelectAll();
  for (int16_t v : result.recording.samples)
    if (v == 32767 || v == -32768) ++result.clipped;
  std::vector<int16_t> one(excitation.samples.begin() + start * outChannels,
                           excitation.samples.begin() + (start + period) * outChannels);
  result.excitation = LevelsOf(one, outChannels);
  for (int c = 0; c < inChannels; ++c) result.channels.push_back(LevelsOf(result.recording.samples, inChannels, c));
  return result;
}

std::optional<Document> ClipboardResponse(const std::vector<portable::ClipboardItem>& clipboard) {
  for (const auto& item : clipboard) {
    if (item.format != CF_WAVE) continue;
    WavImage w = ReadWavImage(item.bytes.data(), item.bytes.size());
    if (!w.riff || w.bitsPerSample != 16 || !w.dataFits || w.channels < 1 || w.channels > 2) return std::nullopt;
    Document d = Document::Empty(static_cast<long>(w.sampleRate), w.channels);
    d.samples.resize(w.dataBytes / 2);
    for (std::size_t k = 0; k < d.samples.size(); ++k)
      d.samples[k] = static_cast<int16_t>(w.data[2 * k] | (w.data[2 * k + 1] << 8));
    d.SelectAll();
    return d;
  }
  return std::nullopt;
}

bool ParseMethod(const std::string& text, Method& method) {
  if (text == "mls") method = Method::Mls;
  else if (text == "irs") method = Method::Irs;
  else if (text == "sweep") method = Method::Sweep;
  else return false;
  return true;
}

bool FindChain(const std::vector<std::unique_ptr<Module>>& modules, Method method, Chain& chain, std::string& error) {
  static const std::vector<const char*> kNames[] = {
      {"seqsource", "sequnfold"}, {"invseqsource", "invsequnfold"}, {"sweepsource", "convolve", "sweepaverage"}};
  chain = Chain{};
  chain.method = method;
  for (const char* name : kNames[static_cast<int>(method)]) {
    std::string why;
    const Module* m = FindCommand(modules, name, why);
    if (m == nullptr) {
      error = "the measurement needs the module " + std::string(name) + ", which is not installed";
      return false;
    }
    if (chain.generator == nullptr) chain.generator = m;
    else chain.after.push_back(m);
  }
  return true;
}

ChainStep Generate(const Chain& chain, Document& excitation, const RunOptions& options, const StateStore& store) {
  portable::LoadClipboard({});
  ChainStep step;
  step.module = chain.generator;
  step.report = RunCommand(*chain.generator, excitation, options, store);
  return step;
}

namespace {

// The value of a control of the generator's settings dialog as it was confirmed.
std::string Confirmed(const RunReport& report, int id) {
  for (const auto& e : report.journal)
    if (const auto* d = std::get_if<portable::DialogEvent>(&e); d && d->final.templateId == 100)
      if (const auto* c = d->final.Find(id)) return ControlValue(*c);
  return {};
}

// A duration of the generator ("s or samples": up to 100 seconds) as the averaging reads
// it, where 100 itself already counts as samples.
std::string AsAveragingDuration(const std::string& text, long rate) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || v != 100.0) return text;
  return std::to_string(100L * rate);
}

}  // namespace

std::optional<Document> Deconvolve(const Chain& chain, const ChainStep& generated, const Document& recording,
                                   const RunOptions& options, const StateStore& store, std::vector<ChainStep>& steps,
                                   std::string& error) {
  const RunReport& g = generated.report;
  Document doc = recording;
  doc.SelectAll();
  for (std::size_t k = 0; k < chain.after.size(); ++k) {
    const Module* m = chain.after[k];
    RunOptions o = options;
    std::vector<ControlSetting> matching;
    if (chain.method != Method::Sweep) {
      matching.push_back({"1034", Confirmed(g, 1034)});  // the sequence's order
    } else if (k == 0) {
      portable::LoadClipboard(g.clipboard);  // the inverse filter
    } else {
      const long rate = recording.sampleRate;
      // Each recorded period holds the generator's cycles.
      const long period = g.after.frames > 0 ? g.after.frames : 1;
      const long cycles = std::strtol(Confirmed(g, 1040).c_str(), nullptr, 10) * std::max(1L, recording.frames() / period);
      matching = {{"1001", "1"},
                  {"1010", std::to_string(cycles)},
                  {"1013", Confirmed(g, 1036)},
                  {"1012", Confirmed(g, 1037)},
                  {"1009", AsAveragingDuration(Confirmed(g, 1038), rate)},
                  {"1011", AsAveragingDuration(Confirmed(g, 1041), rate)},
                  {"1006", "0"}};
    }
    o.actions.clear();  // what the user set was the generator's
    o.sets = matching;
    o.presses.clear();
    const bool last = k + 1 == chain.after.size();
    if (last) portable::LoadClipboard({});
    doc.SelectAll();
    steps.push_back({m, RunCommand(*m, doc, o, store)});
    const RunReport& r = steps.back().report;
    if (r.status != RunStatus::Completed) {
      error = r.message.empty() ? "\"" + m->title() + "\" did not complete" : r.message;
      return std::nullopt;
    }
    if (last) {
      auto response = ClipboardResponse(r.clipboard);
      if (!response) error = "\"" + m->title() + "\" left no response on the clipboard";
      return response;
    }
  }
  error = "the chain has no steps";
  return std::nullopt;
}

}  // namespace tovrel::host
