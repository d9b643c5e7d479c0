#include "timfile/tim_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::vector<uint8_t> Header(uint16_t mode, float interval, int32_t length) {
  std::vector<uint8_t> h(kTimHeaderBytes);
  const uint32_t magic = kTimMagic;
  std::memcpy(h.data(), &magic, 4);
  std::memcpy(h.data() + 4, &mode, 2);
  std::memcpy(h.data() + 6, &interval, 4);
  std::memcpy(h.data() + 10, &length, 4);
  return h;
}

uint64_t FileBytes(int32_t points) { return kTimHeaderBytes + 4ull * points + kTimTrailerBytes; }

template <typename T>
T At(const std::vector<uint8_t>& block, std::size_t offset) {
  T v;
  std::memcpy(&v, block.data() + offset, sizeof v);
  return v;
}

std::string TextAt(const std::vector<uint8_t>& block, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(block.data() + offset));
}

TEST(TimHeader, AcceptsAWellFormedHeaderAndDerivesTheRate) {
  TimHeader h;
  ASSERT_EQ(TimParseHeader(Header(1, 0.0208333f, 4096), FileBytes(4096), h), TimStatus::Ok);
  EXPECT_EQ(h.mode, 1);
  EXPECT_EQ(h.length, 4096);
  EXPECT_EQ(h.rate, 48000);
  ASSERT_EQ(TimParseHeader(Header(0, 1000.0f / 44100.0f, 10), FileBytes(10), h), TimStatus::Ok);
  EXPECT_EQ(h.rate, 44100);
  // The trailing blocks may be missing: only the points must be there.
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, 10), kTimHeaderBytes + 40, h), TimStatus::Ok);
}

TEST(TimHeader, RefusesWhatIsNotATimFile) {
  TimHeader h;
  auto bytes = Header(0, 0.02f, 10);
  EXPECT_EQ(TimParseHeader(std::span(bytes).first(13), FileBytes(10), h), TimStatus::NotTim);
  bytes[3] = 0xFE;
  EXPECT_EQ(TimParseHeader(bytes, FileBytes(10), h), TimStatus::NotTim);
  EXPECT_FALSE(TimHasMagic(bytes));
  EXPECT_FALSE(TimHasMagic(std::span(bytes).first(3)));
  const uint8_t magic[] = {0xCD, 0xAB, 0xFF, 0xFF};
  EXPECT_TRUE(TimHasMagic(magic));
}

TEST(TimHeader, RefusesRecordLengthsTheFileCannotHold) {
  TimHeader h;
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, 0), FileBytes(0), h), TimStatus::BadLength);
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, -1), FileBytes(10), h), TimStatus::BadLength);
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, std::numeric_limits<int32_t>::min()), FileBytes(10), h),
            TimStatus::BadLength);
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, kTimMaxReadPoints + 1), ~0ull, h), TimStatus::BadLength);
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, 10), kTimHeaderBytes + 39, h), TimStatus::Truncated);
  EXPECT_EQ(TimParseHeader(Header(0, 0.02f, kTimMaxReadPoints), 1000, h), TimStatus::Truncated);
}

TEST(TimHeader, RefusesIntervalsWithoutAUsableRate) {
  TimHeader h;
  for (float interval : {0.0f, -0.0f, -0.02f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                         2001.0f /* below 1 Hz */, 1e-30f /* beyond a 32-bit rate */,
                         std::numeric_limits<float>::denorm_min()}) {
    EXPECT_EQ(TimParseHeader(Header(0, interval, 10), FileBytes(10), h), TimStatus::BadInterval) << interval;
    EXPECT_FALSE(std::string(TimStatusMessage(TimStatus::BadInterval)).empty());
  }
  EXPECT_EQ(TimRateFromInterval(1999.0f), 1);
  EXPECT_EQ(TimRateFromInterval(0.0208333f), 48000);
}

TEST(TimRecord, LengthIsRoundedUpToAPowerOfTwoThen65535) {
  EXPECT_EQ(TimRecordLength(0), 2048);
  EXPECT_EQ(TimRecordLength(1000), 2048);
  EXPECT_EQ(TimRecordLength(2048), 2048);
  EXPECT_EQ(TimRecordLength(2049), 4096);
  EXPECT_EQ(TimRecordLength(16385), 32768);
  EXPECT_EQ(TimRecordLength(32768), 32768);
  EXPECT_EQ(TimRecordLength(32769), 65535);
  EXPECT_EQ(TimRecordLength(40000), 65535);
  EXPECT_EQ(TimRecordLength(70000), 65535);
}

TEST(TimSamples, ScaleToFullRangeRoundingHalfAwayFromZero) {
  const std::vector<float> points = {0.5f, -0.5f, 0.25f, 1.0f / 65534.0f, -1.0f / 65534.0f, 0.0f};
  float peak = 0.0f;
  ASSERT_TRUE(TimFindPeak(points, peak));
  EXPECT_EQ(peak, 0.5f);
  std::vector<int16_t> s(points.size());
  TimPointsToSamples(points, peak, s);
  // 1/65534 / 0.5 * 32767 = 1.0; 0.25 / 0.5 * 32767 = 16383.5 -> 16384.
  EXPECT_EQ(s, (std::vector<int16_t>{32767, -32767, 16384, 1, -1, 0}));
}

TEST(TimSamples, SilentRecordGivesSilenceAndBadPointsAreCaught) {
  const std::vector<float> zeros(8, 0.0f);
  float peak = 0.0f;
  ASSERT_TRUE(TimFindPeak(zeros, peak));
  std::vector<int16_t> s(8, 7);
  TimPointsToSamples(zeros, peak, s);
  EXPECT_EQ(s, std::vector<int16_t>(8, 0));

  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    float p = 0.25f;
    EXPECT_FALSE(TimFindPeak(std::vector<float>{0.5f, bad}, p));
    EXPECT_EQ(p, 0.25f);
  }
  // Points beyond the peak (a file changed between scan and read) are held to full range.
  std::vector<int16_t> held(3);
  TimPointsToSamples(std::vector<float>{2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()}, 1.0f, held);
  EXPECT_EQ(held, (std::vector<int16_t>{32767, -32767, 0}));
}

TEST(TimHex, UppercaseHighNibbleFirstAndOnlyUppercaseBack) {
  const uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
  char text[9];
  TimEncodeHex(bytes, text);
  EXPECT_STREQ(text, "009FA0FF");
  uint8_t back[4] = {};
  ASSERT_TRUE(TimDecodeHex(std::span<const char>(text, 9), back));
  EXPECT_EQ(std::memcmp(back, bytes, 4), 0);
  EXPECT_FALSE(TimDecodeHex(std::span<const char>("009fa0ff", 9), back));
  EXPECT_FALSE(TimDecodeHex(std::span<const char>("009FA0G0", 9), back));
  EXPECT_FALSE(TimDecodeHex(std::span<const char>("009FA0", 7), back));
}

TEST(TimItems, TrailerTextsStayInsideTheirFields) {
  std::vector<uint8_t> trailer(kTimTrailerBytes, 'x');  // no terminator anywhere
  TimTexts texts;
  TimTextsFromTrailer(trailer, texts);
  EXPECT_EQ(std::string(texts.title), std::string(79, 'x'));
  EXPECT_EQ(std::string(texts.comment), std::string(59, 'x'));
  EXPECT_EQ(std::string(texts.settings1).substr(0, 4), "7878");
  EXPECT_EQ(std::strlen(texts.settings1), 500u);
  EXPECT_EQ(std::strlen(texts.settings3), 400u);
}

TEST(TimItems, TakesBackOnlyWellFormedItems) {
  std::vector<uint8_t> trailer(kTimTrailerBytes);
  for (std::size_t i = 0; i < trailer.size(); ++i) trailer[i] = static_cast<uint8_t>(i * 7 + 3);
  TimTexts texts;
  TimTextsFromTrailer(trailer, texts);
  {
    TimReturned r;
    TimWriteItem(r, kTimItemScale, std::span<const char>("0000C03F", 9));
    EXPECT_TRUE(r.scaleGiven);
    EXPECT_EQ(r.scale, 1.5f);
    EXPECT_TRUE(r.specialsUsable);
    TimWriteItem(r, kTimItemSettings1, std::span<const char>(texts.settings1, 501));
    TimWriteItem(r, kTimItemSettings2, std::span<const char>(texts.settings2, 501));
    TimWriteItem(r, kTimItemSettings3, std::span<const char>(texts.settings3, 401));
    EXPECT_TRUE(r.specialsUsable);
    EXPECT_STREQ(r.texts.settings3, texts.settings3);
  }
  const auto clears = [&](int type, std::span<const char> text) {
    TimReturned r;
    TimWriteItem(r, type, text);
    return !r.specialsUsable;
  };
  EXPECT_TRUE(clears(kTimItemScale, std::span<const char>("0000C03F", 8)));
  EXPECT_TRUE(clears(kTimItemScale, std::span<const char>("0000c03f", 9)));
  EXPECT_TRUE(clears(kTimItemScale, std::span<const char>("0000C07F", 9)));  // infinite
  EXPECT_TRUE(clears(kTimItemScale, std::span<const char>("000080BF", 9)));  // negative
  EXPECT_TRUE(clears(kTimItemSettings1, std::span<const char>(texts.settings1, 500)));
  EXPECT_TRUE(clears(kTimItemSettings3, std::span<const char>(texts.settings1, 501)));
  std::string lower(texts.settings2);
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  EXPECT_TRUE(clears(kTimItemSettings2, std::span<const char>(lower.c_str(), 501)));

  // Title and comment: cut to 79 and 59 characters, never read past the given size.
  TimReturned r;
  const std::string longTitle(100, 'T');
  TimWriteItem(r, kTimItemTitle, std::span(longTitle.data(), longTitle.size()));
  EXPECT_EQ(std::string(r.texts.title), std::string(79, 'T'));
  TimWriteItem(r, kTimItemComment, std::span<const char>("abc", 2));
  EXPECT_STREQ(r.texts.comment, "ab");
  EXPECT_TRUE(r.specialsUsable);
}

TEST(TimSettings, DefaultBlockHoldsTheStatedFields) {
  std::vector<uint8_t> s(kTimSettingsBytes, 0xEE);
  TimDefaultSettings(s, 44100, 2048, kTimCrossCorrelation, TimDateTime{2024, 3, 9, 7, 5, 1});
  EXPECT_EQ(At<uint32_t>(s, 0), 4096u);
  EXPECT_EQ(At<float>(s, 6), static_cast<float>(44.1));
  EXPECT_EQ(At<float>(s, 10), static_cast<float>(44.1f * 0.45454544));
  EXPECT_EQ(At<uint32_t>(s, 28), 2048u);
  EXPECT_EQ(At<uint16_t>(s, 32), 11);
  EXPECT_EQ(At<uint32_t>(s, 40), 2048u);
  EXPECT_EQ(At<uint16_t>(s, 44), 1);
  EXPECT_EQ(TextAt(s, 156), "Ohm");
  EXPECT_EQ(TextAt(s, 412), "03/09/24 07:05:01");
  EXPECT_EQ(TextAt(s, 440), "Vorn Edit conversion");
  EXPECT_EQ(TextAt(s, 593), "01/01/1991");
  EXPECT_EQ(At<float>(s, 612), 0.0001f);
  for (std::size_t at : {2u, 48u, 170u, 699u}) EXPECT_EQ(s[at], 0) << at;  // bytes not named are zero

  TimDefaultSettings(s, 8000, 65535, 0, TimDateTime{1999, 12, 31, 23, 59, 59});
  EXPECT_EQ(At<uint16_t>(s, 32), 16);
  EXPECT_EQ(TextAt(s, 412), "12/31/99 23:59:59");
}

}  // namespace
