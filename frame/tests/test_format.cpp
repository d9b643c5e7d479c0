#include "frame/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <limits>
#include <locale>

namespace {

TEST(FormatGeneral, Examples) {
  EXPECT_EQ(FormatGeneral(12346, 4), "1.235e+004");
  EXPECT_EQ(FormatGeneral(1.23456, 4), "1.235");
  EXPECT_EQ(FormatGeneral(0.5, 4), "0.5");
  EXPECT_EQ(FormatGeneral(10, 4), "10.");
  EXPECT_EQ(FormatGeneral(0, 4), "0.");
  EXPECT_EQ(FormatGeneral(0), "0.");
  EXPECT_EQ(FormatGeneral(44100), "44100.");
  EXPECT_EQ(FormatGeneral(3.14159265358979), "3.141593");
}

TEST(FormatGeneral, BoundariesBetweenTheForms) {
  // e = -1 is the smallest exponent in fixed form: N digits after the point.
  EXPECT_EQ(FormatGeneral(0.123456789, 4), "0.1235");
  EXPECT_EQ(FormatGeneral(0.1, 7), "0.1");
  // e = -2 is exponent form.
  EXPECT_EQ(FormatGeneral(0.0123456, 4), "1.235e-002");
  EXPECT_EQ(FormatGeneral(0.05, 4), "5.e-002");
  EXPECT_EQ(FormatGeneral(0.099, 7), "9.9e-002");
  // e = N - 1 is the largest in fixed form, with no digits (and no point) after it.
  EXPECT_EQ(FormatGeneral(1234.4, 4), "1234");
  EXPECT_EQ(FormatGeneral(1000, 4), "1000");
  EXPECT_EQ(FormatGeneral(999.5, 4), "999.5");
  // e = N is exponent form.
  EXPECT_EQ(FormatGeneral(12344, 4), "1.234e+004");
  EXPECT_EQ(FormatGeneral(10000, 4), "1.e+004");
  EXPECT_EQ(FormatGeneral(1e7, 7), "1.e+007");
  EXPECT_EQ(FormatGeneral(9999999, 7), "9999999");
}

TEST(FormatGeneral, RoundingCarriesKeepTheExponentTakenBefore) {
  // Fixed form keeps the number of decimals of the unrounded value.
  EXPECT_EQ(FormatGeneral(9.9996, 4), "10.");
  EXPECT_EQ(FormatGeneral(0.99996, 4), "1.");
  EXPECT_EQ(FormatGeneral(999.96, 4), "1000.");
  EXPECT_EQ(FormatGeneral(9999.6, 4), "10000");
  EXPECT_EQ(FormatGeneral(0.0999996, 4), "1.e-001");  // e = -2: exponent form
  // Exponent form renormalises the mantissa to one digit before the point.
  EXPECT_EQ(FormatGeneral(9.9996e5, 4), "1.e+006");
  EXPECT_EQ(FormatGeneral(9.99996e-3, 4), "1.e-002");
  EXPECT_EQ(FormatGeneral(9.9994e5, 4), "9.999e+005");
}

TEST(FormatGeneral, NegativesAndExtremes) {
  EXPECT_EQ(FormatGeneral(-12346, 4), "-1.235e+004");
  EXPECT_EQ(FormatGeneral(-0.5, 4), "-0.5");
  EXPECT_EQ(FormatGeneral(-9.9996, 4), "-10.");
  EXPECT_EQ(FormatGeneral(-0.0, 4), "0.");
  EXPECT_EQ(FormatGeneral(1e300, 4), "1.e+300");
  EXPECT_EQ(FormatGeneral(-1.5e-300, 4), "-1.5e-300");
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::denorm_min(), 3), "4.94e-324");
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::max(), 17), "1.7976931348623157e+308");
  EXPECT_EQ(FormatGeneral(std::nan(""), 7), "nan");
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::infinity(), 7), "inf");
  EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity(), 7), "-inf");
}

TEST(FormatGeneral, DigitCountIsClamped) {
  EXPECT_EQ(FormatGeneral(0, 1), "0");
  EXPECT_EQ(FormatGeneral(7.6, 1), "8");
  EXPECT_EQ(FormatGeneral(0.76, 1), "0.8");
  EXPECT_EQ(FormatGeneral(76, 1), "8e+001");
  EXPECT_EQ(FormatGeneral(7.6, 0), "8");
  EXPECT_EQ(FormatGeneral(7.6, -5), "8");
  EXPECT_EQ(FormatGeneral(0.1, 40), FormatGeneral(0.1, 17));
  EXPECT_EQ(FormatGeneral(0.1, 17), "0.10000000000000001");
}

// A decimal comma for every stream and facet of the C++ global locale.
struct CommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

TEST(FormatGeneral, IgnoresTheProcessLocale) {
  const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // where installed: a decimal comma for printf too
  EXPECT_EQ(FormatGeneral(1.23456, 4), "1.235");
  EXPECT_EQ(FormatGeneral(12346, 4), "1.235e+004");
  std::setlocale(LC_NUMERIC, "C");
  std::locale::global(previous);
}

TEST(FormatElapsed, SecondsAndMilliseconds) {
  EXPECT_EQ(FormatElapsed(0), "Elapsed time: 0.000 s");
  EXPECT_EQ(FormatElapsed(5), "Elapsed time: 0.005 s");
  EXPECT_EQ(FormatElapsed(1234), "Elapsed time: 1.234 s");
  EXPECT_EQ(FormatElapsed(60000), "Elapsed time: 60.000 s");
  EXPECT_EQ(FormatElapsed(-1500), "Elapsed time: -1.500 s");
  EXPECT_EQ(FormatElapsed(-5), "Elapsed time: -0.005 s");
  EXPECT_EQ(FormatElapsed(2147483647L), "Elapsed time: 2147483.647 s");
  const std::string most = std::to_string(static_cast<unsigned long>(LONG_MAX));
  EXPECT_EQ(FormatElapsed(LONG_MAX), "Elapsed time: " + most.substr(0, most.size() - 3) + "." +
                                         most.substr(most.size() - 3) + " s");
  const std::string least = std::to_string(static_cast<unsigned long>(LONG_MAX) + 1);
  EXPECT_EQ(FormatElapsed(LONG_MIN), "Elapsed time: -" + least.substr(0, least.size() - 3) + "." +
                                         least.substr(least.size() - 3) + " s");
}

}  // namespace
