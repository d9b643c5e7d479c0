// The routing kernels: letters, their groups, the filter length, the FFT size and the gain.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame/blockconv.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/routing.h"

TEST(LiveRouting, LettersAndTheirGroupsFollowThePaths) {
  const std::string order = "xabcdefghilmnopq";
  const unsigned sets[] = {0, 1, 2, 3, 4, 8, 12, 5, 9, 13, 6, 10, 14, 7, 11, 15};
  for (std::size_t k = 0; k < order.size(); ++k) {
    const char c = order[k];
    const unsigned s = sets[k];
    EXPECT_EQ(RoutingLetter(s), c);
    EXPECT_EQ(PathSetOf(c), static_cast<int>(s));
    const bool left = s & (kPathLL | kPathLR), right = s & (kPathRL | kPathRR);
    const bool toL = s & (kPathLL | kPathRL), toR = s & (kPathLR | kPathRR);
    const bool single = s == 1 || s == 2 || s == 4 || s == 8;
    EXPECT_EQ(LetterIn(kOnlyLeftInput, c), left && !right) << c;
    EXPECT_EQ(LetterIn(kOnlyRightInput, c), right && !left) << c;
    EXPECT_EQ(LetterIn(kBothInputs, c), left && right) << c;
    EXPECT_EQ(LetterIn(kUsesRightInput, c), right) << c;
    EXPECT_EQ(LetterIn(kUsesResponseRight, c), toR) << c;
    EXPECT_EQ(LetterIn(kUsesBothResponseChannels, c), toL && toR) << c;
    EXPECT_EQ(LetterIn(kOnlyResponseLeft, c), toL && !toR) << c;
    EXPECT_EQ(LetterIn(kOnlyResponseRight, c), toR && !toL) << c;
    EXPECT_EQ(LetterIn(kSinglePath, c), single) << c;
    EXPECT_EQ(LetterIn(kSingleLeftPath, c), single && left) << c;
    EXPECT_EQ(LetterIn(kSingleRightPath, c), single && right) << c;
  }
  EXPECT_EQ(PathSetOf('j'), -1);
  EXPECT_EQ(PathSetOf('\0'), -1);
  EXPECT_FALSE(LetterIn(kSinglePath, '\0'));

  const RoutingLetters r = LettersFromMask(0x5A);  // IR1 LR+RR, IR2 LL+RL
  EXPECT_EQ(r.first, 'm');
  EXPECT_EQ(r.second, 'g');
  EXPECT_EQ(r.combined, 'q');
}

TEST(LiveRouting, CascadeAddsLengthsSideBySideTakesTheLonger) {
  EXPECT_EQ(FilterLength(0x00, 1000, 300), 1);
  EXPECT_EQ(FilterLength(0x01, 1000, 300), 1000);
  EXPECT_EQ(FilterLength(0x10, 1000, 300), 300);
  EXPECT_EQ(FilterLength(0x11, 1000, 300), 1299);  // one shared path: in series
  EXPECT_EQ(FilterLength(0x81, 1000, 300), 1000);  // different paths: side by side
  EXPECT_EQ(FilterLength(0x81, 300, 1000), 1000);

  // M < L: four times the power of two; otherwise the cost search from twice it.
  EXPECT_EQ(PlannedFftSize(1000, 48000), 4096);
  EXPECT_EQ(PlannedFftSize(1024, 48000), 4096);
  EXPECT_EQ(PlannedFftSize(1000, 1000), CheapestFftSize(1000, 1000, 2048));
  EXPECT_GE(PlannedFftSize(100000, 10), 2 * 100000);
  EXPECT_EQ(RoutingFftSize(0x00, 1000, 300, 48000), 0);
  // Side by side the plan covers the run's filter: N >= 2 max(M1, M2).
  EXPECT_EQ(RoutingFftSize(0x81, 1000, 3000, 48000), 16384);
  EXPECT_EQ(RoutingFftSize(0x11, 1000, 3000, 48000), 16384);
  EXPECT_EQ(RoutingFftSize(0x11, 2000, 3000, 48000), 32768);
  EXPECT_EQ(PlannedFftSize(0x7FFFFFFF, 10), 1L << 30);  // no overflow past any memory
}

TEST(LiveRouting, GainNormalisesByEnergyAndScalesAsPower) {
  const long n = 4096;
  const double e1 = 4096.0 * 100.0, e2 = 4096.0 * 400.0;  // r1 = 10, r2 = 20
  EXPECT_FLOAT_EQ(BaseGain(0x00, e1, e2, 300.0, n), 1.0f);
  EXPECT_FLOAT_EQ(BaseGain(0x01, e1, e2, 300.0, n), static_cast<float>(32767.0 / (10.0 * 300 * n) / n));
  EXPECT_FLOAT_EQ(BaseGain(0x20, e1, e2, 300.0, n), static_cast<float>(32767.0 / (20.0 * 300 * n) / n));
  EXPECT_FLOAT_EQ(BaseGain(0x41, e1, e2, 300.0, n), static_cast<float>(32767.0 / (20.0 * 300 * n) / n));
  EXPECT_FLOAT_EQ(BaseGain(0x11, e1, e2, 300.0, n),
                  static_cast<float>(32767.0 / (20.0 * 10.0 * 300 * double(n) * n) / n));
  EXPECT_EQ(BaseGain(0x01, 0.0, e2, 300.0, n), 0.0f);  // a silent response
  EXPECT_EQ(BaseGain(0x01, e1, e2, 300.0, 0), 0.0f);

  EXPECT_FLOAT_EQ(PlaybackGain(2.0f, 10), 20.0f);  // 10 dB is ten times: a power ratio
  EXPECT_FLOAT_EQ(PlaybackGain(2.0f, -20), 0.02f);
  EXPECT_TRUE(std::isfinite(PlaybackGain(2.0f, 32767)));
  EXPECT_EQ(PlaybackGain(0.0f, 32767), 0.0f);

  const std::vector<int16_t> samples = {-32768, 32767, 3};
  EXPECT_EQ(ResponseEnergy(samples), 32768.0 * 32768 + 32767.0 * 32767 + 9);
}

TEST(LiveRouting, UpdateRoutingKeepsLettersAndSizeWithTheMask) {
  LiveParams p{};
  p.routingMask = 0x12;
  p.responseFrames[0] = 1000;
  p.responseFrames[1] = 500;
  p.selectionFrames = 48000;
  UpdateRouting(p);
  EXPECT_EQ(p.responseLetter[0], 'b');
  EXPECT_EQ(p.responseLetter[1], 'a');
  EXPECT_EQ(p.combinedLetter, 'c');
  EXPECT_EQ(LONG{p.fftSize}, 4096);
}
