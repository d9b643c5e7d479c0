#include "host/state.h"

#include "frame/clipwave.h"
#include "frame/paramblock.h"
#include "host/safefile.h"
#include "host/session.h"

#include <cmath>
#include <cstdio>
#include <cstring>
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

namespace {

// A stored block: the tag, the type string's length and letters, the block's size, a
// CRC-32 of the block, the block.
constexpr char kBlockTag[8] = {'T', 'V', 'R', 'B', 'L', 'K', '1', '\n'};

uint32_t Crc32(const uint8_t* p, std::size_t n) {
  uint32_t crc = 0xffffffffu;
  for (std::size_t k = 0; k < n; ++k) {
    crc ^= p[k];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Whether each field of the block reads as its letter says.
std::string FieldProblem(const std::string& typeString, const std::vector<uint8_t>& block) {
  std::size_t offset = 0;
  for (std::size_t k = 0; k < typeString.size(); ++k) {
    const uint8_t* p = block.data() + offset;
    const std::string field = "field " + std::to_string(k + 1) + " ('" + typeString[k] + "')";
    if (typeString[k] == 'f') {
      float v;
      std::memcpy(&v, p, 4);
      if (!std::isfinite(v)) return field + " is not a number";
    } else if (typeString[k] == 'd') {
      double v;
      std::memcpy(&v, p, 8);
      if (!std::isfinite(v)) return field + " is not a number";
    } else if (typeString[k] == 's') {
      if (std::memchr(p, 0, 256) == nullptr) return field + " is not a terminated text";
    }
    offset += TypeLetterSize(typeString[k]);
  }
  return {};
}

}  // namespace

std::vector<uint8_t> BlockFileImage(const std::string& typeString, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> out(kBlockTag, kBlockTag + sizeof kBlockTag);
  Put32(out, static_cast<uint32_t>(typeString.size()));
  out.insert(out.end(), typeString.begin(), typeString.end());
  Put32(out, static_cast<uint32_t>(block.size()));
  Put32(out, Crc32(block.data(), block.size()));
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

std::optional<std::vector<uint8_t>> ReadBlockFile(const std::vector<uint8_t>& f, const std::string& typeString,
                                                  std::size_t size, std::string& problem) {
  const std::size_t head = sizeof kBlockTag + 4 + typeString.size() + 8;
  if (f.size() < sizeof kBlockTag + 4 || std::memcmp(f.data(), kBlockTag, sizeof kBlockTag) != 0)
    return problem = "it is not a stored parameter block", std::nullopt;
  const uint32_t letters = Get32(&f[sizeof kBlockTag]);
  if (letters != typeString.size() || f.size() < head ||
      std::memcmp(&f[sizeof kBlockTag + 4], typeString.data(), typeString.size()) != 0)
    return problem = "it was stored for another layout of the settings", std::nullopt;
  if (Get32(&f[head - 8]) != size || f.size() != head + size)
    return problem = "it is cut short or has bytes to spare", std::nullopt;
  std::vector<uint8_t> block(f.begin() + static_cast<std::ptrdiff_t>(head), f.end());
  if (Get32(&f[head - 4]) != Crc32(block.data(), block.size()))
    return problem = "its contents are damaged", std::nullopt;
  if (TypeStringSize(typeString) == size) {
    if (std::string field = FieldProblem(typeString, block); !field.empty())
      return problem = field, std::nullopt;
  }
  return block;
}

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

std::string WaveDamage(const std::vector<uint8_t>& image) {
  const WavImage w = ReadWavImage(image.data(), image.size());
  if (image.size() < kWavHeaderBytes) return "it is shorter than a WAV header";
  if (!w.riff || !w.waveFmt || !w.dataTag) return "it has no canonical WAV header";
  if (w.formatTag != 1) return "its samples are not PCM";
  if (w.channels < 1 || w.channels > 2) return "its header announces " + std::to_string(w.channels) + " channels";
  if (w.sampleRate < 1 || w.sampleRate > 1000000)
    return "its header announces " + std::to_string(w.sampleRate) + " Hz";
  if (w.bitsPerSample == 0 || w.bitsPerSample > 32 || w.bitsPerSample % 8 != 0)
    return "its header announces " + std::to_string(w.bitsPerSample) + "-bit samples";
  if (!w.dataFits)
    return "its header announces " + std::to_string(w.dataBytes) + " bytes of samples and it holds " +
           std::to_string(image.size() - kWavHeaderBytes);
  if (w.dataBytes % (w.channels * w.bitsPerSample / 8u) != 0) return "its samples end within a frame";
  return {};
}

std::string StateStore::TempDirectory() const { return TemporaryFolder(); }

}  // namespace tovrel::host
