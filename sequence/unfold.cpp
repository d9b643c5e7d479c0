#include "sequence/unfold.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

// Below this many positions the in-place moves run in cache and need no scratch.
constexpr std::size_t kScratchMoveFrom = std::size_t{1} << 15;

bool UsesScratch(std::span<const float> w, std::span<const float> scratch) {
  return w.size() >= kScratchMoveFrom && scratch.size() >= w.size();
}

// How far ahead the scattered moves prefetch their target.
constexpr std::size_t kPrefetchDistance = 16;

// The Hadamard stages in cache-sized blocks, two stages per sweep, four values per vector
// operation. Every value still goes through the same float additions in the same stage
// order as in the plain loop, so the result is the same bit for bit.
using Float4 = float __attribute__((vector_size(16)));

Float4 Load4(const float* p) {
  Float4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

// Stages h = 1 and 2 on groups of four values.
void FirstTwoStages(float* x, std::size_t n) {
  for (std::size_t b = 0; b < n; b += 4) {
    const float s0 = x[b] + x[b + 1], s1 = x[b] - x[b + 1];
    const float s2 = x[b + 2] + x[b + 3], s3 = x[b + 2] - x[b + 3];
    x[b] = s0 + s2;
    x[b + 1] = s1 + s3;
    x[b + 2] = s0 - s2;
    x[b + 3] = s1 - s3;
  }
}

// Stages h and 2h (h >= 4) in one sweep.
void TwoStages(float* x, std::size_t n, std::size_t h) {
  for (std::size_t b = 0; b < n; b += 4 * h) {
    for (std::size_t k = b; k < b + h; k += 4) {
      const Float4 a = Load4(x + k), c = Load4(x + k + h), e = Load4(x + k + 2 * h), f = Load4(x + k + 3 * h);
      const Float4 s0 = a + c, s1 = a - c, s2 = e + f, s3 = e - f;
      Store4(x + k, s0 + s2);
      Store4(x + k + h, s1 + s3);
      Store4(x + k + 2 * h, s0 - s2);
      Store4(x + k + 3 * h, s1 - s3);
    }
  }
}

void OneStage(float* x, std::size_t n, std::size_t h) {
  for (std::size_t b = 0; b < n; b += 2 * h) {
    for (std::size_t k = b; k < b + h; k += 4) {
      const Float4 u = Load4(x + k), v = Load4(x + k + h);
      Store4(x + k, u + v);
      Store4(x + k + h, u - v);
    }
  }
}

// Stages hBegin <= h < hEnd (hBegin >= 4) over the n values at x.
void Stages(float* x, std::size_t n, std::size_t hBegin, std::size_t hEnd) {
  std::size_t h = hBegin;
  while (h < hEnd) {
    if (4 * h <= hEnd) {
      TwoStages(x, n, h);
      h *= 4;
    } else {
      OneStage(x, n, h);
      h *= 2;
    }
  }
}

void HadamardStages(float* x, std::size_t n) {
  if (n < 16) {
    for (std::size_t h = 1; h < n; h <<= 1) {
      for (std::size_t b = 0; b < n; b += 2 * h) {
        for (std::size_t k = b; k < b + h; ++k) {
          const float u = x[k], v = x[k + h];
          x[k] = u + v;
          x[k + h] = u - v;
        }
      }
    }
    return;
  }
  constexpr std::size_t kLevel1 = std::size_t{1} << 12;  // floats; 16 KiB
  constexpr std::size_t kLevel2 = std::size_t{1} << 18;  // 1 MiB
  const std::size_t inner = std::min(n, kLevel1);
  const std::size_t outer = std::min(n, kLevel2);
  for (std::size_t b2 = 0; b2 < n; b2 += outer) {
    for (std::size_t b1 = b2; b1 < b2 + outer; b1 += inner) {
      FirstTwoStages(x + b1, inner);
      Stages(x + b1, inner, 4, inner);
    }
    Stages(x + b2, outer, inner, outer);
  }
  Stages(x, n, outer, n);
}

}  // namespace

void PermuteForward(std::span<float> w, std::span<int32_t> p, std::span<float> scratch) {
  const std::size_t top = w.size() - 1;
  if (UsesScratch(w, scratch)) {
    // Independent scattered stores, many in flight at once, where following the cycles
    // waits for one cache miss after another.
    std::copy(w.begin() + 2, w.end(), scratch.begin() + 2);
    float* out = w.data();
    const int32_t* to = p.data();
    for (std::size_t i = 2; i <= top; ++i) {
      if (i + kPrefetchDistance <= top) __builtin_prefetch(out + to[i + kPrefetchDistance], 1);
      out[to[i]] = scratch[i];
    }
    return;
  }
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
  HadamardStages(x, n);
}

void PermuteBackward(std::span<float> w, std::span<int32_t> p, std::span<float> scratch) {
  const std::size_t top = w.size() - 1;
  const float sum = w[1];
  if (top >= 2 && p[2] > 0) {
    // The forward move went through the scratch and left p as it was: w[i] takes the
    // value at p[i].
    if (UsesScratch(w, scratch)) {
      std::copy(w.begin() + 2, w.end(), scratch.begin() + 2);
      const float* in = scratch.data();
      const int32_t* from = p.data();
      for (std::size_t i = 2; i <= top; ++i) {
        if (i + kPrefetchDistance <= top) __builtin_prefetch(in + from[i + kPrefetchDistance]);
        w[i] = in[from[i]] - sum;
      }
      return;
    }
    // The same in place: along each cycle, marking the positions done by negating p.
    for (std::size_t i = 2; i <= top; ++i) {
      if (p[i] < 0) continue;
      const float first = w[i];
      std::size_t k = i;
      for (;;) {
        const auto next = static_cast<std::size_t>(p[k]);
        p[k] = -p[k];
        if (next == i) {
          w[k] = first - sum;
          break;
        }
        w[k] = w[next] - sum;
        k = next;
      }
    }
    for (std::size_t i = 2; i <= top; ++i) p[i] = -p[i];
    return;
  }
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

bool CorrelateWithMls(std::span<float> w, std::span<int32_t> perm, const std::function<bool(int step)>& afterStep,
                      std::span<float> scratch) {
  PermuteForward(w, perm, scratch);
  if (!afterStep(1)) return false;
  FastHadamardTransform(w);
  if (!afterStep(2)) return false;
  PermuteBackward(w, perm, scratch);
  return afterStep(3);
}

Peak FindPeak(std::span<const float> w, bool removeDc, float& magnitude) {
  Peak peak;
  peak.position = 2;
  if (w.size() < 3) return peak;
  peak = FindPeakOfValues(w.subspan(2), removeDc, magnitude);
  peak.position += 2;
  return peak;
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
