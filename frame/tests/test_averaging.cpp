// Period sums read through the host's callback.
#include "frame/averaging.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "frame/xfm.h"

namespace {

std::vector<int16_t> document;  // interleaved stereo frames
std::vector<LONG> offsets;

LONG WINAPI ReadDocument(void* buffer, LONG byteOffset, LONG byteCount) {
  offsets.push_back(byteOffset);
  std::memcpy(buffer, reinterpret_cast<const char*>(document.data()) + byteOffset, static_cast<std::size_t>(byteCount));
  return byteCount;
}

TEST(Averaging, SumsWholePeriodsPerChannelFromTheFirstFrameAndStopsWhenAsked) {
  // Frame f holds (f, -2f); periods of 3 frames from frame 1.
  document.clear();
  for (int16_t f = 0; f < 12; ++f) document.insert(document.end(), {f, static_cast<int16_t>(-2 * f)});
  XfmContext context{};
  context.readSamples = ReadDocument;
  int16_t buffer[6];
  int32_t left[3] = {}, right[4] = {100, 0, 0, 0};
  int32_t* sums[2] = {left, right + 1};
  offsets.clear();
  ASSERT_TRUE(SumPeriods(&context, 1, 3, 3, 2, buffer, sums));
  EXPECT_EQ(offsets, (std::vector<LONG>{4, 16, 28}));
  EXPECT_EQ(std::vector<int32_t>(left, left + 3), (std::vector<int32_t>{1 + 4 + 7, 2 + 5 + 8, 3 + 6 + 9}));
  EXPECT_EQ(std::vector<int32_t>(right, right + 4), (std::vector<int32_t>{100, -24, -30, -36}));

  long reports = 0;
  EXPECT_FALSE(SumPeriods(&context, 0, 3, 3, 2, buffer, sums, [&](long done, long total) {
    EXPECT_EQ(total, 3);
    reports = done;
    return done < 2;
  }));
  EXPECT_EQ(reports, 2);

  SumsToFloats(left, 1, 2);
  float f;
  std::memcpy(&f, &left[2], sizeof f);
  EXPECT_EQ(f, 18.0f + 2 + 5);  // the stopped run had added frames 2 and 5
}

}  // namespace
