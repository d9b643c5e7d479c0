// The parameter block of "Generate IRS Signal", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct InvSeqSourceBlock {
  SHORT order;           // MLS order N of the chosen entry
  SHORT entry;           // row of the MLS entry table, 0 to 28
  LONG selectionLength;  // frames selected when the dialog was confirmed
};
#pragma pack(pop)
static_assert(offsetof(InvSeqSourceBlock, order) == 0);
static_assert(offsetof(InvSeqSourceBlock, entry) == 2);
static_assert(offsetof(InvSeqSourceBlock, selectionLength) == 4);
static_assert(sizeof(InvSeqSourceBlock) == 8);

inline constexpr char kInvSeqSourceTypeString[] = "iil";
