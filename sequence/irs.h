// Inverse-repeated sequences: one period built from an MLS, shared bit for bit by the
// IRS generator and the IRS deconvolver.
//
// With L = 2^N - 1 and m[k] = +A for bit x[k + 1] = 0, -A for bit 1 (k = 0 .. L-1),
// the period has 2L samples:
//   s[k]     = m[k] for even k, -m[k] for odd k   (k = 0 .. L-1)
//   s[L]     = +A, whatever s[0] is
//   s[L + k] = -s[k]                              (k = 1 .. L-1)
// Alternate samples are inverted and the second half repeats the first with the
// opposite sign, so that even-order distortion cancels in the deconvolution.
#pragma once

#include <cstdint>
#include <span>

#include "frame/progress.h"
#include "sequence/mls.h"

// The level of the generated signal.
inline constexpr int16_t kIrsLevel = 16384;

// 2L, the samples of one IRS period.
inline long IrsPeriod(int order) { return 2 * MlsPeriod(order); }

// Runs the recurrence of the row (GenerateMlsBits, stride 1) in `period` itself and
// forms the period there at the given level; only the first 2L values are written.
// Reports (positions done, 2^N) after every 8192 positions. False when cancelled, or
// when `period` holds fewer than 2L values (nothing is written then).
bool GenerateIrsPeriod(const MlsEntry& row, int16_t level, std::span<int16_t> period, const ProgressFn& progress);
bool GenerateIrsPeriod(const MlsEntry& row, float level, std::span<float> period, const ProgressFn& progress);

// The reference of the deconvolution: the period at level 1, reversed in time,
// reference[k] = s[2L - 1 - k] for k = 0 .. 2L-1. Progress and results as above.
bool GenerateIrsReference(const MlsEntry& row, std::span<float> reference, const ProgressFn& progress);

// The same reference from bits x[0] .. x[L] already made by GenerateMlsBits (stride 1;
// x[1] .. x[L] are used). False, with nothing written, when `bits` holds fewer than
// L + 1 values or `reference` fewer than 2L.
bool FormIrsReference(std::span<const int32_t> bits, int order, std::span<float> reference);
