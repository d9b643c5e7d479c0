// The peak of a response and its scaling to 16-bit samples, shared by every module that
// delivers a response normalised to full scale.
#pragma once

#include <cstdint>
#include <span>

struct Peak {
  long position = 0;  // of the peak
  double dc = 0;      // the channel's DC offset (0 without DC removal)
};

// Peak search over plain values, the position counting from 0; raises magnitude (shared
// by the channels) to this channel's peak magnitude, measured from the mean with DC removal.
Peak FindPeakOfValues(std::span<const float> values, bool removeDc, float& magnitude);

// One value to a 16-bit sample: the DC offset subtracted, scaled by g (32767 / magnitude,
// in single precision), rounded half away from zero.
int16_t ScaleToSample(double value, double dc, float g);
