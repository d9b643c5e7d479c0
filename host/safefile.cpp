#include "host/safefile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "host/interrupt.h"
#include "host/session.h"

namespace fs = std::filesystem;

namespace tovrel::host {

namespace {

enum class Way { Replace, InPlace, Through, Stdout };

struct Target {
  Way way = Way::Replace;
  std::string path;  // the real file, links followed
  std::string folder;
  bool exists = false;
  struct stat st {};
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string FolderOf(const std::string& path) {
  const fs::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

bool Resolve(const std::string& path, Target& t, std::string& error) {
  if (path == "-") {
    t.way = Way::Stdout;
    t.path = path;
    return true;
  }
  if (path.empty()) return error = "no file name to write", false;
  std::string p = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) return error = "cannot write " + Quoted(path) + ": " + std::strerror(errno), false;
      break;
    }
    if (!S_ISLNK(st.st_mode)) {
      t.exists = true;
      t.st = st;
      break;
    }
    std::error_code ec;
    const fs::path link = fs::read_symlink(p, ec);
    if (ec || hops == 40) return error = "cannot write " + Quoted(path) + ": its link cannot be followed", false;
    p = link.is_absolute() ? link.string() : (fs::path(FolderOf(p)) / link).string();
  }
  t.path = p;
  t.folder = FolderOf(p);
  const bool folderWritable = ::access(t.folder.c_str(), W_OK | X_OK) == 0;
  if (t.exists) {
    const mode_t m = t.st.st_mode;
    if (S_ISDIR(m)) return error = "cannot write " + Quoted(path) + ": it is a folder", false;
    if (S_ISREG(m)) {
      // A file without any write permission is kept even from a user who could override it.
      if (::access(p.c_str(), W_OK) != 0 || (m & 0222) == 0)
        return error = "cannot write " + Quoted(path) + ": it is read-only", false;
      t.way = t.st.st_nlink > 1 || !folderWritable ? Way::InPlace : Way::Replace;
      return true;
    }
    if (S_ISCHR(m) || S_ISBLK(m) || S_ISFIFO(m)) {
      if (::access(p.c_str(), W_OK) != 0)
        return error = "cannot write " + Quoted(path) + ": " + std::strerror(errno), false;
      t.way = Way::Through;
      return true;
    }
    return error = "cannot write " + Quoted(path) + ": it is not a file", false;
  }
  struct stat folder {};
  if (::stat(t.folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
    return error = "cannot write " + Quoted(path) + ": there is no folder " + Quoted(t.folder), false;
  if (!folderWritable)
    return error = "cannot write " + Quoted(path) + ": the folder " + Quoted(t.folder) + " is not writable", false;
  t.way = Way::Replace;
  return true;
}

// A file of ours, created exclusively (never through a link), removed unless kept.
struct Temporary {
  std::string path;
  int fd = -1;
  int slot = -1;

  bool Create(const std::string& folder, const std::string& stem, mode_t mode) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[17];
      std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
      const std::string name = (fs::path(folder) / (stem + suffix)).string();
      const int f = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
      if (f >= 0) {
        fd = f;
        path = name;
        slot = RegisterTemporary(path.c_str());
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  void Keep() {
    UnregisterTemporary(slot);
    slot = -1;
    path.clear();
  }
  ~Temporary() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
    UnregisterTemporary(slot);
  }
};

bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR && !Interrupted()) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CopyAll(int from, int to) {
  if (::lseek(from, 0, SEEK_SET) != 0) return false;
  std::vector<uint8_t> chunk(1 << 20);
  for (;;) {
    const ssize_t n = ::read(from, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR && !Interrupted()) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (Interrupted() || !WriteAll(to, chunk.data(), static_cast<std::size_t>(n))) return false;
  }
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The complete contents, staged in `temp`, written into the target itself.
bool WriteInto(const Target& t, Temporary& temp, const std::string& path, std::string& error) {
  const off_t size = ::lseek(temp.fd, 0, SEEK_END);
  int fd = 1;
  if (t.way == Way::Stdout) {
    std::fflush(stdout);
  } else {
    do {
      fd = ::open(t.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (t.way == Way::InPlace ? O_NOFOLLOW : 0));
    } while (fd < 0 && errno == EINTR && !Interrupted());
    if (fd < 0) return error = "cannot write " + Quoted(path) + ": " + std::strerror(errno), false;
  }
  bool ok = true;
  if (t.way == Way::InPlace && size > t.st.st_size) {
    // Room for the whole file first, so that a full disk leaves the old contents whole.
    const int r = ::posix_fallocate(fd, 0, size);
    if (r == ENOSPC || r == EDQUOT) {
      ::close(fd);
      return error = "cannot write " + Quoted(path) + ": no room on the disk; it was left as it was", false;
    }
  }
  ok = size >= 0 && CopyAll(temp.fd, fd);
  if (ok && t.way == Way::InPlace) ok = ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
  if (fd != 1) ok = ::close(fd) == 0 && ok;
  if (!ok) {
    error = Interrupted() ? "interrupted while writing " + Quoted(path)
                          : "cannot write " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool CheckWritable(const std::string& path, std::string& error) {
  Target t;
  return Resolve(path, t, error);
}

bool WriteFileSafely(const std::string& path, const FileProducer& produce, std::string& error) {
  CancellableWork work;
  Target t;
  if (!Resolve(path, t, error)) return false;
  Temporary temp;
  const bool beside = t.way == Way::Replace;
  const std::string stem = beside ? "." + fs::path(t.path).filename().string() + ".tovrel-" : "tovrel-out-";
  if (!temp.Create(beside ? t.folder : TemporaryFolder(), stem, beside && !t.exists ? 0666 : 0600))
    return error = "cannot write " + Quoted(path) + ": no temporary file: " + std::strerror(errno), false;
  if (beside && t.exists) {
    // The replacement keeps the old file's owner (where we may) and permissions.
    if (t.st.st_uid != ::geteuid() || t.st.st_gid != ::getegid())
      if (::fchown(temp.fd, t.st.st_uid, t.st.st_gid) != 0) {
        // Not ours to give away: the file becomes ours, with its permissions.
      }
    if (::fchmod(temp.fd, t.st.st_mode & 07777) != 0) return error = "cannot write " + Quoted(path) + ": its permissions cannot be kept", false;
  }
  std::string why;
  if (!produce(temp.fd, temp.path, why)) {
    error = why.empty() ? "cannot write " + Quoted(path) : why;
    return false;
  }
  if (Interrupted()) return error = "interrupted: " + Quoted(path) + " was not written", false;
  if (!beside) return WriteInto(t, temp, path, error);
  if (::fsync(temp.fd) != 0)
    return error = "cannot write " + Quoted(path) + ": the disk refused the data", false;
  if (::rename(temp.path.c_str(), t.path.c_str()) != 0)
    return error = "cannot write " + Quoted(path) + ": " + std::strerror(errno), false;
  temp.Keep();
  SyncFolder(t.folder);
  return true;
}

bool WriteFileSafely(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  return WriteFileSafely(path, [&](int fd, const std::string&, std::string& why) {
    if (WriteAll(fd, bytes.data(), bytes.size())) return true;
    why = "cannot write " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }, error);
}

}  // namespace tovrel::host
