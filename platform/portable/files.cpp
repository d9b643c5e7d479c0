// Files: CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSize, CloseHandle (for
// files; thread handles pass on to threads.cpp),
// DeleteFileA over POSIX descriptors, and the local time.
//
// A file handle is an entry of a table, numbered from the backend's one handle counter.
// A file opened without sharing holds an exclusive lock (flock) while open, and shared
// opens a shared one: opening a file another handle holds against it fails with a
// sharing violation, as on Windows.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

struct FileState {
  std::mutex mutex;
  std::unordered_map<uint32_t, int> files;  // handle -> descriptor
  // Fault injection: the call of each kind that fails, and the calls counted since arming.
  long failAt[4] = {0, 0, 0, 0};
  long calls[4] = {0, 0, 0, 0};
};

FileState& State() {
  static FileState* state = new FileState;  // never destroyed: used until process exit
  return *state;
}

// The descriptor behind a handle, or -1.
int Descriptor(HANDLE file) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return -1;
  auto& s = State();
  std::lock_guard lock(s.mutex);
  auto it = s.files.find(detail::HandleValue(file));
  return it == s.files.end() ? -1 : it->second;
}

}  // namespace

namespace detail {

void ArmFileFaults(const Faults& plan) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  const long at[4] = {plan.failFileCreate, plan.failFileRead, plan.failFileWrite, plan.failFileSeek};
  for (int k = 0; k < 4; ++k) {
    s.failAt[k] = at[k];
    s.calls[k] = 0;
  }
}

bool FileCallFails(FileCall call) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  const int k = static_cast<int>(call);
  return ++s.calls[k] == s.failAt[k];
}

}  // namespace detail
}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (name == nullptr || tp::detail::FileCallFails(tp::detail::FileCall::Create)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const std::string real = tp::RealFileName(name);
  if (real.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int mode = 0;
  const bool reads = (access & GENERIC_READ) != 0, writes = (access & GENERIC_WRITE) != 0;
  if (reads && writes) mode = O_RDWR;
  else if (writes) mode = O_WRONLY;
  else mode = O_RDONLY;
  switch (disposition) {
    case CREATE_NEW: mode |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: mode |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: mode |= O_CREAT; break;
    case TRUNCATE_EXISTING: mode |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  const int fd = ::open(real.c_str(), mode | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? (disposition == OPEN_EXISTING ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND)
                                 : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // Windows does not open folders as files
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (::flock(fd, (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  const uint32_t handle = tp::detail::NextHandle();
  auto& s = tp::State();
  std::lock_guard lock(s.mutex);
  s.files[handle] = fd;
  SetLastError(ERROR_SUCCESS);
  return tp::detail::MakeHandle<HANDLE>(handle);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
  if (bytesRead != nullptr) *bytesRead = 0;
  const int fd = tp::Descriptor(file);
  if (fd < 0 || (buffer == nullptr && bytes > 0)) return FALSE;
  if (tp::detail::FileCallFails(tp::detail::FileCall::Read)) return FALSE;
  DWORD done = 0;
  while (done < bytes) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FALSE;
    if (n == 0) break;  // end of file: a short read that succeeds
    done += static_cast<DWORD>(n);
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  const int fd = tp::Descriptor(file);
  if (fd < 0 || (buffer == nullptr && bytes > 0)) return FALSE;
  if (tp::detail::FileCallFails(tp::detail::FileCall::Write)) return FALSE;
  DWORD done = 0;
  while (done < bytes) {
    const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (bytesWritten != nullptr) *bytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  const int fd = tp::Descriptor(file);
  if (fd < 0 || tp::detail::FileCallFails(tp::detail::FileCall::Seek)) return INVALID_SET_FILE_POINTER;
  int64_t offset = distance;
  if (distanceHigh != nullptr)
    offset = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                  static_cast<uint32_t>(distance));
  const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) return INVALID_SET_FILE_POINTER;
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (at < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
  return static_cast<DWORD>(static_cast<uint64_t>(at) & 0xFFFFFFFFu);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  const int fd = tp::Descriptor(file);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return INVALID_FILE_SIZE;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL WINAPI CloseHandle(HANDLE object) {
  int fd = -1;
  {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    auto it = s.files.find(tp::detail::HandleValue(object));
    if (object == nullptr) return FALSE;
    if (it == s.files.end()) return tp::detail::CloseThreadHandle(tp::detail::HandleValue(object)) ? TRUE : FALSE;
    fd = it->second;
    s.files.erase(it);
  }
  return ::close(fd) == 0 ? TRUE : FALSE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
  if (name == nullptr) return FALSE;
  const std::string real = tp::RealFileName(name);
  return !real.empty() && ::unlink(real.c_str()) == 0 ? TRUE : FALSE;
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  if (time == nullptr) return;
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  ::localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // extern "C"
