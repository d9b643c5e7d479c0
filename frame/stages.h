// What a run takes in numbered stages and gives back in reverse order on every exit
// path: movable memory and its locks, files, temporary files and threads. Each
// allocation, lock, open file and started thread is one stage.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/win.h"

class Staging {
 public:
  Staging() = default;
  ~Staging() { ReleaseAll(); }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  // ---- Memory
  // A new movable block; null on failure (nothing is added then).
  HGLOBAL Alloc(std::size_t bytes, UINT flags = GMEM_MOVEABLE);
  // Locks a block of this set for the rest of its life; null on failure.
  void* Lock(HGLOBAL block);
  // Allocation and lock as two stages; the typed address or null.
  template <class T>
  T* AllocLocked(std::size_t count, UINT flags = GMEM_MOVEABLE, HGLOBAL* handle = nullptr) {
    HGLOBAL block = Alloc(count * sizeof(T), flags);
    if (!block) return nullptr;
    if (handle) *handle = block;
    return static_cast<T*>(Lock(block));
  }
  // Frees one block of this set now (its locks first).
  void Free(HGLOBAL block) { GlobalFree(Release(block)); }

  // ---- Files
  // CreateFileA(name, access, share, null, disposition, FILE_ATTRIBUTE_NORMAL, null),
  // closed on release; INVALID_HANDLE_VALUE on failure (nothing is added then).
  HANDLE OpenFile(const char* name, DWORD access, DWORD disposition, DWORD share = 0);
  // A file made empty (created or truncated) for reading and writing, closed and
  // deleted on release; INVALID_HANDLE_VALUE on failure.
  HANDLE CreateTempFile(const char* name);
  // Closes a file of this set now; a temporary one is deleted as well.
  void CloseFile(HANDLE file);

  // ---- Threads
  // Runs start(parameter) on a new thread. On release `stop` (may be empty) is called to
  // ask the thread to end, then the thread is waited for and its handle closed: a thread
  // is stopped cooperatively, never halted. Null on failure.
  HANDLE StartThread(LPTHREAD_START_ROUTINE start, void* parameter, std::function<void()> stop = {});
  // Stops, waits for and closes a thread of this set now.
  void JoinThread(HANDLE thread);

  // ---- Any stage
  // Gives a block, file or thread away (a block to the clipboard, say): a block's locks
  // are undone now; from then on this set neither frees, closes, deletes nor waits for it.
  HANDLE Release(HANDLE handle);
  void ReleaseAll();
  std::size_t Stages() const { return stages_.size(); }

 private:
  enum class Kind { kBlock, kLock, kFile, kTempFile, kThread };
  struct Stage {
    Kind kind;
    HANDLE handle;
    std::string name;            // of a temporary file
    std::function<void()> stop;  // of a thread
  };
  static void Undo(Stage& stage);
  // Takes the stages of a handle out of the set and undoes them, last first.
  void Finish(HANDLE handle);
  std::vector<Stage> stages_;
};

// The name the memory-only set had first; the same class.
using StagedMemory = Staging;
