#include "frame/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace {

// std::to_chars is exact and ignores the locale, which is what the formats need.
// The buffers below hold the longest results: at most 17 digits in each part of a fixed
// number (e <= 16 before the point, digits - 1 - e <= 17 after it), or 17 digits and an
// exponent.
constexpr std::size_t kBufferSize = 64;

// Decimal exponent of the leading digit of a finite, positive value. The shortest
// representation that reads back as the same double is exact about the leading digit
// (unlike floor(log10(v)), which misjudges values next to a power of ten).
int LeadingExponent(double magnitude) {
  char buffer[kBufferSize];
  const auto result = std::to_chars(buffer, buffer + kBufferSize, magnitude, std::chars_format::scientific);
  const char* mark = std::find(buffer, result.ptr, 'e');
  const bool negative = mark[1] == '-';
  int exponent = 0;
  std::from_chars(mark + 2, result.ptr, exponent);
  return negative ? -exponent : exponent;
}

// Removes trailing zeros after the point, keeping the point, if any digit follows it.
void StripFraction(std::string& number) {
  const std::size_t point = number.find('.');
  if (point == std::string::npos || point + 1 == number.size()) return;
  const std::size_t last = number.find_last_not_of('0');
  number.erase(std::max(last, point) + 1);
}

std::string Fixed(double magnitude, int decimals) {
  char buffer[kBufferSize];
  const auto result = std::to_chars(buffer, buffer + kBufferSize, magnitude, std::chars_format::fixed, decimals);
  std::string number(buffer, result.ptr);
  StripFraction(number);
  return number;
}

std::string Exponential(double magnitude, int decimals) {
  char buffer[kBufferSize];
  const auto result =
      std::to_chars(buffer, buffer + kBufferSize, magnitude, std::chars_format::scientific, decimals);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t mark = text.find('e');
  std::string mantissa(text.substr(0, mark));
  StripFraction(mantissa);
  // to_chars writes the exponent as its sign and at least two digits; the format has three,
  // which every exponent of a double fits.
  const char sign = text[mark + 1];
  const std::string_view exponent = text.substr(mark + 2);
  return mantissa + 'e' + sign + std::string(3 - std::min<std::size_t>(exponent.size(), 3), '0') + std::string(exponent);
}

}  // namespace

std::string FormatGeneral(double v, int digits) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  const int n = std::clamp(digits, 1, 17);
  const double magnitude = std::fabs(v);
  const int e = magnitude == 0 ? 0 : LeadingExponent(magnitude);
  std::string number = (e < -1 || e > n - 1) ? Exponential(magnitude, n - 1) : Fixed(magnitude, n - 1 - e);
  if (v < 0) number.insert(0, 1, '-');
  return number;
}

std::string FormatElapsed(long milliseconds) {
  // The magnitude in unsigned arithmetic, so that the most negative value has one too.
  const unsigned long magnitude =
      milliseconds < 0 ? 0UL - static_cast<unsigned long>(milliseconds) : static_cast<unsigned long>(milliseconds);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "Elapsed time: %s%lu.%03lu s", milliseconds < 0 ? "-" : "", magnitude / 1000,
                magnitude % 1000);
  return buffer;
}
