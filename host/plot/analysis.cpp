#include "host/plot/analysis.h"

#include <algorithm>
#include <cmath>

#include "frame/fft.h"
#include "frame/octave.h"
#include "frame/spectrum.h"

namespace tovrel::host::plot {

namespace {

long PowerOfTwoAtLeast(long n) {
  long p = 2;
  while (p < n) p *= 2;
  return p;
}

// The samples of one channel in 16-bit units, as the module reads them.
std::vector<float> ChannelSamples(const Document& doc, int channel) {
  const long frames = doc.frames();
  std::vector<float> x(static_cast<std::size_t>(frames));
  for (long k = 0; k < frames; ++k) x[k] = doc.samples[static_cast<std::size_t>(k * doc.channels + channel)];
  return x;
}

// The least-squares line through the range's points with the module's slope: it passes
// through their centroid.
void PlaceLine(FittedLine& line, const std::vector<float>& levels, float l0, const DecayFit& range, double fs) {
  if (!line.valid || line.seconds <= 0 || range.points < 1) {
    line.valid = line.valid && line.seconds > 0 && range.points >= 1;
    return;
  }
  line.slopeDbPerSecond = -60.0 / line.seconds;
  const double perSample = line.slopeDbPerSecond / fs;
  double sumY = 0;
  for (long i = 0; i < range.points; ++i) sumY += static_cast<double>(levels[range.first + i]) - l0;
  const double meanX = (range.points - 1) / 2.0;
  const double intercept = sumY / range.points - perSample * meanX;
  line.startSeconds = range.first / fs;
  line.endSeconds = (range.first + range.points - 1) / fs;
  line.startDb = intercept;
  line.endDb = intercept + perSample * (range.points - 1);
}

}  // namespace

void AddDecay(ResponseView& view, const Document& doc, const ModuleResults& module) {
  view.module = module;
  view.bands.clear();
  const int channel = std::min(view.channel, module.channels - 1);
  const std::vector<float> source = ChannelSamples(doc, view.channel);
  const float fs = static_cast<float>(view.rate);
  const long a = FindFirstArrival(source, module.threshold);
  view.firstArrival = a;
  if (a < 0) return;
  const int rows = 1 + BandsAnalysed(fs);
  struct Range {
    const char* name;
    int index;
    float b, c;
  };
  const Range ranges[4] = {{"EDT", kEdtIndex, 0.1f, 10.0f},
                           {"RT20", kRt20Index, 5.0f, 20.0f},
                           {"RT30", kRt30Index, 5.0f, 30.0f},
                           {"RTU", kRtuIndex, -module.rtuUpper, module.rtuUpper - module.rtuLower}};
  std::vector<float> work(source.size());
  for (int row = 0; row < rows; ++row) {
    BandDecay band;
    band.label = module.rowLabels[row];
    band.centreHz = row == 0 ? 0.0 : kBandCentres[row - 1];
    band.noiseCorrected = module.noiseCorrection && module.noiseCorrected[row];
    for (int j = 0; j < kParameterCount; ++j) {
      band.values[j] = module.values[channel][row][j];
      band.valid[j] = module.valid[channel][row][j];
    }
    // The row as the module prepares it: filtered, noise estimated, integrated, in dB.
    std::copy(source.begin(), source.end(), work.begin());
    if (row > 0) OctaveFilter(work, kBandCentres[row - 1], fs);
    const double noise = band.noiseCorrected ? NoisePower(work) : 0.0;
    BackwardIntegrate(work, a, noise, fs);
    long end = 0;
    while (end < static_cast<long>(work.size()) && work[end] > 0.0f) ++end;
    ToDecibels(work);
    const float l0 = work[a];
    band.levelDb.resize(static_cast<std::size_t>(end));
    for (long k = 0; k < end; ++k) band.levelDb[k] = work[k] - l0;
    for (int f = 0; f < 4; ++f) {
      const Range& r = ranges[f];
      FittedLine& line = band.fits[f];
      line.name = r.name;
      line.rangeTopDb = -r.b;
      line.rangeBottomDb = -(r.b + r.c);
      line.valid = band.valid[r.index];
      line.seconds = band.values[r.index];
      line.fit = r.index == kEdtIndex ? 0.0 : band.values[r.index + 1];
      const DecayFit range = FitDecay(work, a, r.b, r.c, noise != 0.0, fs);
      PlaceLine(line, work, l0, range, fs);
    }
    view.bands.push_back(std::move(band));
  }
}

std::vector<double> LogFrequencies(double lo, double hi, int perOctave) {
  std::vector<double> f;
  if (!(lo > 0) || !(hi > lo) || perOctave < 1) return f;
  const double octaves = std::log2(hi / lo);
  const long count = static_cast<long>(std::floor(octaves * perOctave));
  for (long k = 0; k <= count; ++k) f.push_back(lo * std::exp2(static_cast<double>(k) / perOctave));
  if (f.back() < hi * (1 - 1e-9)) f.push_back(hi);
  return f;
}

std::vector<double> SmoothPower(const std::vector<double>& power, double binHz, int n,
                                const std::vector<double>& frequencies) {
  std::vector<double> out;
  if (power.empty() || n <= 0 || !(binHz > 0)) return out;
  // Running sums make every window's mean one subtraction.
  std::vector<double> sum(power.size() + 1, 0.0);
  for (std::size_t k = 0; k < power.size(); ++k) sum[k + 1] = sum[k] + power[k];
  const long last = static_cast<long>(power.size()) - 1;
  const double half = std::exp2(1.0 / (2.0 * n));
  out.reserve(frequencies.size());
  for (double f : frequencies) {
    const long lo = std::max(0L, static_cast<long>(std::ceil(f / half / binHz - 1e-9)));
    const long hi = std::min(last, static_cast<long>(std::floor(f * half / binHz + 1e-9)));
    if (hi >= lo) {
      out.push_back((sum[hi + 1] - sum[lo]) / static_cast<double>(hi - lo + 1));
    } else {
      out.push_back(power[std::clamp(std::lround(f / binHz), 0L, last)]);
    }
  }
  return out;
}

std::vector<double> EnergyTimeCurve(const std::vector<double>& x) {
  const long n = static_cast<long>(x.size());
  std::vector<double> etc(x.size(), -200.0);
  if (n == 0) return etc;
  // The analytic signal through the FFT, padded against wrap-around: one half of the
  // spectrum doubled, the other removed.
  const long nn = PowerOfTwoAtLeast(2 * n);
  std::vector<float> z(static_cast<std::size_t>(2 * nn), 0.0f);
  for (long k = 0; k < n; ++k) z[2 * k] = static_cast<float>(x[k]);
  const ComplexFftPlan plan(nn);
  plan.Transform(z.data(), 1);
  for (long k = 1; k < nn / 2; ++k) {
    z[2 * k] *= 2;
    z[2 * k + 1] *= 2;
  }
  for (long k = nn / 2 + 1; k < nn; ++k) z[2 * k] = z[2 * k + 1] = 0;
  plan.Transform(z.data(), -1);
  double top = 0;
  std::vector<double> e(x.size());
  for (long k = 0; k < n; ++k) {
    const double re = z[2 * k] / static_cast<double>(nn), im = z[2 * k + 1] / static_cast<double>(nn);
    e[k] = re * re + im * im;
    top = std::max(top, e[k]);
  }
  if (top <= 0) return etc;
  for (long k = 0; k < n; ++k) etc[k] = e[k] > top * 1e-20 ? 10.0 * std::log10(e[k] / top) : -200.0;
  return etc;
}

std::optional<ResponseView> AnalyseSignal(const Document& doc, int channel, const std::string& name,
                                          const AnalysisOptions& options, std::string& error) {
  if (channel < 0 || channel >= doc.channels) {
    error = name + " has no channel " + std::to_string(channel + 1) + " (it has " + std::to_string(doc.channels) + ")";
    return std::nullopt;
  }
  if (doc.frames() < kMinimumFrames || doc.sampleRate <= 0) {
    error = name + " is too short to plot: " + std::to_string(doc.frames()) + " frame" +
            (doc.frames() == 1 ? "" : "s") + " (at least " + std::to_string(kMinimumFrames) + ")";
    return std::nullopt;
  }
  ResponseView view;
  view.name = name;
  view.rate = doc.sampleRate;
  view.channels = doc.channels;
  view.frames = doc.frames();
  view.channel = channel;
  view.smoothing = options.smoothing;
  const std::vector<float> source = ChannelSamples(doc, channel);
  view.ir.resize(source.size());
  for (std::size_t k = 0; k < source.size(); ++k) {
    view.ir[k] = source[k] / 32768.0;
    if (std::fabs(view.ir[k]) > view.peak) {
      view.peak = std::fabs(view.ir[k]);
      view.peakIndex = static_cast<long>(k);
    }
  }
  if (view.peak == 0) {
    error = name + (doc.channels > 1 ? " (channel " + std::to_string(channel + 1) + ")" : std::string()) +
            " is silent: every sample is 0";
    return std::nullopt;
  }
  view.etcDb = EnergyTimeCurve(view.ir);

  // Magnitude: the whole response, zero-padded to a power of two of 4096 points or more.
  const long n = PowerOfTwoAtLeast(std::max(view.frames, 4096L));
  std::vector<float> spectrum(static_cast<std::size_t>(n), 0.0f);
  std::copy(view.ir.begin(), view.ir.end(), spectrum.begin());
  RealFftPlan(n).Transform(spectrum.data(), 1);
  std::vector<float> packed(static_cast<std::size_t>(n / 2 + 1));
  PackedPowerSpectrum(spectrum, packed);
  const std::vector<double> power(packed.begin(), packed.end());
  const double binHz = static_cast<double>(view.rate) / n;
  const double lo = std::max(20.0, binHz), hi = view.rate / 2.0;
  auto db = [](double p) { return p > 1e-30 ? 10.0 * std::log10(p) : -300.0; };
  if (options.smoothing > 0) {
    view.frequencyHz = LogFrequencies(lo, hi, 48);
    for (double p : SmoothPower(power, binHz, options.smoothing, view.frequencyHz)) view.magnitudeDb.push_back(db(p));
  } else {
    for (std::size_t k = 1; k < power.size(); ++k) {
      if (k * binHz < lo) continue;
      view.frequencyHz.push_back(k * binHz);
      view.magnitudeDb.push_back(db(power[k]));
    }
  }
  return view;
}

}  // namespace tovrel::host::plot
