// Writing a file without damaging what was there. Every file the host writes for a user
// (documents, clipboard saves, recordings) and for itself (stored settings, the
// clipboard) goes through here.
//
// - A regular file is written whole beside its real location (a symbolic link is
//   followed to it) into a temporary file created exclusively, never through a link, with
//   the old file's permissions and owner; flushed to disk; then renamed over it.
// - A file with further hard links, or in a folder we may not create files in, is written
//   in place once its new contents are complete elsewhere: the links keep sharing it.
// - A device, a FIFO and "-" (standard output) are written through.
// - A file we may not write (read-only, a folder, a missing folder) is refused before any
//   work. The temporary file goes on every failure and on Ctrl-C / SIGTERM.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tovrel::host {

// Whether `path` can be written as above; the reason when it cannot. Touches nothing.
bool CheckWritable(const std::string& path, std::string& error);

// Produces the new contents into a file of ours: an open descriptor and its name (for
// writers that open files by name). False with the reason when it could not.
using FileProducer = std::function<bool(int fd, const std::string& name, std::string& error)>;

bool WriteFileSafely(const std::string& path, const FileProducer& produce, std::string& error);
bool WriteFileSafely(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace tovrel::host
