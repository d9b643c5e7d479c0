// The parameter block of "Calculate Acoustical Parameters", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct AcousticParams {
  float rtuUpper;        // 0: start of the user-defined decay range, dB (-100 ... 0)
  float rtuLower;        // 4: its end, dB (-100 ... 0, at most rtuUpper - 1)
  SHORT threshold;       // 8: first-arrival threshold, 16-bit units (0 ... 32767)
  char noiseCorrection;  // 10: 1 on, 0 off
  char firstRow;         // 11: results dialog: first of the six rows shown (0 ... 5)
  char channelShown;     // 12: results dialog: 0 left, 1 right
  DWORD values;          // 13: the running analysis' values (see ResultField)
  DWORD flags;           // 17: its validity and noise-correction flags
  DWORD window;          // 21: host window, owner of message boxes and the clipboard
  DWORD instance;        // 25: module instance
};
#pragma pack(pop)
static_assert(offsetof(AcousticParams, rtuUpper) == 0);
static_assert(offsetof(AcousticParams, rtuLower) == 4);
static_assert(offsetof(AcousticParams, threshold) == 8);
static_assert(offsetof(AcousticParams, noiseCorrection) == 10);
static_assert(offsetof(AcousticParams, firstRow) == 11);
static_assert(offsetof(AcousticParams, channelShown) == 12);
static_assert(offsetof(AcousticParams, values) == 13);
static_assert(offsetof(AcousticParams, flags) == 17);
static_assert(offsetof(AcousticParams, window) == 21);
static_assert(offsetof(AcousticParams, instance) == 25);
static_assert(sizeof(AcousticParams) == 29);

inline constexpr char kAcousticTypeString[] = "fficccllhh";
