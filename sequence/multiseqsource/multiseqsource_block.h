// The parameter block of "Generate MLS Signal" with repetitions and control pulses,
// as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct MultiSeqSourceBlock {
  SHORT order;           // MLS order N of the chosen entry
  SHORT entry;           // row of the MLS entry table
  LONG selectionLength;  // frames selected when the dialog was confirmed
  SHORT amplitude;       // sample value for bit 0; bit 1 gives its negative
  SHORT repetitions;     // consecutive periods, at least 1
  BOOL controlPulses;    // stereo: the periods on the left, control pulses on the right
};
#pragma pack(pop)
static_assert(offsetof(MultiSeqSourceBlock, order) == 0);
static_assert(offsetof(MultiSeqSourceBlock, entry) == 2);
static_assert(offsetof(MultiSeqSourceBlock, selectionLength) == 4);
static_assert(offsetof(MultiSeqSourceBlock, amplitude) == 8);
static_assert(offsetof(MultiSeqSourceBlock, repetitions) == 10);
static_assert(offsetof(MultiSeqSourceBlock, controlPulses) == 12);
static_assert(sizeof(MultiSeqSourceBlock) == 16);

inline constexpr char kMultiSeqSourceTypeString[] = "iiliib";
