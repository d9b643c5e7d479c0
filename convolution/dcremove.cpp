#include "convolution/dcremove.h"

#include <algorithm>
#include <cmath>

namespace {

void Means(std::span<const float> values, int channels, double* mean) {
  const std::size_t e = static_cast<std::size_t>(channels);
  const std::size_t frames = values.size() / e;
  for (std::size_t c = 0; c < e; ++c) {
    double sum = 0;
    for (std::size_t j = 0; j < frames; ++j) sum += values[j * e + c];
    mean[c] = frames ? sum / static_cast<double>(frames) : 0.0;
  }
}

}  // namespace

RunningDcRemover::RunningDcRemover(std::span<float> ring, int channels, long window, std::span<const float> first)
    : ring_(ring), channels_(channels), window_(window) {
  double mean[2] = {0, 0};
  Means(first, channels, mean);
  for (long j = 0; j < window; ++j)
    for (int c = 0; c < channels; ++c) ring_[static_cast<std::size_t>(j * channels + c)] = static_cast<float>(mean[c]);
  for (int c = 0; c < channels; ++c) sum_[c] = static_cast<double>(window) * static_cast<float>(mean[c]);
}

float RunningDcRemover::Process(std::span<float> values, float peak) {
  const std::size_t e = static_cast<std::size_t>(channels_);
  const double w = static_cast<double>(window_);
  for (std::size_t j = 0; j + e <= values.size(); j += e) {
    float* oldest = &ring_[static_cast<std::size_t>(position_) * e];
    for (std::size_t c = 0; c < e; ++c) {
      const float x = values[j + c];
      sum_[c] += static_cast<double>(x) - oldest[c];
      oldest[c] = x;
      const float y = static_cast<float>(x - sum_[c] / w);
      values[j + c] = y;
      peak = std::max(peak, std::fabs(y));
    }
    if (++position_ == window_) position_ = 0;
  }
  return peak;
}

float RemoveMean(std::span<float> values, int channels, float peak) {
  double mean[2] = {0, 0};
  Means(values, channels, mean);
  const std::size_t e = static_cast<std::size_t>(channels);
  for (std::size_t k = 0; k < values.size(); ++k) {
    values[k] = static_cast<float>(values[k] - mean[k % e]);
    peak = std::max(peak, std::fabs(values[k]));
  }
  return peak;
}
