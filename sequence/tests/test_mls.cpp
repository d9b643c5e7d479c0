#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sequence/mls.h"

namespace {

std::vector<int> Bits(const MlsEntry& row) {
  std::vector<int> x(static_cast<std::size_t>(1) << row.order);
  EXPECT_TRUE(GenerateMlsBits(row, x.data(), 1, {}));
  return x;
}

// Circular autocorrelation of one period as +1/-1, through a double-precision FFT.
std::vector<double> Autocorrelation(const std::vector<int>& x, long period) {
  const int n = static_cast<int>(period);
  std::vector<double> in(n), back(n);
  for (int k = 0; k < n; ++k) in[k] = x[k + 1] ? -1.0 : 1.0;
  std::vector<fftw_complex> spectrum(n / 2 + 1);
  fftw_plan forward = fftw_plan_dft_r2c_1d(n, in.data(), spectrum.data(), FFTW_ESTIMATE);
  fftw_plan inverse = fftw_plan_dft_c2r_1d(n, spectrum.data(), back.data(), FFTW_ESTIMATE);
  fftw_execute(forward);
  for (auto& c : spectrum) {
    c[0] = c[0] * c[0] + c[1] * c[1];
    c[1] = 0;
  }
  fftw_execute(inverse);
  fftw_destroy_plan(forward);
  fftw_destroy_plan(inverse);
  for (auto& v : back) v /= n;
  return back;
}

TEST(MlsTable, TapsAscendEndAtTheOrderAndDefaultIsFifteenB) {
  for (const MlsEntry& row : MlsEntryTable) {
    ASSERT_GE(row.tapCount, 2);
    ASSERT_LE(row.tapCount, 10);
    EXPECT_EQ(row.taps[row.tapCount - 1], row.order) << row.label;
    for (int k = 1; k < row.tapCount; ++k) EXPECT_LT(row.taps[k - 1], row.taps[k]) << row.label;
  }
  EXPECT_STREQ(MlsEntryTable[kDefaultMlsEntry].label, "15 B");
  EXPECT_EQ(MlsEntryTable[kIrsEntryCount - 1].order, 19);
  EXPECT_EQ(FindMlsEntry(31), nullptr);
  EXPECT_EQ(FindMlsEntry(-1), nullptr);
}

// Every row gives a true maximum-length sequence: balanced, seeded, two-valued autocorrelation.
TEST(MlsBits, EveryRowIsAMaximumLengthSequence) {
  for (const MlsEntry& row : MlsEntryTable) {
    const long period = MlsPeriod(row.order);
    std::vector<int> x = Bits(row);
    long ones = 0;
    for (long k = 1; k <= period; ++k) ones += x[k];
    EXPECT_EQ(ones, 1L << (row.order - 1)) << row.label;
    EXPECT_EQ(x[0], x[period]) << row.label;
    std::vector<double> r = Autocorrelation(x, period);
    EXPECT_NEAR(r[0], static_cast<double>(period), 1e-6 * period) << row.label;
    double worst = 0;
    for (long k = 1; k < period; ++k) worst = std::max(worst, std::fabs(r[k] + 1.0));
    EXPECT_LT(worst, 1e-6 * period) << row.label;
  }
}

TEST(MlsBits, SmallOrdersGiveTheKnownPeriods) {
  std::vector<int> two = Bits(MlsEntryTable[0]);
  EXPECT_EQ(std::vector<int>(two.begin() + 1, two.end()), (std::vector<int>{1, 1, 0}));
  std::vector<int> three = Bits(MlsEntryTable[1]);
  EXPECT_EQ(three, (std::vector<int>{1, 1, 1, 0, 1, 0, 0, 1}));
  std::vector<int> four = Bits(MlsEntryTable[2]);
  EXPECT_EQ(std::vector<int>(four.begin() + 1, four.end()),
            (std::vector<int>{1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0}));
  std::vector<int> fifteen = Bits(MlsEntryTable[kDefaultMlsEntry]);
  EXPECT_EQ(std::vector<int>(fifteen.begin() + 1, fifteen.begin() + 17),
            (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0}));
}

TEST(MlsBits, StrideLeavesTheOtherSlotsAlone) {
  std::vector<short> x(2 * 8 + 1, 7);
  ASSERT_TRUE(GenerateMlsBits(MlsEntryTable[1], x.data(), 2, {}));
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(x[2 * k], (std::vector<short>{1, 1, 1, 0, 1, 0, 0, 1})[k]);
    EXPECT_EQ(x[2 * k + 1], 7);
  }
}

TEST(MlsBits, ReportsEveryBlockAndStopsWhenAsked) {
  const MlsEntry& row = MlsEntryTable[kDefaultMlsEntry];  // 32768 positions: four blocks
  std::vector<int> x(1 << 15);
  std::vector<std::pair<long, long>> reports;
  ASSERT_TRUE(GenerateMlsBits(row, x.data(), 1, [&](long done, long total) {
    reports.emplace_back(done, total);
    return true;
  }));
  EXPECT_EQ(reports, (std::vector<std::pair<long, long>>{{8192, 32768}, {16384, 32768}, {24576, 32768}, {32768, 32768}}));

  int calls = 0;
  EXPECT_FALSE(GenerateMlsBits(row, x.data(), 1, [&](long, long) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  // A short order is one block, reported once.
  calls = 0;
  std::vector<int> small(8);
  EXPECT_TRUE(GenerateMlsBits(MlsEntryTable[1], small.data(), 1, [&](long done, long total) {
    EXPECT_EQ(done, 8);
    EXPECT_EQ(total, 8);
    return ++calls > 0;
  }));
  EXPECT_EQ(calls, 1);
}

}  // namespace
