// In-place radix-2 FFT kernels shared by every module that works in the frequency domain.
//
// Data stay float32; twiddle factors are carried in double precision, one sine pair per
// stage and the rest by a trigonometric recurrence. Nothing is allocated.
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
