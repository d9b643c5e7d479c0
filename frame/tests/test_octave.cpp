#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "frame/octave.h"

namespace {

std::vector<float> Sine(double f, double fs, long n, double amplitude = 1000.0) {
  std::vector<float> x(n);
  for (long k = 0; k < n; ++k) x[k] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * f * k / fs));
  return x;
}

// RMS of the second half, after the filter has settled.
double SettledRms(const std::vector<float>& x) {
  double s = 0;
  for (std::size_t k = x.size() / 2; k < x.size(); ++k) s += static_cast<double>(x[k]) * x[k];
  return std::sqrt(s / static_cast<double>(x.size() - x.size() / 2));
}

double GainDb(double f, double fc, double fs, bool octave) {
  const long n = static_cast<long>(fs * 4);
  std::vector<float> x = Sine(f, fs, n);
  const double in = SettledRms(x);
  if (octave) {
    OctaveFilter(x, static_cast<float>(fc), fs);
  } else {
    OctaveSection(x, fc, 4.0, fs);
  }
  return 20 * std::log10(SettledRms(x) / in);
}

TEST(OctaveSection, UnitGainAtCentreAndBandwidthFromQ) {
  const double fs = 48000, f0 = 1000;
  EXPECT_NEAR(GainDb(f0, f0, fs, false), 0.0, 0.01);
  // Q 4: the -3 dB points lie about f0 / 8 either side of the centre.
  const double half = f0 / 8;
  const double lo = f0 * (std::sqrt(1 + 1.0 / 64) - 1.0 / 8), hi = lo + 2 * half;
  EXPECT_NEAR(GainDb(lo, f0, fs, false), -3.01, 0.1);
  EXPECT_NEAR(GainDb(hi, f0, fs, false), -3.01, 0.1);
}

TEST(OctaveSection, StartsFromRestAndKeepsSamplesBeforeTheBufferAtZero) {
  // An impulse gives y0 = 2 alpha, y1 = 2 gamma y0, y2 = 2 (-alpha + gamma y1 - beta y0).
  const double theta = 2 * std::numbers::pi * 1000 / 8000, t = std::tan(theta / 8);
  const double beta = 0.5 * (1 - t) / (1 + t);
  const double gamma = static_cast<float>((0.5 + beta) * std::cos(theta));
  const double alpha = static_cast<float>((0.5 - beta) / 2);
  std::vector<float> x = {1.0f, 0.0f, 0.0f};
  OctaveSection(x, 1000, 4, 8000);
  const double y0 = 2 * alpha, y1 = 2 * gamma * y0, y2 = 2 * (-alpha + gamma * y1 - beta * y0);
  EXPECT_FLOAT_EQ(x[0], static_cast<float>(y0));
  EXPECT_FLOAT_EQ(x[1], static_cast<float>(y1));
  EXPECT_FLOAT_EQ(x[2], static_cast<float>(y2));
}

TEST(OctaveFilter, EqualsThreeSectionsInTurn) {
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 3000.0f);
  std::vector<float> x(20000);
  for (float& v : x) v = noise(rng);
  for (float fc : {31.5f, 1000.0f, 16000.0f}) {
    std::vector<float> fused = x, sequential = x;
    OctaveFilter(fused, fc, 44100);
    OctaveSection(sequential, 0.75 * fc, 8, 44100);
    OctaveSection(sequential, fc, 4, 44100);
    OctaveSection(sequential, 1.3 * fc, 8, 44100);
    ASSERT_EQ(0, std::memcmp(fused.data(), sequential.data(), x.size() * sizeof(float))) << fc;
  }
}

TEST(OctaveFilter, PassesItsOctaveAndRejectsOthers) {
  // The cascade is not normalised (about -26 dB at the centre); only level differences
  // matter to the parameters.
  const double fs = 48000;
  for (double fc : {125.0, 1000.0, 8000.0}) {
    const double centre = GainDb(fc, fc, fs, true);
    EXPECT_NEAR(centre, -26.4, 0.5) << fc;
    EXPECT_LT(GainDb(fc / 4, fc, fs, true) - centre, -25.0) << fc;
    EXPECT_LT(GainDb(fc * 4, fc, fs, true) - centre, -25.0) << fc;
  }
}

TEST(BandsAnalysed, FollowTheSampleRate) {
  EXPECT_EQ(BandsAnalysed(48000), 10);
  EXPECT_EQ(BandsAnalysed(44100), 10);
  EXPECT_EQ(BandsAnalysed(32000), 9);  // 16 kHz above 15238 Hz
  EXPECT_EQ(BandsAnalysed(22050), 9);  // up to 8 kHz
  EXPECT_EQ(BandsAnalysed(8000), 7);   // up to 2 kHz
}

TEST(NoisePower, MeanSquareOfTheLastSixteenth) {
  std::vector<float> x(160, 100.0f);
  for (int k = 150; k < 160; ++k) x[k] = static_cast<float>(k - 150);  // 0 ... 9
  EXPECT_DOUBLE_EQ(NoisePower(x), 285.0 / 10);
  EXPECT_EQ(NoisePower(std::vector<float>(15, 5.0f)), 0.0);  // empty window
}

TEST(BackwardIntegrate, EnergyFromEachSampleOnAndFirstMoment) {
  std::vector<float> x = {5, 1, 2, -3, 0};
  const double m = BackwardIntegrate(x, 1, 0.0, 10.0);
  EXPECT_EQ(x, (std::vector<float>{39, 14, 13, 9, 0}));
  // Weights from the first arrival: 1, 2, 3, 4 for 1, 4, 9, 0.
  EXPECT_DOUBLE_EQ(m, (1 * 1 + 2 * 4 + 3 * 9) / 10.0);
}

TEST(BackwardIntegrate, NoisePowerIsSubtractedAndClippedAtZero) {
  std::vector<float> x = {4, 1, 3, 0.5f};
  const double m = BackwardIntegrate(x, 0, 2.0, 1.0);
  // g = 14, 0 (clipped), 7, 0 (clipped).
  EXPECT_EQ(x, (std::vector<float>{21, 7, 7, 0}));
  EXPECT_DOUBLE_EQ(m, 1 * 14 + 3 * 7);
}

TEST(ToDecibels, MatchesLog10AcrossTheFloatRange) {
  std::vector<float> x;
  for (double e = -44.0; e < 38.0; e += 0.0137) x.push_back(static_cast<float>(std::pow(10.0, e)));
  x.push_back(std::numeric_limits<float>::denorm_min());
  x.push_back(std::numeric_limits<float>::min());
  x.push_back(std::numeric_limits<float>::max());
  for (float v : {1.0f, 10.0f, 32767.0f * 32767.0f, 0.70710677f, 1.4142135f}) x.push_back(v);
  std::vector<float> l = x;
  ToDecibels(l);
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double want = 10 * std::log10(static_cast<double>(x[k]));
    ASSERT_NEAR(l[k], want, 2e-6 * std::max(1.0, std::fabs(want))) << x[k];
  }
}

TEST(ToDecibels, ZeroEnergyReadsZero) {
  std::vector<float> x = {0.0f, 100.0f, 0.0f};
  ToDecibels(x);
  EXPECT_EQ(x[0], 0.0f);
  EXPECT_NEAR(x[1], 20.0f, 1e-5);
  EXPECT_EQ(x[2], 0.0f);
}

}  // namespace
