#include "frame/peaks.h"

#include <cmath>

Peak FindPeakOfValues(std::span<const float> w, bool removeDc, float& magnitude) {
  Peak peak;
  peak.position = 0;
  if (w.empty()) return peak;
  if (!removeDc) {
    float best = std::fabs(w[0]);
    for (std::size_t i = 1; i < w.size(); ++i) {
      const float a = std::fabs(w[i]);
      if (a > best) {
        best = a;
        peak.position = static_cast<long>(i);
      }
    }
    if (best > magnitude) magnitude = best;
    return peak;
  }
  double sum = 0;
  std::size_t maxAt = 0, minAt = 0;
  for (std::size_t i = 0; i < w.size(); ++i) {
    sum += w[i];
    if (w[i] > w[maxAt]) maxAt = i;
    if (w[i] < w[minAt]) minAt = i;
  }
  const double mean = sum / static_cast<double>(w.size());
  const double above = std::fabs(w[maxAt] - mean);
  const double below = std::fabs(w[minAt] - mean);
  const double candidate = above > below ? above : below;
  peak.position = static_cast<long>(above > below ? maxAt : minAt);
  peak.dc = mean;
  if (static_cast<float>(candidate) > magnitude) magnitude = static_cast<float>(candidate);
  return peak;
}

int16_t ScaleToSample(double value, double dc, float g) {
  double v = value;
  if (dc != 0) v -= dc;
  v *= g;
  v = v >= 0 ? v + 0.5 : v - 0.5;
  if (v > 32767) v = 32767;
  if (v < -32768) v = -32768;
  return static_cast<int16_t>(v);
}
