#include "frame/descriptor.h"

#include <cstring>

#include "frame/paramblock.h"

const char kCopyrightLine[] = "Copyright (C) 2026 the tovrel developers";
static_assert(sizeof(kCopyrightLine) <= 80);

WORD FillDescriptor(XfmDescriptor* descriptor, const ModuleInfo& info) {
  CopyField(descriptor->menuPath, info.menuPath);
  CopyField(descriptor->copyright, kCopyrightLine);
  CopyField(descriptor->title, info.title);
  descriptor->channels = info.channels;
  descriptor->kind = info.kind;
  descriptor->paramSize = static_cast<DWORD>(TypeStringSize(info.typeString));
  CopyField(descriptor->typeString, info.typeString);
  std::size_t letters = std::strlen(info.typeString);
  std::memset(descriptor->flagString, 0, sizeof descriptor->flagString);
  std::memset(descriptor->flagString, 'y', letters < sizeof descriptor->flagString ? letters : 0);
  return kXfmQueryResult;
}

BOOL DestroyCommon(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  return lock ? TRUE : FALSE;
}
