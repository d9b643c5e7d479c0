// The clipboard WAV image: a canonical 44-byte RIFF/WAVE header followed by 16-bit
// PCM, in one movable shareable block placed under CF_WAVE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/xfm.h"

inline constexpr std::size_t kWavHeaderBytes = 44;

// Writes the canonical header for dataBytes of 16-bit samples at the block's start.
void WriteWavHeader(void* block, int channels, long sampleRate, uint32_t dataBytes);

// A shareable block with room for the header and dataBytes; null when memory runs out.
inline HGLOBAL AllocClipboardWave(std::size_t dataBytes) {
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, kWavHeaderBytes + dataBytes);
}

// Places an unlocked block on the clipboard under the given format. On success the
// clipboard owns the block. On failure the busy message is shown (error icon, the
// given owner and caption), the block is freed, and false is returned.
bool PlaceOnClipboard(HWND owner, HGLOBAL block, UINT format, const char* caption);

// The fields of a WAV image at the fixed offsets of the canonical header.
struct WavImage {
  bool riff = false;          // "RIFF" at 0
  bool waveFmt = false;       // "WAVEfmt " at 8
  bool wave = false;          // "WAVE" at 8
  bool fmt = false;           // "fmt " at 12
  bool dataTag = false;       // "data" at 36
  uint16_t formatTag = 0;     // at 20
  uint16_t channels = 0;      // at 22
  uint32_t sampleRate = 0;    // at 24
  uint16_t bitsPerSample = 0; // at 34
  uint32_t dataBytes = 0;     // at 40
  bool dataFits = false;      // the data bytes lie within the image
  const uint8_t* data = nullptr;  // offset 44
};
// Reads the header of an image of the given size; short images read as all-false.
WavImage ReadWavImage(const void* image, std::size_t size);
