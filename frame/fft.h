// In-place FFT kernels shared by every module that works in the frequency domain.
//
// Data stay float32. A transform runs through a plan of its size: twiddle factors computed
// once in double precision and kept as floats, radix-4 passes in SIMD with double-precision
// arithmetic (SSE2; AVX2 or AVX-512 where the processor has them; all give the same bits), rounding to
// float once per pass rather than once per radix-2 stage. The tables of each size are made
// on first use and shared by every plan of that size for the life of the process; a call
// allocates nothing. Sizes below 64 complex values, and any size whose tables cannot be
// allocated, run the scalar radix-2 algorithm (float32 data, double-precision butterflies
// and twiddle recurrence).
//
// Sign convention: the forward transform (sign +1) uses the positive exponent,
//   X[k] = sum_j x[j] * exp(+2*pi*i*j*k/n),
// and the inverse (sign -1) the negative one. Neither direction scales.
#pragma once

#include <span>

// nn complex values, interleaved (element 2k = Re z[k], 2k + 1 = Im z[k]); nn a power of
// two. Forward then inverse returns nn times the input.
//
// Returns false, leaving the buffer untouched, when buffer is null, nn is not a power of
// two (or so large that 2 * nn overflows) or sign is neither +1 nor -1.
bool ComplexFft(float* buffer, long nn, short sign);

// n real samples (n a power of two, n >= 2) to and from the packed half spectrum:
//   element 0: X[0], element 1: X[n/2] (both real),
//   elements 2k, 2k + 1 for k = 1 ... n/2 - 1: Re X[k], Im X[k].
// sign +1 turns samples into the packed spectrum, sign -1 turns a packed spectrum into n/2
// times the samples. Forward then inverse returns n/2 times the input.
//
// Returns false, leaving the buffer untouched, on a null buffer, an invalid n or sign.
bool RealFft(float* buffer, long n, short sign);

// The same transforms over a span: ComplexFft takes nn = size / 2 complex values (size must
// be even), RealFft takes n = size real values.
bool ComplexFft(std::span<float> buffer, short sign);
bool RealFft(std::span<float> buffer, short sign);

struct FftCore;

// A complex transform of nn values (nn a power of two), as ComplexFft. Cheap to make and to
// copy once its size has been used; Transform may run from any number of threads at once.
class ComplexFftPlan {
 public:
  explicit ComplexFftPlan(long nn);
  bool valid() const { return nn_ != 0; }
  long size() const { return nn_; }
  // ComplexFft(buffer, size(), sign); false, leaving the buffer untouched, on an invalid
  // plan, a null buffer or a sign other than +1 and -1.
  bool Transform(float* buffer, short sign) const;

 private:
  long nn_ = 0;
  const FftCore* core_ = nullptr;  // null: the scalar algorithm
};

// A real transform of n samples (n a power of two, n >= 2), as RealFft.
class RealFftPlan {
 public:
  explicit RealFftPlan(long n);
  bool valid() const { return n_ != 0; }
  long size() const { return n_; }
  // RealFft(buffer, size(), sign), with the same failures as ComplexFftPlan::Transform.
  bool Transform(float* buffer, short sign) const;

 private:
  long n_ = 0;
  const FftCore* core_ = nullptr;
};
