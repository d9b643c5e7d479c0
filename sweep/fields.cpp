#include "sweep/fields.h"

#include <string>

#include "frame/edits.h"
#include "frame/format.h"

LONG ReadEditLong32(HWND dialog, int id, int chars) {
  const long v = ReadEditLong(dialog, id, chars);
  if (v > 0x7fffffffL) return 0x7fffffff;
  if (v < -0x7fffffffL - 1) return static_cast<LONG>(-0x7fffffffL - 1);
  return static_cast<LONG>(v);
}

void SetEditGeneral(HWND dialog, int id, double value, int digits, std::size_t chars) {
  std::string text = FormatGeneral(value, digits);
  if (chars && text.size() > chars) text.resize(chars);
  SetDlgItemTextA(dialog, id, text.c_str());
}
