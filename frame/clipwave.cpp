#include "frame/clipwave.h"

#include <cstring>

#include "frame/messages.h"

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void WriteWavHeader(void* block, int channels, long sampleRate, uint32_t dataBytes) {
  auto* h = static_cast<uint8_t*>(block);
  std::memcpy(h + 0, "RIFF", 4);
  Put32(h + 4, dataBytes + 36);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, 1);
  Put16(h + 22, static_cast<uint16_t>(channels));
  Put32(h + 24, static_cast<uint32_t>(sampleRate));
  Put32(h + 28, static_cast<uint32_t>(channels * sampleRate * 2));
  Put16(h + 32, static_cast<uint16_t>(channels * 2));
  Put16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, dataBytes);
}

bool PlaceOnClipboard(HWND owner, HGLOBAL block, UINT format, const char* caption) {
  bool taken = false;
  bool closed = false;
  if (OpenClipboard(owner)) {
    if (EmptyClipboard()) taken = SetClipboardData(format, block) != nullptr;
    closed = CloseClipboard() != FALSE;
  }
  if (taken && closed) return true;
  ShowError(owner, kClipboardBusyMessage, caption);
  // A block the clipboard took is the clipboard's, even when closing failed.
  if (!taken) GlobalFree(block);
  return false;
}

WavImage ReadWavImage(const void* image, std::size_t size) {
  WavImage w;
  if (!image || size < kWavHeaderBytes) return w;
  const auto* h = static_cast<const uint8_t*>(image);
  w.riff = std::memcmp(h, "RIFF", 4) == 0;
  w.waveFmt = std::memcmp(h + 8, "WAVEfmt ", 8) == 0;
  w.wave = std::memcmp(h + 8, "WAVE", 4) == 0;
  w.fmt = std::memcmp(h + 12, "fmt ", 4) == 0;
  w.dataTag = std::memcmp(h + 36, "data", 4) == 0;
  w.formatTag = Get16(h + 20);
  w.channels = Get16(h + 22);
  w.sampleRate = Get32(h + 24);
  w.bitsPerSample = Get16(h + 34);
  w.dataBytes = Get32(h + 40);
  w.dataFits = w.dataBytes <= size - kWavHeaderBytes;
  w.data = h + kWavHeaderBytes;
  return w;
}
