#include "acoustic/parameters.h"

#include <algorithm>
#include <cmath>

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
