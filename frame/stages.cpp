#include "frame/stages.h"

#include <utility>

HGLOBAL Staging::Alloc(std::size_t bytes, UINT flags) {
  HGLOBAL block = GlobalAlloc(flags, bytes);
  if (block) stages_.push_back({Kind::kBlock, block, {}, {}});
  return block;
}

void* Staging::Lock(HGLOBAL block) {
  void* data = GlobalLock(block);
  if (data) stages_.push_back({Kind::kLock, block, {}, {}});
  return data;
}

HANDLE Staging::OpenFile(const char* name, DWORD access, DWORD disposition, DWORD share) {
  HANDLE file = CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) stages_.push_back({Kind::kFile, file, {}, {}});
  return file;
}

HANDLE Staging::CreateTempFile(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file != INVALID_HANDLE_VALUE) stages_.push_back({Kind::kTempFile, file, name, {}});
  return file;
}

void Staging::CloseFile(HANDLE file) { Finish(file); }

HANDLE Staging::StartThread(LPTHREAD_START_ROUTINE start, void* parameter, std::function<void()> stop) {
  HANDLE thread = CreateThread(nullptr, 0, start, parameter, 0, nullptr);
  if (thread) stages_.push_back({Kind::kThread, thread, {}, std::move(stop)});
  return thread;
}

void Staging::JoinThread(HANDLE thread) { Finish(thread); }

HANDLE Staging::Release(HANDLE handle) {
  for (std::size_t i = stages_.size(); i-- > 0;) {
    if (stages_[i].handle != handle) continue;
    if (stages_[i].kind == Kind::kLock) GlobalUnlock(handle);
    stages_.erase(stages_.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return handle;
}

void Staging::ReleaseAll() {
  while (!stages_.empty()) {
    Stage s = std::move(stages_.back());
    stages_.pop_back();
    Undo(s);
  }
}

void Staging::Finish(HANDLE handle) {
  for (std::size_t i = stages_.size(); i-- > 0;) {
    if (stages_[i].handle != handle) continue;
    Stage s = std::move(stages_[i]);
    stages_.erase(stages_.begin() + static_cast<std::ptrdiff_t>(i));
    Undo(s);
  }
}

void Staging::Undo(Stage& s) {
  switch (s.kind) {
    case Kind::kBlock:
      GlobalFree(s.handle);
      break;
    case Kind::kLock:
      GlobalUnlock(s.handle);
      break;
    case Kind::kFile:
      CloseHandle(s.handle);
      break;
    case Kind::kTempFile:
      CloseHandle(s.handle);
      DeleteFileA(s.name.c_str());
      break;
    case Kind::kThread:
      if (s.stop) s.stop();
      WaitForSingleObject(s.handle, INFINITE);
      CloseHandle(s.handle);
      break;
  }
}
