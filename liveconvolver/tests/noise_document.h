// A document of uniform 16-bit noise at 44100 Hz, all of it selected; the same for the same seed.
#pragma once

#include <random>

#include "host/core/document.h"

inline tovrel::host::Document NoiseDocument(int channels, long frames, unsigned seed) {
  tovrel::host::Document d = tovrel::host::Document::Empty(44100, channels);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> v(-9000, 9000);
  d.samples.resize(static_cast<std::size_t>(channels * frames));
  for (auto& s : d.samples) s = static_cast<int16_t>(v(rng));
  d.selStart = 0;
  d.selEnd = frames - 1;
  return d;
}
