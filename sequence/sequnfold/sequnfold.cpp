// "Deconvolve MLS Signal": averages the whole periods of a recorded MLS excitation,
// correlates the averaged period with the reference sequence by a fast Hadamard
// transform, and places the impulse response, normalised to full scale, on the
// clipboard as 16-bit WAV data. The document is not changed.
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "frame/averaging.h"
#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"
#include "sequence/mls.h"
#include "sequence/mls_dialogs.h"
#include "sequence/sequnfold/sequnfold_block.h"
#include "sequence/unfold.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Deconvolve MLS Signal";
constexpr int kOrderCombo = 1034;
constexpr int kRemoveDcCheck = 1000;
constexpr char kTooShortMessage[] =
    "Highlighted area is too short to perform\nthe deconvolution of a sequence having\nthe selected MLS order.";
// The averaging count is kept in a 16-bit field: longer selections average this many periods.
constexpr long kMaxCycles = 32767;

const ModuleInfo kInfo = {"Tovrel\\Deconvolve MLS Signal", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kSeqUnfoldTypeString};

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<SeqUnfoldBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry);
  CheckDlgButton(dialog, kRemoveDcCheck, block->removeDc ? BST_CHECKED : BST_UNCHECKED);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<SeqUnfoldBlock*>(data);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order});
  block->entry = choice.entry;
  block->order = choice.order;
  const MlsEntry* row = FindMlsEntry(choice.entry);
  block->removeDc = IsDlgButtonChecked(dialog, kRemoveDcCheck) == BST_CHECKED ? 1 : 0;
  const long period = row ? MlsPeriod(row->order) : 0;
  return SelectedFrames(context) < period ? 2 : 1;
}

void FillResults(HWND dialog, void* data, XfmContext*) {
  FillStoredStatistics(dialog, *static_cast<const SeqUnfoldBlock*>(data), 21);
}

// The order list's letters: the tap sets.
std::string DescribeOrders(int id) { return id == kOrderCombo ? DescribeMlsOrders() : std::string(); }

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, {}, DescribeOrders};
const ResultDialog kResult = {FillResults, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<SeqUnfoldBlock>(context, [](SeqUnfoldBlock& block) {
    WriteDeconvolverDefaults(block);
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupDeconvolver<SeqUnfoldBlock>(parent, instance, context, kTooShortMessage);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

namespace {

// What one run works with.
struct Run : DeconvolverRun {
  using DeconvolverRun::DeconvolverRun;
  long period = 0;        // L
  std::size_t cells = 0;  // positions 0 .. 2^N
  long cycles = 0;        // periods averaged
  std::span<float> values[2];
  std::span<float> moves;  // scratch for the moves of large orders; empty: in place
};

std::span<int32_t> Permutation(const Run& run) { return {static_cast<int32_t*>(run.buffers.table), run.cells}; }

// The stored order and the selection must serve; otherwise the reason is shown.
bool CheckSettings(Run& run, const SeqUnfoldBlock& settings) {
  XfmContext* context = run.context;
  if (!run.FindRow(settings.entry, settings.order, kMlsEntryCount, "MLS order", context->caption)) return false;
  run.period = MlsPeriod(run.row->order);
  run.cells = static_cast<std::size_t>(run.period) + 2;
  const long wholePeriods = SelectedFrames(context) / run.period;
  if (wholePeriods < 1) {
    ShowError(run.owner, kTooShortMessage, context->caption);
    return false;
  }
  run.cycles = wholePeriods < kMaxCycles ? wholePeriods : kMaxCycles;
  return true;
}

// The permutation, the response (room for L + 2 frames; the read buffer while
// averaging) and a work array per channel.
bool Allocate(Run& run) {
  const DeconvolverSizes sizes = {run.cells * sizeof(int32_t), GMEM_MOVEABLE,
                                  2 * run.cells * static_cast<std::size_t>(run.channels), 0,
                                  run.cells * sizeof(int32_t), 0};
  if (!run.Allocate(sizes, kDeconvolutionMemoryMessage, run.context->caption)) return false;
  float* scratch = run.memory.AllocLocked<float>(run.cells);
  run.moves = std::span<float>(scratch, scratch ? run.cells : 0);
  return true;
}

// The reference bits x[0] .. x[2^N - 1] (in the first work array), the TOB and the
// permutation, each under its status.
bool PrepareReference(Run& run) {
  HostProgress& progress = run.progress;
  const ProgressFn report = progress.Callback();
  auto* bits = static_cast<int32_t*>(run.buffers.work[0]);
  progress.Begin("Initializing MLS deconvolution...");
  bool going = GenerateMlsBits(*run.row, bits, 1, report);
  progress.End();
  if (!going) return false;
  const std::span<const int32_t> reference(bits, static_cast<std::size_t>(run.period));

  long tob[21] = {};
  const std::span<long> offsets(tob, static_cast<std::size_t>(run.row->order));
  progress.Begin("Look up TOB...");
  const TobResult found = LookUpTob(reference, offsets, report);
  progress.End();
  if (found == TobResult::Cancelled) return false;
  if (found == TobResult::NotFound) {
    ShowError(nullptr, kNoTobMessage, run.context->caption);
    return false;
  }

  progress.Begin("Generating permutation...");
  going = BuildMlsPermutation(reference, offsets, Permutation(run), report);
  progress.End();
  return going;
}

// Sums the whole periods: sample k of a period adds to position k + 2; the sums become floats.
bool Average(Run& run) {
  std::memset(run.buffers.work[0], 0, run.cells * sizeof(int32_t));
  int32_t* sums[2] = {};
  for (int ch = 0; ch < run.channels; ++ch) sums[ch] = static_cast<int32_t*>(run.buffers.work[ch]) + 2;
  run.progress.Begin("Averaging data...");
  const bool going = SumPeriods(run.context, run.context->selStart, run.period, run.cycles, run.channels,
                                run.buffers.samples(), sums, run.progress.Callback());
  run.progress.End();
  if (!going) return false;
  for (int ch = 0; ch < run.channels; ++ch) {
    auto* cells = static_cast<int32_t*>(run.buffers.work[ch]);
    SumsToFloats(cells, 2, run.cells - 1);
    run.values[ch] = std::span<float>(reinterpret_cast<float*>(cells), run.cells);
  }
  return true;
}

// The correlation of each channel with the sequence.
bool Deconvolve(Run& run) {
  run.progress.Begin("Deconvolving MLS");
  const long steps = 3L * run.channels;
  long step = 0;
  bool going = true;
  for (int ch = 0; ch < run.channels && going; ++ch)
    going = CorrelateWithMls(run.values[ch], Permutation(run), [&](int) { return run.progress.Report(++step, steps); },
                             run.moves);
  run.progress.End();
  return going;
}

// The response rotated to start at the chosen peak, scaled to full scale, after its WAV
// header; the magnitude it was scaled from.
float WriteResponse(Run& run, bool removeDc) {
  float magnitude = 0;
  Peak peaks[2];
  for (int ch = 0; ch < run.channels; ++ch) peaks[ch] = FindPeak(run.values[ch], removeDc, magnitude);
  const long start =
      ChooseStartPosition(peaks[0].position, run.channels == 2 ? peaks[1].position : -1, run.row->order);
  if (magnitude == 0) magnitude = 1;
  const std::span<int16_t> output(reinterpret_cast<int16_t*>(run.buffers.samples()),
                                  static_cast<std::size_t>(run.period * run.channels));
  for (int ch = 0; ch < run.channels; ++ch)
    WriteRotatedResponse(run.values[ch], start, peaks[ch].dc, magnitude, output, ch, run.channels);
  WriteWavHeader(run.buffers.result, run.channels, run.context->sampleRate,
                 static_cast<uint32_t>(2 * run.channels * run.period));
  return magnitude;
}

}  // namespace

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const SeqUnfoldBlock settings = *lock.as<SeqUnfoldBlock>();
  Run run(context, settings);
  if (!CheckSettings(run, settings) || !Allocate(run)) return 1;
  const DWORD startTicks = GetTickCount();
  if (!PrepareReference(run) || !Average(run) || !Deconvolve(run)) return 1;
  const float magnitude = WriteResponse(run, settings.removeDc != 0);
  run.Deliver<SeqUnfoldBlock>(lock, context->caption, startTicks, run.cycles, magnitude);
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
