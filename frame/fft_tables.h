// Internals of the planned FFT shared by fft.cpp and the per-instruction-set passes: the
// twiddle tables of one size and the table of entry points of one instruction set.
#pragma once

#include <bit>

// Complex transforms below this size run the scalar radix-2 algorithm.
constexpr long kMinVectorSize = 64;

// Twiddle factors of a transform of nn complex values (and of the real transform of 2 nn
// samples), interleaved (re, im) floats rounded from double:
//   Radix4(s), for s = 16, 64, ... up to the largest power of 4 <= nn: three runs of s / 4
//     values, exp(+2 pi i j k / s) for j = 1, 2, 3 and k = 0 ... s / 4 - 1;
//   Radix2() when log2(nn) is odd: exp(+2 pi i k / nn), k = 0 ... nn / 2 - 1;
//   Untangle(): exp(+pi i k / nn), k = 0 ... nn / 2 - 1.
struct FftTables {
  long nn = 0;
  bool oddLog = false;
  const float* radix4[64] = {};  // by log2(s)
  const float* radix2 = nullptr;
  const float* untangle = nullptr;

  const float* Radix4(long s) const { return radix4[std::countr_zero(static_cast<unsigned long>(s))]; }
  const float* Radix2() const { return radix2; }
  const float* Untangle() const { return untangle; }
};

// The passes of one instruction set; sign +1 forward, -1 inverse.
struct FftIsa {
  const char* name;
  void (*complexPasses)(float* d, const FftTables& t, int sign);  // input in bit-reversed order
  void (*untangle)(float* d, const FftTables& t, int sign);
};

// Null where the instruction set is not compiled in or the processor lacks it.
const FftIsa* FftSse2Isa();
const FftIsa* FftAvx2Isa();
const FftIsa* FftAvx512Isa();

// For tests and benchmarks: runs every later transform with the named instruction set
// ("sse2", "avx2", "avx512"), or with the automatic choice (empty name). False, changing
// nothing, when that set is not available. The automatic choice takes the widest set the
// processor has, or the one the environment variable TOVREL_FFT_SIMD names.
bool SelectFftInstructionSet(const char* name);
