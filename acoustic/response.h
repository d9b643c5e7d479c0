// The whole analysis of a response held as interleaved 16-bit samples: every channel
// (left then right for stereo), into one result store.
#pragma once

#include <cstdint>
#include <span>

#include "acoustic/parameters.h"

struct ResponseAnalysis {
  AcousticResults results;     // flags 'n' wherever nothing was computed
  ChannelOutcome outcome;      // of the last channel analysed
  int channelsAnalysed;        // 0, 1 or 2
};

// Analyses frames of `channels` (1 or 2) interleaved samples at fs. The right channel is
// analysed only after the left one completed; noise flags are the first channel's.
ResponseAnalysis AnalyseResponse(std::span<const int16_t> interleaved, int channels, float fs,
                                 const AnalysisSettings& settings, const ProgressFn& progress = {});
