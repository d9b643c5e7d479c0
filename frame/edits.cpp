#include "frame/edits.h"

#include "frame/messages.h"

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

namespace {

std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

}  // namespace

std::string FieldRange(const EditField& field, double lo, double hi) {
  std::string text = field.whole ? "a whole number from " : "a number from ";
  text += Number(lo) + " to " + Number(hi);
  if (field.unit && *field.unit) text += std::string(" ") + field.unit;
  return text;
}

std::string DescribeField(const EditField& field) {
  std::string text = FieldRange(field, field.lo, field.hi);
  if (field.note && *field.note) text += std::string("; ") + field.note;
  return text;
}

std::string FieldRefusal(const EditField& field, double lo, double hi) {
  return std::string(field.name) + " must be " + FieldRange(field, lo, hi) + ".";
}

std::optional<double> ParseFieldIn(const char* text, double lo, double hi, bool whole) {
  if (whole) {
    if (!(lo <= hi) || lo < -2147483648.0 || hi > 2147483647.0) return std::nullopt;
    const std::optional<long> value = ParseLongIn(text, static_cast<long>(std::ceil(lo)), static_cast<long>(std::floor(hi)));
    if (!value) return std::nullopt;
    return static_cast<double>(*value);
  }
  const std::optional<double> value = ParseDoubleIn(text, lo, hi);
  if (!value) return std::nullopt;
  return *value == 0 ? 0.0 : *value;  // no "-0"
}

std::optional<double> ReadField(HWND dialog, const EditField& field, const char* caption) {
  return ReadFieldIn(dialog, field, field.lo, field.hi, caption);
}

std::optional<double> ReadFieldIn(HWND dialog, const EditField& field, double lo, double hi, const char* caption) {
  const std::optional<double> value = ParseFieldIn(EditText(dialog, field.id, kLongestEdit).c_str(), lo, hi, field.whole);
  if (!value) RefuseField(dialog, field, lo, hi, caption);
  return value;
}

bool FieldHolds(HWND dialog, const EditField& field) {
  return ParseFieldIn(EditText(dialog, field.id, kLongestEdit).c_str(), field.lo, field.hi, field.whole).has_value();
}

bool ReadFields(HWND dialog, std::span<const EditField> fields, double* values, const char* caption) {
  for (const EditField& field : fields) {
    const std::optional<double> value = ReadField(dialog, field, caption);
    if (!value) return false;
    *values++ = *value;
  }
  return true;
}

void RefuseField(HWND dialog, const EditField& field, double lo, double hi, const char* caption) {
  ShowError(dialog, FieldRefusal(field, lo, hi).c_str(), caption);
}
