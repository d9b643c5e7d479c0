#include "sequence/unfold.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {
constexpr long kPermutationBlock = 8192;
}

TobResult LookUpTob(std::span<const int32_t> period, std::span<long> tob, const ProgressFn& progress) {
  const long L = static_cast<long>(period.size());
  const long N = static_cast<long>(tob.size());
  if (N == 0 || L == 0) return TobResult::NotFound;
  long j = 0;
  long i = 0;
  for (;;) {
    while (i < L) {
      bool accepted = period[static_cast<std::size_t>(i)] == 1;
      for (long k = 0; accepted && k < j; ++k) {
        long at = tob[static_cast<std::size_t>(k)] + i;
        if (at >= L) at -= L;
        accepted = period[static_cast<std::size_t>(at)] == 0;
      }
      if (accepted) {
        tob[static_cast<std::size_t>(j++)] = i;
        if (j == N) return TobResult::Found;
        if (progress && !progress(j, N)) return TobResult::Cancelled;
      }
      ++i;
    }
    // Back track: drop the last offset and go on after it.
    do {
      if (j == 0) return TobResult::NotFound;
      i = tob[static_cast<std::size_t>(--j)] + 1;
    } while (i >= L);
  }
}

bool BuildMlsPermutation(std::span<const int32_t> period, std::span<const long> tob, std::span<int32_t> perm,
                         const ProgressFn& progress) {
  const long L = static_cast<long>(period.size());
  perm[1] = 1;
  for (long blockStart = 0; blockStart < L; blockStart += kPermutationBlock) {
    const long blockEnd = blockStart + kPermutationBlock < L ? blockStart + kPermutationBlock : L;
    for (long i = blockStart; i < blockEnd; ++i) {
      int32_t tag = 0;
      for (long d : tob) {
        long at = i + d;
        if (at >= L) at -= L;
        tag = (tag << 1) | (period[static_cast<std::size_t>(at)] & 1);
      }
      perm[static_cast<std::size_t>(i + 2)] = tag + 1;
    }
    if (progress && !progress(blockEnd, L)) return false;
  }
  return true;
}

void PermuteForward(std::span<float> w, std::span<int32_t> p) {
  const std::size_t top = w.size() - 1;
  for (std::size_t i = 2; i <= top; ++i) {
    if (p[i] <= 0) continue;
    float carry = w[i];
    auto k = static_cast<std::size_t>(p[i]);
    p[i] = 0;
    auto prev = static_cast<int32_t>(i);
    while (k > 0) {
      const float t = w[k];
      w[k] = carry;
      const int32_t next = p[k];
      p[k] = -prev;
      carry = t;
      prev = static_cast<int32_t>(k);
      k = next > 0 ? static_cast<std::size_t>(next) : 0;
    }
  }
}

void FastHadamardTransform(std::span<float> w) {
  float* x = w.data() + 1;  // position 1 at x[0]
  const std::size_t n = w.size() - 1;
  for (std::size_t h = 1; h < n; h <<= 1) {
    for (std::size_t b = 0; b < n; b += 2 * h) {
      float* lo = x + b;
      float* hi = lo + h;
      for (std::size_t k = 0; k < h; ++k) {
        const float u = lo[k];
        const float v = hi[k];
        lo[k] = u + v;
        hi[k] = u - v;
      }
    }
  }
}

void PermuteBackward(std::span<float> w, std::span<int32_t> p) {
  const std::size_t top = w.size() - 1;
  const float sum = w[1];
  for (std::size_t i = 2; i <= top; ++i) {
    if (p[i] > 0) continue;
    float carry = w[i];
    auto a = static_cast<std::size_t>(-p[i]);
    p[i] = 0;
    auto prev = static_cast<int32_t>(i);
    while (a > 0) {
      const float t = w[a];
      w[a] = carry - sum;
      const int32_t next = p[a];
      p[a] = prev;
      prev = static_cast<int32_t>(a);
      a = next < 0 ? static_cast<std::size_t>(-next) : 0;
      carry = t;
    }
  }
}

bool CorrelateWithMls(std::span<float> w, std::span<int32_t> perm, const std::function<bool(int step)>& afterStep) {
  PermuteForward(w, perm);
  if (!afterStep(1)) return false;
  FastHadamardTransform(w);
  if (!afterStep(2)) return false;
  PermuteBackward(w, perm);
  return afterStep(3);
}

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

Peak FindPeak(std::span<const float> w, bool removeDc, float& magnitude) {
  if (w.size() < 3) return Peak{};
  Peak peak = FindPeakOfValues(w.subspan(2), removeDc, magnitude);
  peak.position += 2;
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

long ChooseStartPosition(long first, long second, int order) {
  const long half = 1L << (order - 1);
  const long positions = 1L << order;
  long s = first;
  if (second >= 0 && ((second > s && second - s < half) || (second <= s && s - second > half))) s = second;
  if (order >= 12) {
    s += 1500;
    if (s > positions) s = (s % positions) + 1;
  }
  return s;
}

void WriteRotatedResponse(std::span<const float> w, long start, double dc, float magnitude,
                          std::span<int16_t> out, int channel, int channels) {
  const long L = static_cast<long>(w.size()) - 2;
  const float g = 32767.0f / magnitude;
  long pos = start;
  for (long t = 0; t < L; ++t, --pos) {
    if (pos < 2) pos += L;
    out[static_cast<std::size_t>(t * channels + channel)] = ScaleToSample(w[static_cast<std::size_t>(pos)], dc, g);
  }
}

std::string FormatResultNumber(double v) {
  if (!std::isfinite(v)) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
  }
  const double a = std::fabs(v);
  // Fixed-point conversion with the fewest digits after the point that give at least
  // eight digits: the leading eight digits and the position of the point among them.
  char digits[9] = {'0'};
  long n = 1;
  long point = 0;
  if (a != 0) {
    std::vector<char> text(400);
    for (int after = 0; after <= 360; ++after) {
      int written = std::snprintf(text.data(), text.size(), "%.*f", after, a);
      if (written < 0) break;
      if (static_cast<std::size_t>(written) >= text.size()) {
        text.resize(static_cast<std::size_t>(written) + 1);
        written = std::snprintf(text.data(), text.size(), "%.*f", after, a);
      }
      long count = 0;  // significant digits seen
      long intDigits = 0;
      long leadingZeros = 0;
      bool seenPoint = false;
      for (int c = 0; c < written; ++c) {
        const char ch = text[static_cast<std::size_t>(c)];
        if (ch == '.') {
          seenPoint = true;
          continue;
        }
        if (!seenPoint) ++intDigits;
        if (count == 0 && ch == '0') {
          ++leadingZeros;
          continue;
        }
        if (count < 8) digits[count] = ch;
        ++count;
      }
      if (count == 0) continue;  // rounds to zero at this width
      point = intDigits - leadingZeros;
      n = count < 8 ? count : 8;
      if (count >= 8) break;
    }
  }
  while (n > 1 && digits[n - 1] == '0') --n;
  const std::string_view kept(digits, static_cast<std::size_t>(n));

  std::string out;
  if (v < 0) out.push_back('-');
  if (point > 0 && point < n) {
    out.append(kept.substr(0, static_cast<std::size_t>(point)));
    out.push_back('.');
    out.append(kept.substr(static_cast<std::size_t>(point)));
  } else if (point == n) {
    out.append(kept);
  } else if (point > n) {
    out.push_back(kept[0]);
    out.push_back('.');
    out.append(kept.substr(1));
    out.push_back('E');
    out.append(std::to_string(point - 1));
  } else {
    out.append("0.");
    out.append(kept);
    if (point < 0) {
      out.push_back('E');
      out.append(std::to_string(point));
    }
  }
  return out;
}
