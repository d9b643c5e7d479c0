#include "liveconvolver/livefold/sources.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "liveconvolver/livefold/display.h"
#include "liveconvolver/routing.h"

#include "frame/messages.h"
#include "frame/paramblock.h"

namespace {

constexpr std::size_t kHeaderBytes = 44;
// Vorn.ini is a small text file; more than this is not read.
constexpr DWORD kMaxIniBytes = 1 << 20;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
bool Tag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

// Data of at least one frame lying within `size` bytes: whole frames of it, else NoData.
WaveLayout WithData(WaveLayout w, uint64_t offset, uint64_t bytes, uint64_t size) {
  if (w.problem != WaveProblem::None) return w;
  const uint64_t frame = 2u * static_cast<uint64_t>(w.channels);
  if (offset > size || bytes > size - offset || bytes < frame) {
    w.problem = WaveProblem::NoData;
    return w;
  }
  w.dataOffset = offset;
  w.dataBytes = static_cast<uint32_t>(bytes - bytes % frame);
  return w;
}

// The bits check comes after the data chunk is found.
WaveLayout CheckBits(WaveLayout w) {
  if (w.problem == WaveProblem::None && w.bits != 16) w.problem = WaveProblem::Bits;
  return w;
}

// ---- Blocks of this module --------------------------------------------------------------

// The blocks this module made and has not released. Only these are ever locked or freed
// through a parameter block's handle fields.
std::vector<HGLOBAL>& OwnBlocks() {
  static std::vector<HGLOBAL> blocks;
  return blocks;
}

bool Own(DWORD field) {
  if (field == 0) return false;
  const auto& blocks = OwnBlocks();
  return std::find(blocks.begin(), blocks.end(), FieldToHandle<HGLOBAL>(field)) != blocks.end();
}

HGLOBAL NewBlock(std::size_t bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (block) OwnBlocks().push_back(block);
  return block;
}

void ReleaseBlock(DWORD& field) {
  if (Own(field)) {
    HGLOBAL block = FieldToHandle<HGLOBAL>(field);
    auto& blocks = OwnBlocks();
    blocks.erase(std::remove(blocks.begin(), blocks.end(), block), blocks.end());
    GlobalFree(block);
  }
  field = 0;
}

// ---- Messages ------------------------------------------------------------------------------

void LoadError(HWND dialog, const char* text, const char* caption = kLoadCaption) {
  MessageBeep(MB_ICONEXCLAMATION);
  ShowError(dialog, text, caption);
}

bool Refuse(HWND dialog, WaveProblem problem) {
  switch (problem) {
    case WaveProblem::Format: LoadError(dialog, kFormatMessage); break;
    case WaveProblem::NoData: LoadError(dialog, kNoDataMessage); break;
    case WaveProblem::Bits: LoadError(dialog, kBitsMessage); break;
    case WaveProblem::None: return true;
  }
  return false;
}

// ---- Files -----------------------------------------------------------------------------------

class File {
 public:
  explicit File(HANDLE handle) : handle_(handle) {}
  ~File() {
    if (ok()) CloseHandle(handle_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  uint64_t Size() const {
    DWORD high = 0;
    const DWORD low = GetFileSize(handle_, &high);
    if (low == INVALID_FILE_SIZE && high == 0) return 0;
    return static_cast<uint64_t>(high) << 32 | low;
  }
  // Wave files address their chunks with 32-bit lengths; reads lie below 2 GB.
  bool ReadAt(uint64_t offset, void* buffer, std::size_t bytes) {
    if (offset > 0x7FFFFFFFu || bytes > 0x7FFFFFFFu) return false;
    if (SetFilePointer(handle_, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
      return false;
    DWORD done = 0;
    return ReadFile(handle_, buffer, static_cast<DWORD>(bytes), &done, nullptr) && done == bytes;
  }

 private:
  HANDLE handle_;
};

bool ReadChunk(void* file, uint64_t offset, uint8_t* buffer, std::size_t bytes) {
  return static_cast<File*>(file)->ReadAt(offset, buffer, bytes);
}

// The samples of a response, as read.
struct Loaded {
  WaveLayout layout;
  HGLOBAL samples = nullptr;
};

// Copies `bytes` from `from` into a new block of this module.
HGLOBAL CopyIntoBlock(const void* from, std::size_t bytes) {
  HGLOBAL block = NewBlock(bytes);
  void* to = block ? GlobalLock(block) : nullptr;
  if (!to) {
    DWORD field = HandleToField(block);
    ReleaseBlock(field);
    return nullptr;
  }
  std::memcpy(to, from, bytes);
  GlobalUnlock(block);
  return block;
}

bool LoadFile(HWND dialog, const std::string& path, Loaded& out) {
  File file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) {
      MessageBoxA(dialog, (path + kInUseMessage).c_str(), kInUseCaption, MB_OK | MB_ICONEXCLAMATION);
    } else {
      LoadError(dialog, kNoDataMessage);
    }
    return false;
  }
  out.layout = ParseWaveFile(&file, ReadChunk, file.Size());
  if (!Refuse(dialog, out.layout.problem)) return false;
  HGLOBAL block = NewBlock(out.layout.dataBytes);
  void* to = block ? GlobalLock(block) : nullptr;
  const bool read = to && file.ReadAt(out.layout.dataOffset, to, out.layout.dataBytes);
  if (to) GlobalUnlock(block);
  DWORD field = HandleToField(block);
  if (!read) {
    ReleaseBlock(field);
    if (to) LoadError(dialog, kNoDataMessage);
    return false;
  }
  out.samples = block;
  return true;
}

bool LoadWindowsClipboard(HWND dialog, Loaded& out) {
  if (!OpenClipboard(dialog)) return false;
  bool ok = false, parsed = false;
  if (HANDLE data = GetClipboardData(CF_WAVE)) {
    if (const void* image = GlobalLock(data)) {
      parsed = true;
      out.layout = ParseClipboardWave(static_cast<const uint8_t*>(image), GlobalSize(data));
      if (out.layout.problem == WaveProblem::None) {
        out.samples = CopyIntoBlock(static_cast<const uint8_t*>(image) + out.layout.dataOffset, out.layout.dataBytes);
        ok = out.samples != nullptr;
      }
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  // The message comes after the clipboard is given back.
  if (parsed && !ok) Refuse(dialog, out.layout.problem);
  return ok;
}

// The file dialog for response `which`; the chosen path, or empty when cancelled.
std::string ChooseFile(HWND dialog, LiveParams& p) {
  static const char kFilters[] = "Wav Files (*.wav)\0*.wav\0All (*.*)\0*.*\0";
  char file[256] = "*.wav";
  char directory[256];
  CopyField(directory, std::string_view(p.fileDirectory, strnlen(p.fileDirectory, sizeof p.fileDirectory)));
  OPENFILENAMEA ofn;
  std::memset(&ofn, 0, sizeof ofn);
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = kFilters;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrInitialDir = directory[0] ? directory : nullptr;
  ofn.lpstrTitle = "Open WAV File";
  ofn.Flags = OFN_LONGNAMES | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_SHOWHELP;
  if (!GetOpenFileNameA(&ofn)) return std::string();
  const std::string path(file, strnlen(file, sizeof file));
  CopyField(p.fileDirectory, DoubledDirectory(path));
  return path;
}

void ClearResponse(LiveParams& p, int which) {
  ReleaseBlocks(p, which);
  p.responseChannels[which] = 0;
  p.responseRate[which] = 0;
  p.responseFrames[which] = 0;
  p.responseSource[which] = kSourceNone;
  p.responseEnergy[which] = 0;
  std::memset(p.responsePath[which], 0, sizeof p.responsePath[which]);
  p.responseLetter[which] = 'x';
  p.routingMask &= ~static_cast<LONG>(0xF << (4 * which));
  UpdateRouting(p);
}

}  // namespace

WaveLayout ReadWaveHeader(const uint8_t* header, std::size_t size) {
  WaveLayout w;
  if (header == nullptr || size < kHeaderBytes || !Tag(header, "RIFF") || !Tag(header + 8, "WAVE") ||
      !Tag(header + 12, "fmt "))
    return w;
  w.channels = Le16(header + 22);
  if (w.channels != 1 && w.channels != 2) return w;
  w.rate = static_cast<long>(Le32(header + 24));
  w.bits = Le16(header + 34);
  w.problem = WaveProblem::None;
  return w;
}

WaveLayout ParseClipboardWave(const uint8_t* image, std::size_t size) {
  WaveLayout w = ReadWaveHeader(image, size);
  if (w.problem != WaveProblem::None) return w;
  if (!Tag(image + 36, "data")) {
    w.problem = WaveProblem::NoData;
    return w;
  }
  w = CheckBits(w);
  return WithData(w, kHeaderBytes, Le32(image + 40), size);
}

WaveLayout ParseWaveFile(void* file, ChunkReader read, uint64_t size) {
  uint8_t header[kHeaderBytes];
  WaveLayout w = ReadWaveHeader(header, read(file, 0, header, sizeof header) ? sizeof header : 0);
  if (w.problem != WaveProblem::None) return w;
  // The chunks from the first one after "WAVE" ("fmt " itself, whatever its length).
  uint64_t at = 12;
  for (;;) {
    uint8_t chunk[8];
    if (at + 8 > size || !read(file, at, chunk, sizeof chunk)) {
      w.problem = WaveProblem::NoData;
      return w;
    }
    const uint64_t length = Le32(chunk + 4);
    if (Tag(chunk, "data")) return WithData(CheckBits(w), at + 8, length, size);
    at += 8 + length + (length & 1);
  }
}

std::string HostClipboardFile() {
  char system[MAX_PATH + 1] = {0};
  const UINT n = GetSystemDirectoryA(system, sizeof system);
  if (n == 0 || n >= sizeof system) return std::string();
  std::string windows(system, n);
  const std::size_t cut = windows.rfind('\\');
  if (cut == std::string::npos) return std::string();
  windows.resize(cut);
  File ini(CreateFileA((windows + "\\Vorn.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!ini.ok()) return std::string();
  const uint64_t size = std::min<uint64_t>(ini.Size(), kMaxIniBytes);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size == 0 || !ini.ReadAt(0, text.data(), text.size())) return std::string();
  const std::size_t key = text.find("Clipboard=");
  if (key == std::string::npos) return std::string();
  const std::size_t from = key + std::strlen("Clipboard=");
  // The name ends at its first '.' (its extension follows), or with its line.
  const std::size_t end = text.find_first_of(".\r\n", from);
  const std::string name = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
  return name.empty() ? std::string() : name + ".wav";
}

std::string DoubledDirectory(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string out;
  for (std::size_t k = 0; slash != std::string::npos && k <= slash; ++k) {
    out += path[k];
    if (path[k] == '\\') out += '\\';
  }
  return out;
}

bool LiveSampleBlock(const LiveParams& p, int which) {
  if (!Own(p.responseSamples[which]) || p.responseFrames[which] <= 0 ||
      (p.responseChannels[which] != 1 && p.responseChannels[which] != 2))
    return false;
  const uint64_t bytes = 2u * static_cast<uint64_t>(p.responseChannels[which]) *
                         static_cast<uint64_t>(p.responseFrames[which]);
  return GlobalSize(FieldToHandle<HGLOBAL>(p.responseSamples[which])) >= bytes;
}

void ReleaseBlocks(LiveParams& p, int which) {
  // The fields are packed: released through copies, then zeroed.
  DWORD samples = p.responseSamples[which], view = p.responseDisplay[which];
  ReleaseBlock(samples);
  ReleaseBlock(view);
  p.responseSamples[which] = 0;
  p.responseDisplay[which] = 0;
}

bool LoadResponse(HWND dialog, LiveParams& p, int which, int source, bool reload) {
  if (which == 1 && p.responseSource[0] == kSourceNone) {
    LoadError(dialog, kLoadSecondFirstMessage, kLoadRuleCaption);
    return false;
  }
  Loaded loaded;
  std::string path;
  switch (source) {
    case kSourceFile:
      path = reload ? std::string(p.responsePath[which], strnlen(p.responsePath[which], sizeof p.responsePath[which]))
                    : ChooseFile(dialog, p);
      if (path.empty()) {
        if (reload) LoadError(dialog, kNoDataMessage);
        return false;
      }
      if (!LoadFile(dialog, path, loaded)) return false;
      break;
    case kSourceWindowsClipboard:
      if (!LoadWindowsClipboard(dialog, loaded)) return false;
      break;
    case kSourceHostClipboard: {
      const std::string file = HostClipboardFile();
      if (file.empty()) {
        LoadError(dialog, kNoDataMessage);
        return false;
      }
      if (!LoadFile(dialog, file, loaded)) return false;
      break;
    }
    default:
      return false;
  }

  // The new response replaces the old one.
  ReleaseBlocks(p, which);
  const WaveLayout& w = loaded.layout;
  p.responseChannels[which] = static_cast<int16_t>(w.channels);
  p.responseRate[which] = static_cast<LONG>(w.rate);
  p.responseSamples[which] = HandleToField(loaded.samples);
  p.responseFrames[which] = static_cast<LONG>(w.dataBytes / (2u * static_cast<uint32_t>(w.channels)));
  p.responseSource[which] = static_cast<int16_t>(source);
  if (source == kSourceFile) CopyField(p.responsePath[which], path);
  SetDlgItemTextA(dialog, kStatusLine, which == 0 ? "Calculating IR1 Energy..." : "Calculating IR2 Energy...");
  if (const void* samples = GlobalLock(loaded.samples)) {
    const auto* s = static_cast<const int16_t*>(samples);
    // The waveform view's data (none when memory is short: the view says not loaded).
    if (HGLOBAL view = PrepareResponseView(s, p.responseFrames[which], w.channels)) {
      OwnBlocks().push_back(view);
      p.responseDisplay[which] = HandleToField(view);
    }
    p.responseEnergy[which] = ResponseEnergy(std::span(s, w.dataBytes / 2));
    GlobalUnlock(loaded.samples);
  }
  SetDlgItemTextA(dialog, kStatusLine, "Done");
  SetDlgItemTextA(dialog, kStatusLine, "");
  // A new response starts unrouted; one reloaded as the dialog opens keeps its routing.
  if (!reload) p.routingMask &= ~static_cast<LONG>(0xF << (4 * which));
  UpdateRouting(p);
  return true;
}

bool UnloadResponse(HWND dialog, LiveParams& p, int which) {
  if (which == 0 && p.responseSource[1] != kSourceNone) {
    LoadError(dialog, kUnloadFirstMessage, kUnloadRuleCaption);
    return false;
  }
  ClearResponse(p, which);
  return true;
}

bool ReloadResponses(HWND dialog, LiveParams& p) {
  // Handles kept from before are never used: the blocks come again from their sources.
  for (int which = 0; which < 2; ++which)
    if (!Own(p.responseSamples[which])) p.responseSamples[which] = 0;
  for (int which = 0; which < 2; ++which)
    if (!Own(p.responseDisplay[which])) p.responseDisplay[which] = 0;
  bool ok = true;
  for (int which = 0; which < 2; ++which) {
    const int source = p.responseSource[which];
    if (source == kSourceNone) continue;
    if (source < kSourceFile || source > kSourceHostClipboard || !LoadResponse(dialog, p, which, source, true)) {
      ok = false;
      ClearResponse(p, which);
      if (which == 0) ClearResponse(p, 1);
      break;
    }
  }
  return ok;
}
