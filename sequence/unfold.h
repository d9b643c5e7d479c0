// MLS deconvolution: the correlation of an averaged period with the reference sequence
// through a fast Hadamard transform, and the scaling of the result to 16 bits.
//
// Arrays indexed by "position" run from 1 to 2^N; index 0 is present but unused, so such
// an array has 2^N + 1 entries. The permutation and the work arrays are laid out so.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "frame/peaks.h"
#include "frame/progress.h"

enum class TobResult { Found, NotFound, Cancelled };

// Depth-first search over the reference period x[0] .. x[L - 1] (L = period.size(),
// L = 2^N - 1) for the N ascending offsets of the TOB (tob.size() == N): each offset
// has a 1 in the period, and every other chosen offset a 0 at the sum of the two.
// Reports (offsets chosen, N) after each offset taken short of N.
TobResult LookUpTob(std::span<const int32_t> period, std::span<long> tob, const ProgressFn& progress);

// Position i + 2 gets 1 + the N-bit tag read at the TOB offsets from i (most significant
// first), i = 0 .. L - 1; position 1 gets 1. Reports (positions done, L) every 8192
// positions; false when cancelled. perm has 2^N + 1 entries.
bool BuildMlsPermutation(std::span<const int32_t> period, std::span<const long> tob, std::span<int32_t> perm,
                         const ProgressFn& progress);

// Moves w[i] to w[perm[i]] for positions 2 .. 2^N. Without scratch (or for small orders)
// in place by following cycles, leaving in perm the inverse permutation, negated. Given a
// scratch array of at least as many entries as w, large orders move through it instead,
// leaving perm as it is (the cycles wait on one cache miss after another).
void PermuteForward(std::span<float> w, std::span<int32_t> perm, std::span<float> scratch = {});

// Unnormalised Walsh-Hadamard transform of positions 1 .. 2^N, natural order, in place.
void FastHadamardTransform(std::span<float> w);

// Undoes PermuteForward, subtracting the transformed sum term at position 1 from every
// value, and restores perm to the forward permutation for the next channel. Works after
// either kind of forward move, with or without scratch; the scratch, when given, speeds
// up the large orders as in PermuteForward.
void PermuteBackward(std::span<float> w, std::span<int32_t> perm, std::span<float> scratch = {});

// Correlates one channel's averaged period with the sequence in place: PermuteForward,
// FastHadamardTransform, PermuteBackward (both moves with the scratch, if any), calling
// afterStep(k) after step k = 1, 2, 3. False as soon as afterStep does; perm is then not
// restored and the run must end.
bool CorrelateWithMls(std::span<float> w, std::span<int32_t> perm, const std::function<bool(int step)>& afterStep,
                      std::span<float> scratch = {});

// Peak search over positions 2 .. 2^N of one channel; raises magnitude (shared by the
// channels) to this channel's peak magnitude, measured from the mean with DC removal.
Peak FindPeak(std::span<const float> w, bool removeDc, float& magnitude);

// The position the output starts from: the first channel's peak, or the second's when it
// lies less than half of 2^N after it (second < 0: mono); moved 1500 on for N >= 12.
long ChooseStartPosition(long first, long second, int order);

// Output frame t (t = 0 .. L - 1) of one channel takes position start - t, wrapping
// below 2 to 2^N; the DC offset is subtracted, the value scaled by 32767 / magnitude and
// rounded half away from zero. Writes out[t * channels + channel].
void WriteRotatedResponse(std::span<const float> w, long start, double dc, float magnitude,
                          std::span<int16_t> out, int channel, int channels);

// The "Rescaled from: " number: eight significant digits by fixed-point conversion,
// trailing zeros removed, with an "E" exponent where the point falls outside them.
std::string FormatResultNumber(double v);
