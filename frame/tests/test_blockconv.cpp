// The pure pieces of the block convolution: the FFT size rule and the conversion to
// 16-bit samples.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame/blockconv.h"

TEST(BlockConvolution, FftSizeFollowsTheCostModel) {
  EXPECT_EQ(OptimumFftSize(1, 10), 8);
  EXPECT_EQ(OptimumFftSize(3, 10), 8);
  EXPECT_EQ(OptimumFftSize(5, 1), 16);            // never below twice the filter's power of two
  EXPECT_EQ(OptimumFftSize(96000, 28800000), 1L << 20);  // 2 s at 48 kHz on 10 minutes
}

TEST(BlockConvolution, ConversionRoundsHalfAwayAndSaturatesSymmetrically) {
  const std::vector<float> v = {2.5f, -2.5f, 0.49999997f, 32767.4f, 32767.5f, -32767.5f, -40000.0f, NAN, -0.5f};
  std::vector<int16_t> out(v.size());
  EXPECT_EQ(ConvertToSamples(v, 1.0f, out.data()), 3);
  EXPECT_EQ(out, (std::vector<int16_t>{3, -3, 0, 32767, 32767, -32767, -32767, 0, -1}));
  EXPECT_EQ(ConvertToSamples(v, INFINITY, out.data()), 8);  // every value but NaN limited
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[7], 0);
}
