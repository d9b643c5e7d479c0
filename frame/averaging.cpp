#include "frame/averaging.h"

#include <cstring>

#include "frame/xfm.h"

void AddPeriod(const int16_t* frames, long period, int channels, int32_t* const sums[]) {
  for (int ch = 0; ch < channels; ++ch) {
    int32_t* sum = sums[ch];
    const int16_t* in = frames + ch;
    for (long k = 0; k < period; ++k) sum[k] += in[k * channels];
  }
}

bool SumPeriods(XfmContext* context, long first, long period, long count, int channels, int16_t* buffer,
                int32_t* const sums[], const ProgressFn& progress) {
  const LONG periodBytes = static_cast<LONG>(2 * channels * period);
  for (long c = 0; c < count; ++c) {
    context->readSamples(buffer, static_cast<LONG>(2 * channels * (first + c * period)), periodBytes);
    AddPeriod(buffer, period, channels, sums);
    if (progress && !progress(c + 1, count)) return false;
  }
  return true;
}

void SumsToFloats(int32_t* cells, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i <= last; ++i) {
    const float f = static_cast<float>(cells[i]);
    std::memcpy(cells + i, &f, sizeof f);
  }
}
