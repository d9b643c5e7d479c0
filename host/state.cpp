#include "host/state.h"

#include "host/safefile.h"
#include "host/session.h"

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

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

namespace {

// A file of the state, its folder made first.
bool WriteStateFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  return WriteFileSafely(path, bytes, error);
}

}  // namespace

std::optional<std::vector<uint8_t>> StateStore::LoadBlock(const std::string& module, const std::string& typeString,
                                                          std::size_t size, std::string* problem) const {
  if (problem) problem->clear();
  const std::string path = home_ + "/params/" + module + ".blk";
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  auto bytes = ReadWholeFile(path);
  std::string why = "it cannot be read";
  std::optional<std::vector<uint8_t>> block;
  if (bytes) block = ReadBlockFile(*bytes, typeString, size, why);
  if (!block && problem) *problem = "the stored settings of " + module + " (\"" + path + "\") are not used: " + why;
  return block;
}

bool StateStore::SaveBlock(const std::string& module, const std::string& typeString,
                           const std::vector<uint8_t>& block, std::string& error) const {
  return WriteStateFile(home_ + "/params/" + module + ".blk", BlockFileImage(typeString, block), error);
}

bool StateStore::ForgetBlock(const std::string& module) const {
  std::error_code ec;
  return fs::remove(home_ + "/params/" + module + ".blk", ec);
}

// The clipboard folder holds one file per format, named by the format number.
std::vector<portable::ClipboardItem> StateStore::LoadClipboard(std::vector<std::string>* problems) const {
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
    else if (problems)
      problems->push_back("the stored clipboard's \"" + entry.path().string() + "\" cannot be read");
  }
  return items;
}

bool StateStore::SaveClipboard(const std::vector<portable::ClipboardItem>& items, std::string& error) const {
  const std::string dir = home_ + "/clipboard";
  std::error_code ec;
  fs::create_directories(dir, ec);
  // Write the new items first, then remove the formats the clipboard no longer holds.
  for (const auto& item : items) {
    if (!WriteStateFile(dir + "/" + std::to_string(item.format) + ".clip", item.bytes, error)) return false;
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

std::string StateStore::WindowsFolder() const {
  const fs::path folder = fs::path(home_) / "windows";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::exists(folder / "Vorn.ini", ec)) {
    std::string error;
    const std::string ini = "[Vorn]\r\nClipboard=C:\\WINDOWS\\clipboard.wav\r\n";
    WriteStateFile((folder / "Vorn.ini").string(), std::vector<uint8_t>(ini.begin(), ini.end()), error);
  }
  // The wave the clipboard holds (its CF_WAVE item), under the name Vorn.ini gives.
  const fs::path wave = folder / "clipboard.wav";
  if (!fs::is_symlink(wave, ec) && !fs::exists(wave, ec))
    fs::create_symlink(fs::path("..") / "clipboard" / (std::to_string(CF_WAVE) + ".clip"), wave, ec);
  return folder.string();
}

}  // namespace tovrel::host
