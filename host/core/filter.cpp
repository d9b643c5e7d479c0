#include "host/core/filter.h"

#include <algorithm>
#include <cstring>

namespace tovrel::host {

namespace {

constexpr LONG kMaxChunkBytes = 8192;
// Item types asked for on reading: the host's special-data numbers.
constexpr LONG kFirstItemType = 1;
constexpr LONG kLastItemType = 255;
// Longest item taken from a filter.
constexpr DWORD kMaxItemBytes = 1 << 16;

}  // namespace

LONG FilterChunkBytes(LONG announced, int channels) {
  const LONG frame = 2 * std::max(channels, 1);
  LONG chunk = announced > 0 ? std::min(announced, kMaxChunkBytes) : kMaxChunkBytes;
  chunk -= chunk % frame;
  return std::max(chunk, frame);
}

FilterRead ReadThroughFilter(const FilterEntries& e, const std::string& path, HWND window) {
  FilterRead r;
  HANDLE in = e.openInput(path.c_str(), &r.rate, &r.bits, &r.channels, window, &r.bufferSize);
  if (!in) return r;
  r.opened = true;
  r.fileSize = e.fileSize(in);
  r.formatOk = r.bits == 16 && (r.channels == 1 || r.channels == 2) && r.rate > 0 && r.fileSize >= 0 &&
               r.fileSize % (2 * r.channels) == 0;
  r.ok = r.formatOk;
  if (r.ok) {
    r.samples.resize(static_cast<std::size_t>(r.fileSize / 2));
    auto* bytes = reinterpret_cast<BYTE*>(r.samples.data());
    const LONG chunk = FilterChunkBytes(r.bufferSize, r.channels);
    for (LONG at = 0; at < r.fileSize && r.ok; at += chunk) {
      const LONG n = std::min(chunk, r.fileSize - at);
      ++r.chunks;
      r.ok = e.read(in, bytes + at, n) == static_cast<DWORD>(n);
    }
  }
  char optionText[256] = {};
  r.option = e.optionsString(in, optionText);
  optionText[sizeof optionText - 1] = '\0';
  r.optionText = optionText;
  for (LONG type = kFirstItemType; type <= kLastItemType; ++type) {
    const DWORD size = e.canReadSpecial(in, type);
    if (size == 0 || size > kMaxItemBytes) continue;
    std::vector<char> buffer(size + 1, '\0');
    if (e.readSpecial(in, type, buffer.data(), static_cast<LONG>(size)) == 0) continue;
    r.items.push_back({type, static_cast<LONG>(size), std::string(buffer.data(), strnlen(buffer.data(), size))});
  }
  e.closeInput(in);
  return r;
}

FilterWrite WriteThroughFilter(const FilterEntries& e, const std::string& path, LONG rate, int channels,
                               const std::vector<int16_t>& samples, DWORD option,
                               const std::vector<FilterItem>* items) {
  FilterWrite w;
  const LONG total = static_cast<LONG>(samples.size() * 2);
  HANDLE out = e.openOutput(path.c_str(), rate, 16, static_cast<WORD>(channels), total, &w.bufferSize, option);
  if (!out) return w;
  w.opened = true;
  if (items) {
    for (const FilterItem& item : *items) {
      if (!e.canWriteSpecial(out, item.type)) continue;
      // The item goes back in a buffer of the size announced on reading.
      std::vector<char> buffer(static_cast<std::size_t>(std::max<LONG>(item.size, 1)), '\0');
      std::memcpy(buffer.data(), item.text.data(), std::min(item.text.size(), buffer.size() - 1));
      w.specials.emplace_back(item.type, e.writeSpecial(out, item.type, buffer.data(), item.size));
    }
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(samples.data());
  const LONG chunk = FilterChunkBytes(w.bufferSize, channels);
  w.ok = true;
  if (total == 0) w.ok = e.write(out, bytes, 0) == 0;  // an empty document still ends its record
  for (LONG at = 0; at < total && w.ok; at += chunk) {
    const LONG n = std::min(chunk, total - at);
    ++w.chunks;
    w.largestChunk = std::max(w.largestChunk, n);
    w.ok = e.write(out, bytes + at, n) == static_cast<DWORD>(n);
  }
  w.closed = e.closeOutput(out);
  return w;
}

}  // namespace tovrel::host
