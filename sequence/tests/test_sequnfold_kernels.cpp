// The deconvolution kernels: TOB search, permutation, Hadamard transform, peak search,
// rotation and the result number, checked against direct computations and FFTW.
#include <gtest/gtest.h>

#include <fftw3.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "sequence/mls.h"
#include "sequence/unfold.h"

namespace {

const MlsEntry& Row(const char* label) {
  for (const MlsEntry& row : MlsEntryTable)
    if (std::string(row.label) == label) return row;
  throw std::runtime_error(label);
}

std::vector<int32_t> Bits(const MlsEntry& row) {
  std::vector<int32_t> x(static_cast<std::size_t>(1) << row.order);
  EXPECT_TRUE(GenerateMlsBits(row, x.data(), 1, {}));
  return x;
}

std::vector<long> Tob(const MlsEntry& row, const std::vector<int32_t>& x) {
  std::vector<long> tob(static_cast<std::size_t>(row.order));
  EXPECT_EQ(LookUpTob(std::span<const int32_t>(x.data(), x.size() - 1), tob, {}), TobResult::Found) << row.label;
  return tob;
}

TEST(UnfoldKernels, TobOfKnownRowsAndAPermutationOntoEveryPosition) {
  EXPECT_EQ(Tob(Row("4"), Bits(Row("4"))), (std::vector<long>{1, 4, 6, 9}));
  EXPECT_EQ(Tob(Row("6"), Bits(Row("6"))), (std::vector<long>{1, 6, 8, 29, 43, 48}));
  for (const MlsEntry& row : MlsEntryTable) {
    if (row.order > 17) continue;  // the largest orders take long in the sanitizer build
    const std::vector<int32_t> x = Bits(row);
    const std::vector<long> tob = Tob(row, x);
    const std::size_t positions = x.size();
    std::vector<int32_t> perm(positions + 1, 0);
    ASSERT_TRUE(BuildMlsPermutation(std::span<const int32_t>(x.data(), positions - 1), tob, perm, {}));
    EXPECT_EQ(perm[1], 1);
    std::vector<bool> seen(positions + 1, false);
    for (std::size_t i = 2; i <= positions; ++i) {
      ASSERT_GE(perm[i], 2) << row.label;
      ASSERT_LE(perm[i], static_cast<int32_t>(positions));
      ASSERT_FALSE(seen[static_cast<std::size_t>(perm[i])]) << row.label;
      seen[static_cast<std::size_t>(perm[i])] = true;
    }
  }
}

TEST(UnfoldKernels, TobSearchReportsFailureAndCancel) {
  std::vector<int32_t> zeros(7, 0);
  std::vector<long> tob(3);
  EXPECT_EQ(LookUpTob(zeros, tob, {}), TobResult::NotFound);
  const std::vector<int32_t> x = Bits(Row("10"));
  std::vector<long> ten(10);
  long reports = 0;
  EXPECT_EQ(LookUpTob(std::span<const int32_t>(x.data(), 1023), ten,
                      [&](long done, long total) {
                        EXPECT_EQ(total, 10);
                        EXPECT_EQ(done, ++reports);  // no back tracking this early
                        return reports < 3;
                      }),
            TobResult::Cancelled);
  EXPECT_EQ(reports, 3);
}

TEST(UnfoldKernels, HadamardTransformIsTheSylvesterMatrix) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> d(-50, 50);
  for (int order : {1, 3, 6}) {
    const std::size_t n = std::size_t{1} << order;
    std::vector<float> w(n + 1, 0);
    for (std::size_t i = 1; i <= n; ++i) w[i] = static_cast<float>(d(rng));
    std::vector<float> expected(n + 1, 0);
    for (std::size_t r = 0; r < n; ++r) {
      double sum = 0;
      for (std::size_t c = 0; c < n; ++c) sum += (__builtin_popcountll(r & c) % 2 ? -1 : 1) * w[c + 1];
      expected[r + 1] = static_cast<float>(sum);
    }
    FastHadamardTransform(w);
    EXPECT_EQ(w, expected) << order;
  }
}

TEST(UnfoldKernels, PermutationsMoveForwardAndBackAndRestoreThemselves) {
  const std::vector<int32_t> x = Bits(Row("9"));
  const std::vector<long> tob = Tob(Row("9"), x);
  std::vector<int32_t> perm(513, 0);
  ASSERT_TRUE(BuildMlsPermutation(std::span<const int32_t>(x.data(), 511), tob, perm, {}));
  const std::vector<int32_t> forward = perm;
  std::vector<float> w(513);
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = static_cast<float>(i * 3 + 1);
  const std::vector<float> original = w;
  PermuteForward(w, perm);
  for (std::size_t i = 2; i <= 512; ++i) {
    ASSERT_EQ(w[static_cast<std::size_t>(forward[i])], original[i]);
    ASSERT_EQ(forward[static_cast<std::size_t>(-perm[static_cast<std::size_t>(forward[i])])], forward[i]);
  }
  EXPECT_EQ(w[1], original[1]);
  PermuteBackward(w, perm);
  EXPECT_EQ(perm, forward);
  for (std::size_t i = 2; i <= 512; ++i) ASSERT_EQ(w[i], original[i] - original[1]) << i;
}

// The moves through a scratch array and the blocked Hadamard stages give the bits of the
// in-place moves and the plain stage loop; the backward move without scratch also undoes
// a forward move through one.
TEST(UnfoldKernels, ScratchMovesAndBlockedStagesKeepTheBits) {
  const MlsEntry& row = Row("16 A");
  const std::vector<int32_t> x = Bits(row);
  const std::size_t cells = x.size() + 1;
  std::vector<int32_t> perm(cells, 0);
  ASSERT_TRUE(BuildMlsPermutation(std::span<const int32_t>(x.data(), x.size() - 1), Tob(row, x), perm, {}));
  std::mt19937 rng(16);
  std::uniform_real_distribution<float> d(-3e4f, 3e4f);
  std::vector<float> input(cells, 0);
  for (std::size_t i = 1; i < cells; ++i) input[i] = d(rng);

  std::vector<float> expected = input;
  std::vector<int32_t> p = perm;
  PermuteForward(expected, p);
  float* v = expected.data() + 1;
  for (std::size_t h = 1; h < cells - 1; h <<= 1)
    for (std::size_t b = 0; b < cells - 1; b += 2 * h)
      for (std::size_t k = b; k < b + h; ++k) {
        const float u = v[k], t = v[k + h];
        v[k] = u + t;
        v[k + h] = u - t;
      }
  PermuteBackward(expected, p);

  for (bool backwardScratch : {true, false}) {
    std::vector<float> w = input, scratch(cells);
    PermuteForward(w, p, scratch);
    EXPECT_EQ(p, perm);
    FastHadamardTransform(w);
    PermuteBackward(w, p, backwardScratch ? std::span<float>(scratch) : std::span<float>());
    EXPECT_EQ(p, perm);
    EXPECT_EQ(0, std::memcmp(w.data(), expected.data(), cells * sizeof(float))) << backwardScratch;
  }
}

// The whole transform against a circular cross-correlation with the +-1 sequence by
// FFTW: position j with (j - 2) = (1 - m) mod L holds c[m] - (sum of the period).
TEST(UnfoldKernels, TransformIsTheCircularCorrelationWithTheSequence) {
  const MlsEntry& row = Row("11");
  const std::vector<int32_t> x = Bits(row);
  const long L = 2047;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> d(-3000, 3000);
  std::vector<double> y(static_cast<std::size_t>(L)), s(static_cast<std::size_t>(L));
  double total = 0;
  for (long k = 0; k < L; ++k) {
    y[static_cast<std::size_t>(k)] = d(rng);
    total += y[static_cast<std::size_t>(k)];
    s[static_cast<std::size_t>(k)] = 1 - 2 * x[static_cast<std::size_t>(k + 1)];
  }
  const std::size_t bins = static_cast<std::size_t>(L / 2 + 1);
  std::vector<std::complex<double>> Y(bins), S(bins);
  std::vector<double> c(static_cast<std::size_t>(L));
  fftw_plan py = fftw_plan_dft_r2c_1d(static_cast<int>(L), y.data(), reinterpret_cast<fftw_complex*>(Y.data()), FFTW_ESTIMATE);
  fftw_plan ps = fftw_plan_dft_r2c_1d(static_cast<int>(L), s.data(), reinterpret_cast<fftw_complex*>(S.data()), FFTW_ESTIMATE);
  fftw_execute(py);
  fftw_execute(ps);
  for (std::size_t k = 0; k < bins; ++k) Y[k] *= std::conj(S[k]);
  fftw_plan pc = fftw_plan_dft_c2r_1d(static_cast<int>(L), reinterpret_cast<fftw_complex*>(Y.data()), c.data(), FFTW_ESTIMATE);
  fftw_execute(pc);
  fftw_destroy_plan(py);
  fftw_destroy_plan(ps);
  fftw_destroy_plan(pc);

  const std::vector<long> tob = Tob(row, x);
  std::vector<int32_t> perm(2049, 0);
  ASSERT_TRUE(BuildMlsPermutation(std::span<const int32_t>(x.data(), 2047), tob, perm, {}));
  std::vector<float> w(2049, 0);
  for (long k = 0; k < L; ++k) w[static_cast<std::size_t>(k + 2)] = static_cast<float>(y[static_cast<std::size_t>(k)]);
  PermuteForward(w, perm);
  FastHadamardTransform(w);
  PermuteBackward(w, perm);
  for (long m = 0; m < L; ++m) {
    const long j = ((1 - m) % L + L) % L + 2;
    ASSERT_NEAR(w[static_cast<std::size_t>(j)], c[static_cast<std::size_t>(m)] / static_cast<double>(L) - total, 1.0) << m;
  }
}

TEST(UnfoldKernels, PeakSearchTakesTheFirstOfEqualsAndMeasuresFromTheMean) {
  float m = 0;
  // Positions 2 .. 8.
  std::vector<float> w = {0, 0, 1, -5, 5, 2, -5, 0, 0};
  EXPECT_EQ(FindPeak(w, false, m).position, 3);
  EXPECT_EQ(m, 5.0f);
  std::vector<float> flat(9, 0);
  EXPECT_EQ(FindPeak(flat, false, m).position, 2);
  EXPECT_EQ(m, 5.0f);  // the shared magnitude only grows

  // Mean 1: the largest lies 6 above it, the smallest 6 below: the smallest wins ties.
  m = 0;
  std::vector<float> dc = {0, 0, 1, 7, 1, -5, 1, 1, 1};
  Peak p = FindPeak(dc, true, m);
  EXPECT_EQ(p.position, 5);
  EXPECT_DOUBLE_EQ(p.dc, 1.0);
  EXPECT_EQ(m, 6.0f);
  dc[3] = 8;  // mean 8 / 7: now the largest is farther
  p = FindPeak(dc, true, m);
  EXPECT_EQ(p.position, 3);
  EXPECT_FLOAT_EQ(m, static_cast<float>(8 - 8.0 / 7));
}

TEST(UnfoldKernels, StartFollowsTheSecondChannelWithinHalfACycleAfterTheFirst) {
  EXPECT_EQ(ChooseStartPosition(100, -1, 10), 100);
  EXPECT_EQ(ChooseStartPosition(100, 110, 10), 110);
  EXPECT_EQ(ChooseStartPosition(100, 90, 10), 100);
  EXPECT_EQ(ChooseStartPosition(100, 100, 10), 100);
  EXPECT_EQ(ChooseStartPosition(100, 100 + 511, 10), 611);
  EXPECT_EQ(ChooseStartPosition(100, 100 + 512, 10), 100);
  EXPECT_EQ(ChooseStartPosition(1020, 5, 10), 5);  // after it, across the wrap
  EXPECT_EQ(ChooseStartPosition(5, 1020, 10), 5);
  EXPECT_EQ(ChooseStartPosition(100, -1, 12), 1600);
  EXPECT_EQ(ChooseStartPosition(4000, -1, 12), (5500 % 4096) + 1);
}

TEST(UnfoldKernels, RotationRunsBackwardsFromTheStartAndRoundsHalfAway) {
  // N = 2: positions 2, 3, 4; start 3 gives 3, 2, 4.
  std::vector<float> w = {0, 0, 2.5f, -2.5f, 0.49f};
  std::vector<int16_t> out(6, 99);
  WriteRotatedResponse(w, 3, 0, 32767, out, 1, 2);
  EXPECT_EQ(out, (std::vector<int16_t>{99, -3, 99, 3, 99, 0}));
  // The DC offset comes off before scaling: 32767 / 4 per unit.
  std::vector<float> peak = {0, 0, 1, 5, 1};
  std::vector<int16_t> mono(3);
  WriteRotatedResponse(peak, 3, 1, 4, mono, 0, 1);
  EXPECT_EQ(mono, (std::vector<int16_t>{32767, 0, 0}));
}

TEST(UnfoldKernels, ResultNumberKeepsEightDigits) {
  EXPECT_EQ(FormatResultNumber(1234.5), "1234.5");
  EXPECT_EQ(FormatResultNumber(-1234.5), "-1234.5");
  EXPECT_EQ(FormatResultNumber(12345678), "12345678");
  EXPECT_EQ(FormatResultNumber(192000), "1.92E5");
  EXPECT_EQ(FormatResultNumber(200000), "2.E5");
  EXPECT_EQ(FormatResultNumber(123456789), "1.2345678E8");
  EXPECT_EQ(FormatResultNumber(0.5), "0.5");
  EXPECT_EQ(FormatResultNumber(0.00123), "0.123E-2");
  EXPECT_EQ(FormatResultNumber(1), "1");
  EXPECT_EQ(FormatResultNumber(2048000), "2.048E6");
  EXPECT_EQ(FormatResultNumber(3.14159265358), "3.1415927");
  EXPECT_EQ(FormatResultNumber(99999999.7), "1.E8");
}

}  // namespace
