// IRS deconvolution: the circular cross-correlation of an averaged IRS period with the
// reference, taken through the real FFT, and the scaling of one MLS length of lags to
// 16 bits.
//
// With P = 2L the IRS period and F = 2P + 4 the transform length, the work array holds
// the averaged period twice (0 .. 2P - 1) and zeros after it; the reference array holds
// the unit period reversed in time and zeros after it. The product of their spectra,
// transformed back, holds at index P - 1 + tau (tau = 0 .. P - 2) F/2 times the
// correlation at lag tau.
#pragma once

#include <cstdint>
#include <span>

// The spectra meet through MultiplyPackedSpectra (frame/spectrum.h).

// The index of lag 0 in the correlation, 2L - 1.
inline long IrsLagZero(long period) { return 2 * period - 1; }

// The lag the output starts from (0 .. L - 1), given the peak lags of the first channel
// and of the second (second < 0: mono). The second channel's peak is taken when it lies
// less than half of 2^N before the first's, circularly; equal lags keep the first's. For
// N >= 12 the start moves 1500 lags earlier, circularly, so that the peak lands at
// output frame 1500.
long ChooseStartLag(long first, long second, int order);

// Output frame t (t = 0 .. L - 1) of one channel takes lag (start + t) mod L, scaled by
// 32767 / magnitude (single precision) and rounded half away from zero, at
// out[t * channels + channel]. lags holds the L values of lags 0 .. L - 1.
void WriteIrsResponse(std::span<const float> lags, long start, float magnitude, std::span<int16_t> out, int channel,
                      int channels);
