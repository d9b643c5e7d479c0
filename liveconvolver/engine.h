// The real-time convolver's engine, shared by the run (into a float temporary file) and
// the preview (to a wave device): the routing in force, the buffers fitted into memory,
// the response spectra and path filters, the block filter of each combined letter, and
// the overlap-save loop of frame/blockconv.h between a reader and a sink.
//
// Configuring allocates (fitting, spectra, the FFT plan); processing a block does not.
//
// The block filter places every path's output on the channel the selector names (the
// path's response channel) and sums the paths that meet there; an output no path feeds
// is silent. Unrouted, the input passes through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/blockconv.h"
#include "frame/fft.h"
#include "frame/progress.h"

// The facts of one run or preview.
struct LiveRouting {
  uint32_t mask = 0;         // the paths in force (responses loaded; a mono input: left-input paths)
  int inputChannels = 1;     // of the document
  int outputChannels = 1;    // of the output: the document's for a run; 2 may play a mono input
  long responseFrames[2] = {0, 0};
  int responseChannels[2] = {0, 0};
  long filterLength = 1;     // M of the overlap, the FFT size and the growth
  long plannedSize = 0;      // N the fitting starts from
};

enum class RoutingProblem {
  None,
  OutputsExceedChannels,  // paths to both outputs of a one-channel output ('c' on a mono document)
  BadChannels,            // an input or output count other than 1 or 2
};

// The routing of a mask for the responses given (channels 0: not loaded, its bits are
// dropped) and an input of `inputChannels` channels and `selectionFrames` frames.
// The planned size is the rule of routing.h for the run's filter length.
RoutingProblem PlanLiveRouting(uint32_t mask, int inputChannels, int outputChannels, const long responseFrames[2],
                               const int responseChannels[2], long selectionFrames, LiveRouting& routing);

// Where the fitting takes its buffers: zero-filled memory that stays until ReleaseAll.
class EngineAllocator {
 public:
  virtual ~EngineAllocator() = default;
  // Null when the memory cannot be had.
  virtual void* Allocate(std::size_t bytes) = 0;
  // Gives back everything taken since the last release.
  virtual void ReleaseAll() = 0;
};

// A run's or preview's buffers and filters.
struct LiveEngine {
  LiveRouting routing;
  long fftSize = 0;  // N reached by the fitting
  RealFftPlan fft{0};
  void* block = nullptr;              // max(inputs, outputs) N 32-bit words
  float* overlap = nullptr;           // inputs (M - 1) floats
  float* work[2] = {nullptr, nullptr};
  // Spectrum of response k towards output channel c (a mono response serves both).
  float* spectrum[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}};
  float* product[2] = {nullptr, nullptr};  // towards output c, where both responses act in series
  // The filter of the path from input i to output o; null when no response routes it.
  const float* path[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}};

  long newFrames() const { return fftSize - routing.filterLength + 1; }
  long outputFrames(long selectionFrames) const { return selectionFrames + routing.filterLength - 1; }
};

// Allocation attempts at the planned size, halving N after each failure (what the attempt
// took is released first) while N >= 2 M. Returns N, or 0 when not even 2 M fits (nothing
// is held then). The caller shows the messages.
long FitLiveEngine(const LiveRouting& routing, EngineAllocator& allocator, LiveEngine& engine);

// The 16-bit samples of each response, interleaved by frame (empty when not routed).
struct ResponseSamples {
  std::span<const int16_t> samples[2];
};

// The response spectra, then the path filters, over the fitted buffers; progress (1 ... 8, 8)
// after each of their steps. False when the progress asks to stop or a response holds
// fewer samples than its length says.
bool PrepareLiveFilters(LiveEngine& engine, const ResponseSamples& responses, const ProgressFn& progress);

// The block filter of the routing: time data of the inputs in work[0] (left) and work[1]
// (right) in, outputs there out.
void FilterLiveBlock(const LiveEngine& engine, float* left, float* right);

// The block convolution of `frames` input frames from `firstFrame`: reader, filter, sink.
BlockOutcome RunLiveConvolution(const LiveEngine& engine, long firstFrame, long frames, const BlockReader& read,
                                const BlockSink& sink, const ProgressFn& progress);
