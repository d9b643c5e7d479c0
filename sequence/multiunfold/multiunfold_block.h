// The parameter block of "Deconvolve Multiple MLS Signals", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct MultiUnfoldBlock {
  BYTE resultChannels;           // 0: result: channel count of the last run
  SHORT order;                   // 1: MLS order N of the chosen entry
  SHORT entry;                   // 3: row of the MLS entry table
  BYTE removeDc;                 // 5: 1 remove the DC component, 0 keep it
  SHORT cycles;                  // 6: result: whole periods in the selection (at most 32767)
  float rescaledFrom;            // 8: result: peak magnitude before normalisation
  LONG elapsedMs;                // 12: result: processing time
  LONG resultSampleRate;         // 16: result: sample rate of the document
  DWORD ownerWindow;             // 20: parent of the settings dialog (a handle, also on 64-bit)
  DWORD moduleInstance;          // 24: the module's instance (a handle, also on 64-bit)
  SHORT measurements;            // 28: measurements G in the selection
  SHORT sequencesPerMeasurement; // 30: periods per measurement X
  SHORT sequencesToSkip;         // 32: leading periods of each measurement left out, Y
  LONG samplesPerResponse;       // 34: output window length D
  LONG samplesToSkip;            // 38: output window offset K0 within each response
  BYTE scaleSeparately;          // 42: 1 each response by its own peak, 0 one scale for all
};
#pragma pack(pop)
static_assert(offsetof(MultiUnfoldBlock, resultChannels) == 0);
static_assert(offsetof(MultiUnfoldBlock, order) == 1);
static_assert(offsetof(MultiUnfoldBlock, entry) == 3);
static_assert(offsetof(MultiUnfoldBlock, removeDc) == 5);
static_assert(offsetof(MultiUnfoldBlock, cycles) == 6);
static_assert(offsetof(MultiUnfoldBlock, rescaledFrom) == 8);
static_assert(offsetof(MultiUnfoldBlock, elapsedMs) == 12);
static_assert(offsetof(MultiUnfoldBlock, resultSampleRate) == 16);
static_assert(offsetof(MultiUnfoldBlock, ownerWindow) == 20);
static_assert(offsetof(MultiUnfoldBlock, moduleInstance) == 24);
static_assert(offsetof(MultiUnfoldBlock, measurements) == 28);
static_assert(offsetof(MultiUnfoldBlock, sequencesPerMeasurement) == 30);
static_assert(offsetof(MultiUnfoldBlock, sequencesToSkip) == 32);
static_assert(offsetof(MultiUnfoldBlock, samplesPerResponse) == 34);
static_assert(offsetof(MultiUnfoldBlock, samplesToSkip) == 38);
static_assert(offsetof(MultiUnfoldBlock, scaleSeparately) == 42);
static_assert(sizeof(MultiUnfoldBlock) == 43);

inline constexpr char kMultiUnfoldTypeString[] = "ciicifllhhiiillc";
