#include "host/state.h"

#include "host/session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace tovrel::host {

std::string HomeDirectory() {
  if (const char* home = std::getenv("TOVREL_HOME"); home && *home) return home;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) return std::string(xdg) + "/tovrel";
  if (const char* user = std::getenv("HOME"); user && *user) return std::string(user) + "/.local/state/tovrel";
  return ".tovrel";
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  std::error_code ec;
  fs::path target(path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  const std::string temp = path + ".partial." + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      error = "cannot write \"" + path + "\"";
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    error = "cannot replace \"" + path + "\"";
    return false;
  }
  return true;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<std::vector<uint8_t>> StateStore::LoadBlock(const std::string& module, std::size_t size) const {
  auto bytes = ReadWholeFile(home_ + "/params/" + module + ".blk");
  if (!bytes || bytes->size() != size) return std::nullopt;
  return bytes;
}

bool StateStore::SaveBlock(const std::string& module, const std::vector<uint8_t>& block, std::string& error) const {
  return WriteFileAtomically(home_ + "/params/" + module + ".blk", block, error);
}

bool StateStore::ForgetBlock(const std::string& module) const {
  std::error_code ec;
  return fs::remove(home_ + "/params/" + module + ".blk", ec);
}

// The clipboard folder holds one file per format, named by the format number.
std::vector<portable::ClipboardItem> StateStore::LoadClipboard() const {
  std::vector<portable::ClipboardItem> items;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(home_ + "/clipboard", ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".clip") continue;
    char* end = nullptr;
    unsigned long format = std::strtoul(name.c_str(), &end, 10);
    if (end == name.c_str() || std::string(end) != ".clip" || format == 0 || format > 0xffff) continue;
    if (auto bytes = ReadWholeFile(entry.path().string()))
      items.push_back({static_cast<UINT>(format), std::move(*bytes)});
  }
  return items;
}

bool StateStore::SaveClipboard(const std::vector<portable::ClipboardItem>& items, std::string& error) const {
  const std::string dir = home_ + "/clipboard";
  std::error_code ec;
  fs::create_directories(dir, ec);
  // Write the new items first, then remove the formats the clipboard no longer holds.
  for (const auto& item : items) {
    if (!WriteFileAtomically(dir + "/" + std::to_string(item.format) + ".clip", item.bytes, error)) return false;
  }
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".clip") continue;
    bool kept = false;
    for (const auto& item : items)
      if (entry.path().filename() == std::to_string(item.format) + ".clip") kept = true;
    if (!kept) fs::remove(entry.path(), ec);
  }
  return true;
}

std::string StateStore::TempDirectory() const { return TemporaryFolder(); }

}  // namespace tovrel::host
