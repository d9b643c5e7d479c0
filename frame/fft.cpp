#include "frame/fft.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

bool IsPowerOfTwo(long v) { return v > 0 && (v & (v - 1)) == 0; }

bool ValidSign(short sign) { return sign == 1 || sign == -1; }

// One sine pair per stage: the recurrence steps w by exp(i * theta) through
// wr += wr * wpr - wi * wpi, wi += wi * wpr + wr * wpi, with wpr = cos(theta) - 1.
struct StageStep {
  double wpr;
  double wpi;
};

StageStep StepOf(long M, short sign) {
  const double theta = sign * (6.28318530717959 / static_cast<double>(M));
  const double half = std::sin(0.5 * theta);
  return {-2.0 * half * half, std::sin(theta)};
}

void Advance(double& wr, double& wi, StageStep step) {
  const double old = wr;
  wr = wr * step.wpr - wi * step.wpi + wr;
  wi = wi * step.wpr + old * step.wpi + wi;
}

// The butterfly of twiddle (wr, wi) on the pairs at p and q = p + M.
inline void Butterfly(float* p, float* q, double wr, double wi) {
  const double tr = wr * q[0] - wi * q[1];
  const double ti = wr * q[1] + wi * q[0];
  const double pr = p[0];
  const double pi = p[1];
  q[0] = static_cast<float>(pr - tr);
  q[1] = static_cast<float>(pi - ti);
  p[0] = static_cast<float>(pr + tr);
  p[1] = static_cast<float>(pi + ti);
}

// The order of the butterflies differs from the plain loop (twiddle offsets outside, all
// blocks of the stage inside) only to keep the data in cache; the butterflies of a stage
// touch disjoint pairs and every twiddle comes from the same recurrence from w = 1, so the
// result is the same bit for bit.
//
// Stages whose span is below kCacheBlock floats run depth first, one cache-sized block at a
// time, in the plain order within the block. Larger stages hand their twiddles to the blocks
// in groups of kTwiddleGroup, so a stage sweeps memory once instead of once per twiddle.
constexpr long kCacheBlock = 2048;
constexpr long kTwiddleGroup = 64;

void SmallStages(float* d, long length, const StageStep* steps) {
  int stage = 0;
  for (long M = 2; M < length; M *= 2, ++stage) {
    double wr = 1.0;
    double wi = 0.0;
    for (long m = 0; m < M; m += 2) {
      for (long i = m; i < length; i += 2 * M) Butterfly(d + i, d + i + M, wr, wi);
      Advance(wr, wi, steps[stage]);
    }
  }
}

void LargeStage(float* d, long L, long M, StageStep step) {
  double wr = 1.0;
  double wi = 0.0;
  double groupR[kTwiddleGroup] = {};
  double groupI[kTwiddleGroup] = {};
  for (long first = 0; first < M; first += 2 * kTwiddleGroup) {
    const long count = std::min(M - first, 2 * kTwiddleGroup) / 2;
    for (long g = 0; g < count; ++g) {
      groupR[g] = wr;
      groupI[g] = wi;
      Advance(wr, wi, step);
    }
    for (long block = 0; block < L; block += 2 * M) {
      float* p = d + block + first;
      for (long g = 0; g < count; ++g) Butterfly(p + 2 * g, p + 2 * g + M, groupR[g], groupI[g]);
    }
  }
}

void ComplexFftUnchecked(float* d, long nn, short sign) {
  const long L = 2 * nn;

  // Bit-reversal permutation of the complex values; i and j count floats.
  long j = 0;
  for (long i = 0; i < L; i += 2) {
    if (j > i) {
      std::swap(d[i], d[j]);
      std::swap(d[i + 1], d[j + 1]);
    }
    long m = nn;
    while (m >= 2 && j >= m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }

  // Danielson-Lanczos butterflies; M is the span in floats.
  const long block = std::min(L, kCacheBlock);
  StageStep steps[32];  // one per span 2, 4, ... below kCacheBlock
  int stages = 0;
  for (long M = 2; M < block; M *= 2) steps[stages++] = StepOf(M, sign);
  for (long first = 0; first < L; first += block) SmallStages(d + first, block, steps);
  for (long M = block; M < L; M *= 2) LargeStage(d, L, M, StepOf(M, sign));
}

}  // namespace

bool ComplexFft(float* buffer, long nn, short sign) {
  if (buffer == nullptr || !IsPowerOfTwo(nn) || nn > LONG_MAX / 2 || !ValidSign(sign)) return false;
  ComplexFftUnchecked(buffer, nn, sign);
  return true;
}

bool RealFft(float* buffer, long n, short sign) {
  if (buffer == nullptr || n < 2 || !IsPowerOfTwo(n) || !ValidSign(sign)) return false;
  float* d = buffer;
  const long half = n / 2;

  double theta = 3.141592653589793 / static_cast<double>(half);
  double c2;
  if (sign == 1) {
    c2 = -0.5;
    ComplexFftUnchecked(d, half, 1);
  } else {
    c2 = 0.5;
    theta = -theta;
  }
  const double s = std::sin(0.5 * theta);
  const StageStep step = {-2.0 * s * s, std::sin(theta)};
  double wr = 1.0 + step.wpr;
  double wi = step.wpi;

  // Untangle the spectra of the even and odd samples, pairing bin k with bin n/2 - k.
  for (long k = 1; k < n / 4; ++k) {
    const long a = 2 * k;
    const long b = a + 1;
    const long c = n - 2 * k;
    const long e = c + 1;
    const double h1r = 0.5 * (static_cast<double>(d[a]) + d[c]);
    const double h1i = 0.5 * (static_cast<double>(d[b]) - d[e]);
    const double h2r = -c2 * (static_cast<double>(d[b]) + d[e]);
    const double h2i = c2 * (static_cast<double>(d[a]) - d[c]);
    d[a] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    d[b] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    d[c] = static_cast<float>(h1r - wr * h2r + wi * h2i);
    d[e] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
    Advance(wr, wi, step);
  }

  const double h = d[0];
  if (sign == 1) {
    d[0] = static_cast<float>(h + d[1]);
    d[1] = static_cast<float>(h - d[1]);
  } else {
    d[0] = static_cast<float>(0.5 * (h + d[1]));
    d[1] = static_cast<float>(0.5 * (h - d[1]));
    ComplexFftUnchecked(d, half, -1);
  }
  return true;
}

bool ComplexFft(std::span<float> buffer, short sign) {
  if (buffer.size() % 2 != 0 || buffer.size() / 2 > static_cast<std::size_t>(LONG_MAX)) return false;
  return ComplexFft(buffer.data(), static_cast<long>(buffer.size() / 2), sign);
}

bool RealFft(std::span<float> buffer, short sign) {
  if (buffer.size() > static_cast<std::size_t>(LONG_MAX)) return false;
  return RealFft(buffer.data(), static_cast<long>(buffer.size()), sign);
}
