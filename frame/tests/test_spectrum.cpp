// Packed half spectra: products, with and without conjugation, checked through RealFft
// against direct circular convolution and correlation; power and scaling.
#include "frame/spectrum.h"

#include <gtest/gtest.h>

#include <vector>

#include "frame/fft.h"

namespace {

constexpr std::size_t kN = 16;

std::vector<float> Signal(int seed) {
  std::vector<float> x(kN);
  for (std::size_t i = 0; i < kN; ++i) x[i] = static_cast<float>((static_cast<int>(i) * seed) % 7) - 3.0f;
  return x;
}

TEST(PackedSpectra, ProductsGiveCircularConvolutionAndCorrelation) {
  const std::vector<float> x = Signal(3), y = Signal(5);
  std::vector<float> sx = x, sy = y;
  ASSERT_TRUE(RealFft(sx, +1));
  ASSERT_TRUE(RealFft(sy, +1));
  std::vector<float> convolution = sx, correlation = sx;
  MultiplyPackedSpectra(convolution, sy);
  MultiplyPackedSpectraConjugate(correlation, sy);
  ScaleSpectrum(convolution, 2.0f / kN);
  ScaleSpectrum(correlation, 2.0f / kN);
  ASSERT_TRUE(RealFft(convolution, -1));
  ASSERT_TRUE(RealFft(correlation, -1));
  for (std::size_t t = 0; t < kN; ++t) {
    double conv = 0, corr = 0;
    for (std::size_t j = 0; j < kN; ++j) {
      conv += x[j] * y[(t + kN - j) % kN];
      corr += x[(j + t) % kN] * y[j];
    }
    EXPECT_NEAR(convolution[t], conv, 1e-3) << t;
    EXPECT_NEAR(correlation[t], corr, 1e-3) << t;
  }
}

TEST(PackedSpectra, PowerHasOneBinPerFrequencyAndRefusesShortOutput) {
  const std::vector<float> packed = {2, -3, 1, 2, 0, -1, 3, 4};
  std::vector<float> power(5, -1.0f);
  ASSERT_TRUE(PackedPowerSpectrum(packed, power));
  EXPECT_EQ(power, (std::vector<float>{4, 5, 1, 25, 9}));
  std::vector<float> shorter(4, -1.0f);
  EXPECT_FALSE(PackedPowerSpectrum(packed, shorter));
  EXPECT_EQ(shorter[0], -1.0f);
  // Spans of different sizes meet over the shorter one; the rest stays.
  std::vector<float> a = {1, 1, 1, 1, 5, 5}, b = {2, 3, 0, 1};
  MultiplyPackedSpectra(a, b);
  EXPECT_EQ(a, (std::vector<float>{2, 3, -1, 1, 5, 5}));
}

}  // namespace
