// The parameter block of "Generate Sine Sweep", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct SweepSourceBlock {
  float startFrequency;   // 0: f1, Hz
  float endFrequency;     // 4: f2, Hz
  float sweepDuration;    // 8: seconds up to 100, samples above
  LONG amplitude;         // 12: peak sample value
  SHORT linearSweep;      // 16: 1 linear, 0 logarithmic
  float silenceDuration;  // 18: seconds up to 100, samples above
  LONG repetitions;       // 22: periods of sweep and silence
  LONG selectionLength;   // 26: frames selected when the dialog was confirmed
  DWORD ownerWindow;      // 30: parent of the settings dialog (a handle, also on 64-bit)
  BOOL controlPulses;     // 34: stereo: sweep on the left, control tone on the right
};
#pragma pack(pop)
static_assert(offsetof(SweepSourceBlock, startFrequency) == 0);
static_assert(offsetof(SweepSourceBlock, endFrequency) == 4);
static_assert(offsetof(SweepSourceBlock, sweepDuration) == 8);
static_assert(offsetof(SweepSourceBlock, amplitude) == 12);
static_assert(offsetof(SweepSourceBlock, linearSweep) == 16);
static_assert(offsetof(SweepSourceBlock, silenceDuration) == 18);
static_assert(offsetof(SweepSourceBlock, repetitions) == 22);
static_assert(offsetof(SweepSourceBlock, selectionLength) == 26);
static_assert(offsetof(SweepSourceBlock, ownerWindow) == 30);
static_assert(offsetof(SweepSourceBlock, controlPulses) == 34);
static_assert(sizeof(SweepSourceBlock) == 38);

inline constexpr char kSweepSourceTypeString[] = "ffflifllhb";
