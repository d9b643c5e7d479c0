#include "frame/fft.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "frame/fft_tables.h"

// The tables of one size, made once and kept for the life of the process.
struct FftCore {
  FftTables tables;
  std::vector<float> storage;
};

namespace {

// The scalar radix-2 algorithm: float32 data, butterflies and twiddle recurrence in double.
// It runs the sizes below kMinVectorSize, and any size whose tables cannot be made.

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

void ScalarComplexFft(float* d, long nn, short sign) {
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


void ScalarRealFft(float* buffer, long n, short sign) {
  float* d = buffer;
  const long half = n / 2;

  double theta = 3.141592653589793 / static_cast<double>(half);
  double c2;
  if (sign == 1) {
    c2 = -0.5;
    ScalarComplexFft(d, half, 1);
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
    ScalarComplexFft(d, half, -1);
  }
}


// Bit-reversal permutation of nn = 2^m complex values. Above 2^8 values the index splits
// into a high and a low 4-bit field around a middle field; the pairs of 16 x 16 tiles that
// the reversal exchanges are swapped tile by tile, so both sides stay in cache.
void SwapPairs(float* d, long i, long j) {
  std::uint64_t a, b;
  std::memcpy(&a, d + 2 * i, 8);
  std::memcpy(&b, d + 2 * j, 8);
  std::memcpy(d + 2 * i, &b, 8);
  std::memcpy(d + 2 * j, &a, 8);
}

void BitReverse(float* d, int m) {
  constexpr int kField = 4;
  constexpr long kRev[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  if (m < 2 * kField) {
    for (long i = 0; i < (1L << m); ++i) {
      long j = 0;
      for (int bit = 0; bit < m; ++bit) j |= ((i >> bit) & 1) << (m - 1 - bit);
      if (j > i) SwapPairs(d, i, j);
    }
    return;
  }
  const int mid = m - 2 * kField;
  const int high = m - kField;
  for (long b = 0; b < (1L << mid); ++b) {
    long rb = 0;
    for (int bit = 0; bit < mid; ++bit) rb |= ((b >> bit) & 1) << (mid - 1 - bit);
    if (rb < b) continue;
    for (long a = 0; a < 16; ++a) {
      const long rowI = (a << high) | (b << kField);
      const long colJ = (rb << kField) | kRev[a];
      for (long c = 0; c < 16; ++c) {
        const long i = rowI | c;
        const long j = (kRev[c] << high) | colJ;
        if (rb != b || j > i) SwapPairs(d, i, j);
      }
    }
  }
}

// exp(+2 pi i j k / s) for k = 0 ... count - 1, interleaved.
float* PutTwiddles(float* out, long count, long j, long s) {
  const double step = 6.283185307179586476925 / static_cast<double>(s);
  for (long k = 0; k < count; ++k) {
    const double angle = step * static_cast<double>((j * k) % s);
    *out++ = static_cast<float>(std::cos(angle));
    *out++ = static_cast<float>(std::sin(angle));
  }
  return out;
}

std::unique_ptr<FftCore> MakeCore(int log2nn) {
  auto core = std::make_unique<FftCore>();
  FftTables& t = core->tables;
  t.nn = 1L << log2nn;
  t.oddLog = log2nn % 2 != 0;
  const long top = t.oddLog ? t.nn / 2 : t.nn;
  std::size_t floats = static_cast<std::size_t>(t.nn);  // untangling
  for (long s = 16; s <= top; s *= 4) floats += static_cast<std::size_t>(6 * (s / 4));
  if (t.oddLog) floats += static_cast<std::size_t>(t.nn);
  core->storage.resize(floats);
  float* out = core->storage.data();
  for (long s = 16; s <= top; s *= 4) {
    t.radix4[std::countr_zero(static_cast<unsigned long>(s))] = out;
    for (long j = 1; j <= 3; ++j) out = PutTwiddles(out, s / 4, j, s);
  }
  if (t.oddLog) {
    t.radix2 = out;
    out = PutTwiddles(out, t.nn / 2, 1, t.nn);
  }
  t.untangle = out;
  PutTwiddles(out, t.nn / 2, 1, 2 * t.nn);
  return core;
}

// One set of tables per size up to 2^kMaxCachedLog values, made on first use. Larger
// sizes (and any size whose tables cannot be allocated) run the scalar algorithm.
constexpr int kMaxCachedLog = 24;
std::atomic<FftCore*> g_cores[kMaxCachedLog + 1];

struct CoreCacheOwner {
  ~CoreCacheOwner() {
    for (auto& slot : g_cores) delete slot.exchange(nullptr);
  }
} g_coreCacheOwner;

const FftCore* CoreFor(long nn) {
  if (nn < kMinVectorSize || nn > (1L << kMaxCachedLog) || FftSse2Isa() == nullptr) return nullptr;
  std::atomic<FftCore*>& slot = g_cores[std::countr_zero(static_cast<unsigned long>(nn))];
  FftCore* core = slot.load(std::memory_order_acquire);
  if (core != nullptr) return core;
  try {
    core = MakeCore(std::countr_zero(static_cast<unsigned long>(nn))).release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  FftCore* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, core, std::memory_order_acq_rel, std::memory_order_acquire)) {
    delete core;  // another thread made the same tables first
    return expected;
  }
  return core;
}

std::atomic<const FftIsa*> g_selectedIsa{nullptr};

const FftIsa* IsaNamed(const char* name) {
  if (std::strcmp(name, "sse2") == 0) return FftSse2Isa();
  if (std::strcmp(name, "avx2") == 0) return FftAvx2Isa();
  if (std::strcmp(name, "avx512") == 0) return FftAvx512Isa();
  return nullptr;
}

const FftIsa* AutomaticIsa() {
  static const FftIsa* const isa = [] {
    const char* forced = std::getenv("TOVREL_FFT_SIMD");
    if (forced != nullptr && IsaNamed(forced) != nullptr) return IsaNamed(forced);
    for (const FftIsa* candidate : {FftAvx512Isa(), FftAvx2Isa()})
      if (candidate != nullptr) return candidate;
    return FftSse2Isa();
  }();
  return isa;
}

const FftIsa* CurrentIsa() {
  const FftIsa* selected = g_selectedIsa.load(std::memory_order_relaxed);
  return selected != nullptr ? selected : AutomaticIsa();
}

void PlannedComplex(float* d, const FftCore& core, const FftIsa& isa, int sign) {
  BitReverse(d, std::countr_zero(static_cast<unsigned long>(core.tables.nn)));
  isa.complexPasses(d, core.tables, sign);
}

void PlannedReal(float* d, const FftCore& core, const FftIsa& isa, int sign) {
  if (sign == 1) PlannedComplex(d, core, isa, 1);
  isa.untangle(d, core.tables, sign);
  const float h = d[0];
  if (sign == 1) {
    d[0] = h + d[1];
    d[1] = h - d[1];
  } else {
    d[0] = 0.5f * (h + d[1]);
    d[1] = 0.5f * (h - d[1]);
    PlannedComplex(d, core, isa, -1);
  }
}

}  // namespace

bool SelectFftInstructionSet(const char* name) {
  if (name == nullptr || *name == '\0') {
    g_selectedIsa.store(nullptr, std::memory_order_relaxed);
    return true;
  }
  const FftIsa* isa = IsaNamed(name);
  if (isa == nullptr) return false;
  g_selectedIsa.store(isa, std::memory_order_relaxed);
  return true;
}

ComplexFftPlan::ComplexFftPlan(long nn) {
  if (!IsPowerOfTwo(nn) || nn > LONG_MAX / 2) return;
  nn_ = nn;
  core_ = CoreFor(nn);
}

bool ComplexFftPlan::Transform(float* buffer, short sign) const {
  if (buffer == nullptr || nn_ == 0 || !ValidSign(sign)) return false;
  const FftIsa* isa = CurrentIsa();
  if (core_ != nullptr && isa != nullptr)
    PlannedComplex(buffer, *core_, *isa, sign);
  else
    ScalarComplexFft(buffer, nn_, sign);
  return true;
}

RealFftPlan::RealFftPlan(long n) {
  if (n < 2 || !IsPowerOfTwo(n)) return;
  n_ = n;
  core_ = CoreFor(n / 2);
}

bool RealFftPlan::Transform(float* buffer, short sign) const {
  if (buffer == nullptr || n_ == 0 || !ValidSign(sign)) return false;
  const FftIsa* isa = CurrentIsa();
  if (core_ != nullptr && isa != nullptr)
    PlannedReal(buffer, *core_, *isa, sign);
  else
    ScalarRealFft(buffer, n_, sign);
  return true;
}

bool ComplexFft(float* buffer, long nn, short sign) { return ComplexFftPlan(nn).Transform(buffer, sign); }

bool RealFft(float* buffer, long n, short sign) { return RealFftPlan(n).Transform(buffer, sign); }

bool ComplexFft(std::span<float> buffer, short sign) {
  if (buffer.size() % 2 != 0 || buffer.size() / 2 > static_cast<std::size_t>(LONG_MAX)) return false;
  return ComplexFft(buffer.data(), static_cast<long>(buffer.size() / 2), sign);
}

bool RealFft(std::span<float> buffer, short sign) {
  if (buffer.size() > static_cast<std::size_t>(LONG_MAX)) return false;
  return RealFft(buffer.data(), static_cast<long>(buffer.size()), sign);
}
