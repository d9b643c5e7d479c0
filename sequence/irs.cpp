#include "sequence/irs.h"

#include <algorithm>
#include <cstddef>

namespace {

// Sample k of the first half for bit b = x[k + 1]: bit 0 gives +A, bit 1 -A, and odd
// positions are inverted.
template <class T>
T FirstHalf(long k, long bit, T level) {
  const bool negative = (bit != 0) != ((k & 1) != 0);
  return negative ? static_cast<T>(-level) : level;
}

// In place: on entry data[0 .. L] holds x[0] .. x[L] as 0/1; on return data[0 .. 2L-1]
// is the period. The second half is written first: it lies beyond the bits. The first
// half then reads bit k + 1 before position k is written, and s[L] comes last, once
// x[L] has been used for s[L - 1].
template <class T>
void FormInPlace(std::span<T> data, long period, T level) {
  const std::size_t L = static_cast<std::size_t>(period);
  for (std::size_t k = L - 1; k >= 1; --k) {
    data[L + k] = static_cast<T>(-FirstHalf(static_cast<long>(k), static_cast<long>(data[k + 1]), level));
  }
  for (std::size_t k = 0; k < L; ++k) {
    data[k] = FirstHalf(static_cast<long>(k), static_cast<long>(data[k + 1]), level);
  }
  data[L] = level;
}

template <class T>
bool Generate(const MlsEntry& row, T level, std::span<T> period, const ProgressFn& progress) {
  const long length = IrsPeriod(row.order);
  if (period.size() < static_cast<std::size_t>(length)) return false;
  // The recurrence stores 2^N = L + 1 positions, which fit in 2L.
  if (!GenerateMlsBits(row, period.data(), 1, progress)) return false;
  FormInPlace(period, MlsPeriod(row.order), level);
  return true;
}

}  // namespace

bool GenerateIrsPeriod(const MlsEntry& row, int16_t level, std::span<int16_t> period, const ProgressFn& progress) {
  return Generate(row, level, period, progress);
}

bool GenerateIrsPeriod(const MlsEntry& row, float level, std::span<float> period, const ProgressFn& progress) {
  return Generate(row, level, period, progress);
}

bool GenerateIrsReference(const MlsEntry& row, std::span<float> reference, const ProgressFn& progress) {
  if (!Generate(row, 1.0f, reference, progress)) return false;
  std::reverse(reference.begin(), reference.begin() + IrsPeriod(row.order));
  return true;
}

bool FormIrsReference(std::span<const int32_t> bits, int order, std::span<float> reference) {
  const long L = MlsPeriod(order);
  const long length = IrsPeriod(order);
  if (bits.size() < static_cast<std::size_t>(L + 1) || reference.size() < static_cast<std::size_t>(length)) {
    return false;
  }
  // reference[2L - 1 - j] = s[j]
  const std::size_t last = static_cast<std::size_t>(length - 1);
  for (long k = 0; k < L; ++k) {
    const float s = FirstHalf(k, static_cast<long>(bits[static_cast<std::size_t>(k + 1)]), 1.0f);
    reference[last - static_cast<std::size_t>(k)] = s;
    if (k >= 1) reference[last - static_cast<std::size_t>(L + k)] = -s;
  }
  reference[last - static_cast<std::size_t>(L)] = 1.0f;
  return true;
}
