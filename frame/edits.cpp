#include "frame/edits.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace {

constexpr int kLongestEdit = 256;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The edit's text, cut to `chars` characters.
std::string EditText(HWND dialog, int id, int chars) {
  if (chars < 1) chars = 1;
  if (chars > kLongestEdit) chars = kLongestEdit;
  char text[kLongestEdit + 1] = {0};
  GetDlgItemTextA(dialog, id, text, chars + 1);
  return text;
}

// Skips leading blanks and one '+' (which from_chars does not take); `plus` tells whether
// it was there.
const char* NumberStart(const char* text, bool& plus) {
  while (IsBlank(*text)) ++text;
  plus = *text == '+';
  return plus ? text + 1 : text;
}

// Nothing but blanks from p to the end.
bool OnlyBlanks(const char* p) {
  while (IsBlank(*p)) ++p;
  return *p == '\0';
}

}  // namespace

long LeadingLong(const char* text) { return text ? std::strtol(text, nullptr, 10) : 0; }

float LeadingFloat(const char* text) {
  if (!text) return 0.0f;
  bool plus = false;
  const char* p = NumberStart(text, plus);
  float value = 0.0f;
  const auto result = std::from_chars(p, p + std::strlen(p), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large in magnitude, or too small: then it reads as 0.
    const bool tiny = std::strstr(p, "e-") || std::strstr(p, "E-");
    return tiny ? 0.0f : *p == '-' ? -HUGE_VALF : HUGE_VALF;
  }
  if (result.ec != std::errc() || std::isnan(value) || (plus && *p == '-')) return 0.0f;
  return value;
}

namespace {

// The whole text as a T within lo .. hi (a finite one, for floating point).
template <class T>
std::optional<T> ParseIn(const char* text, T lo, T hi) {
  if (!text) return std::nullopt;
  bool plus = false;
  const char* p = NumberStart(text, plus);
  if (plus && *p == '-') return std::nullopt;
  T value{};
  const auto result = std::from_chars(p, p + std::strlen(p), value);
  if (result.ec != std::errc() || !OnlyBlanks(result.ptr) || !std::isfinite(static_cast<double>(value)) ||
      value < lo || value > hi)
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<long> ParseLongIn(const char* text, long lo, long hi) { return ParseIn(text, lo, hi); }

std::optional<double> ParseDoubleIn(const char* text, double lo, double hi) { return ParseIn(text, lo, hi); }

long ReadEditLong(HWND dialog, int id, int chars) { return LeadingLong(EditText(dialog, id, chars).c_str()); }

float ReadEditFloat(HWND dialog, int id, int chars) { return LeadingFloat(EditText(dialog, id, chars).c_str()); }

std::optional<long> ReadEditLongIn(HWND dialog, int id, long lo, long hi) {
  return ParseLongIn(EditText(dialog, id, kLongestEdit).c_str(), lo, hi);
}

std::optional<double> ReadEditDoubleIn(HWND dialog, int id, double lo, double hi) {
  return ParseDoubleIn(EditText(dialog, id, kLongestEdit).c_str(), lo, hi);
}

void SetEditLong(HWND dialog, int id, long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  SetDlgItemTextA(dialog, id, text);
}
