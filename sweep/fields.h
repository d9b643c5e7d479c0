// Edit fields of the sweep dialogs beyond the frame's: integers held within the 32 bits
// of their block fields, and numbers in the general format.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

// The leading integer of the first `chars` characters, held within 32 bits as the C
// library of the 32-bit host reads it.
LONG ReadEditLong32(HWND dialog, int id, int chars);
// The general format with `digits` significant digits, cut to `chars` characters (0: not cut).
void SetEditGeneral(HWND dialog, int id, double value, int digits, std::size_t chars = 0);
