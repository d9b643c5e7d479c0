// The parameter block of "Generate MLS Signal", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct SeqSourceBlock {
  SHORT order;           // MLS order N of the chosen entry
  SHORT entry;           // row of the MLS entry table
  LONG selectionLength;  // frames selected when the dialog was confirmed
  SHORT amplitude;       // sample value for bit 0; bit 1 gives its negative
};
#pragma pack(pop)
static_assert(offsetof(SeqSourceBlock, order) == 0);
static_assert(offsetof(SeqSourceBlock, entry) == 2);
static_assert(offsetof(SeqSourceBlock, selectionLength) == 4);
static_assert(offsetof(SeqSourceBlock, amplitude) == 8);
static_assert(sizeof(SeqSourceBlock) == 10);

inline constexpr char kSeqSourceTypeString[] = "iili";
