// Numbers in the edit fields of settings dialogs: read leniently as the stored modules
// always have (the leading number, 0 when there is none), or strictly with a range for
// settings that must be refused when they are not valid; and written back.
#pragma once

#include <optional>

#include "platform/win.h"

// The leading decimal integer of the text (blanks and a sign allowed, as strtol); 0 when
// there is none.
long LeadingLong(const char* text);
// The leading decimal number of the text (blanks and a sign allowed, the point always
// "."); 0 when there is none or it is not a number. Too large a magnitude gives
// +-HUGE_VALF, too small a one 0.
float LeadingFloat(const char* text);

// The whole text, blanks around it allowed, as a decimal integer within lo .. hi;
// nothing when it is empty, not a number, has trailing characters or lies outside.
std::optional<long> ParseLongIn(const char* text, long lo, long hi);
// The same for a decimal number (the point always "."), finite and within lo .. hi.
std::optional<double> ParseDoubleIn(const char* text, double lo, double hi);

// The first `chars` characters of an edit (the modules' 9-character number fields by
// default), read as above.
long ReadEditLong(HWND dialog, int id, int chars = 9);
float ReadEditFloat(HWND dialog, int id, int chars = 39);
std::optional<long> ReadEditLongIn(HWND dialog, int id, long lo, long hi);
std::optional<double> ReadEditDoubleIn(HWND dialog, int id, double lo, double hi);

// Writes a decimal integer into an edit.
void SetEditLong(HWND dialog, int id, long value);
