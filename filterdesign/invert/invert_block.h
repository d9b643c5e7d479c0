// The parameter block of "Design inverse filter", as the host keeps it.
#pragma once

#include <cstddef>

#include "frame/xfm.h"

#pragma pack(push, 1)
struct InverseFilterBlock {
  LONG length;            // 0: inverse filter length L in samples
  LONG delay;             // 4: delta delay D in samples
  LONG elapsedMs;         // 8: result: processing time of the last delivered filter
  DWORD ownerWindow;      // 12: parent of the settings dialog (a handle, also on 64-bit)
  DWORD moduleInstance;   // 16: the module's instance (a handle, also on 64-bit)
};
#pragma pack(pop)
static_assert(offsetof(InverseFilterBlock, length) == 0);
static_assert(offsetof(InverseFilterBlock, delay) == 4);
static_assert(offsetof(InverseFilterBlock, elapsedMs) == 8);
static_assert(offsetof(InverseFilterBlock, ownerWindow) == 12);
static_assert(offsetof(InverseFilterBlock, moduleInstance) == 16);
static_assert(sizeof(InverseFilterBlock) == 20);

inline constexpr char kInverseFilterTypeString[] = "lllhh";
