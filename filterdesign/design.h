// Kernels of the filter designs: the least-squares inverse filter's correlations, the
// regularised (Kirkeby) inversion of spectra, and the scaling of a designed filter to
// 16-bit samples. Spectra use the packed layout of RealFft: bin 0 holds the
// zero-frequency value and the half-rate value as its two floats.
#pragma once

#include <cstdint>
#include <span>

#include "frame/progress.h"

// ---- least-squares inverse filter ----

// The cross-correlation of h with a unit impulse at `delay`: y[i] = h[delay - i] where
// 0 <= delay - i < h.size(), else 0, for i = 0 ... y.size() - 1.
void DelayedImpulseCorrelation(std::span<const float> h, int64_t delay, std::span<float> y);

// A packed spectrum to its squared magnitudes, in place: elements 0 and 1 squared, every
// pair (re, im) to (re² + im², 0).
void PowerSpectrum(std::span<float> packed);

// The transform size of the autocorrelation of n samples: the smallest power of two not
// below 2n - 1 (1 for n = 1); 0 when n < 1 or the size would pass 2^30.
int64_t AutocorrelationSize(int64_t n);

// ---- regularised spectrum flattening ----

// The band edges in bins of a filter of `length` samples at `sampleRate`:
// k1, k2 = low × 2^(∓width/2) × length / sampleRate, k3, k4 likewise around high, each
// truncated toward zero (and held within ±2^30).
struct BandEdges {
  long k1, k2, k3, k4;
};
BandEdges ComputeBandEdges(long sampleRate, long length, long low, long high, float width);

struct Regularisation {
  float inBand;   // ε_in
  float outBand;  // ε_out
  BandEdges edges;
};

// The regularisation of bin k = 1 ... bins - 1 (the profile with k1, k2 clamped to at
// least 1 and k3, k4 to at most bins - 1): ε_out below k1, a straight line in log ε up to
// ε_in at k2, ε_in up to k3, back to ε_out at k4, ε_out above; where the regions overlap
// (edges in reverse order) the later one wins.
double RegularisationAt(const Regularisation& reg, long bins, long k);

// Each bin X of a packed spectrum of `bins` bins becomes conj(X) / (|X|² + ε(k)); the
// zero-frequency and half-rate values of bin 0 take ε_out.
void RegularisedInverse(std::span<float> packed, long bins, const Regularisation& reg);

// Lowers a packed spectrum of `from` bins to `to` bins (from a multiple of to) in place:
// with r = from / to and d = r / 2, target bin t sums half of source bins t r ∓ d and the
// whole bins between them; bin 0 is copied.
void ReduceSpectrum(std::span<float> packed, long from, long to);

// Swaps the two halves of 2 × half values in place.
void RotateHalf(std::span<float> values, long half);

// The mono design in place over `work` (at least max(P0, L) values; the response first,
// zeros after it): the spectrum at P0 points reduced to L / 2 bins when that is coarser,
// else at L points; regularised inversion; back to L samples; centred at sample L / 2.
// Reports (1 ... 5, 5); false when progress cancels.
bool DesignFlattening(std::span<float> work, long p0, long length, const Regularisation& reg,
                      const ProgressFn& progress);

// The 2 × 2 design in place: a, b, c, d (each at least max(Q, L) values) hold the
// responses 11, 12, 21, 22 and become the filters D/Δ, -B/Δ, -C/Δ, A/Δ with Δ = AD - CB
// inverted with the regularisation; `det` is a work buffer of at least L values.
// q = P0 / 2, the transform size of the responses. Reports (1 ... 5, 5).
bool DesignDipole(std::span<float> a, std::span<float> b, std::span<float> c, std::span<float> d,
                  std::span<float> det, long q, long length, const Regularisation& reg, const ProgressFn& progress);

// ---- delivery ----

// Largest |value|, or a negative number when any value is NaN or infinite.
float FilterPeak(std::span<const float> values);

// value × gain rounded half away from zero, held within 16 bits.
int16_t ScaleFilterSample(float value, float gain);
