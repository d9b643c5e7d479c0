// The vector passes of the planned FFT, written once over a small set of vector operations
// and compiled once per instruction set (fft_sse2.cpp, fft_avx2.cpp). Everything here sits
// in an unnamed namespace so that each translation unit keeps its own copy, compiled with
// its own instruction set.
//
// A transform of nn complex values (nn a power of two, nn >= kMinVectorSize) runs as:
// bit-reversal permutation (scalar, in fft.cpp), then decimation-in-time radix-4 passes
// over blocks of 4, 16, 64, ... values, depth first so that the small passes stay in
// cache, and one radix-2 pass on top when log2(nn) is odd.
//
// The arithmetic is double precision throughout, with the same operations in the same
// order on every instruction set (no fused multiply-add), so all give the same bits. Blocks of up to kFftCacheBlock values run
// all their passes in a double-precision copy on the stack, so the data are rounded to
// float once for such a block and once per pass above it: fewer roundings than the
// radix-2 algorithm's one per stage, hence no larger error, whatever the size.
//
// Twiddle factors come from the tables of FftTables, exp(+2 pi i k / s) rounded to float;
// the inverse direction (Dir = -1) multiplies by their conjugates.
//
// A vector type V provides: W (complex values per vector), Reg, Load, Store, Add, Sub,
// Half (times 0.5), CMul<Dir> (times a twiddle, or its conjugate), MulJ<Dir> (times
// +i or -i), Conj, Reverse (order of the complex values), Transpose (W blocks of 4 values
// in 4 registers to one register per butterfly input) and Untranspose (back).
#pragma once

#include "frame/fft_tables.h"

namespace {

// Blocks of up to this many complex values run all their passes in one go.
constexpr long kFftCacheBlock = 1024;

// The butterfly of 4 inputs at stride q, twiddled by the three tables at k.
template <class V, int Dir, class T>
inline void Radix4(T* a, T* b, T* c, T* e, const float* w1, const float* w2, const float* w3) {
  using R = typename V::Reg;
  const R x0 = V::Load(a);
  const R x1 = V::template CMul<Dir>(V::Load(b), V::Load(w2));
  const R x2 = V::template CMul<Dir>(V::Load(c), V::Load(w1));
  const R x3 = V::template CMul<Dir>(V::Load(e), V::Load(w3));
  const R t0 = V::Add(x0, x1);
  const R t1 = V::Sub(x0, x1);
  const R t2 = V::Add(x2, x3);
  const R t3 = V::template MulJ<Dir>(V::Sub(x2, x3));
  V::Store(a, V::Add(t0, t2));
  V::Store(b, V::Add(t1, t3));
  V::Store(c, V::Sub(t0, t2));
  V::Store(e, V::Sub(t1, t3));
}

// The first pass: blocks of 4 neighbouring values, no twiddles; 4W values at a time.
template <class V, int Dir, class T>
void FirstPass(T* d, long count) {
  using R = typename V::Reg;
  for (long i = 0; i < count; i += 4 * V::W) {
    T* p = d + 2 * i;
    R x0 = V::Load(p), x1 = V::Load(p + 2 * V::W), x2 = V::Load(p + 4 * V::W), x3 = V::Load(p + 6 * V::W);
    V::Transpose(x0, x1, x2, x3);
    const R t0 = V::Add(x0, x1);
    const R t1 = V::Sub(x0, x1);
    const R t2 = V::Add(x2, x3);
    const R t3 = V::template MulJ<Dir>(V::Sub(x2, x3));
    x0 = V::Add(t0, t2);
    x1 = V::Add(t1, t3);
    x2 = V::Sub(t0, t2);
    x3 = V::Sub(t1, t3);
    V::Untranspose(x0, x1, x2, x3);
    V::Store(p, x0);
    V::Store(p + 2 * V::W, x1);
    V::Store(p + 4 * V::W, x2);
    V::Store(p + 6 * V::W, x3);
  }
}

// Combines the four quarter transforms of one block of s values (s >= 16).
template <class V, int Dir, class T>
void Pass4(T* d, long s, const float* w) {
  const long q = s / 4;
  const float* w1 = w;
  const float* w2 = w + 2 * q;
  const float* w3 = w + 4 * q;
  for (long k = 0; k < q; k += V::W) {
    const long f = 2 * k;
    Radix4<V, Dir, T>(d + f, d + 2 * q + f, d + 4 * q + f, d + 6 * q + f, w1 + f, w2 + f, w3 + f);
  }
}

// Transform of s values (s a power of 4) in bit-reversed order.
template <class V, int Dir>
void Dit4(float* d, long s, const FftTables& t) {
  if (s <= kFftCacheBlock) {
    double block[2 * kFftCacheBlock];
    for (long i = 0; i < 2 * s; ++i) block[i] = d[i];
    FirstPass<V, Dir>(block, s);
    for (long m = 16; m <= s; m *= 4) {
      const float* w = t.Radix4(m);
      for (long b = 0; b < s; b += m) Pass4<V, Dir>(block + 2 * b, m, w);
    }
    for (long i = 0; i < 2 * s; ++i) d[i] = static_cast<float>(block[i]);
    return;
  }
  const long q = s / 4;
  for (int r = 0; r < 4; ++r) Dit4<V, Dir>(d + 2 * r * q, q, t);
  Pass4<V, Dir>(d, s, t.Radix4(s));
}

// The transform of t.nn values already in bit-reversed order.
template <class V, int Dir>
void ComplexPasses(float* d, const FftTables& t) {
  const long nn = t.nn;
  if (t.oddLog) {
    const long h = nn / 2;
    Dit4<V, Dir>(d, h, t);
    Dit4<V, Dir>(d + 2 * h, h, t);
    const float* w = t.Radix2();
    for (long k = 0; k < h; k += V::W) {
      float* a = d + 2 * k;
      float* b = a + 2 * h;
      const typename V::Reg x0 = V::Load(a);
      const typename V::Reg x1 = V::template CMul<Dir>(V::Load(b), V::Load(w + 2 * k));
      V::Store(a, V::Add(x0, x1));
      V::Store(b, V::Sub(x0, x1));
    }
  } else {
    Dit4<V, Dir>(d, nn, t);
  }
}

// The untangling step of the real transform of 2 * t.nn samples: bins k and N - k
// (N = t.nn) from the half-length complex transform (Dir = +1), or back (Dir = -1).
// Bin 0 and bin N / 2 are left to the caller, as the scalar algorithm does.
template <class V, int Dir>
void Untangle(float* d, const FftTables& t) {
  using R = typename V::Reg;
  const long N = t.nn;
  const float* w = t.Untangle();
  long k = 1;
  for (; k + V::W <= N / 2; k += V::W) {
    float* pa = d + 2 * k;
    float* pc = d + 2 * (N - k - V::W + 1);
    const R a = V::Load(pa);
    const R c = V::Conj(V::Reverse(V::Load(pc)));
    const R h1 = V::Half(V::Add(a, c));
    const R h2 = V::Half(V::template MulJ<-Dir>(V::Sub(a, c)));
    const R wh2 = V::template CMul<Dir>(h2, V::Load(w + 2 * k));
    V::Store(pa, V::Add(h1, wh2));
    V::Store(pc, V::Reverse(V::Conj(V::Sub(h1, wh2))));
  }
  for (; k < N / 2; ++k) {
    float* pa = d + 2 * k;
    float* pc = d + 2 * (N - k);
    const double wr = w[2 * k];
    const double wi = Dir * w[2 * k + 1];
    const double h1r = 0.5 * (static_cast<double>(pa[0]) + pc[0]);
    const double h1i = 0.5 * (static_cast<double>(pa[1]) - pc[1]);
    const double h2r = 0.5 * Dir * (static_cast<double>(pa[1]) + pc[1]);
    const double h2i = -0.5 * Dir * (static_cast<double>(pa[0]) - pc[0]);
    pa[0] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    pa[1] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    pc[0] = static_cast<float>(h1r - wr * h2r + wi * h2i);
    pc[1] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
  }
}

// The entry points each instruction set exports.
template <class V>
void ComplexPassesFor(float* d, const FftTables& t, int sign) {
  if (sign > 0)
    ComplexPasses<V, 1>(d, t);
  else
    ComplexPasses<V, -1>(d, t);
}

template <class V>
void UntangleFor(float* d, const FftTables& t, int sign) {
  if (sign > 0)
    Untangle<V, 1>(d, t);
  else
    Untangle<V, -1>(d, t);
}

}  // namespace
