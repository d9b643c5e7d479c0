// The parameter block of "Deconvolve IRS Signal", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct InvSeqUnfoldBlock {
  BYTE resultChannels;    // 0: result: channel count of the last run
  SHORT order;            // 1: MLS order N of the chosen entry
  SHORT entry;            // 3: row of the MLS entry table, 0 to 28
  BYTE removeDc;          // 5: kept for the layout; the dialog always stores 0
  SHORT cycles;           // 6: result: MLS lengths in the selection (two per IRS period)
  LONG elapsedMs;         // 8: result: processing time
  LONG resultSampleRate;  // 12: result: sample rate of the document
  float rescaledFrom;     // 16: result: peak magnitude before normalisation
  DWORD ownerWindow;      // 20: parent of the settings dialog (a handle, also on 64-bit)
  DWORD moduleInstance;   // 24: the module's instance (a handle, also on 64-bit)
};
#pragma pack(pop)
static_assert(offsetof(InvSeqUnfoldBlock, resultChannels) == 0);
static_assert(offsetof(InvSeqUnfoldBlock, order) == 1);
static_assert(offsetof(InvSeqUnfoldBlock, entry) == 3);
static_assert(offsetof(InvSeqUnfoldBlock, removeDc) == 5);
static_assert(offsetof(InvSeqUnfoldBlock, cycles) == 6);
static_assert(offsetof(InvSeqUnfoldBlock, elapsedMs) == 8);
static_assert(offsetof(InvSeqUnfoldBlock, resultSampleRate) == 12);
static_assert(offsetof(InvSeqUnfoldBlock, rescaledFrom) == 16);
static_assert(offsetof(InvSeqUnfoldBlock, ownerWindow) == 20);
static_assert(offsetof(InvSeqUnfoldBlock, moduleInstance) == 24);
static_assert(sizeof(InvSeqUnfoldBlock) == 28);

inline constexpr char kInvSeqUnfoldTypeString[] = "ciicillfhh";
