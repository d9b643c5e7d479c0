// The parameter block of "Convolve with Clipboard", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct ConvolveBlock {
  char mode;               // 0: routing letter: A B C D from XfmSetup, the run letter after the dialog
  char stereoChoice;       // 1: last choice for a stereo response on stereo data: C D E F G
  char monoChoice;         // 2: last choice for a stereo response on mono data: H I
  LONG responseFrames;     // 3: M, the whole clipboard response
  LONG fftSize;            // 7: optimum from XfmSetup; the size used after a run
  LONG selectionFrames;    // 11: L
  LONG responseRate;       // 15
  LONG documentRate;       // 19
  LONG removeDc;           // 23: DC removal in the low byte; the elapsed ms while the result dialog shows
  DWORD ownerWindow;       // 27: a handle, also on 64-bit
  DWORD moduleInstance;    // 31: a handle, also on 64-bit
  DWORD responseCopy;      // 35: handle of the private copy of the clipboard data
  LONG crosstalk;          // 39: 1 after a run in mode Q or Z
  LONG twoByTwo;           // 43: 1 for mode Q
  float peak;              // 47: peak magnitude of the unscaled result
  LONG autoRange;          // 51
  float gainDb;            // 55: typed, or the gain applied by AutoRange
};
#pragma pack(pop)
static_assert(offsetof(ConvolveBlock, mode) == 0);
static_assert(offsetof(ConvolveBlock, stereoChoice) == 1);
static_assert(offsetof(ConvolveBlock, monoChoice) == 2);
static_assert(offsetof(ConvolveBlock, responseFrames) == 3);
static_assert(offsetof(ConvolveBlock, fftSize) == 7);
static_assert(offsetof(ConvolveBlock, selectionFrames) == 11);
static_assert(offsetof(ConvolveBlock, responseRate) == 15);
static_assert(offsetof(ConvolveBlock, documentRate) == 19);
static_assert(offsetof(ConvolveBlock, removeDc) == 23);
static_assert(offsetof(ConvolveBlock, ownerWindow) == 27);
static_assert(offsetof(ConvolveBlock, moduleInstance) == 31);
static_assert(offsetof(ConvolveBlock, responseCopy) == 35);
static_assert(offsetof(ConvolveBlock, crosstalk) == 39);
static_assert(offsetof(ConvolveBlock, twoByTwo) == 43);
static_assert(offsetof(ConvolveBlock, peak) == 47);
static_assert(offsetof(ConvolveBlock, autoRange) == 51);
static_assert(offsetof(ConvolveBlock, gainDb) == 55);
static_assert(sizeof(ConvolveBlock) == 59);

inline constexpr char kConvolveTypeString[] = "cccllllllhhhllflf";
