// Working memory taken in numbered stages and given back in reverse order on every
// exit path: each allocation and each lock is one stage.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/win.h"

class StagedMemory {
 public:
  StagedMemory() = default;
  ~StagedMemory() { ReleaseAll(); }
  StagedMemory(const StagedMemory&) = delete;
  StagedMemory& operator=(const StagedMemory&) = delete;

  // A new movable block; null on failure (nothing is added then).
  HGLOBAL Alloc(std::size_t bytes, UINT flags = GMEM_MOVEABLE) {
    HGLOBAL block = GlobalAlloc(flags, bytes);
    if (block) stages_.push_back({block, false});
    return block;
  }
  // Locks a block of this set for the rest of its life; null on failure.
  void* Lock(HGLOBAL block) {
    void* data = GlobalLock(block);
    if (data) stages_.push_back({block, true});
    return data;
  }
  // Allocation and lock as two stages; the typed address or null.
  template <class T>
  T* AllocLocked(std::size_t count, UINT flags = GMEM_MOVEABLE, HGLOBAL* handle = nullptr) {
    HGLOBAL block = Alloc(count * sizeof(T), flags);
    if (!block) return nullptr;
    if (handle) *handle = block;
    return static_cast<T*>(Lock(block));
  }
  // Gives a block away (to the clipboard): its locks are undone now, and it is no longer freed here.
  HGLOBAL Release(HGLOBAL block) {
    for (std::size_t i = stages_.size(); i-- > 0;) {
      if (stages_[i].block != block) continue;
      if (stages_[i].locked) GlobalUnlock(block);
      stages_.erase(stages_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return block;
  }
  // Frees one block of this set now (its locks first).
  void Free(HGLOBAL block) { GlobalFree(Release(block)); }

  void ReleaseAll() {
    while (!stages_.empty()) {
      Stage s = stages_.back();
      stages_.pop_back();
      if (s.locked) GlobalUnlock(s.block);
      else GlobalFree(s.block);
    }
  }
  std::size_t Stages() const { return stages_.size(); }

 private:
  struct Stage {
    HGLOBAL block;
    bool locked;
  };
  std::vector<Stage> stages_;
};
