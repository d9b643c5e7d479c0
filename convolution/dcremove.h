// DC removal of the convolved signal: a running mean over a window of W frames per
// channel subtracted from each value, or, when the whole signal is shorter than the
// window, the mean of the whole signal.
#pragma once

#include <span>

class RunningDcRemover {
 public:
  // `ring` holds channels x window floats, interleaved by frame; `first` holds the
  // first `window` frames of the signal, whose per-channel means start the ring.
  RunningDcRemover(std::span<float> ring, int channels, long window, std::span<const float> first);
  // Interleaved frames in place: each value x becomes x - (sum of the last W values,
  // x included) / W. Returns the largest output magnitude and `peak`.
  float Process(std::span<float> values, float peak);

 private:
  std::span<float> ring_;
  int channels_;
  long window_;
  long position_ = 0;
  double sum_[2] = {0, 0};
};

// Subtracts each channel's mean over all the frames; returns the largest magnitude and `peak`.
float RemoveMean(std::span<float> values, int channels, float peak);
