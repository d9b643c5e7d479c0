#include "acoustic/parameters.h"

#include <algorithm>
#include <cmath>

DecayFit FitDecay(std::span<const float> levels, long a, float b, float c, bool noiseCorrected,
                  float fs) {
  const long n = static_cast<long>(levels.size());
  if (a < 0 || a >= n) return {0.0f, 0.0f};
  const double l0 = levels[a];
  const double start = l0 - static_cast<double>(b);
  const double bottom = -(static_cast<double>(b) + static_cast<double>(c));

  // First sample at or after the first arrival that is at least b dB down.
  long s = a;
  if (b > 0.0f) {
    while (s < n && static_cast<double>(levels[s]) > start) ++s;
  }

  // Points (1, y), (2, y), ... while the curve stays within the range.
  double count = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  long k = s;
  for (; k < n; ++k) {
    const double y = static_cast<double>(levels[k]) - l0;
    if (y < bottom) break;
    count += 1.0;
    sx += count;
    sy += y;
    sxx += count * count;
    syy += y * y;
    sxy += count * y;
  }
  const long end = k < n ? k + 1 : n;

  // A range reaching into the noise-dominated end of the record is not fitted.
  const long limit = noiseCorrected ? n - n / 10 : n - n / 16;
  if (end > limit) return {0.0f, 0.0f};

  int code = 1;
  double slope = 0.0;
  const double dx = count * sxx - sx * sx;
  if (dx == 0.0) {
    code = 11;
  } else {
    slope = (count * sxy - sx * sy) / dx;
  }
  double time = 0.0;
  if (slope == 0.0) {
    code += 20;
  } else {
    time = (-60.0 / slope) / static_cast<double>(fs);
  }
  double fit = 0.0;
  const double dr = dx * (count * syy - sy * sy);
  if (dr == 0.0) {
    code += 40;
  } else {
    const double cov = count * sxy - sx * sy;
    fit = std::fabs(cov * cov / dr);
  }
  if (fit < 0.85) {
    time = 0.0;
    fit = 0.0;
  }
  if (code != 1) {
    // A degenerate fit shows its cause in the fit-figure column.
    time = 0.0;
    fit = code;
  }
  return {static_cast<float>(time), static_cast<float>(fit)};
}

namespace {

// Energy beyond the end of the record is zero.
double EnergyAt(std::span<const float> e, long k) {
  return k < static_cast<long>(e.size()) ? static_cast<double>(e[k]) : 0.0;
}

void SetValue(std::span<float, kParameters> values, std::span<char, kParameters> flags, int j,
              double v) {
  values[j] = static_cast<float>(v);
  // A quotient of zero energies has no meaning and is not reported.
  flags[j] = std::isnan(v) ? 'n' : 'y';
}

}  // namespace

void RowParameters(std::span<float> work, long a, double noisePower, float fs,
                   const AnalysisSettings& settings, std::span<float, kParameters> values,
                   std::span<char, kParameters> flags) {
  std::fill(values.begin(), values.end(), 0.0f);
  std::fill(flags.begin(), flags.end(), 'n');
  const long n = static_cast<long>(work.size());
  if (a < 0 || a >= n) return;

  const double moment = BackwardIntegrate(work, a, noisePower, fs);
  const float duration = static_cast<float>(n - a) / fs;
  const double total = work[a];

  // Below 20 Hz (12.5 Hz) the early window holds no sample: the ratio has no meaning.
  const long k50 = static_cast<long>(0.05f * fs), k80 = static_cast<long>(0.08f * fs);
  if (duration >= 0.05f && k50 > 0) {
    const double late = EnergyAt(work, a + k50);
    const double early = total - late;
    SetValue(values, flags, kC50, 10.0 * std::log10(early / late));
    SetValue(values, flags, kD50, 100.0 * early / total);
  }
  if (duration >= 0.08f && k80 > 0) {
    const double late = EnergyAt(work, a + k80);
    SetValue(values, flags, kC80, 10.0 * std::log10((total - late) / late));
  }
  SetValue(values, flags, kTs, 1000.0 * moment / total);

  ToDecibels(work);
  const bool corrected = noisePower != 0.0;

  const DecayFit edt = FitDecay(work, a, 0.1f, 10.0f, corrected, fs);
  values[kEdt] = edt.time;
  flags[kEdt] = edt.time != 0.0f ? 'y' : 'n';

  auto fitted = [&](int time, int figure, float b, float c) {
    const DecayFit f = FitDecay(work, a, b, c, corrected, fs);
    values[time] = f.time;
    values[figure] = f.fit;
    flags[time] = flags[figure] = f.fit != 0.0f ? 'y' : 'n';
  };
  fitted(kRt20, kRRt20, 5.0f, 20.0f);
  fitted(kRt30, kRRt30, 5.0f, 30.0f);
  fitted(kRtu, kRRtu, -settings.rtuUpper, settings.rtuUpper - settings.rtuLower);
}

long FindFirstArrival(std::span<const float> x, float threshold) {
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (std::fabs(x[k]) >= threshold) return static_cast<long>(k);
  }
  return -1;
}

ChannelOutcome AnalyseChannel(std::span<const float> source, std::span<float> work, float fs,
                              const AnalysisSettings& settings,
                              std::span<float, kChannelValues> values,
                              std::span<char, kChannelValues> flags, std::span<char> noiseFlags,
                              const ChannelHooks& hooks) {
  std::fill(values.begin(), values.end(), 0.0f);
  std::fill(flags.begin(), flags.end(), 'n');
  std::fill(noiseFlags.begin(), noiseFlags.end(), 'n');
  const long n = static_cast<long>(std::min(source.size(), work.size()));
  const std::span<float> buffer = work.first(n);

  const long a = FindFirstArrival(source.first(n), settings.threshold);
  if (a < 0) return ChannelOutcome::kNoFirstArrival;
  if (hooks.started) hooks.started();

  const long m = n / 16;
  const float top = HighestCentre(fs);
  // One row on the buffer as prepared: noise estimate when asked for, then parameters.
  auto row = [&](int r, bool corrected) {
    const double p = corrected ? NoisePower(buffer) : 0.0;
    if (r < static_cast<int>(noiseFlags.size())) noiseFlags[r] = corrected ? 'y' : 'n';
    RowParameters(buffer, a, p, fs, settings,
                  values.subspan(r * kParameters).first<kParameters>(),
                  flags.subspan(r * kParameters).first<kParameters>());
    return !hooks.progress || hooks.progress(r + 1, kRows);
  };

  std::copy_n(source.begin(), n, buffer.begin());
  if (!row(0, settings.noiseCorrection && m >= 10)) return ChannelOutcome::kCancelled;

  for (int b = 0; b < kBands; ++b) {
    const float fc = kBandCentres[b];
    if (fc > top) break;
    std::copy_n(source.begin(), n, buffer.begin());
    OctaveFilter(buffer, fc, fs);
    // The noise window must span about seven periods of the centre frequency.
    const bool corrected =
        settings.noiseCorrection && static_cast<float>(m) / fs >= 5.0f / (0.707f * fc);
    if (!row(b + 1, corrected)) return ChannelOutcome::kCancelled;
  }
  return ChannelOutcome::kCompleted;
}
