// Edit-field numbers, the selection length and the stored-setting message.
#include <gtest/gtest.h>

#include <cmath>

#include "frame/edits.h"
#include "frame/messages.h"
#include "frame/xfm.h"

namespace {

TEST(EditNumbers, LenientReadingTakesTheLeadingNumberOrZero) {
  EXPECT_EQ(LeadingLong(" -12abc"), -12);
  EXPECT_EQ(LeadingLong("abc"), 0);
  EXPECT_EQ(LeadingLong(""), 0);
  EXPECT_FLOAT_EQ(LeadingFloat("  -5.5 dB"), -5.5f);
  EXPECT_FLOAT_EQ(LeadingFloat("+3"), 3.0f);
  EXPECT_EQ(LeadingFloat("+-3"), 0.0f);
  EXPECT_EQ(LeadingFloat("nan"), 0.0f);
  EXPECT_EQ(LeadingFloat("x"), 0.0f);
  EXPECT_EQ(LeadingFloat("1e-60"), 0.0f);
  EXPECT_EQ(LeadingFloat("-1e60"), -HUGE_VALF);
}

TEST(EditNumbers, StrictReadingRefusesTrailingTextAndValuesOutsideTheRange) {
  EXPECT_EQ(ParseLongIn(" 42 ", 1, 100), 42);
  EXPECT_EQ(ParseLongIn("+7", 1, 100), 7);
  EXPECT_FALSE(ParseLongIn("42x", 1, 100));
  EXPECT_FALSE(ParseLongIn("", 1, 100));
  EXPECT_FALSE(ParseLongIn("0", 1, 100));
  EXPECT_FALSE(ParseLongIn("101", 1, 100));
  EXPECT_FALSE(ParseLongIn("99999999999999999999", 1, 100));
  EXPECT_DOUBLE_EQ(*ParseDoubleIn("-2.5e1", -100, 0), -25.0);
  EXPECT_FALSE(ParseDoubleIn("1,5", 0, 10));
  EXPECT_FALSE(ParseDoubleIn("inf", 0, HUGE_VAL));
  EXPECT_FALSE(ParseDoubleIn("0.5", 1, 10));
}

TEST(EditFields, WholeFieldsTakeDecimalIntegersAndTheRefusalNamesFieldAndRange) {
  EXPECT_EQ(ParseFieldIn(" 12 ", 1, 100, true), 12.0);
  for (const char* text : {"1e1", "2.5", "0x10", "", "abc", "101"}) EXPECT_FALSE(ParseFieldIn(text, 1, 100, true)) << text;
  EXPECT_EQ(ParseFieldIn("1e1", 1, 100, false), 10.0);
  EXPECT_EQ(ParseFieldIn("-0", -1, 1, false), 0.0);
  EXPECT_FALSE(ParseFieldIn("5", 6, 4, true));  // an empty range takes nothing
  const EditField gain = {1031, "Gain", -200, 200, false, "dB", "used without AutoRange"};
  EXPECT_EQ(FieldRefusal(gain, -3, 2.5), "Gain must be a number from -3 to 2.5 dB.");
  EXPECT_EQ(DescribeField(gain), "a number from -200 to 200 dB; used without AutoRange");
}

TEST(SharedTexts, SelectionLengthIsSignedAndTheStoredSettingMessageNamesTheSetting) {
  XfmContext context{};
  context.selStart = 10;
  context.selEnd = 19;
  EXPECT_EQ(SelectedFrames(&context), 10);
  context.selEnd = 5;
  EXPECT_EQ(SelectedFrames(&context), -4);
  EXPECT_EQ(InvalidStoredSettingMessage("MLS order"),
            "The stored MLS order is not valid.\nChoose the MLS order again in the settings dialog.");
}

}  // namespace
