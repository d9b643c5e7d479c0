// The engine against a direct time-domain routing of the same responses, the fitting into
// memory, and the routings a run refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "liveconvolver/engine.h"
#include "liveconvolver/routing.h"

namespace {

// Zero-filled memory up to a budget of bytes held at once.
class TestAllocator : public EngineAllocator {
 public:
  explicit TestAllocator(std::size_t budget = SIZE_MAX) : budget_(budget) {}
  void* Allocate(std::size_t bytes) override {
    if (bytes > budget_ - held_) return nullptr;
    held_ += bytes;
    blocks_.push_back(std::make_unique<char[]>(bytes));
    std::fill(blocks_.back().get(), blocks_.back().get() + bytes, 0);
    return blocks_.back().get();
  }
  void ReleaseAll() override {
    blocks_.clear();
    held_ = 0;
  }
  std::size_t held() const { return held_; }

 private:
  std::size_t budget_, held_ = 0;
  std::vector<std::unique_ptr<char[]>> blocks_;
};

std::vector<int16_t> Noise(std::size_t count, unsigned seed, int amplitude) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<int16_t> v(count);
  for (auto& s : v) s = static_cast<int16_t>(d(random));
  return v;
}

std::vector<double> Convolve(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> c(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) c[i + j] += a[i] * b[j];
  return c;
}

std::vector<double> Channel(const std::vector<int16_t>& v, int channels, int c) {
  std::vector<double> out(v.size() / channels);
  for (std::size_t j = 0; j < out.size(); ++j) out[j] = v[j * channels + c];
  return out;
}

struct Case {
  int documentChannels = 2;
  int outputChannels = 2;
  long frames = 60;
  long responseFrames[2] = {9, 5};
  int responseChannels[2] = {2, 2};
};

// Runs the engine over a noise document; the output (unscaled: N/2 times the convolution)
// and the routing used.
struct Rendered {
  std::vector<float> values;
  LiveRouting routing;
  long fftSize = 0;
};

Rendered Render(const Case& s, uint32_t mask, const std::vector<int16_t>& document,
                const std::vector<int16_t> (&responses)[2]) {
  Rendered out;
  EXPECT_EQ(PlanLiveRouting(mask, s.documentChannels, s.outputChannels, s.responseFrames, s.responseChannels,
                            s.frames, out.routing),
            RoutingProblem::None);
  TestAllocator allocator;
  LiveEngine engine;
  out.fftSize = FitLiveEngine(out.routing, allocator, engine);
  EXPECT_GT(out.fftSize, 0);
  ResponseSamples samples{{responses[0], responses[1]}};
  EXPECT_TRUE(PrepareLiveFilters(engine, samples, {}));
  const BlockReader read = [&](LONG offset, LONG bytes, int16_t* to) {
    std::memcpy(to, reinterpret_cast<const char*>(document.data()) + offset, static_cast<std::size_t>(bytes));
  };
  const BlockSink sink = [&](const float* v, std::size_t n) {
    out.values.insert(out.values.end(), v, v + n);
    return true;
  };
  EXPECT_EQ(RunLiveConvolution(engine, 0, s.frames, read, sink, {}), BlockOutcome::Completed);
  return out;
}

// The routing computed path by path in the time domain, in double precision: each output
// the sum over inputs of the input convolved with every response routing that path.
std::vector<double> Reference(const Case& s, uint32_t mask, const std::vector<int16_t>& document,
                              const std::vector<int16_t> (&responses)[2], long filterLength) {
  const int outputs = s.outputChannels;
  const std::size_t total = static_cast<std::size_t>(s.frames + filterLength - 1);
  std::vector<double> out(total * outputs, 0.0);
  for (int i = 0; i < s.documentChannels; ++i) {
    const std::vector<double> x = Channel(document, s.documentChannels, i);
    for (int o = 0; o < 2; ++o) {
      std::vector<double> y;
      for (int k = 0; k < 2; ++k) {
        if (!(mask >> (4 * k) & (1u << (2 * i + o)))) continue;
        const int c = s.responseChannels[k] == 2 ? o : 0;
        y = Convolve(y.empty() ? x : y, Channel(responses[k], s.responseChannels[k], c));
      }
      // A one-channel output carries whichever channel is fed.
      const int at = outputs == 1 ? 0 : o;
      for (std::size_t j = 0; j < y.size(); ++j) out[j * outputs + at] += y[j];
    }
  }
  return out;
}

// Compares every mask of the setup with the reference, within float rounding.
void ExpectEveryMaskMatches(const Case& s, uint32_t masks) {
  const std::vector<int16_t> document = Noise(static_cast<std::size_t>(s.frames * s.documentChannels), 1, 20000);
  const std::vector<int16_t> responses[2] = {
      Noise(static_cast<std::size_t>(s.responseFrames[0] * s.responseChannels[0]), 2, 30000),
      Noise(static_cast<std::size_t>(s.responseFrames[1] * s.responseChannels[1]), 3, 30000)};
  for (uint32_t mask = 0; mask < 256; ++mask) {
    if ((mask & masks) != mask) continue;
    const unsigned paths = (mask | mask >> 4) & 0xF;
    if (s.outputChannels == 1 && (paths & 5) && (paths & 10)) continue;
    const Rendered r = Render(s, mask, document, responses);
    std::vector<double> want(document.begin(), document.end());  // unrouted: the input itself
    if (s.documentChannels == 1 && s.outputChannels == 2)
      for (std::size_t j = want.size(); j-- > 0;) want.insert(want.begin() + static_cast<long>(j), want[j]);
    if (mask != 0) want = Reference(s, mask, document, responses, r.routing.filterLength);
    ASSERT_EQ(r.values.size(), want.size()) << "mask " << mask;
    const double scale = mask == 0 ? 1.0 : r.fftSize / 2.0;
    double peak = 0;
    for (double v : want) peak = std::max(peak, std::fabs(v));
    double worst = 0;
    for (std::size_t j = 0; j < want.size(); ++j) worst = std::max(worst, std::fabs(r.values[j] / scale - want[j]));
    EXPECT_LE(worst, 2e-6 * std::max(peak, 1.0)) << "mask 0x" << std::hex << mask << " letter "
                                                  << LettersFromMask(mask).combined;
  }
}

}  // namespace

TEST(LiveEngine, EveryRoutingOfTwoStereoResponsesMatchesTheTimeDomain) {
  Case s;  // side by side the longer response sets the growth; in cascade M1 + M2 - 1
  ExpectEveryMaskMatches(s, 0xFF);
}

TEST(LiveEngine, MonoResponsesServeBothOutputChannels) {
  Case s;
  s.responseChannels[0] = 1;
  ExpectEveryMaskMatches(s, 0xFF);
  s.responseChannels[0] = 2;
  s.responseChannels[1] = 1;
  s.responseFrames[1] = 40;  // a response longer than the selection: the cost search
  s.frames = 30;
  ExpectEveryMaskMatches(s, 0xFF);
}

TEST(LiveEngine, MonoDocumentUsesItsLeftInputPaths) {
  Case s;
  s.documentChannels = 1;
  s.outputChannels = 1;  // a run: one output channel carries 'a' or 'b'
  ExpectEveryMaskMatches(s, 0x33);
  s.outputChannels = 2;  // to two channels, 'c' included
  ExpectEveryMaskMatches(s, 0x33);

  LiveRouting r;
  EXPECT_EQ(PlanLiveRouting(0x03, 1, 1, s.responseFrames, s.responseChannels, 60, r),
            RoutingProblem::OutputsExceedChannels);
  ASSERT_EQ(PlanLiveRouting(0xFF, 1, 2, s.responseFrames, s.responseChannels, 60, r), RoutingProblem::None);
  EXPECT_EQ(r.mask, kMonoDocumentMask);
}

TEST(LiveEngine, PlanningFollowsCascadeOrSideBySide) {
  const long frames[2] = {3000, 3000};
  const int channels[2] = {2, 2};
  LiveRouting r;
  ASSERT_EQ(PlanLiveRouting(0x81, 2, 2, frames, channels, 48000, r), RoutingProblem::None);
  EXPECT_EQ(r.filterLength, 3000);  // side by side
  EXPECT_EQ(r.plannedSize, 16384);
  ASSERT_EQ(PlanLiveRouting(0x11, 2, 2, frames, channels, 48000, r), RoutingProblem::None);
  EXPECT_EQ(r.filterLength, 5999);  // in series
  EXPECT_EQ(r.plannedSize, 32768);
  // A response not loaded drops its switches; nothing routed runs at 16384 with M = 1.
  const int onlyFirst[2] = {2, 0};
  ASSERT_EQ(PlanLiveRouting(0x10, 2, 2, frames, onlyFirst, 48000, r), RoutingProblem::None);
  EXPECT_EQ(r.mask, 0u);
  EXPECT_EQ(r.filterLength, 1);
  EXPECT_EQ(r.plannedSize, kUnroutedFftSize);
  EXPECT_EQ(PlanLiveRouting(0x01, 3, 2, frames, channels, 48000, r), RoutingProblem::BadChannels);
}

TEST(LiveEngine, FittingHalvesTheSizeAndGivesBackWhatFailed) {
  const long frames[2] = {1000, 1000};
  const int channels[2] = {2, 2};
  LiveRouting r;
  ASSERT_EQ(PlanLiveRouting(0x81, 2, 2, frames, channels, 48000, r), RoutingProblem::None);
  ASSERT_EQ(r.plannedSize, 4096);
  LiveEngine e;
  // Block 2N, work 2N, spectra H1L and H2R, overlap 2 (M - 1): 6N + 1998 floats.
  TestAllocator roomy((6 * 4096 + 1998) * sizeof(float));
  EXPECT_EQ(FitLiveEngine(r, roomy, e), 4096);
  TestAllocator tight((6 * 4096 + 1998) * sizeof(float) - 1);
  EXPECT_EQ(FitLiveEngine(r, tight, e), 2048);
  EXPECT_EQ(tight.held(), (6 * 2048 + 1998) * sizeof(float));
  TestAllocator none((6 * 2048 + 1998) * sizeof(float) - 1);
  EXPECT_EQ(FitLiveEngine(r, none, e), 0);  // 1024 < 2 M: the caller shows the memory message
  EXPECT_EQ(none.held(), 0u);
  EXPECT_EQ(e.block, nullptr);
}

TEST(LiveEngine, SinkAndProgressStopTheLoop) {
  const long frames[2] = {5, 0};
  const int channels[2] = {1, 0};
  LiveRouting r;
  ASSERT_EQ(PlanLiveRouting(0x01, 1, 1, frames, channels, 100000, r), RoutingProblem::None);
  TestAllocator allocator;
  LiveEngine e;
  ASSERT_GT(FitLiveEngine(r, allocator, e), 0);
  const std::vector<int16_t> response = {1, 2, 3, 4, 5};
  EXPECT_FALSE(PrepareLiveFilters(e, ResponseSamples{{std::span<const int16_t>(response).first(4), {}}}, {}));
  ASSERT_TRUE(PrepareLiveFilters(e, ResponseSamples{{response, {}}}, {}));
  std::vector<int16_t> document(100000, 7);
  const BlockReader read = [&](LONG offset, LONG bytes, int16_t* to) {
    std::memcpy(to, reinterpret_cast<const char*>(document.data()) + offset, static_cast<std::size_t>(bytes));
  };
  int blocks = 0;
  EXPECT_EQ(RunLiveConvolution(e, 0, 100000, read, [&](const float*, std::size_t) { return ++blocks < 2; }, {}),
            BlockOutcome::Stopped);
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(RunLiveConvolution(e, 0, 100000, read, [](const float*, std::size_t) { return true; },
                               [](long done, long) { return done < 3; }),
            BlockOutcome::Cancelled);
}
