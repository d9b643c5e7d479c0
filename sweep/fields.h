// Edit fields of the sweep dialogs, read as the C library's decimal conversions read
// them and written in the dialogs' number formats.
#pragma once

#include <string>

#include "frame/xfm.h"

// The leading decimal number of the first `chars` characters of an edit (blanks and a
// sign allowed, "." as the point, an exponent); 0 when there is none.
double ReadNumberField(HWND dialog, int id, int chars = 40);
// The leading integer of the first `chars` characters, held within 32 bits.
LONG ReadLongField(HWND dialog, int id, int chars = 40);

void ShowLongField(HWND dialog, int id, long value);
// The general format with `digits` significant digits, cut to `chars` characters (0: not cut).
void ShowNumberField(HWND dialog, int id, double value, int digits, std::size_t chars = 0);
