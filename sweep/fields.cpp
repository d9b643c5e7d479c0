#include "sweep/fields.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/format.h"

namespace {

std::vector<char> FieldText(HWND dialog, int id, int chars) {
  std::vector<char> text(static_cast<std::size_t>(chars) + 1, '\0');
  GetDlgItemTextA(dialog, id, text.data(), chars + 1);
  return text;
}

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  return p;
}

}  // namespace

double ReadNumberField(HWND dialog, int id, int chars) {
  const std::vector<char> text = FieldText(dialog, id, chars);
  const char* p = SkipBlanks(text.data());
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p == '-' || *p == '+') return 0;
  double value = 0;
  const char* end = text.data() + std::strlen(text.data());
  const auto result = std::from_chars(p, end, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: as large as it gets, or 0 for a tiny value.
    const bool tiny = std::strstr(p, "e-") || std::strstr(p, "E-");
    value = tiny ? 0 : HUGE_VAL;
  } else if (result.ec != std::errc()) {
    value = 0;
  }
  return negative ? -value : value;
}

LONG ReadLongField(HWND dialog, int id, int chars) {
  const std::vector<char> text = FieldText(dialog, id, chars);
  errno = 0;
  const long long v = std::strtoll(text.data(), nullptr, 10);
  if (v > 0x7fffffffLL) return 0x7fffffff;
  if (v < -0x7fffffffLL - 1) return static_cast<LONG>(-0x7fffffffLL - 1);
  return static_cast<LONG>(v);
}

void ShowLongField(HWND dialog, int id, long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  SetDlgItemTextA(dialog, id, text);
}

void ShowNumberField(HWND dialog, int id, double value, int digits, std::size_t chars) {
  std::string text = FormatGeneral(value, digits);
  if (chars && text.size() > chars) text.resize(chars);
  SetDlgItemTextA(dialog, id, text.c_str());
}
