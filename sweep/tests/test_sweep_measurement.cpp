// A whole sweep measurement through the host: sweeps generated, played through a known
// system, convolved with the inverse filter the generator left on the clipboard, and the
// periods averaged into the system's response (and a harmonic's).
#include <gtest/gtest.h>

#include <cmath>

#include "host/simulate.h"
#include "host/testing.h"

namespace {

using tovrel::host::Document;
using tovrel::host::RunOptions;
using tovrel::host::RunStatus;
using tovrel::host::testing::ClipboardResponse;
using tovrel::host::testing::TestHost;

// 8 kHz, log sweeps from 50 to 1500 Hz (their 2nd harmonic stays below half the rate) of
// 8000 samples with 4000 of silence, three periods.
constexpr long kRate = 8000;
constexpr long kResponse = 256;

// The averaged response (harmonic order k) of the three sweeps played through `system`.
std::vector<double> Measure(TestHost& host, const std::string& system, int k) {
  Document doc = Document::Empty(kRate, 1);
  RunOptions sweep;
  sweep.sets = {{"Start Frequency (Hz)", "50"}, {"End Frequency (Hz)", "1500"}, {"1038", "8000"},
                {"1041", "4000"},               {"N. of cycles", "3"},          {"Log Sweep", "on"}};
  EXPECT_EQ(host.Run("sweepsource", doc, sweep).status, RunStatus::Completed);
  std::string error;
  auto parsed = tovrel::host::ParseSystem(system, kRate, error);
  tovrel::host::Recording once;
  once.periods = 1;
  auto recorded = tovrel::host::Simulate(doc, *parsed, once, error);
  EXPECT_TRUE(recorded) << error;
  Document recording = recorded->recording;
  EXPECT_EQ(host.Run("convolve", recording).status, RunStatus::Completed);
  EXPECT_EQ(recording.frames(), 3 * 12000 + 8000 - 1);
  RunOptions average;
  average.sets = {{"N. of measurements", "1"}, {"N. of sweeps / measurement", "3"},
                  {"Start Frequency (Hz)", "50"}, {"End Frequency (Hz)", "1500"},
                  {"Sweep duration (s or samples)", "8000"}, {"Silence duration (s or samples)", "4000"},
                  {"N. of samples for each response", std::to_string(kResponse)}, {"N. of first samples to skip", "0"},
                  {"Harmonic Order Number", k == 1 ? "1 Linear" : std::to_string(k)},
                  {"Autoscale each response separately", "on"}, {"Autoscale and remove DC component", "off"}};
  recording.SelectAll();
  const auto averaged = host.Run("sweepaverage", recording, average);
  EXPECT_EQ(averaged.status, RunStatus::Completed) << averaged.message;
  const auto response = ClipboardResponse(averaged);
  return std::vector<double>(response.samples.begin(), response.samples.end());
}

TEST(SweepMeasurement, RecoversTheResponseOfAKnownSystem) {
  TestHost host;
  // The measurement of a plain wire is the sweep's own pulse p, at the start of the response.
  const std::vector<double> p = Measure(host, "gain:1", 1);
  ASSERT_EQ(p.size(), static_cast<std::size_t>(kResponse));
  EXPECT_EQ(p[0], 32767);
  // A delayed short filter gives p convolved with it (p's lags before its peak are not in
  // the window: compared from the filter's last tap on), to a common scale.
  std::vector<double> h(24, 0.0);
  h[20] = 0.5, h[22] = -0.25, h[23] = 0.125;
  std::string fir = "fir:0";
  for (std::size_t j = 1; j < h.size(); ++j) fir += "," + std::to_string(h[j]);
  const std::vector<double> y = Measure(host, fir, 1);
  std::vector<double> expected(kResponse, 0.0);
  double yy = 0, ye = 0;
  for (long t = 23; t < kResponse; ++t) {
    for (std::size_t j = 0; j < h.size(); ++j) expected[t] += h[j] * p[t - j];
    ye += y[t] * expected[t];
    yy += expected[t] * expected[t];
  }
  const double scale = ye / yy;
  for (long t = 23; t < kResponse; ++t) EXPECT_NEAR(y[t], scale * expected[t], 150) << t;
}

TEST(SweepMeasurement, SecondHarmonicOfAPolynomialLandsAtItsStartFrame) {
  TestHost host;
  // The 2nd harmonic's pulse opens its window; without the square term the window holds no pulse.
  auto sharpness = [](const std::vector<double>& r) {
    double rms = 0;
    for (std::size_t t = 8; t < r.size(); ++t) rms += r[t] * r[t];
    return std::max(std::fabs(r[0]), std::fabs(r[1])) / std::sqrt(rms / static_cast<double>(r.size() - 8));
  };
  const std::vector<double> harmonic = Measure(host, "poly:1,0.3", 2);
  ASSERT_EQ(harmonic.size(), static_cast<std::size_t>(kResponse));
  EXPECT_GT(sharpness(harmonic), 20);
  EXPECT_LT(sharpness(Measure(host, "gain:1", 2)), 5);
}

}  // namespace
