// Edit fields of the sweep dialogs beyond the frame's: numbers in the general format.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

// The general format with `digits` significant digits, cut to `chars` characters (0: not cut).
void SetEditGeneral(HWND dialog, int id, double value, int digits, std::size_t chars = 0);
