// Acoustical parameters of a room impulse response: energy ratios, centre time and
// decay times per row (wide band and octave bands), and the per-channel driver.
#pragma once

#include <functional>
#include <span>

#include "frame/octave.h"
#include "frame/progress.h"

// Parameter positions within a row.
enum Parameter : int {
  kC50 = 0,
  kC80 = 1,
  kD50 = 2,
  kTs = 3,
  kEdt = 4,
  kRt20 = 5,
  kRRt20 = 6,
  kRt30 = 7,
  kRRt30 = 8,
  kRtu = 9,
  kRRtu = 10,
};
inline constexpr int kParameters = 11;
inline constexpr int kChannelValues = kRows * kParameters;  // 121 per channel

// Result store of one run: values [channel][row][parameter], then the validity flags in
// the same order ('y' or 'n'), followed by one noise-correction flag per row.
inline constexpr int kNoiseFlagsOffset = 2 * kChannelValues;        // 242
inline constexpr int kResultFlagBytes = kNoiseFlagsOffset + kRows;  // 253
struct AcousticResults {
  float values[2 * kChannelValues];
  char flags[kResultFlagBytes];
};

// The settings an analysis reads from the parameter block.
struct AnalysisSettings {
  float rtuUpper = -5.0f;   // start of the user-defined decay range, dB (<= 0)
  float rtuLower = -15.0f;  // its end, dB
  float threshold = 10000.0f;  // first-arrival threshold, 16-bit units
  bool noiseCorrection = true;
};

// One row: the work buffer holds the row's samples; fills the row's 11 values and
// validity flags and leaves the decay curve in dB in the buffer.
void RowParameters(std::span<float> work, long a, double noisePower, float fs,
                   const AnalysisSettings& settings, std::span<float, kParameters> values,
                   std::span<char, kParameters> flags);

enum class ChannelOutcome { kCompleted, kNoFirstArrival, kCancelled };

struct ChannelHooks {
  std::function<void()> started;  // after the first arrival was found, before any row
  ProgressFn progress;            // after each row: (1, 11), (2, 11), ...
};

// Analyses one channel: the source holds its samples, the work buffer (same length) is
// overwritten. values and flags are the channel's 121 entries; noiseFlags (11 entries, or
// empty to leave them alone) receive whether each row was noise-corrected. Bands above
// the highest centre for fs keep their flags 'n'.
ChannelOutcome AnalyseChannel(std::span<const float> source, std::span<float> work, float fs,
                              const AnalysisSettings& settings,
                              std::span<float, kChannelValues> values,
                              std::span<char, kChannelValues> flags, std::span<char> noiseFlags,
                              const ChannelHooks& hooks);
