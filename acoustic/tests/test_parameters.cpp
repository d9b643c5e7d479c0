#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "acoustic/parameters.h"

namespace {

// An ideal exponential decay of `rate` dB per second, starting at full scale after
// `delay` zero samples.
std::vector<float> Decay(double rate, double fs, long n, long delay = 0, double peak = 30000) {
  std::vector<float> x(n, 0.0f);
  for (long k = delay; k < n; ++k) x[k] = static_cast<float>(peak * std::pow(10.0, -rate * (k - delay) / fs / 20));
  return x;
}

struct Row {
  float v[kParameters];
  char f[kParameters];
};

Row Analyse(std::vector<float> x, long a, double fs, double power = 0.0, AnalysisSettings s = {}) {
  Row r;
  RowParameters(x, a, power, static_cast<float>(fs), s, r.v, r.f);
  return r;
}

std::string Flags(const Row& r) { return std::string(r.f, kParameters); }

TEST(RowParameters, SixtyDecibelsPerSecondGivesOneSecond) {
  const double fs = 48000;
  const Row r = Analyse(Decay(60, fs, 96000), 0, fs);
  EXPECT_EQ(Flags(r), "yyyyyyyyyyy");
  for (int j : {kEdt, kRt20, kRt30, kRtu}) EXPECT_NEAR(r.v[j], 1.0, 1e-3) << j;
  for (int j : {kRRt20, kRRt30, kRRtu}) EXPECT_NEAR(r.v[j], 1.0, 1e-6) << j;
  // Energy decays as 10^(-6 t): the ratios at 50 and 80 ms and the centre time follow.
  EXPECT_NEAR(r.v[kC50], 10 * std::log10(std::pow(10, 0.3) - 1), 1e-3);
  EXPECT_NEAR(r.v[kC80], 10 * std::log10(std::pow(10, 0.48) - 1), 1e-3);
  EXPECT_NEAR(r.v[kD50], 100 * (1 - std::pow(10, -0.3)), 1e-3);
  EXPECT_NEAR(r.v[kTs], 1000 / (6 * std::log(10.0)), 0.05);
}

TEST(RowParameters, DecayTimesFollowTheRate) {
  for (double rate : {20.0, 30.0, 120.0, 300.0}) {
    const double fs = 44100, rt = 60 / rate;
    const Row r = Analyse(Decay(rate, fs, static_cast<long>(fs * rt * 1.5), 300), 300, fs);
    for (int j : {kEdt, kRt20, kRt30, kRtu}) EXPECT_NEAR(r.v[j], rt, rt * 2e-3) << rate << " " << j;
  }
}

TEST(RowParameters, EnergyParametersNeedFiftyAndEightyMilliseconds) {
  const double fs = 44100;
  // 40 ms after the first arrival: no ratios, the rest is still attempted.
  Row r = Analyse(Decay(1000, fs, 100 + 1764, 100), 100, fs);
  EXPECT_EQ(r.f[kC50], 'n');
  EXPECT_EQ(r.f[kD50], 'n');
  EXPECT_EQ(r.f[kC80], 'n');
  EXPECT_EQ(r.f[kTs], 'y');
  EXPECT_EQ(r.f[kRt20], 'y');
  EXPECT_NEAR(r.v[kRt20], 0.06, 1e-3);
  // 60 ms: C50 and D50 only.
  r = Analyse(Decay(1000, fs, 100 + 2646, 100), 100, fs);
  EXPECT_EQ(r.f[kC50], 'y');
  EXPECT_EQ(r.f[kD50], 'y');
  EXPECT_EQ(r.f[kC80], 'n');
}

TEST(RowParameters, ExactlyFiftyMillisecondsHasNoLateEnergy) {
  // 2400 samples at 48 kHz: the 50 ms point is the end of the record, where the
  // backward integral is empty.
  const double fs = 48000;
  const Row r = Analyse(Decay(1000, fs, 2400), 0, fs);
  EXPECT_EQ(r.f[kC50], 'y');
  EXPECT_TRUE(std::isinf(r.v[kC50]) && r.v[kC50] > 0);
  EXPECT_FLOAT_EQ(r.v[kD50], 100.0f);
  EXPECT_EQ(r.f[kC80], 'n');
}

TEST(RowParameters, DecayThatNeverFallsTwentyFiveDecibels) {
  // 20 dB of decay and then a steady floor: only the floor's own end falls further,
  // and that lies in the last sixteenth of the record.
  const double fs = 48000;
  std::vector<float> x = Decay(60, fs, 96000);
  for (float& v : x) v = std::max(v, 3000.0f);
  const Row r = Analyse(x, 0, fs);
  EXPECT_EQ(r.f[kRt20], 'n');
  EXPECT_EQ(r.f[kRRt20], 'n');
  EXPECT_EQ(r.f[kRt30], 'n');
  EXPECT_EQ(r.v[kRt30], 0.0f);
}

TEST(RowParameters, ThirtyDecibelsOnlyNearTheEndFailsTheRangeCheck) {
  // -35 dB is reached within the last sixteenth (last tenth with noise correction).
  const double fs = 48000;
  // The integral of a record of T seconds falls as 10^(-6 t) - 10^(-6 T): -35 dB at
  // 0.508 s for T = 0.54 (limit 0.506 s), at 0.532 s for T = 0.58 (limits 0.544 s, and
  // 0.522 s with noise correction).
  const Row plain = Analyse(Decay(60, fs, 25920), 0, fs);
  EXPECT_EQ(plain.f[kRt20], 'y');
  EXPECT_EQ(plain.f[kRt30], 'n');
  const Row longer = Analyse(Decay(60, fs, 27840), 0, fs);
  EXPECT_EQ(longer.f[kRt30], 'y');
  const Row corrected = Analyse(Decay(60, fs, 27840), 0, fs, 1e-9);
  EXPECT_EQ(corrected.f[kRt30], 'n');
}

TEST(RowParameters, AnImpulseAloneHasNoPointsInItsRanges) {
  std::vector<float> x(10000, 0.0f);
  x[0] = 20000;
  const Row r = Analyse(x, 0, 48000);
  EXPECT_EQ(r.f[kEdt], 'n');
  for (int j : {kRt20, kRt30, kRtu}) {
    EXPECT_EQ(r.v[j], 0.0f);
    EXPECT_EQ(r.v[j + 1], 71.0f);
    EXPECT_EQ(r.f[j], 'y');
    EXPECT_EQ(r.f[j + 1], 'y');
  }
}

TEST(RowParameters, UserRangeFromTheFirstArrivalItself) {
  const double fs = 48000;
  AnalysisSettings s;
  s.rtuUpper = 0.0f;
  s.rtuLower = -10.0f;
  std::vector<float> x = Decay(60, fs, 96000, 0);
  const Row r = Analyse(x, 0, fs, 0.0, s);
  EXPECT_NEAR(r.v[kRtu], r.v[kEdt], 1e-3);
  EXPECT_NEAR(r.v[kRtu], 1.0, 2e-3);
}

TEST(RowParameters, SilenceAfterTheFirstArrivalLeavesRatiosUnreported) {
  // Noise correction removes every sample: the energies are all 0.
  std::vector<float> x(4800, 1.0f);
  const Row r = Analyse(x, 0, 48000, 2.0);
  EXPECT_EQ(r.f[kD50], 'n');
  EXPECT_EQ(r.f[kC50], 'n');
  EXPECT_EQ(r.f[kTs], 'n');
}

// Levels 0, then N - 1 points of a line with alternating residuals of size d, then far
// below any range and a long tail, so that only the fit decides.
std::vector<float> Line(int points, double d) {
  std::vector<float> l(points * 20, -200.0f);
  l[0] = 0.0f;
  for (int i = 1; i < points; ++i) l[i] = static_cast<float>(-0.05 * i + (i % 2 ? d : -d));
  return l;
}

double FitFigure(const std::vector<float>& l, int points) {
  double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (int i = 0; i < points; ++i) {
    const double x = i + 1, y = l[i];
    sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
  }
  const double cov = points * sxy - sx * sy;
  return cov * cov / ((points * sxx - sx * sx) * (points * syy - sy * sy));
}

// Residual size that gives the wanted fit figure (it falls as d grows).
double ResidualFor(double figure, int points) {
  double lo = 0, hi = 5;
  for (int i = 0; i < 200; ++i) {
    const double mid = (lo + hi) / 2;
    (FitFigure(Line(points, mid), points) > figure ? lo : hi) = mid;
  }
  return lo;
}

TEST(FitDecay, FitFigureBelowPointEightFiveDiscardsTheDecay) {
  const int points = 100;
  const std::vector<float> weak = Line(points, ResidualFor(0.8401, points));
  ASSERT_NEAR(FitFigure(weak, points), 0.84, 1e-3);
  DecayFit f = FitDecay(weak, 0, 0.0f, 10.0f, false, 1000);
  EXPECT_EQ(f.time, 0.0f);
  EXPECT_EQ(f.fit, 0.0f);

  const std::vector<float> enough = Line(points, ResidualFor(0.8501, points));
  ASSERT_NEAR(FitFigure(enough, points), 0.85, 1e-3);
  f = FitDecay(enough, 0, 0.0f, 10.0f, false, 1000);
  EXPECT_NEAR(f.fit, 0.8501, 1e-5);
  EXPECT_NEAR(f.time, 60.0 / 0.05 / 1000, 0.05);
}

TEST(FitDecay, DegenerateFitsShowTheirCause) {
  // One point: no spread in x, no slope, no correlation.
  std::vector<float> l(100, -200.0f);
  l[0] = 0.0f;
  DecayFit f = FitDecay(l, 0, 0.0f, 10.0f, false, 1000);
  EXPECT_EQ(f.time, 0.0f);
  EXPECT_EQ(f.fit, 71.0f);
  // A start that lies beyond everything: no points at all.
  f = FitDecay(l, 0, 5.0f, 10.0f, false, 1000);
  EXPECT_EQ(f.fit, 71.0f);
  // A flat stretch: zero slope and no spread in y.
  std::vector<float> flat(1000, -200.0f);
  std::fill_n(flat.begin(), 50, 0.0f);
  f = FitDecay(flat, 0, 0.0f, 10.0f, false, 1000);
  EXPECT_EQ(f.time, 0.0f);
  EXPECT_EQ(f.fit, 61.0f);
  // A curve that never reaches the start of the range.
  f = FitDecay(std::vector<float>(100, 0.0f), 0, 5.0f, 10.0f, false, 1000);
  EXPECT_EQ(f.fit, 0.0f);
}

TEST(FindFirstArrival, FirstMagnitudeAtTheThreshold) {
  const std::vector<float> x = {0, 5, -120, 130, 200};
  EXPECT_EQ(FindFirstArrival(x, 120), 2);
  EXPECT_EQ(FindFirstArrival(x, 0), 0);
  EXPECT_EQ(FindFirstArrival(x, 201), -1);
  EXPECT_EQ(FindFirstArrival({}, 0), -1);
}

// White noise bursts filtered into each octave and decaying at the band's own rate.
std::vector<float> BandDecays(double fs, long n, const std::vector<double>& rt) {
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<double> sum(n, 0.0);
  for (std::size_t b = 0; b < rt.size(); ++b) {
    std::vector<float> x(n);
    for (long k = 0; k < n; ++k) x[k] = noise(rng) * static_cast<float>(std::pow(10.0, -3.0 * k / fs / rt[b]));
    OctaveFilter(x, kBandCentres[b], fs);
    for (long k = 0; k < n; ++k) sum[k] += x[k];
  }
  std::vector<float> out(n);
  double peak = 0;
  for (double v : sum) peak = std::max(peak, std::fabs(v));
  for (long k = 0; k < n; ++k) out[k] = static_cast<float>(sum[k] * 30000 / peak);
  return out;
}

struct Channel {
  float values[kChannelValues];
  char flags[kChannelValues];
  char noise[kRows];
  float v(int row, int j) const { return values[row * kParameters + j]; }
  char f(int row, int j) const { return flags[row * kParameters + j]; }
};

ChannelOutcome AnalyseInto(const std::vector<float>& x, double fs, Channel& c, AnalysisSettings s = {},
                   ProgressFn progress = {}, bool* started = nullptr) {
  std::vector<float> work(x.size());
  ChannelHooks hooks;
  hooks.progress = std::move(progress);
  if (started) hooks.started = [started] { *started = true; };
  return AnalyseChannel(x, work, static_cast<float>(fs), s, c.values, c.flags, c.noise, hooks);
}

TEST(AnalyseChannel, BandDependentDecays) {
  const double fs = 48000;
  const std::vector<double> rt = {2.4, 2.2, 2.0, 1.8, 1.6, 1.4, 1.2, 1.0, 0.8, 0.6};
  std::vector<float> x = BandDecays(fs, static_cast<long>(fs * 3.5), rt);
  AnalysisSettings s;
  s.threshold = 0;
  s.noiseCorrection = false;
  Channel c;
  ASSERT_EQ(AnalyseInto(x, fs, c, s), ChannelOutcome::kCompleted);
  for (int b = 0; b < kBands; ++b) {
    ASSERT_EQ(c.f(b + 1, kRt30), 'y') << b;
    EXPECT_NEAR(c.v(b + 1, kRt30), rt[b], 0.07 * rt[b]) << kBandCentres[b];
    EXPECT_GT(c.v(b + 1, kRRt30), 0.95) << kBandCentres[b];
  }
}

TEST(AnalyseChannel, BandsAboveTheSampleRateLimitStayUnset) {
  struct Case {
    int fs;
    int rows;
  };
  for (Case k : {Case{48000, 11}, Case{44100, 11}, Case{32000, 10}, Case{22050, 10}, Case{8000, 8}}) {
    Channel c;
    long count = 0;
    ASSERT_EQ(AnalyseInto(Decay(60, k.fs, k.fs), k.fs, c, {}, [&](long done, long total) {
                EXPECT_EQ(done, ++count);
                EXPECT_EQ(total, 11);
                return true;
              }),
              ChannelOutcome::kCompleted);
    EXPECT_EQ(count, k.rows);
    for (int row = 0; row < kRows; ++row) {
      EXPECT_EQ(c.f(row, kTs), row < k.rows ? 'y' : 'n') << k.fs << " " << row;
      if (row >= k.rows) {
        EXPECT_EQ(std::count(c.flags + row * kParameters, c.flags + (row + 1) * kParameters, 'n'), kParameters);
        EXPECT_EQ(c.noise[row], 'n');
      }
    }
  }
}

TEST(AnalyseChannel, NoiseCorrectionNeedsLongEnoughWindows) {
  Channel c;
  AnalyseInto(Decay(600, 44100, 159), 44100, c);
  EXPECT_EQ(c.noise[0], 'n');
  AnalyseInto(Decay(600, 44100, 160), 44100, c);
  EXPECT_EQ(c.noise[0], 'y');

  // 65536 samples at 44.1 kHz: a 0.093 s window, too short for 31.5 and 63 Hz.
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 10.0f);
  std::vector<float> x = Decay(60, 44100, 65536);
  for (float& v : x) v += noise(rng);
  AnalyseInto(x, 44100, c);
  EXPECT_EQ(std::string(c.noise, kRows), "ynnyyyyyyyy");

  AnalysisSettings off;
  off.noiseCorrection = false;
  AnalyseInto(x, 44100, c, off);
  EXPECT_EQ(std::string(c.noise, kRows), "nnnnnnnnnnn");
}

TEST(AnalyseChannel, NoFirstArrivalStopsBeforeAnyWork) {
  AnalysisSettings s;
  s.threshold = 32767;
  Channel c;
  bool started = false, progressed = false;
  EXPECT_EQ(AnalyseInto(Decay(60, 8000, 8000), 8000, c, s,
                [&](long, long) { return progressed = true; }, &started),
            ChannelOutcome::kNoFirstArrival);
  EXPECT_FALSE(started);
  EXPECT_FALSE(progressed);
  EXPECT_EQ(std::count(c.flags, c.flags + kChannelValues, 'n'), kChannelValues);
}

TEST(AnalyseChannel, CancelStopsAfterTheReportedRow) {
  for (long stop : {1L, 4L, 11L}) {
    Channel c;
    EXPECT_EQ(AnalyseInto(Decay(60, 48000, 48000), 48000, c, {}, [&](long done, long) { return done < stop; }),
              ChannelOutcome::kCancelled);
    for (int row = 0; row < kRows; ++row) EXPECT_EQ(c.f(row, kTs), row < stop ? 'y' : 'n') << stop;
  }
}

TEST(AnalyseChannel, EmptyNoiseFlagsAreLeftAlone) {
  std::vector<float> x = Decay(60, 8000, 8000), work(x.size());
  Channel c;
  std::fill_n(c.noise, kRows, 'x');
  AnalyseChannel(x, work, 8000, {}, c.values, c.flags, {}, {});
  EXPECT_EQ(std::string(c.noise, kRows), std::string(kRows, 'x'));
  EXPECT_EQ(c.f(0, kRt20), 'y');
}

}  // namespace
