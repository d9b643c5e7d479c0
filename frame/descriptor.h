// The module's self-description and the entry points that every module implements alike.
#pragma once

#include "frame/xfm.h"

struct ModuleInfo {
  const char* menuPath;    // "Tovrel\..."
  const char* title;
  WORD channels;           // kChannelsMonoStereo or kChannelsMonoOnly
  DWORD kind;              // kKindGenerator, kKindAnalysis, ...
  const char* typeString;  // parameter block layout
};

// The copyright line of every module.
extern const char kCopyrightLine[];

// Fills the descriptor (size from the type string, one "y" per letter) and returns 0x480.
WORD FillDescriptor(XfmDescriptor* descriptor, const ModuleInfo& info);

// XfmDestroy of every module: checks that the block can still be locked.
BOOL DestroyCommon(XfmContext* context);
