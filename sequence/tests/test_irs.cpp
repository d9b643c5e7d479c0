#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sequence/irs.h"
#include "sequence/mls.h"

namespace {

std::vector<int32_t> Bits(const MlsEntry& row) {
  std::vector<int32_t> x(static_cast<std::size_t>(1) << row.order);
  EXPECT_TRUE(GenerateMlsBits(row, x.data(), 1, {}));
  return x;
}

std::vector<int16_t> Period(const MlsEntry& row) {
  std::vector<int16_t> s(static_cast<std::size_t>(IrsPeriod(row.order)));
  EXPECT_TRUE(GenerateIrsPeriod(row, kIrsLevel, s, {}));
  return s;
}

TEST(IrsPeriod, SmallOrdersGiveTheKnownSamples) {
  // Entry "2": bits 1, 1, 0, so m = -A, -A, +A; odd samples inverted, then s[3] = +A
  // and the second half negated.
  EXPECT_EQ(Period(MlsEntryTable[0]), (std::vector<int16_t>{-16384, 16384, 16384, 16384, -16384, -16384}));
  // Entry "3": bits 1, 1, 0, 1, 0, 0, 1.
  EXPECT_EQ(Period(MlsEntryTable[1]), (std::vector<int16_t>{-16384, 16384, 16384, 16384, 16384, -16384, -16384,
                                                            16384, -16384, -16384, -16384, -16384, 16384, 16384}));
  // Entry "5" starts with bit 0: s[L] = +A equals s[0] instead of being its negative.
  std::vector<int16_t> five = Period(MlsEntryTable[3]);
  ASSERT_EQ(five.size(), 62u);
  EXPECT_EQ(five[0], 16384);
  EXPECT_EQ(five[31], 16384);
  EXPECT_EQ(IrsPeriod(15), 65534);
}

// For every row the IRS generator offers: the rule against the row's bits, the
// inverted second half, and a reference that is the unit period reversed in time.
TEST(IrsPeriod, EveryOfferedRowFollowsTheRule) {
  for (int e = 0; e < kIrsEntryCount; ++e) {
    const MlsEntry& row = MlsEntryTable[e];
    const long L = MlsPeriod(row.order);
    const std::vector<int32_t> x = Bits(row);
    const std::vector<int16_t> s = Period(row);
    ASSERT_EQ(static_cast<long>(s.size()), 2 * L) << row.label;
    long mismatches = 0;
    for (long k = 0; k < L; ++k) {
      const int m = x[static_cast<std::size_t>(k + 1)] ? -16384 : 16384;
      mismatches += s[static_cast<std::size_t>(k)] != (k % 2 ? -m : m);
      if (k > 0) mismatches += s[static_cast<std::size_t>(L + k)] != -s[static_cast<std::size_t>(k)];
    }
    EXPECT_EQ(mismatches, 0) << row.label;
    EXPECT_EQ(s[static_cast<std::size_t>(L)], 16384) << row.label;

    std::vector<float> unit(static_cast<std::size_t>(2 * L));
    ASSERT_TRUE(GenerateIrsPeriod(row, 1.0f, unit, {}));
    std::vector<float> reference(unit.size());
    ASSERT_TRUE(GenerateIrsReference(row, reference, {}));
    std::vector<float> fromBits(unit.size(), 7.0f);
    ASSERT_TRUE(FormIrsReference(x, row.order, fromBits));
    std::reverse(unit.begin(), unit.end());
    EXPECT_EQ(reference, unit) << row.label;
    EXPECT_EQ(fromBits, unit) << row.label;
  }
}

// Correlating the period with the reference (the deconvolution of a pure delay of
// zero) gives +2L at lag 0, -2L at lag L (entry "6" starts with bit 1, so s[L] = -s[0]
// and the second half is the exact negative of the first), and at most 2 elsewhere.
TEST(IrsPeriod, CorrelatesToAPeakAndItsInvertedTwin) {
  const MlsEntry& row = MlsEntryTable[4];  // "6"
  const long P = IrsPeriod(row.order);
  const long L = P / 2;
  std::vector<float> s(static_cast<std::size_t>(P)), reference(s.size());
  ASSERT_TRUE(GenerateIrsPeriod(row, 1.0f, s, {}));
  ASSERT_TRUE(GenerateIrsReference(row, reference, {}));
  std::vector<double> r(static_cast<std::size_t>(P));
  for (long tau = 0; tau < P; ++tau)
    for (long u = 0; u < P; ++u)
      r[static_cast<std::size_t>(tau)] += s[static_cast<std::size_t>((u + tau) % P)] * reference[static_cast<std::size_t>(P - 1 - u)];
  EXPECT_EQ(r[0], static_cast<double>(P));
  EXPECT_EQ(r[static_cast<std::size_t>(L)], static_cast<double>(-P));
  for (long tau = 1; tau < P; ++tau) {
    if (tau == L) continue;
    EXPECT_LE(std::abs(r[static_cast<std::size_t>(tau)]), 2.0) << tau;
  }
}

TEST(IrsPeriod, RefusesShortSpansWithoutWriting) {
  const MlsEntry& row = MlsEntryTable[1];  // L = 7
  std::vector<int16_t> s(13, 5);
  EXPECT_FALSE(GenerateIrsPeriod(row, kIrsLevel, s, {}));
  EXPECT_EQ(s, std::vector<int16_t>(13, 5));
  std::vector<float> ref(13, 5.0f);
  EXPECT_FALSE(GenerateIrsReference(row, ref, {}));
  EXPECT_EQ(ref, std::vector<float>(13, 5.0f));
  std::vector<int32_t> bits(7);
  std::vector<float> out(14, 5.0f);
  EXPECT_FALSE(FormIrsReference(bits, row.order, out));
  EXPECT_EQ(out, std::vector<float>(14, 5.0f));
  // A longer span keeps what lies beyond the period.
  std::vector<int16_t> longer(16, 5);
  EXPECT_TRUE(GenerateIrsPeriod(row, kIrsLevel, longer, {}));
  EXPECT_EQ(longer[14], 5);
  EXPECT_EQ(longer[15], 5);
}

TEST(IrsPeriod, ReportsTheRecurrenceAndStopsWhenAsked) {
  const MlsEntry& row = MlsEntryTable[kDefaultMlsEntry];  // 2^15 positions: 4 blocks
  std::vector<int16_t> s(static_cast<std::size_t>(IrsPeriod(row.order)));
  std::vector<std::pair<long, long>> reports;
  EXPECT_TRUE(GenerateIrsPeriod(row, kIrsLevel, s, [&](long done, long total) {
    reports.emplace_back(done, total);
    return true;
  }));
  EXPECT_EQ(reports, (std::vector<std::pair<long, long>>{{8192, 32768}, {16384, 32768}, {24576, 32768}, {32768, 32768}}));
  long calls = 0;
  std::vector<float> ref(static_cast<std::size_t>(IrsPeriod(row.order)));
  EXPECT_FALSE(GenerateIrsReference(row, ref, [&](long, long) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

}  // namespace
