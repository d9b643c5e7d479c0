// The parameter block of "Design spectrum flattening filter", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct FlattenBlock {
  LONG length;            // 0: filter length: L for mono, 2 L for stereo
  float inBand;           // 4: in-band regularisation ε_in
  float outBand;          // 8: out-of-band regularisation ε_out
  LONG lowCut;            // 12: lower cut frequency in Hz
  LONG highCut;           // 16: higher cut frequency in Hz
  float width;            // 20: transition width in octaves
  LONG elapsedMs;         // 24: result: processing time of the last delivered filter
  DWORD ownerWindow;      // 28: parent of the settings dialog (a handle, also on 64-bit)
  DWORD moduleInstance;   // 32: the module's instance (a handle, also on 64-bit)
  BYTE layout;            // 36: stereo: 1 one stereo response, 0 two stereo responses in a row
};
#pragma pack(pop)
static_assert(offsetof(FlattenBlock, length) == 0);
static_assert(offsetof(FlattenBlock, inBand) == 4);
static_assert(offsetof(FlattenBlock, outBand) == 8);
static_assert(offsetof(FlattenBlock, lowCut) == 12);
static_assert(offsetof(FlattenBlock, highCut) == 16);
static_assert(offsetof(FlattenBlock, width) == 20);
static_assert(offsetof(FlattenBlock, elapsedMs) == 24);
static_assert(offsetof(FlattenBlock, ownerWindow) == 28);
static_assert(offsetof(FlattenBlock, moduleInstance) == 32);
static_assert(offsetof(FlattenBlock, layout) == 36);
static_assert(sizeof(FlattenBlock) == 37);

inline constexpr char kFlattenTypeString[] = "lffllflhhc";
