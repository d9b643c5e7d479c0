// The design kernels against direct computations in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "filterdesign/design.h"
#include "filterdesign/tests/reference.h"
#include "filterdesign/toeplitz.h"

namespace {

using Complex = std::complex<double>;
using namespace filterdesign_testing;

// The float32 normal equations of the design, solved by ToeplitzSolve.
std::vector<double> SolveNormalEquations(const std::vector<double>& h, long L, long delay, bool vectorised,
                                         ToeplitzResult& result, const ProgressFn& progress = {}) {
  const long n = static_cast<long>(h.size());
  std::vector<float> hf(h.begin(), h.end()), r(static_cast<std::size_t>(L), 0.0f), y(static_cast<std::size_t>(L));
  for (long m = 0; m < L && m < n; ++m) {
    double s = 0;
    for (long j = 0; j + m < n; ++j) s += h[static_cast<std::size_t>(j)] * h[static_cast<std::size_t>(j + m)];
    r[static_cast<std::size_t>(m)] = static_cast<float>(s);
  }
  DelayedImpulseCorrelation(hf, delay, y);
  std::vector<float> x(static_cast<std::size_t>(L)), g(static_cast<std::size_t>(L));
  result = ToeplitzSolve(r, y, x, g, progress, vectorised);
  return std::vector<double>(x.begin(), x.end());
}

TEST(Toeplitz, InverseFilterIsAsGoodAsADoublePrecisionSolve) {
  const std::vector<double> h = Response(24, 0.8, 7);
  const long n = 24;
  for (long L : {1L, 2L, 47L, 60L}) {
    for (long delay : {0L, n - 1, n + L - 1}) {
      const double best = ErrorEnergy(h, LeastSquaresInverse(h, L, delay), delay);
      for (bool vectorised : {false, true}) {
        ToeplitzResult result;
        const std::vector<double> x = SolveNormalEquations(h, L, delay, vectorised, result);
        ASSERT_EQ(result, ToeplitzResult::Solved);
        EXPECT_LE(ErrorEnergy(h, x, delay), best * 1.001 + 1e-6) << "L " << L << " D " << delay;
      }
    }
  }
  // L = 1, D = 0: x = h[0] / r[0].
  ToeplitzResult result;
  EXPECT_FLOAT_EQ(SolveNormalEquations({-2.0, 1.0}, 1, 0, true, result)[0], -2.0f / 5.0f);
  // r = (1, 1): the second principal minor is zero.
  std::vector<float> r = {1, 1}, y = {1, 0}, x(2), g(2);
  EXPECT_EQ(ToeplitzSolve(r, y, x, g, {}), ToeplitzResult::Singular);
}

TEST(Toeplitz, VectorAndScalarPathsAgreeAndReportQuadratically) {
  const std::vector<double> h = Response(300, 0.97, 3);
  std::vector<std::pair<long, long>> reports;
  auto record = [&](long done, long total) {
    reports.push_back({done, total});
    return true;
  };
  ToeplitzResult a, b;
  const std::vector<double> x = SolveNormalEquations(h, 433, 299, false, a, record);
  const std::size_t scalarReports = reports.size();
  const std::vector<double> v = SolveNormalEquations(h, 433, 299, true, b, record);
  ASSERT_EQ(a, ToeplitzResult::Solved);
  ASSERT_EQ(b, ToeplitzResult::Solved);
  double peak = 0, diff = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    peak = std::max(peak, std::fabs(x[i]));
    diff = std::max(diff, std::fabs(x[i] - v[i]));
  }
  EXPECT_LT(diff, peak * 1e-3);
  ASSERT_EQ(scalarReports, 4u);
  EXPECT_EQ(reports[0], (std::pair<long, long>{10000, 433 * 433}));
  EXPECT_EQ(reports[3], (std::pair<long, long>{160000, 433 * 433}));

  const QuadraticProgress q = QuadraticSteps(65500, 65535);
  EXPECT_GT(q.total, 1L << 30);
  EXPECT_LE(q.total, 0x7FFFFFFFL);
  EXPECT_NEAR(static_cast<double>(q.done) / q.total, (65500.0 * 65500) / (65535.0 * 65535), 1e-6);
}

TEST(FlatteningKernels, BandEdgesProfileReductionAndRotation) {
  const BandEdges e = ComputeBandEdges(48000, 512, 100, 10000, 1.0f);
  EXPECT_EQ(e.k1, 0);
  EXPECT_EQ(e.k2, 1);
  EXPECT_EQ(e.k3, 75);
  EXPECT_EQ(e.k4, 150);
  const Regularisation reg{0.001f, 1.0f, e};
  EXPECT_DOUBLE_EQ(RegularisationAt(reg, 256, 1), 0.001f);
  EXPECT_DOUBLE_EQ(RegularisationAt(reg, 256, 74), 0.001f);
  EXPECT_NEAR(RegularisationAt(reg, 256, 75), 0.001, 1e-9);
  EXPECT_NEAR(std::log10(RegularisationAt(reg, 256, 112)), -3 + 3 * 37.0 / 75, 1e-6);
  EXPECT_DOUBLE_EQ(RegularisationAt(reg, 256, 150), 1.0);
  EXPECT_DOUBLE_EQ(RegularisationAt(reg, 256, 255), 1.0);
  // Width 0: an abrupt switch.
  const Regularisation sharp{0.5f, 2.0f, ComputeBandEdges(1000, 100, 100, 300, 0.0f)};
  EXPECT_DOUBLE_EQ(RegularisationAt(sharp, 50, 9), 2.0);
  EXPECT_DOUBLE_EQ(RegularisationAt(sharp, 50, 10), 0.5);
  EXPECT_DOUBLE_EQ(RegularisationAt(sharp, 50, 30), 2.0);

  // 8 bins to 2: r = 4, d = 2.
  std::vector<float> s(16);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<float>(i + 1);
  ReduceSpectrum(s, 8, 2);
  EXPECT_EQ(s[0], 1);
  EXPECT_EQ(s[1], 2);
  EXPECT_EQ(s[2], 0.5f * 5 + 7 + 9 + 11 + 0.5f * 13);
  EXPECT_EQ(s[3], 0.5f * 6 + 8 + 10 + 12 + 0.5f * 14);

  std::vector<float> v = {1, 2, 3, 4};
  RotateHalf(v, 2);
  EXPECT_EQ(v, (std::vector<float>{3, 4, 1, 2}));
  std::vector<float> p = {3, -2, 1, 2, 0, 0};
  PowerSpectrum(p);
  EXPECT_EQ(p, (std::vector<float>{9, 4, 5, 0, 0, 0}));
}

TEST(FlatteningKernels, DipoleFiltersInvertTheTwoByTwoResponseInBand) {
  const long L = 128, N = L / 2, n = 30;
  const std::vector<double> h[4] = {Response(n, 0.8, 1), Response(n, 0.6, 2), Response(n, 0.6, 3), Response(n, 0.8, 4)};
  std::vector<float> w[4], det(static_cast<std::size_t>(L));
  for (int i = 0; i < 4; ++i) {
    w[i].assign(static_cast<std::size_t>(L), 0.0f);
    for (long j = 0; j < n; ++j) w[i][static_cast<std::size_t>(j)] = static_cast<float>(h[i][static_cast<std::size_t>(j)] * (i == 1 || i == 2 ? 0.5 : 1));
  }
  std::vector<double> resp[4];
  for (int i = 0; i < 4; ++i) resp[i].assign(w[i].begin(), w[i].begin() + n);
  const Regularisation reg{1e-5f, 1.0f, ComputeBandEdges(48000, L, 1000, 15000, 1.0f)};
  ASSERT_TRUE(DesignDipole(w[0], w[1], w[2], w[3], det, 32, L, reg, {}));
  std::vector<double> f[4];
  for (int i = 0; i < 4; ++i) f[i].assign(w[i].begin(), w[i].end());
  // M = [[h11, h21], [h12, h22]] times [[f11, f21], [f12, f22]].
  auto entry = [&](int row, int col, long k) {
    const int m0 = row == 0 ? 0 : 1, m1 = row == 0 ? 2 : 3, f0 = col == 0 ? 0 : 2, f1 = col == 0 ? 1 : 3;
    return (Dtft(Convolve(resp[m0], f[f0]), k, L) + Dtft(Convolve(resp[m1], f[f1]), k, L)) / double(L / 2);
  };
  for (long k = 1; k < N; ++k) {
    if (RegularisationAt(reg, N, k) != reg.inBand) continue;
    EXPECT_NEAR(std::abs(entry(0, 0, k)), 1.0, 0.02) << k;
    EXPECT_NEAR(std::abs(entry(1, 1, k)), 1.0, 0.02) << k;
    EXPECT_NEAR(std::abs(entry(0, 1, k)), 0.0, 1e-3) << k;
    EXPECT_NEAR(std::abs(entry(1, 0, k)), 0.0, 1e-3) << k;
  }
}

TEST(FilterDelivery, PeakRefusesNonFiniteValuesAndScalingRoundsHalfAway) {
  EXPECT_EQ(FilterPeak(std::vector<float>{0.5f, -2.0f}), 2.0f);
  EXPECT_LT(FilterPeak(std::vector<float>{0.5f, NAN}), 0.0f);
  EXPECT_LT(FilterPeak(std::vector<float>{INFINITY}), 0.0f);
  EXPECT_EQ(ScaleFilterSample(-2.0f, 32767.0f / 2.0f), -32767);
  EXPECT_EQ(ScaleFilterSample(0.5f, 3.0f), 2);
  EXPECT_EQ(ScaleFilterSample(-0.5f, 3.0f), -2);
}

}  // namespace
