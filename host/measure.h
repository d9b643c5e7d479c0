// A measurement: a document played (looped) on a wave output device while the input of
// the same device records, sample-synchronous; the recording cut to whole steady-state
// periods, with the sound card's latency found on a loopback channel and removed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/core/document.h"
#include "host/modules.h"
#include "host/runner.h"

namespace tovrel::host {

struct MeasureSettings {
  unsigned device = 0;         // of the wave device table (output and input alike)
  long preRoll = 0;            // periods played before the recorded ones
  long periods = 1;            // whole periods recorded
  int inChannels = 1;          // channels recorded (1 or 2)
  int referenceChannel = 0;    // 1-based loopback channel of the recording; 0: none
  long marginFrames = -1;      // silence played after the periods, room for the latency (-1: half a second)
  std::function<void(double fraction)> progress;  // from 0 to 1 as the recording proceeds
  std::function<bool()> cancelled;                // polled while playing
};

struct Levels {
  double peakDbfs = -200;  // of the largest sample, relative to 32768
  double rmsDbfs = -200;
};

struct MeasureResult {
  Document recording;             // `periods` periods, every channel, latency removed
  long latency = 0;               // frames between played and recorded (reference channel)
  std::vector<long> periodLatency;  // the latency found in each recorded period
  long clipped = 0;               // samples of the recording at full scale
  Levels excitation;              // of one period
  std::vector<Levels> channels;   // of the recording, per channel
  long recordedFrames = 0;        // everything recorded, before the cut
};

// Levels of the document's samples (all channels, or channel `channel` of them).
Levels LevelsOf(const std::vector<int16_t>& samples, int channels, int channel = -1);

// The lag in [0, maxLag] at which `recorded` best matches `played` (largest absolute
// cross-correlation): where the played signal reappears.
long FindLatency(const std::vector<double>& played, const std::vector<double>& recorded, long maxLag);

// Plays the excitation's selection (one period; the whole document when nothing is selected)
// preRoll + periods times, then the margin of silence, while recording. Empty with the reason
// when a device failed or the run was cancelled (`cancelled` set).
std::optional<MeasureResult> PlayAndRecord(const Document& excitation, const MeasureSettings& settings,
                                           std::string& error, bool& cancelled);

// The response a run placed on the clipboard (16-bit wave data, mono or stereo) as a
// document; empty when there is none.
std::optional<Document> ClipboardResponse(const std::vector<portable::ClipboardItem>& clipboard);

// The chains of the modules that measure: mls = "MLS Signal", play/record, "Deconvolve MLS
// Signal"; irs = "IRS Signal", play/record, "Deconvolve IRS Signal"; sweep = "Sine Sweep"
// (its inverse filter to the clipboard), play/record, "Convolve with Clipboard",
// "Synchronous Average". The later steps take the settings that must match the
// generator's (order, durations, frequencies) from its confirmed dialog.
enum class Method { Mls, Irs, Sweep };
bool ParseMethod(const std::string& text, Method& method);

struct Chain {
  Method method = Method::Mls;
  const Module* generator = nullptr;
  std::vector<const Module*> after;  // the steps that turn the recording into the response
};
// The chain's modules by name; false with the error naming a missing one.
bool FindChain(const std::vector<std::unique_ptr<Module>>& modules, Method method, Chain& chain, std::string& error);

// What a step of the chain did.
struct ChainStep {
  const Module* module = nullptr;
  RunReport report;
};

// Runs the generator on `excitation` (an empty document of the measurement's rate and
// channels) with `options` (the user's --set on the module's defaults).
ChainStep Generate(const Chain& chain, Document& excitation, const RunOptions& options, const StateStore& store);

// Runs the steps after the recording, with the settings matching the generator's run;
// the response on the clipboard, or empty (the failed step last in `steps`).
std::optional<Document> Deconvolve(const Chain& chain, const ChainStep& generated, const Document& recording,
                                   const RunOptions& options, const StateStore& store, std::vector<ChainStep>& steps,
                                   std::string& error);

}  // namespace tovrel::host
