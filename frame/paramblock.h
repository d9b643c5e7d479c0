// Parameter blocks: packed settings records in the host's movable memory,
// described by their type strings, and locked only for the span of their use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "frame/xfm.h"

// Bytes of one field of a type-string letter; 0 for a letter the interface does not know.
std::size_t TypeLetterSize(char letter);
// Sum of the letter sizes; 0 when a letter is unknown.
std::size_t TypeStringSize(std::string_view typeString);

// A handle kept in a 4-byte block field. On win32 this is the handle itself; the
// portable backend's handles are small integers, so they fit the field on 64-bit too.
inline uint32_t HandleToField(const void* handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}
template <class Handle>
inline Handle FieldToHandle(uint32_t field) {
  return reinterpret_cast<Handle>(static_cast<uintptr_t>(field));
}

// Locks a movable block for the span of a scope; unlocks on every exit path.
class BlockLock {
 public:
  explicit BlockLock(HGLOBAL handle) : handle_(handle), data_(handle ? GlobalLock(handle) : nullptr) {}
  ~BlockLock() { Unlock(); }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  void* get() const { return data_; }
  template <class T>
  T* as() const { return static_cast<T*>(data_); }

  // Unlock early (before a result dialog, say) and take the lock again afterwards.
  void Unlock() {
    if (data_) {
      GlobalUnlock(handle_);
      data_ = nullptr;
    }
  }
  bool Relock() {
    if (!data_) data_ = GlobalLock(handle_);
    return data_ != nullptr;
  }

 private:
  HGLOBAL handle_;
  void* data_;
};

// Runs fn on the locked parameter block of the context; false when it cannot be locked.
template <class Block, class Fn>
bool WithBlock(XfmContext* context, Fn&& fn) {
  BlockLock lock(context->paramHandle);
  if (!lock) return false;
  fn(*lock.as<Block>());
  return true;
}

// Copies a text into a fixed field, always zero-terminated, cut to fit.
template <std::size_t N>
inline void CopyField(char (&field)[N], std::string_view text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}
