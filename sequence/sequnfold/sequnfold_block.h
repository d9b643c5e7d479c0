// The parameter block of "Deconvolve MLS Signal", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct SeqUnfoldBlock {
  BYTE resultChannels;    // 0: result: channel count of the last run
  SHORT order;            // 1: MLS order N of the chosen entry
  SHORT entry;            // 3: row of the MLS entry table
  BYTE removeDc;          // 5: 1 remove the DC component, 0 keep it
  SHORT cycles;           // 6: result: whole periods averaged (at most 32767)
  float rescaledFrom;     // 8: result: peak magnitude before normalisation
  LONG elapsedMs;         // 12: result: processing time
  LONG resultSampleRate;  // 16: result: sample rate of the document
  DWORD ownerWindow;      // 20: parent of the settings dialog (a handle, also on 64-bit)
  DWORD moduleInstance;   // 24: the module's instance (a handle, also on 64-bit)
};
#pragma pack(pop)
static_assert(offsetof(SeqUnfoldBlock, resultChannels) == 0);
static_assert(offsetof(SeqUnfoldBlock, order) == 1);
static_assert(offsetof(SeqUnfoldBlock, entry) == 3);
static_assert(offsetof(SeqUnfoldBlock, removeDc) == 5);
static_assert(offsetof(SeqUnfoldBlock, cycles) == 6);
static_assert(offsetof(SeqUnfoldBlock, rescaledFrom) == 8);
static_assert(offsetof(SeqUnfoldBlock, elapsedMs) == 12);
static_assert(offsetof(SeqUnfoldBlock, resultSampleRate) == 16);
static_assert(offsetof(SeqUnfoldBlock, ownerWindow) == 20);
static_assert(offsetof(SeqUnfoldBlock, moduleInstance) == 24);
static_assert(sizeof(SeqUnfoldBlock) == 28);

inline constexpr char kSeqUnfoldTypeString[] = "ciicifllhh";
