// "Deconvolve Multiple MLS Signals": a recording that holds several measurements made
// one after the other with one continuous train of MLS periods. Each measurement's
// periods are averaged and deconvolved; a window of each response, unrotated so that all
// keep the time reference of the selection start, goes to the clipboard, one window
// after the other, as 16-bit WAV data. The document is not changed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "frame/averaging.h"
#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/edits.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"
#include "sequence/mls.h"
#include "sequence/mls_dialogs.h"
#include "sequence/multiunfold/multiunfold_block.h"
#include "sequence/unfold.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Deconvolve Multiple MLS Signals";
constexpr int kOrderCombo = 1034;
constexpr int kMeasurementsEdit = 1001;
constexpr int kSequencesEdit = 1002;
constexpr int kSkipSequencesEdit = 1003;
constexpr int kSamplesEdit = 1005;
constexpr int kSkipSamplesEdit = 1006;
constexpr int kScaleSeparatelyCheck = 1004;
constexpr int kRemoveDcCheck = 1000;
constexpr char kTooShortMessage[] =
    "Highlighted area is too short to perform the deconvolution\n"
    "with the selected MLS order, N. of measurements and N. of sequences.";
constexpr long kMaxCount = 32767;
constexpr long kMaxSamples = 0x7fffffff;  // a 32-bit field

const ModuleInfo kInfo = {"Tovrel\\Deconvolve Multiple MLS Signals", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kMultiUnfoldTypeString};

// The counts live in 16-bit fields, the skipped sequences leave one to average at least;
// the window starts within one response.
const EditField kFields[] = {
    {kMeasurementsEdit, "N. of measurements", 1, kMaxCount, true},
    {kSequencesEdit, "N. of sequences / measurement", 1, kMaxCount, true, "periods"},
    {kSkipSequencesEdit, "N. of first sequences to skip", 0, kMaxCount - 1, true, "periods",
     "fewer than the N. of sequences / measurement"},
    {kSamplesEdit, "N. of samples for each sequence", 1, kMaxSamples, true, "samples",
     "a value above the MLS period delivers the whole period"},
    {kSkipSamplesEdit, "N. of samples to skip", 0, kMaxSamples - 1, true, "samples",
     "less than the MLS period (2^order - 1)"},
};
enum { kMeasurementsField, kSequencesField, kSkipSequencesField, kSamplesField, kSkipSamplesField };

// The refusal of stored counts, or empty when they serve.
std::string CheckCounts(long measurements, long sequences, long skipped) {
  const EditField& m = kFields[kMeasurementsField];
  const EditField& x = kFields[kSequencesField];
  if (measurements < m.lo || measurements > m.hi) return FieldRefusal(m, m.lo, m.hi);
  if (sequences < x.lo || sequences > x.hi) return FieldRefusal(x, x.lo, x.hi);
  if (skipped < 0 || skipped >= sequences) return FieldRefusal(kFields[kSkipSequencesField], 0, sequences - 1);
  return {};
}

// The frames of each response delivered: D from K0 on, cut to the L values of a response.
long WindowFrames(long period, long samples, long skipped) {
  const long rest = period - skipped;
  return samples < rest ? samples : rest;
}

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<MultiUnfoldBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry);
  CheckDlgButton(dialog, kRemoveDcCheck, block->removeDc ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kScaleSeparatelyCheck, block->scaleSeparately ? BST_CHECKED : BST_UNCHECKED);
  SetEditLong(dialog, kMeasurementsEdit, block->measurements);
  SetEditLong(dialog, kSequencesEdit, block->sequencesPerMeasurement);
  SetEditLong(dialog, kSkipSequencesEdit, block->sequencesToSkip);
  SetEditLong(dialog, kSamplesEdit, block->samplesPerResponse);
  SetEditLong(dialog, kSkipSamplesEdit, block->samplesToSkip);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<MultiUnfoldBlock*>(data);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order});
  const MlsEntry* row = FindMlsEntry(choice.entry);
  const long period = row ? MlsPeriod(row->order) : 0;
  // Each edit is taken whole and must lie within its range; otherwise the dialog stays
  // open, with the reason.
  const char* caption = context->caption;
  const auto measurements = ReadField(dialog, kFields[kMeasurementsField], caption);
  if (!measurements) return -1;
  const auto sequences = ReadField(dialog, kFields[kSequencesField], caption);
  if (!sequences) return -1;
  const auto skipped = ReadFieldIn(dialog, kFields[kSkipSequencesField], 0, *sequences - 1, caption);
  if (!skipped) return -1;
  const auto samples = ReadField(dialog, kFields[kSamplesField], caption);
  if (!samples) return -1;
  const auto skipSamples = ReadFieldIn(dialog, kFields[kSkipSamplesField], 0, static_cast<double>(period - 1), caption);
  if (!skipSamples) return -1;
  block->entry = choice.entry;
  block->order = choice.order;
  block->removeDc = IsDlgButtonChecked(dialog, kRemoveDcCheck) == BST_CHECKED ? 1 : 0;
  block->scaleSeparately = IsDlgButtonChecked(dialog, kScaleSeparatelyCheck) == BST_CHECKED ? 1 : 0;
  block->measurements = static_cast<SHORT>(*measurements);
  block->sequencesPerMeasurement = static_cast<SHORT>(*sequences);
  block->sequencesToSkip = static_cast<SHORT>(*skipped);
  block->samplesPerResponse = static_cast<LONG>(*samples);
  block->samplesToSkip = static_cast<LONG>(*skipSamples);
  const double needed = static_cast<double>(period) * *measurements * *sequences;
  return static_cast<double>(SelectedFrames(context)) < needed ? 2 : 1;
}

void FillResults(HWND dialog, void* data, XfmContext*) {
  const auto* block = static_cast<const MultiUnfoldBlock*>(data);
  FillStoredStatistics(dialog, *block, 21);
  // The length is that of each response delivered, the window.
  const long period = block->order >= 2 && block->order <= 21 ? MlsPeriod(block->order) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%li", period ? WindowFrames(period, block->samplesPerResponse, block->samplesToSkip) : 0L);
  SetDlgItemTextA(dialog, 1026, text);
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->measurements));
  SetDlgItemTextA(dialog, 1001, text);
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->sequencesPerMeasurement));
  SetDlgItemTextA(dialog, 1002, text);
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->sequencesToSkip));
  SetDlgItemTextA(dialog, 1003, text);
}

// The order list's letters: the tap sets.
std::string DescribeOrders(int id) { return id == kOrderCombo ? DescribeMlsOrders() : std::string(); }

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields, DescribeOrders};
const ResultDialog kResult = {FillResults, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<MultiUnfoldBlock>(context, [](MultiUnfoldBlock& block) {
    WriteDeconvolverDefaults(block);
    block.measurements = 1;
    block.sequencesPerMeasurement = 2;
    block.sequencesToSkip = 1;
    block.samplesPerResponse = 32767;
    block.samplesToSkip = 0;
    block.scaleSeparately = 0;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupDeconvolver<MultiUnfoldBlock>(parent, instance, context, kTooShortMessage);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

namespace {

// What one run works with: G measurements of X periods, the first Y of each left out,
// and a window of D frames from K0 on in each response.
struct Run : DeconvolverRun {
  Run(XfmContext* c, const MultiUnfoldBlock& s)
      : DeconvolverRun(c, s),
        settings(s),
        G(s.measurements),
        X(s.sequencesPerMeasurement),
        Y(s.sequencesToSkip),
        K0(s.samplesToSkip) {}
  const MultiUnfoldBlock& settings;
  long G, X, Y, K0;
  long period = 0;             // L
  std::size_t cells = 0;       // positions 0 .. 2^N
  long window = 0;             // D, cut to the response
  std::size_t outFrames = 0;   // G x D
  std::size_t responses = 0;   // G x L values per channel
  bool going = true;
  long total = 0;  // progress steps while deconvolving
  long perMeasurement = 0;
  std::span<float> moves;  // scratch for the moves of large orders; empty: in place

  std::span<int32_t> Permutation() const { return {static_cast<int32_t*>(buffers.table), cells}; }
  int32_t* Work(int ch) const { return static_cast<int32_t*>(buffers.work[ch]); }
  bool Step(long done) { return going = going && progress.Report(done, total); }
  // Channel ch's window of measurement m.
  std::span<const float> WindowOf(int ch, long m) const {
    return std::span<const float>(buffers.store[ch] + static_cast<std::size_t>(m) * period + K0,
                                  static_cast<std::size_t>(window));
  }
};

// The stored block and the selection must serve; otherwise the reason is shown. A
// stored block the dialog would not accept is refused here as well.
bool CheckSettings(Run& run) {
  XfmContext* context = run.context;
  if (!run.FindRow(run.settings.entry, run.settings.order, kMlsEntryCount, "MLS order", context->caption))
    return false;
  run.period = MlsPeriod(run.row->order);
  run.cells = static_cast<std::size_t>(run.period) + 2;
  std::string problem = CheckCounts(run.G, run.X, run.Y);
  const EditField& samples = kFields[kSamplesField];
  if (problem.empty() && run.settings.samplesPerResponse < 1) problem = FieldRefusal(samples, samples.lo, samples.hi);
  if (problem.empty() && (run.K0 < 0 || run.K0 >= run.period))
    problem = FieldRefusal(kFields[kSkipSamplesField], 0, static_cast<double>(run.period - 1));
  if (!problem.empty()) {
    ShowError(run.owner, problem.c_str(), context->caption);
    return false;
  }
  if (static_cast<double>(SelectedFrames(context)) < static_cast<double>(run.period) * run.G * run.X) {
    ShowError(run.owner, kTooShortMessage, context->caption);
    return false;
  }
  // The window lies within one response.
  run.window = WindowFrames(run.period, run.settings.samplesPerResponse, run.K0);
  run.outFrames = static_cast<std::size_t>(run.G) * static_cast<std::size_t>(run.window);
  run.responses = static_cast<std::size_t>(run.G) * static_cast<std::size_t>(run.period);
  return true;
}

// The permutation, the response (the read buffer meanwhile), then per channel a work
// array and the store of its G responses.
bool Allocate(Run& run) {
  const std::size_t bufferFrames =
      (run.outFrames > static_cast<std::size_t>(run.period) ? run.outFrames : run.period) + 2;
  const DeconvolverSizes sizes = {run.cells * sizeof(int32_t),  GMEM_MOVEABLE,
                                  2 * bufferFrames * static_cast<std::size_t>(run.channels), 0,
                                  run.cells * sizeof(int32_t), run.responses * sizeof(float)};
  if (!run.Allocate(sizes, kDeconvolutionMemoryMessage, run.context->caption)) return false;
  float* scratch = run.memory.AllocLocked<float>(run.cells);
  run.moves = std::span<float>(scratch, scratch ? run.cells : 0);
  return true;
}

// Reference bits, TOB and permutation run to completion before the first cancel check.
bool PrepareReference(Run& run) {
  run.perMeasurement = run.channels == 2 ? 8 : 5;
  run.total = run.perMeasurement * run.G + 3;
  run.progress.Begin("Making multiple MLS deconvolution...");
  run.Step(0);
  GenerateMlsBits(*run.row, run.Work(0), 1, {});
  const std::span<const int32_t> reference(run.Work(0), static_cast<std::size_t>(run.period));
  run.Step(1);
  long tob[21] = {};
  const std::span<long> offsets(tob, static_cast<std::size_t>(run.row->order));
  if (LookUpTob(reference, offsets, {}) == TobResult::NotFound) {
    run.progress.End();
    ShowError(nullptr, kNoTobMessage, run.context->caption);
    return false;
  }
  run.Step(2);
  BuildMlsPermutation(reference, offsets, run.Permutation(), {});
  run.Step(3);
  return true;
}

// Measurement m: its periods averaged, each channel correlated with the sequence, and
// the responses kept in natural time order (lag t at position 3 - t, wrapping below 2).
void DeconvolveMeasurement(Run& run, long m) {
  const long s = 5 + run.perMeasurement * m;
  int32_t* sums[2] = {};
  for (int ch = 0; ch < run.channels; ++ch) {
    std::memset(run.Work(ch), 0, run.cells * sizeof(int32_t));
    sums[ch] = run.Work(ch) + 2;
  }
  const long first = run.context->selStart + (m * run.X + run.Y) * run.period;
  SumPeriods(run.context, first, run.period, run.X - run.Y, run.channels, run.buffers.samples(), sums);
  if (!run.Step(s - 1)) return;
  std::span<float> values[2];
  for (int ch = 0; ch < run.channels; ++ch) {
    SumsToFloats(run.Work(ch), 2, run.cells - 1);
    values[ch] = std::span<float>(reinterpret_cast<float*>(run.Work(ch)), run.cells);
  }
  if (!run.Step(s)) return;
  for (int ch = 0; ch < run.channels && run.going; ++ch) {
    if (!CorrelateWithMls(values[ch], run.Permutation(), [&](int k) { return run.Step(s + k + 3 * ch); }, run.moves))
      return;
    float* slot = run.buffers.store[ch] + static_cast<std::size_t>(m) * static_cast<std::size_t>(run.period);
    for (long t = 0; t < run.period; ++t) {
      long pos = 3 - t;
      if (pos < 2) pos += run.period;
      slot[t] = values[ch][static_cast<std::size_t>(pos)];
    }
  }
}

bool Deconvolve(Run& run) {
  for (long m = 0; m < run.G && run.going; ++m) DeconvolveMeasurement(run, m);
  run.progress.End();
  return run.going;
}

// Window m of channel ch, scaled, to output frames m x D onwards.
void WriteWindow(Run& run, int ch, long m, double dc, float magnitude) {
  const float g = 32767.0f / magnitude;
  const auto values = run.WindowOf(ch, m);
  SHORT* output = run.buffers.samples();
  for (long t = 0; t < run.window; ++t)
    output[static_cast<std::size_t>((m * run.window + t) * run.channels + ch)] =
        ScaleToSample(values[static_cast<std::size_t>(t)], dc, g);
}

// Each window scaled by its own peak, or all by the peak of every response; the
// magnitude of the last scale, or 0 when cancelled.
bool ScaleWindows(Run& run, float& magnitude) {
  const bool removeDc = run.settings.removeDc != 0;
  HostProgress& progress = run.progress;
  bool going = true;
  magnitude = 0;
  if (run.settings.scaleSeparately) {
    progress.Begin("Finding Max Data and Scaling...");
    going = progress.Report(0, 2 * run.G);
    for (long m = 0; m < run.G && going; ++m) {
      magnitude = 0;
      Peak peaks[2];
      for (int ch = 0; ch < run.channels; ++ch) peaks[ch] = FindPeakOfValues(run.WindowOf(ch, m), removeDc, magnitude);
      if (magnitude == 0) magnitude = 1;
      if (!(going = progress.Report(2 * m + 1, 2 * run.G))) break;
      for (int ch = 0; ch < run.channels; ++ch) WriteWindow(run, ch, m, peaks[ch].dc, magnitude);
      going = progress.Report(2 * m + 2, 2 * run.G);
    }
  } else {
    Peak peaks[2];
    for (int ch = 0; ch < run.channels; ++ch)
      peaks[ch] = FindPeakOfValues(std::span<const float>(run.buffers.store[ch], run.responses), removeDc, magnitude);
    if (magnitude == 0) magnitude = 1;
    progress.Begin("Converting and scaling data ...");
    for (long m = 0; m < run.G && going; ++m) {
      for (int ch = 0; ch < run.channels; ++ch) WriteWindow(run, ch, m, peaks[ch].dc, magnitude);
      going = progress.Report(m, run.G);
    }
  }
  progress.End();
  if (going) {
    WriteWavHeader(run.buffers.result, run.channels, run.context->sampleRate,
                   static_cast<uint32_t>(2 * run.channels * run.outFrames));
  }
  return going;
}

}  // namespace

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const MultiUnfoldBlock settings = *lock.as<MultiUnfoldBlock>();
  Run run(context, settings);
  if (!CheckSettings(run) || !Allocate(run)) return 1;
  const DWORD startTicks = GetTickCount();
  float magnitude = 0;
  if (!PrepareReference(run) || !Deconvolve(run) || !ScaleWindows(run, magnitude)) return 1;
  const long cycles = SelectedFrames(context) / run.period;
  run.Deliver<MultiUnfoldBlock>(lock, context->caption, startTicks, cycles < kMaxCount ? cycles : kMaxCount,
                                magnitude);
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
