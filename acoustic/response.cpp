#include "acoustic/response.h"

#include <cstring>
#include <vector>

ResponseAnalysis AnalyseResponse(std::span<const int16_t> interleaved, int channels, float fs,
                                 const AnalysisSettings& settings, const ProgressFn& progress) {
  ResponseAnalysis out{};
  std::memset(out.results.flags, 'n', sizeof out.results.flags);
  out.outcome = ChannelOutcome::kNoFirstArrival;
  const int stride = channels == 2 ? 2 : 1;
  const std::size_t n = interleaved.size() / static_cast<std::size_t>(stride);
  std::vector<float> source(n), work(n);
  ChannelHooks hooks;
  hooks.progress = progress;
  for (int c = 0; c < stride; ++c) {
    for (std::size_t k = 0; k < n; ++k) source[k] = interleaved[k * stride + c];
    const std::span<char> noise =
        c == 0 ? std::span<char>(out.results.flags + kNoiseFlagsOffset, kRows) : std::span<char>();
    out.outcome = AnalyseChannel(
        source, work, fs, settings, std::span<float, kChannelValues>(out.results.values + c * kChannelValues, kChannelValues),
        std::span<char, kChannelValues>(out.results.flags + c * kChannelValues, kChannelValues), noise, hooks);
    out.channelsAnalysed = c + 1;
    if (out.outcome != ChannelOutcome::kCompleted) break;
  }
  return out;
}
