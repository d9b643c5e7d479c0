#include "liveconvolver/routing.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "frame/blockconv.h"

namespace {

// Letters by path set (LL = 1, LR = 2, RL = 4, RR = 8).
constexpr char kLetters[17] = "xabcdglo" "ehmpfinq";

}  // namespace

char RoutingLetter(unsigned pathSet) { return kLetters[pathSet & 0xFu]; }

int PathSetOf(char letter) {
  if (letter == '\0') return -1;
  const char* at = std::strchr(kLetters, letter);
  return at ? static_cast<int>(at - kLetters) : -1;
}

RoutingLetters LettersFromMask(uint32_t mask) {
  RoutingLetters letters;
  letters.first = RoutingLetter(ResponsePaths(mask, 0));
  letters.second = RoutingLetter(ResponsePaths(mask, 1));
  letters.combined = RoutingLetter(ResponsePaths(mask, 0) | ResponsePaths(mask, 1));
  return letters;
}

bool LetterIn(const char* set, char letter) { return letter != '\0' && std::strchr(set, letter) != nullptr; }

long FilterLength(uint32_t mask, long firstFrames, long secondFrames) {
  const long m1 = std::max(1L, firstFrames), m2 = std::max(1L, secondFrames);
  const bool first = Routed(mask, 0), second = Routed(mask, 1);
  if (first && second) {
    if (!Cascade(mask)) return std::max(m1, m2);
    // A sum past any size a run could take stays a length that no FFT size holds.
    return m1 > 0x40000000L - m2 ? 0x40000000L : m1 + m2 - 1;
  }
  return first ? m1 : second ? m2 : 1;
}

long PlannedFftSize(long filterFrames, long selectionFrames) {
  const long p = FilterPowerOfTwo(filterFrames);
  // Far beyond any memory: a size that fails the fitting rather than one that overflows.
  if (p > (1L << 28)) return 1L << 30;
  if (filterFrames < selectionFrames) return 4 * p;
  return CheapestFftSize(filterFrames, selectionFrames, 2 * p);
}

long RoutingFftSize(uint32_t mask, long firstFrames, long secondFrames, long selectionFrames) {
  if (ResponsePaths(mask, 0) == 0 && ResponsePaths(mask, 1) == 0) return 0;
  return PlannedFftSize(FilterLength(mask, firstFrames, secondFrames), selectionFrames);
}

double ResponseEnergy(std::span<const int16_t> samples) {
  // Exact: every square and every partial sum below 2^53 is a whole number.
  double sum = 0;
  for (int16_t s : samples) sum += static_cast<double>(s) * s;
  return sum;
}

float BaseGain(uint32_t mask, double firstEnergy, double secondEnergy, double selectionEnergy, long fftSize) {
  const bool first = Routed(mask, 0), second = Routed(mask, 1);
  if (!first && !second) return 1.0f;
  const double n = static_cast<double>(fftSize);
  const double r1 = std::sqrt(std::max(0.0, firstEnergy) / n), r2 = std::sqrt(std::max(0.0, secondEnergy) / n);
  double divisor;
  if (first && second && Cascade(mask)) divisor = r2 * r1 * selectionEnergy * n * n;
  else divisor = (first && second ? std::max(r1, r2) : first ? r1 : r2) * selectionEnergy * n;
  const double g = 32767.0 / divisor / n;
  if (!(divisor > 0) || !std::isfinite(g)) return 0.0f;
  return static_cast<float>(std::min(g, static_cast<double>(FLT_MAX)));
}

float PlaybackGain(float baseGain, int scalingDb) {
  const double g = static_cast<double>(baseGain) * std::pow(10.0, 0.1 * scalingDb);
  if (!std::isfinite(g)) return baseGain == 0 ? 0.0f : FLT_MAX;
  return static_cast<float>(std::min(g, static_cast<double>(FLT_MAX)));
}
