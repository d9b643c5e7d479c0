#include "sweep/fields.h"

#include <string>

#include "frame/edits.h"
#include "frame/format.h"

void SetEditGeneral(HWND dialog, int id, double value, int digits, std::size_t chars) {
  std::string text = FormatGeneral(value, digits);
  if (chars && text.size() > chars) text.resize(chars);
  SetDlgItemTextA(dialog, id, text.c_str());
}
