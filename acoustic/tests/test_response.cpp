#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "acoustic/response.h"

namespace {

TEST(AnalyseResponse, StereoStopsAfterAFailedLeftChannel) {
  // Left is quiet (no first arrival), right decays: the right channel is never analysed.
  std::vector<int16_t> x(2 * 8000, 0);
  for (int k = 0; k < 8000; ++k) x[2 * k + 1] = static_cast<int16_t>(30000 * std::pow(10.0, -3.0 * k / 8000));
  ResponseAnalysis r = AnalyseResponse(x, 2, 8000, {});
  EXPECT_EQ(r.outcome, ChannelOutcome::kNoFirstArrival);
  EXPECT_EQ(r.channelsAnalysed, 1);
  EXPECT_EQ(std::count(r.results.flags, r.results.flags + kResultFlagBytes, 'n'), kResultFlagBytes);

  // Swapped, both channels are analysed and the left's noise flags stand for both.
  for (int k = 0; k < 8000; ++k) std::swap(x[2 * k], x[2 * k + 1]);
  x[1] = 20000;
  r = AnalyseResponse(x, 2, 8000, {});
  EXPECT_EQ(r.outcome, ChannelOutcome::kCompleted);
  EXPECT_EQ(r.channelsAnalysed, 2);
  EXPECT_NEAR(r.results.values[kRt30], 1.0, 0.01);
  EXPECT_EQ(r.results.flags[kChannelValues + kTs], 'y');
  EXPECT_EQ(r.results.flags[kNoiseFlagsOffset], 'y');
}

TEST(AnalyseResponse, CancelReachesTheCaller) {
  std::vector<int16_t> x(8000);
  for (int k = 0; k < 8000; ++k) x[k] = static_cast<int16_t>(30000 * std::pow(10.0, -3.0 * k / 8000));
  long calls = 0;
  const ResponseAnalysis r = AnalyseResponse(x, 1, 8000, {}, [&](long, long) { return ++calls < 2; });
  EXPECT_EQ(r.outcome, ChannelOutcome::kCancelled);
  EXPECT_EQ(calls, 2);
}

}  // namespace
