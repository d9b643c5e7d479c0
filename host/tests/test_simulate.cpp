// The simulated measurement: known systems, phases, channels and noise.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "host/simulate.h"

using namespace tovrel::host;

namespace {

Document Excitation(std::vector<int16_t> samples, long rate = 8000) {
  Document d = Document::Empty(rate, 1);
  d.samples = std::move(samples);
  d.SelectAll();
  return d;
}

SimulationResult Record(const Document& x, const std::string& text, Recording rec = {}) {
  std::string error;
  auto system = ParseSystem(text, x.sampleRate, error);
  EXPECT_TRUE(system.has_value()) << error;
  auto r = Simulate(x, *system, rec, error);
  EXPECT_TRUE(r.has_value()) << error;
  return *r;
}

TEST(Simulate, DelaysGainsAndFiltersActOnTheSteadyStateFromAnyPhase) {
  const Document x = Excitation({100, -200, 300, -400, 500});
  Recording rec;
  rec.periods = 2;
  rec.phase = 3;
  // A delay of 2 frames from phase 3: y[n] = x[(n + 3 - 2) mod 5].
  SimulationResult r = Record(x, "delay:2", rec);
  EXPECT_EQ(r.recording.samples, (std::vector<int16_t>{-200, 300, -400, 500, 100, -200, 300, -400, 500, 100}));
  r = Record(x, "gain:-1");
  EXPECT_EQ(r.recording.samples, (std::vector<int16_t>{-100, 200, -300, 400, -500, -100, 200, -300, 400, -500}));
  rec.periods = 1;
  rec.phase = 0;
  r = Record(x, "fir:1,0.5", rec);
  // y[0] wraps round to x[4].
  EXPECT_EQ(r.recording.samples, (std::vector<int16_t>{350, -150, 200, -250, 300}));
  EXPECT_EQ(r.recording.selectionLength(), 5);
}

TEST(Simulate, ChannelsOfTheSystemAndOfTheExcitation) {
  const Document mono = Excitation({1000, 0, 0, 0});
  Recording rec;
  rec.periods = 1;
  SimulationResult r = Record(mono, "delay:1/delay:3", rec);
  ASSERT_EQ(r.recording.channels, 2);
  EXPECT_EQ(r.recording.samples, (std::vector<int16_t>{0, 0, 1000, 0, 0, 0, 0, 1000}));

  Document stereo = Document::Empty(8000, 2);
  stereo.samples = {10, 20, 30, 40};
  stereo.SelectAll();
  r = Record(stereo, "gain:2", rec);  // one response serves both channels
  EXPECT_EQ(r.recording.samples, (std::vector<int16_t>{20, 40, 60, 80}));
}

TEST(Simulate, NoiseHasItsLevelAndRepeatsWithTheSeed) {
  const Document silence = Excitation(std::vector<int16_t>(48000, 0), 48000);
  Recording rec;
  rec.periods = 1;
  rec.noiseDbfs = -40.0;
  SimulationResult a = Record(silence, "gain:1", rec);
  double energy = 0;
  for (int16_t v : a.recording.samples) energy += static_cast<double>(v) * v;
  const double dbfs = 10.0 * std::log10(energy / 48000.0) - 20.0 * std::log10(32767.0);
  EXPECT_NEAR(dbfs, -40.0, 0.2);
  EXPECT_EQ(Record(silence, "gain:1", rec).recording.samples, a.recording.samples);
  rec.seed = 2;
  EXPECT_NE(Record(silence, "gain:1", rec).recording.samples, a.recording.samples);
}

TEST(Simulate, ClippingIsCountedAndRoomsStayWithinRange) {
  SimulationResult r = Record(Excitation({30000, -30000}), "gain:2");
  EXPECT_EQ(r.clipped, 4);
  EXPECT_EQ(r.recording.samples[0], 32767);
  EXPECT_EQ(r.recording.samples[1], -32768);
  std::string error;
  auto room = ParseSystem("room:0.5", 48000, error);
  ASSERT_TRUE(room);
  EXPECT_EQ(room->channels[0].size(), 72000u);
  double energy = 0;
  for (double v : room->channels[0]) energy += v * v;
  EXPECT_NEAR(energy, 1.5 * 0.25 * 0.25, 1e-9);
}

TEST(Simulate, FftAndDirectSumsAgree) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> u(-1000, 1000);
  std::vector<double> x(1023), h(300);
  for (auto& v : x) v = u(random);
  for (auto& v : h) v = u(random) / 1000;
  auto direct = CircularConvolve(x, h, ConvolutionMethod::Direct);
  auto fft = CircularConvolve(x, h, ConvolutionMethod::Fft);
  double worst = 0, peak = 0;
  for (std::size_t k = 0; k < x.size(); ++k) {
    worst = std::max(worst, std::fabs(direct[k] - fft[k]));
    peak = std::max(peak, std::fabs(direct[k]));
  }
  EXPECT_LT(worst, 1e-5 * peak);
  // A response longer than the period wraps round more than once.
  std::vector<double> longer(2500, 0.0);
  longer[2046] = 1.0;  // 2046 = 2 periods of 1023: no shift
  auto wrapped = CircularConvolve(x, longer, ConvolutionMethod::Fft);
  for (std::size_t k = 0; k < x.size(); ++k) ASSERT_NEAR(wrapped[k], x[k], 1e-2);
}

// A polynomial after the response acts on the response's output, relative to full scale.
TEST(Simulate, PolynomialAfterTheResponse) {
  const Document x = Excitation({16384, -16384, 8192, 0});
  // fir:0.5 gives 8192, -8192, 4096, 0 (v = 1/4, -1/4, 1/8, 0); then v + 2 v^2 - 4 v^3.
  auto expect = [](double v) { return static_cast<int16_t>(std::lround(32768 * (v + 2 * v * v - 4 * v * v * v))); };
  EXPECT_EQ(Record(x, "fir:0.5+poly:1,2,-4").recording.samples,
            (std::vector<int16_t>{expect(0.25), expect(-0.25), expect(0.125), 0, expect(0.25), expect(-0.25),
                                  expect(0.125), 0}));
  // Alone, on the excitation; per channel of a stereo system.
  EXPECT_EQ(Record(x, "poly:0,1").recording.samples[0], 8192);
  const SimulationResult both = Record(x, "gain:1/poly:1,1");
  EXPECT_EQ(both.recording.samples[0], 16384);
  EXPECT_EQ(both.recording.samples[1], 16384 + 8192);
}

TEST(Simulate, RefusesWhatItCannotRecord) {
  std::string error;
  for (const char* bad : {"delay:-1", "delay:1.5", "gain:x", "fir:", "fir:1,a", "room:0", "room:1:0", "echo:3",
                          "delay:1/delay:2/delay:3", "/no/such/file.wav", "poly:", "poly:1,x", "room:0.4+fir:1",
                          "gain:1+poly:1,2,3,4,5,6,7,8,9,10"}) {
    EXPECT_FALSE(ParseSystem(bad, 48000, error).has_value()) << bad;
    EXPECT_FALSE(error.empty());
  }
  auto system = ParseSystem("gain:1", 8000, error);
  Recording none;
  none.periods = 0;
  EXPECT_FALSE(Simulate(Excitation({1, 2}), *system, none, error).has_value());
  EXPECT_FALSE(Simulate(Document::Empty(8000, 1), *system, Recording{}, error).has_value());
}

}  // namespace
