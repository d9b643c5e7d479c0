#include "sequence/invsequnfold/irsunfold.h"

#include <cstddef>

#include "sequence/unfold.h"

long ChooseStartLag(long first, long second, int order) {
  const long period = (1L << order) - 1;
  const long half = (period + 1) / 2;
  long start = first;
  if (second >= 0) {
    if ((second <= first && first - second < half) || (second > first && second - first > half)) start = second;
  }
  if (order >= 12) {
    start -= 1500;
    if (start < 0) start += period;
  }
  return start;
}

void WriteIrsResponse(std::span<const float> lags, long start, float magnitude, std::span<int16_t> out, int channel,
                      int channels) {
  const long period = static_cast<long>(lags.size());
  const float g = 32767.0f / magnitude;
  long lag = start;
  for (long t = 0; t < period; ++t, ++lag) {
    if (lag >= period) lag -= period;
    out[static_cast<std::size_t>(t * channels + channel)] = ScaleToSample(lags[static_cast<std::size_t>(lag)], 0, g);
  }
}
