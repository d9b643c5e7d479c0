// Operations on packed half spectra, the layout RealFft produces for n real samples:
//   element 0: X[0], element 1: X[n/2] (both real),
//   elements 2k, 2k + 1 for k = 1 ... n/2 - 1: Re X[k], Im X[k].
// Products are formed in double precision and stored as float32. Where two spectra meet,
// the shorter size counts; a span of fewer than 2 elements is left alone.
#pragma once

#include <span>

// spectrum[k] = spectrum[k] * other[k]: the two real terms by their counterparts, every
// (Re, Im) pair as a complex product. Transformed back, a circular convolution.
void MultiplyPackedSpectra(std::span<float> spectrum, std::span<const float> other);

// spectrum[k] = spectrum[k] * conj(other[k]). Transformed back, the circular
// cross-correlation sum_j x[j + tau] y[j] of the two signals.
void MultiplyPackedSpectraConjugate(std::span<float> spectrum, std::span<const float> other);

// |X[k]|^2 for k = 0 ... n/2 into power[0 .. n/2] (n = spectrum.size()); power holds
// n/2 + 1 values. False, with nothing written, when it is shorter or n is odd or below 2.
bool PackedPowerSpectrum(std::span<const float> spectrum, std::span<float> power);

// Every element times the factor (the 2/n that makes RealFft's round trip the identity,
// say).
void ScaleSpectrum(std::span<float> spectrum, float factor);

// The 2x2 matrix per bin, in place: (left, right) = (left a + right b, left c + right d).
// Transformed back, two outputs that each sum two circular convolutions.
void MixPackedSpectra(std::span<float> left, std::span<float> right, std::span<const float> a,
                      std::span<const float> b, std::span<const float> c, std::span<const float> d);
