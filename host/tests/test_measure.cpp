// Play and record through the virtual device, whose input hears its output through a
// streamed system: the recording's periods, the latency found on the loopback channel, a
// cancel. (The devices' threads run here too, so this also runs under ThreadSanitizer.)
#include <gtest/gtest.h>

#include <algorithm>

#include "host/measure.h"
#include "host/simulate.h"
#include "platform/portable/faces.h"

using namespace tovrel;
using namespace tovrel::host;

namespace {

class Measure : public ::testing::Test {
 protected:
  void SetUp() override {
    portable::SetWaveDevices({"virtual"});
    portable::SetVirtualWaveSpeed(200.0);
    std::string error;
    // The room 5 frames after the sound card's 40 frames of latency; the loopback the latency alone.
    auto system = ParseSystem("delay:45/delay:40", 8000, error);
    ASSERT_TRUE(system) << error;
    stream_ = std::make_unique<SystemStream>(std::move(*system), std::nullopt);
    portable::SetVirtualWaveLoop([this](const int16_t* played, std::size_t frames, int playedChannels, int16_t* heard,
                                        int heardChannels) {
      stream_->Process(played, frames, playedChannels, heard, heardChannels);
    });
    x_ = Document::Empty(8000, 1);
    for (int k = 0; k < 1000; ++k) x_.samples.push_back(static_cast<int16_t>((k * 7919) % 16001 - 8000));
    x_.SelectAll();
  }
  void TearDown() override {
    portable::SetVirtualWaveLoop(nullptr);
    portable::SetVirtualWaveSpeed(1.0);
    portable::SetWaveDevices({});
  }
  std::unique_ptr<SystemStream> stream_;
  Document x_;
};

TEST_F(Measure, RecordsWholePeriodsWithTheLoopbacksLatencyRemoved) {
  MeasureSettings s;
  s.preRoll = 1;
  s.periods = 3;
  s.inChannels = 2;
  s.referenceChannel = 2;
  s.marginFrames = 100;
  double progress = 0;
  s.progress = [&](double f) { progress = f; };
  std::string error;
  bool cancelled = true;
  auto r = PlayAndRecord(x_, s, error, cancelled);
  ASSERT_TRUE(r) << error;
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(progress, 1.0);
  EXPECT_EQ(r->latency, 40);
  EXPECT_EQ(r->periodLatency, (std::vector<long>{40, 40, 40}));
  ASSERT_EQ(r->recording.frames(), 3000);
  for (long n = 0; n < 3000; ++n) {
    ASSERT_EQ(r->recording.samples[static_cast<std::size_t>(2 * n)], x_.samples[static_cast<std::size_t>((n + 995) % 1000)])
        << n;
    ASSERT_EQ(r->recording.samples[static_cast<std::size_t>(2 * n + 1)], x_.samples[static_cast<std::size_t>(n % 1000)])
        << n;
  }
  EXPECT_EQ(r->clipped, 0);
  EXPECT_NEAR(r->excitation.peakDbfs, -12.2, 0.1);
  EXPECT_EQ(portable::WaveOutActivity().openNow, 0);
}

TEST_F(Measure, ACancelOrASilentLoopbackEndsTheMeasurement) {
  MeasureSettings s;
  s.periods = 1000;
  int polls = 0;
  s.cancelled = [&] { return ++polls > 3; };
  std::string error;
  bool cancelled = false;
  EXPECT_FALSE(PlayAndRecord(x_, s, error, cancelled));
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(portable::WaveOutActivity().openNow, 0);

  portable::SetVirtualWaveLoop([](const int16_t*, std::size_t frames, int, int16_t* heard, int channels) {
    std::fill(heard, heard + frames * static_cast<std::size_t>(channels), int16_t{3});
  });
  s = MeasureSettings{};
  s.inChannels = 2;
  s.referenceChannel = 2;
  EXPECT_FALSE(PlayAndRecord(x_, s, error, cancelled));
  EXPECT_FALSE(cancelled);
  EXPECT_NE(error.find("the reference channel 2 records nothing"), std::string::npos) << error;
}

}  // namespace
