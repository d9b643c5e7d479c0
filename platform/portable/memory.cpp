// Movable global memory, the clipboard and fault injection.
//
// A memory handle is an entry of a table; the block behind it is allocated once and
// keeps its address while locked. Everything here is guarded by one mutex: the
// real-time convolver's preview thread reads blocks while the dialog thread runs.

#include <sys/mman.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

constexpr UINT kInvalidHandleFlags = 0x8000;  // GMEM_INVALID_HANDLE
constexpr UINT kDiscardedFlag = 0x4000;       // GMEM_DISCARDED

struct Block {
  uint8_t* data = nullptr;  // null for a zero-size (discarded) block
  SIZE_T size = 0;
  UINT flags = 0;
  unsigned locks = 0;
  bool clipboard = false;  // owned by the clipboard
};

struct MemoryState {
  std::mutex mutex;
  std::unordered_map<uint32_t, Block> blocks;
  // Fault injection.
  Faults plan;
  long allocations = 0;
  long locks = 0;
  bool allocationFaultSpent = false;
  bool lockFaultSpent = false;
  // Clipboard.
  bool clipboardOpen = false;
  HWND clipboardOwner = nullptr;
  std::map<UINT, uint32_t> clipboard;  // format -> block handle
};

MemoryState& State() {
  static MemoryState* state = new MemoryState;  // never destroyed: used until process exit
  return *state;
}

Block* Find(MemoryState& s, HGLOBAL mem) {
  auto it = s.blocks.find(detail::HandleValue(mem));
  if (mem == nullptr || it == s.blocks.end()) return nullptr;
  return &it->second;
}

// Counts an allocation and tells whether the armed plan makes it fail.
bool AllocationFails(MemoryState& s) {
  ++s.allocations;
  if (s.plan.failAllocation > 0 && !s.allocationFaultSpent && s.allocations == s.plan.failAllocation) {
    s.allocationFaultSpent = true;
    return true;
  }
  return false;
}

bool LockFails(MemoryState& s) {
  ++s.locks;
  if (s.plan.failLock > 0 && !s.lockFaultSpent && s.locks == s.plan.failLock) {
    s.lockFaultSpent = true;
    return true;
  }
  return false;
}

// Large blocks (the deconvolvers' permutations and work arrays, walked in a scattered
// order) are asked for on huge pages, which spares them most of their address
// translation misses.
constexpr SIZE_T kHugePage = SIZE_T{2} << 20;

uint8_t* AllocateBytes(SIZE_T bytes, bool zero) {
  if (bytes == 0) return nullptr;
  if (bytes >= 2 * kHugePage) {
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, bytes) != 0) return nullptr;
    madvise(p, bytes, MADV_HUGEPAGE);
    if (zero) std::memset(p, 0, bytes);
    return static_cast<uint8_t*>(p);
  }
  void* p = zero ? std::calloc(bytes, 1) : std::malloc(bytes);
  return static_cast<uint8_t*>(p);
}

// Creates a block without counting it (the host's clipboard restore).
uint32_t NewBlock(MemoryState& s, uint8_t* data, SIZE_T size, UINT flags) {
  uint32_t handle = detail::NextHandle();
  Block block;
  block.data = data;
  block.size = size;
  block.flags = flags & (GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT);
  s.blocks.emplace(handle, block);
  return handle;
}

void ReleaseBlock(MemoryState& s, uint32_t handle) {
  auto it = s.blocks.find(handle);
  if (it == s.blocks.end()) return;
  std::free(it->second.data);
  s.blocks.erase(it);
}

void EmptyClipboardLocked(MemoryState& s) {
  for (auto& [format, handle] : s.clipboard) ReleaseBlock(s, handle);
  s.clipboard.clear();
}

}  // namespace

// ---- Fault injection ---------------------------------------------------------------

void ArmFaults(const Faults& plan) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.plan = plan;
  s.allocations = 0;
  s.locks = 0;
  s.allocationFaultSpent = false;
  s.lockFaultSpent = false;
  detail::ArmFileFaults(plan);
}

// The counters go on, so that a test can disarm and then read how many calls it made.
void DisarmFaults() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.plan = Faults{};
  detail::ArmFileFaults(Faults{});
}

long AllocationCount() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return s.allocations;
}

long LockCount() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return s.locks;
}

MemoryStats Memory() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  MemoryStats stats;
  for (const auto& [handle, block] : s.blocks) {
    ++stats.liveBlocks;
    if (block.clipboard) ++stats.clipboardBlocks;
    if (block.locks > 0) ++stats.lockedBlocks;
    stats.liveBytes += block.size;
  }
  return stats;
}

// ---- Clipboard contents for the host ----------------------------------------------

std::vector<ClipboardItem> ClipboardContents() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  std::vector<ClipboardItem> items;
  for (const auto& [format, handle] : s.clipboard) {
    const Block& block = s.blocks.at(handle);
    ClipboardItem item;
    item.format = format;
    if (block.data != nullptr) item.bytes.assign(block.data, block.data + block.size);
    items.push_back(std::move(item));
  }
  return items;
}

void LoadClipboard(const std::vector<ClipboardItem>& items) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  EmptyClipboardLocked(s);
  for (const auto& item : items) {
    uint8_t* data = AllocateBytes(item.bytes.size(), false);
    if (!item.bytes.empty()) {
      if (data == nullptr) continue;  // out of memory: the item is lost, the others stay
      std::memcpy(data, item.bytes.data(), item.bytes.size());
    }
    auto old = s.clipboard.find(item.format);
    if (old != s.clipboard.end()) ReleaseBlock(s, old->second);
    uint32_t handle = NewBlock(s, data, item.bytes.size(), GMEM_MOVEABLE | GMEM_DDESHARE);
    s.blocks.at(handle).clipboard = true;
    s.clipboard[item.format] = handle;
  }
}

bool ClipboardIsOpen() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return s.clipboardOpen;
}

}  // namespace tovrel::portable

using tovrel::portable::Block;
using tovrel::portable::State;

// ---- Global memory -------------------------------------------------------------------

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (tovrel::portable::AllocationFails(s)) return nullptr;
  uint8_t* data = tovrel::portable::AllocateBytes(bytes, (flags & GMEM_ZEROINIT) != 0);
  if (bytes != 0 && data == nullptr) return nullptr;
  return tovrel::portable::detail::MakeHandle<HGLOBAL>(tovrel::portable::NewBlock(s, data, bytes, flags));
}

HGLOBAL WINAPI GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  Block* block = tovrel::portable::Find(s, mem);
  if (block == nullptr || block->clipboard) return nullptr;
  if (tovrel::portable::AllocationFails(s)) return nullptr;
  if (bytes == block->size) return mem;
  // A locked block must keep its address: it may only shrink in place.
  if (block->locks > 0) {
    if (bytes > block->size || bytes == 0) return nullptr;
    block->size = bytes;
    return mem;
  }
  uint8_t* data = nullptr;
  if (bytes != 0) {
    data = static_cast<uint8_t*>(std::realloc(block->data, bytes));
    if (data == nullptr) return nullptr;
    if (bytes > block->size && (flags & GMEM_ZEROINIT) != 0) std::memset(data + block->size, 0, bytes - block->size);
  } else {
    std::free(block->data);
  }
  block->data = data;
  block->size = bytes;
  return mem;
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (tovrel::portable::LockFails(s)) return nullptr;
  Block* block = tovrel::portable::Find(s, mem);
  if (block == nullptr || block->data == nullptr) return nullptr;
  ++block->locks;
  return block->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  Block* block = tovrel::portable::Find(s, mem);
  if (block == nullptr || block->locks == 0) return FALSE;
  --block->locks;
  return block->locks > 0 ? TRUE : FALSE;
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  Block* block = tovrel::portable::Find(s, mem);
  return block == nullptr ? 0 : block->size;
}

UINT WINAPI GlobalFlags(HGLOBAL mem) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  Block* block = tovrel::portable::Find(s, mem);
  if (block == nullptr) return tovrel::portable::kInvalidHandleFlags;
  UINT flags = std::min(block->locks, 0xFFu);
  if (block->flags & GMEM_DDESHARE) flags |= GMEM_DDESHARE;
  if (block->data == nullptr) flags |= tovrel::portable::kDiscardedFlag;
  return flags;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
  if (mem == nullptr) return nullptr;
  auto& s = State();
  std::lock_guard lock(s.mutex);
  Block* block = tovrel::portable::Find(s, mem);
  // A block the clipboard owns is not the caller's to free.
  if (block == nullptr || block->clipboard) return mem;
  tovrel::portable::ReleaseBlock(s, tovrel::portable::detail::HandleValue(mem));
  return nullptr;
}

// ---- Clipboard -------------------------------------------------------------------------

BOOL WINAPI OpenClipboard(HWND owner) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (s.clipboardOpen || s.plan.clipboardBusy) return FALSE;
  s.clipboardOpen = true;
  s.clipboardOwner = owner;
  return TRUE;
}

BOOL WINAPI EmptyClipboard(void) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.clipboardOpen) return FALSE;
  tovrel::portable::EmptyClipboardLocked(s);
  return TRUE;
}

HANDLE WINAPI SetClipboardData(UINT format, HANDLE mem) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.clipboardOpen || s.plan.failClipboardSet) return nullptr;
  Block* block = tovrel::portable::Find(s, mem);
  if (block == nullptr) return nullptr;
  uint32_t handle = tovrel::portable::detail::HandleValue(mem);
  auto old = s.clipboard.find(format);
  if (old != s.clipboard.end() && old->second != handle) tovrel::portable::ReleaseBlock(s, old->second);
  // The block may not be owned under two formats: the first would free it twice.
  for (auto it = s.clipboard.begin(); it != s.clipboard.end();) {
    if (it->second == handle && it->first != format) it = s.clipboard.erase(it);
    else ++it;
  }
  s.blocks.at(handle).clipboard = true;
  s.clipboard[format] = handle;
  return mem;
}

HANDLE WINAPI GetClipboardData(UINT format) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.clipboardOpen) return nullptr;
  auto it = s.clipboard.find(format);
  if (it == s.clipboard.end()) return nullptr;
  return tovrel::portable::detail::MakeHandle<HANDLE>(it->second);
}

BOOL WINAPI IsClipboardFormatAvailable(UINT format) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return s.clipboard.count(format) != 0 ? TRUE : FALSE;
}

BOOL WINAPI CloseClipboard(void) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  if (!s.clipboardOpen) return FALSE;
  s.clipboardOpen = false;
  s.clipboardOwner = nullptr;
  return TRUE;
}

}  // extern "C"
