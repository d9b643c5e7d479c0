// The wave format the wave device tests play and record: 16-bit PCM.
#pragma once

#include "platform/win.h"

inline WAVEFORMATEX Pcm16(WORD channels, DWORD rate) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<WORD>(channels * 2);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}
