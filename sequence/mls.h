// Maximum-length sequences: the table of orders and tap sets, and the bit recurrence
// that generators and deconvolvers share bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/progress.h"

struct MlsEntry {
  const char* label;  // the order combo box text
  int order;          // N, 2 to 21
  int tapCount;
  int taps[10];       // ascending; the last equals N
};

inline constexpr int kMlsEntryCount = 31;
inline constexpr int kDefaultMlsEntry = 18;  // "15 B"
inline constexpr int kIrsEntryCount = 29;    // the IRS modules offer orders up to 19

extern const MlsEntry MlsEntryTable[kMlsEntryCount];

// The entry of a stored index, or null when the index lies outside the table.
inline const MlsEntry* FindMlsEntry(long index) {
  return index >= 0 && index < kMlsEntryCount ? &MlsEntryTable[index] : nullptr;
}

// L = 2^N - 1, the period length.
inline long MlsPeriod(int order) { return (1L << order) - 1; }

inline constexpr long kMlsProgressBlock = 8192;

// Fills x[0] .. x[2^N - 1] for the row, each bit stored at out[position * stride]:
// positions 1 .. L are one period, and x[0] is a seed equal to x[L]. Reports
// (positions done, 2^N) after every block of 8192 positions; returns false when the
// callback asks to stop.
template <class T>
bool GenerateMlsBits(const MlsEntry& row, T* out, std::size_t stride, const ProgressFn& progress) {
  const long positions = 1L << row.order;
  for (long blockStart = 0; blockStart < positions; blockStart += kMlsProgressBlock) {
    const long blockEnd = blockStart + kMlsProgressBlock < positions ? blockStart + kMlsProgressBlock : positions;
    for (long i = blockStart; i < blockEnd; ++i) {
      long b = (i == 0) ? row.order : 0;
      for (int k = 0; k < row.tapCount; ++k) {
        const long t = row.taps[k];
        if (t < i) {
          b += static_cast<long>(out[static_cast<std::size_t>(i - t) * stride]);
        } else {
          if (t == i) b += i;
          break;
        }
      }
      out[static_cast<std::size_t>(i) * stride] = static_cast<T>(b & 1);
    }
    if (progress && !progress(blockEnd, positions)) return false;
  }
  return true;
}
