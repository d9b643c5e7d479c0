// The run of "Real Time Convolver": the selection through the routed responses into a
// float temporary file ("FLO"), then back into the document at full scale; the document
// grows by M - 1 frames. Every failure leaves the document as it was and returns L.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "frame/blockconv.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"
#include "liveconvolver/engine.h"
#include "liveconvolver/livefold/engine_setup.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/livefold/stored.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kStoredDataMessage[] = "Error!\n\nXfmDo function is unable to access stored data.";
constexpr char kMemoryCaption[] = "Memory Allocation Error";
constexpr char kMonoBothOutputsMessage[] =
    "The routing sends the mono input to both output channels,\nbut the audio data has only one.\n\n"
    "Route it to one output channel only.";

bool Ask(const std::string& question, const char* caption) {
  return MessageBoxA(nullptr, question.c_str(), caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

// One run: what each step finds and leaves for the next.
struct LiveRun {
  explicit LiveRun(XfmContext* c) : context(c), host(c) {}

  XfmContext* context;
  HostProgress host;
  LiveParams params{};
  long selected = 0;  // L
  int channels = 0;
  bool loaded[2] = {false, false};
  Staging locks;  // of the responses' samples
  ResponseSamples samples;
  LiveRouting routing;
  StagedAllocator memory;
  LiveEngine engine;
  FloatTempFile file;
  LONG tailOffset = 0, tailBytes = 0;  // inserted after the selection
  float peak = 0;

  void Error(const char* text, const char* caption = nullptr) const {
    ShowError(nullptr, text, caption ? caption : context->caption);
  }
};

// The settings, the document's format and the responses that are really there.
bool ReadSettings(LiveRun& run) {
  XfmContext* c = run.context;
  run.selected = SelectedFrames(c);
  run.channels = c->channels;
  {
    BlockLock lock(c->paramHandle);
    if (!lock) return false;
    std::memcpy(&run.params, lock.get(), sizeof run.params);
  }
  if (c->bitsPerSample != 16) {
    run.Error(kDocumentBitsMessage);
    return false;
  }
  if ((run.channels != 1 && run.channels != 2) || run.selected <= 0) return false;
  for (int k = 0; k < 2; ++k) run.loaded[k] = StoredResponseValid(run.params, k);
  return true;
}

// |document rate / response rate - 1| >= 1 %: the user decides.
bool CheckRates(LiveRun& run) {
  const long document = run.context->sampleRate;
  for (int k = 0; k < 2; ++k) {
    if (!run.loaded[k]) continue;
    const long rate = run.params.responseRate[k];
    if (RatesDiffer(document, rate) && !Ask(RatesQuestion(document, k, rate), run.context->caption)) return false;
  }
  return true;
}

// The routing in force, and the samples of every routed response locked for the run. A
// switch of a response that is not there (a block kept from an earlier run, say) is a
// refusal, never a different routing.
bool LockResponses(LiveRun& run) {
  const uint32_t mask = static_cast<uint32_t>(run.params.routingMask) & (run.channels == 1 ? kMonoDocumentMask : 0xFFu);
  long frames[2];
  int channels[2];
  for (int k = 0; k < 2; ++k) {
    if (Routed(mask, k) && !run.loaded[k]) {
      run.Error(kStoredDataMessage);
      return false;
    }
    frames[k] = run.loaded[k] ? run.params.responseFrames[k] : 0;
    channels[k] = run.loaded[k] ? run.params.responseChannels[k] : 0;
  }
  const RoutingProblem problem =
      PlanLiveRouting(mask, run.channels, run.channels, frames, channels, run.selected, run.routing);
  if (problem != RoutingProblem::None) {
    run.Error(problem == RoutingProblem::OutputsExceedChannels ? kMonoBothOutputsMessage : kStoredDataMessage);
    return false;
  }
  for (int k = 0; k < 2; ++k) {
    if (!Routed(run.routing.mask, k)) continue;
    const auto* data = static_cast<const int16_t*>(run.locks.Lock(FieldToHandle<HGLOBAL>(run.params.responseSamples[k])));
    if (!data) {
      run.Error(kStoredDataMessage);
      return false;
    }
    run.samples.samples[k] = std::span<const int16_t>(data, static_cast<std::size_t>(frames[k]) * channels[k]);
  }
  return true;
}

// The buffers at the planned size or, halving it, the largest that fits; the user agrees
// to a smaller one.
bool FitMemory(LiveRun& run) {
  const long m = run.routing.filterLength;
  const long long endByte = (static_cast<long long>(run.context->selStart) + run.selected + m - 1) * run.channels * 2;
  run.host.Begin("Initializing...");
  const long n = endByte <= 0x7FFFFFFFLL ? FitLiveEngine(run.routing, run.memory, run.engine) : 0;
  if (n == 0) {
    run.Error(kConvolutionMemoryMessage, kMemoryCaption);
    return false;
  }
  const long optimum = run.routing.plannedSize;
  if (n == optimum) return true;
  return Ask(FftSizeQuestion(run.params, run.loaded[1], optimum, n), run.context->caption);
}

// Response spectra and path filters, progress (1 ... 8, 8); the samples are then let go.
bool PrepareFilters(LiveRun& run) {
  const bool going = PrepareLiveFilters(run.engine, run.samples, run.host.Callback());
  run.host.End();
  run.samples = ResponseSamples{};
  run.locks.ReleaseAll();
  return going;
}

bool OpenTempFile(LiveRun& run) {
  if (run.file.Create(run.context, "FLO")) return true;
  run.Error(kTempFileMessage, kFileErrorCaption);
  return false;
}

// channels x (M - 1) samples after the selection, for the tail of the convolution.
bool InsertTail(LiveRun& run) {
  XfmContext* c = run.context;
  const long long frames = run.routing.filterLength - 1;
  if (frames == 0) return true;
  const LONG offset = static_cast<LONG>((static_cast<long long>(c->selEnd) + 1) * run.channels * 2);
  const LONG bytes = static_cast<LONG>(frames * run.channels * 2);
  if (!c->insertSamples || c->insertSamples(offset, bytes) != 0) {
    run.Error(kConvolutionMemoryMessage, kMemoryCaption);
    return false;
  }
  run.tailOffset = offset;
  run.tailBytes = bytes;
  return true;
}

// The block convolution into the file, unscaled, with its peak magnitude.
bool Convolve(LiveRun& run) {
  XfmContext* c = run.context;
  const BlockReader read = [c](LONG offset, LONG bytes, int16_t* to) { c->readSamples(to, offset, bytes); };
  const BlockSink sink = [&run](const float* values, std::size_t count) {
    run.peak = PeakMagnitude(std::span<const float>(values, count), run.peak);
    return run.file.Write(values, count);
  };
  run.host.Begin("Saving Data....");
  const BlockOutcome outcome =
      RunLiveConvolution(run.engine, c->selStart, run.selected, read, sink, run.host.Callback());
  run.host.End();
  if (outcome == BlockOutcome::Stopped) run.Error(kTempFileMessage, kFileErrorCaption);
  return outcome == BlockOutcome::Completed;
}

// Every value times 32767 / peak (a silent result as peak 1) into the document from the
// selection's start: the written result reaches full scale.
bool Convert(LiveRun& run) {
  if (run.peak == 0) run.peak = 1;
  const std::size_t e = static_cast<std::size_t>(run.channels);
  const uint64_t total = static_cast<uint64_t>(run.engine.outputFrames(run.selected)) * e;
  const std::span<float> buffer(static_cast<float*>(run.engine.block), e * static_cast<std::size_t>(run.engine.fftSize));
  run.host.Begin("Converting floats to integers");
  const ConversionOutcome outcome = ConvertIntoDocument(run.file, run.context, run.context->selStart, run.channels,
                                                        total, 32767.0f / run.peak, buffer, run.host.Callback());
  run.host.End();
  if (outcome.kind == ConversionOutcome::FileFailed) run.Error(kTempFileMessage, kFileErrorCaption);
  if (outcome.kind == ConversionOutcome::WriteFailed) run.Error(kDocumentWriteMessage);
  return outcome.kind == ConversionOutcome::Completed;
}

using Step = bool (*)(LiveRun&);
constexpr Step kSteps[] = {ReadSettings, CheckRates,   LockResponses, FitMemory, PrepareFilters,
                           OpenTempFile, InsertTail, Convolve,      Convert};

}  // namespace

LONG WINAPI XfmDo(XfmContext* context) {
  LiveRun run(context);
  for (Step step : kSteps) {
    if (step(run)) continue;
    run.file.Remove();
    if (run.tailBytes > 0 && context->deleteSamples) context->deleteSamples(run.tailOffset, run.tailBytes);
    return static_cast<LONG>(run.selected);
  }
  run.file.Remove();
  const long growth = run.routing.filterLength - 1;
  context->selEnd += static_cast<LONG>(growth);
  return static_cast<LONG>(run.selected + growth);
}
