// The symmetric Toeplitz solver of the inverse-filter design: Levinson recursion on
// float32 vectors with the inner products accumulated in double precision.
#pragma once

#include <cstdint>
#include <span>

#include "frame/progress.h"

enum class ToeplitzResult { Solved, Singular, Cancelled };

// Solves sum_j r[|i - j|] * x[j] = y[i] for i, j = 0 ... L - 1 (L = x.size(); r and y
// hold at least L values, g is the work vector of at least L values).
//
// Each step m (rows 0 ... m solved) takes the three inner products
//   sd  = -r[0] + sum r[k + 1] g[k],  sxn = -y[m] + sum r[m - k] x[k],
//   sgn = -r[m] + sum r[m - k] g[k]   (k = 0 ... m - 1)
// in double precision from the float32 values; x[m] = sxn / sd and g[m] = sgn / sd are
// stored as floats. The updates of x and g and the products of the next step are done
// in one pass over the pairs (k, m - 1 - k). A zero r[0] or sd is a singular principal
// minor. After every block of 100 rows short of L, progress gets (rows², L²), both
// scaled down alike to fit 31 bits; false from it cancels.
//
// `vectorised` = false takes the scalar path (the same arithmetic in another order of
// summation); true uses the processor's vector units where it has them.
ToeplitzResult ToeplitzSolve(std::span<const float> r, std::span<const float> y, std::span<float> x,
                             std::span<float> g, const ProgressFn& progress, bool vectorised = true);

// The progress pair for `rows` of `total` rows: (rows², total²) divided by the same
// power of two until the total fits in 31 bits.
struct QuadraticProgress {
  long done;
  long total;
};
QuadraticProgress QuadraticSteps(int64_t rows, int64_t total);
