// The responses kept in the parameter block, read as outside data: a block kept from an
// earlier run (on disk, say) may carry handles that no longer stand for its samples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/paramblock.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "platform/win.h"

// Response k (0 IR1, 1 IR2) is loaded and its block holds every sample its fields
// announce: a known source, 1 or 2 channels, a positive length, and a sample handle whose
// block (asked of the system, never locked) is large enough. Nothing else may lock it.
inline bool StoredResponseValid(const LiveParams& p, int k) {
  const int channels = p.responseChannels[k];
  const int source = p.responseSource[k];
  if (source < kSourceFile || source > kSourceHostClipboard || (channels != 1 && channels != 2)) return false;
  if (p.responseFrames[k] <= 0 || p.responseSamples[k] == 0) return false;
  const uint64_t bytes = static_cast<uint64_t>(p.responseFrames[k]) * static_cast<uint64_t>(channels) * 2u;
  const SIZE_T size = GlobalSize(FieldToHandle<HGLOBAL>(p.responseSamples[k]));
  return static_cast<uint64_t>(size) >= bytes;
}
