// "Deconvolve IRS Signal": averages the whole periods of a recorded IRS excitation,
// cross-correlates the averaged period with the reference IRS through the real FFT,
// and places one MLS length of lags, normalised to full scale, on the clipboard as
// 16-bit WAV data. The document is not changed.
#include <cstring>
#include <span>
#include <string>

#include "frame/averaging.h"
#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/fft.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/spectrum.h"
#include "frame/stages.h"
#include "sequence/invsequnfold/invsequnfold_block.h"
#include "sequence/invsequnfold/irsunfold.h"
#include "sequence/irs.h"
#include "sequence/mls_dialogs.h"
#include "sequence/mls.h"
#include "sequence/unfold.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Deconvolve IRS Signal";
constexpr int kOrderCombo = 1034;
constexpr int kRemoveDcCheck = 1000;
constexpr char kTooShortMessage[] =
    "Highlighted area is too short to perform\nthe deconvolution of a sequence having\nthe selected IRS order.";
constexpr char kMemoryMessage[] =
    "The system cannot allocate enough memory\nto perform deconvolution.\n\n"
    "Retry after closing some windows or\nwith a lower IRS order.";
// `cycles` is a 16-bit field counting MLS lengths, two per IRS period: longer
// selections average this many IRS periods.
constexpr long kMaxCycles = 32767;
constexpr long kMaxPeriods = kMaxCycles / 2;

const ModuleInfo kInfo = {"Tovrel\\Deconvolve IRS Signal", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kInvSeqUnfoldTypeString};

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<InvSeqUnfoldBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry, kIrsEntryCount);
  CheckDlgButton(dialog, kRemoveDcCheck, block->removeDc ? BST_CHECKED : BST_UNCHECKED);
}

// The selection must hold one IRS period. Its length is compared signed: a selection
// that ends before it starts is too short, not a huge one.
INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<InvSeqUnfoldBlock*>(data);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order}, kIrsEntryCount);
  block->entry = choice.entry;
  block->order = choice.order;
  const MlsEntry* row = FindMlsEntry(choice.entry);
  block->removeDc = 0;  // the check box is hidden: no DC removal
  const long period = row ? IrsPeriod(row->order) : 0;
  return SelectedFrames(context) < period ? 2 : 1;
}

void FillResults(HWND dialog, void* data, XfmContext*) {
  FillStoredStatistics(dialog, *static_cast<const InvSeqUnfoldBlock*>(data), 19);
}

// The order list's letters: the tap sets.
std::string DescribeOrders(int id) { return id == kOrderCombo ? DescribeMlsOrders(kIrsEntryCount, true) : std::string(); }

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, {}, DescribeOrders};
const ResultDialog kResult = {FillResults, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<InvSeqUnfoldBlock>(context, [](InvSeqUnfoldBlock& block) {
    WriteDeconvolverDefaults(block);
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupDeconvolver<InvSeqUnfoldBlock>(parent, instance, context, kTooShortMessage, kTitle);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

namespace {

// What one run works with. With L the MLS length and P = 2L the IRS period, the
// transform has F = 2P + 4 points.
struct Run : DeconvolverRun {
  using DeconvolverRun::DeconvolverRun;
  long length = 0;            // L, the response length
  long period = 0;            // P
  std::size_t transform = 0;  // F
  long periods = 0;           // IRS periods averaged
  long cycles = 0;            // MLS lengths in the selection
  std::span<float> reference;  // its spectrum, once transformed
  std::span<float> values[2];
};

// The stored order and the selection must serve; otherwise the reason is shown.
bool CheckSettings(Run& run, const InvSeqUnfoldBlock& settings) {
  XfmContext* context = run.context;
  if (!run.FindRow(settings.entry, settings.order, kIrsEntryCount, "IRS order", kTitle)) return false;
  run.length = MlsPeriod(run.row->order);
  run.period = IrsPeriod(run.row->order);
  run.transform = static_cast<std::size_t>(2 * run.period + 4);
  const long selected = SelectedFrames(context);
  run.periods = selected / run.period;
  if (run.periods < 1) {
    ShowError(run.owner, kTooShortMessage, kTitle);
    return false;
  }
  if (run.periods > kMaxPeriods) run.periods = kMaxPeriods;
  run.cycles = selected / run.length < kMaxCycles ? selected / run.length : kMaxCycles;
  return true;
}

// The reference (positions 0 .. F), the response (room for 2^(N+1) frames: the read
// buffer while averaging) and a work array per channel.
bool Allocate(Run& run) {
  const DeconvolverSizes sizes = {(run.transform + 1) * sizeof(float), GMEM_MOVEABLE | GMEM_ZEROINIT,
                                  run.transform * static_cast<std::size_t>(run.channels), GMEM_ZEROINIT,
                                  run.transform * sizeof(float), 0};
  return run.Allocate(sizes, kMemoryMessage, kTitle);
}

// The unit period reversed in time at positions 1 .. P, zeros up to F, and its spectrum.
bool PrepareReference(Run& run) {
  run.reference = std::span<float>(static_cast<float*>(run.buffers.table) + 1, run.transform);
  run.progress.Begin("Generating IRS sequence...");
  bool going = GenerateIrsReference(*run.row, run.reference, run.progress.Callback());
  run.progress.End();
  if (!going) return false;
  run.progress.Begin("Transforming IRS sequence...");
  RealFft(run.reference, +1);
  going = run.progress.Report(1, 1);
  run.progress.End();
  return going;
}

// Sums the whole IRS periods (sample j of a period adds to cell j); the sums become
// floats, written at 0 .. P - 1 and again at P .. 2P - 1, with zeros up to F.
bool Average(Run& run) {
  int32_t* sums[2] = {static_cast<int32_t*>(run.buffers.work[0]), static_cast<int32_t*>(run.buffers.work[1])};
  run.progress.Begin("Averaging data...");
  const bool going = SumPeriods(run.context, run.context->selStart, run.period, run.periods, run.channels,
                                run.buffers.samples(), sums, run.progress.Callback());
  run.progress.End();
  if (!going) return false;
  const std::size_t period = static_cast<std::size_t>(run.period);
  for (int ch = 0; ch < run.channels; ++ch) {
    SumsToFloats(sums[ch], 0, period - 1);
    auto* cells = static_cast<float*>(run.buffers.work[ch]);
    std::memcpy(cells + period, cells, period * sizeof(float));
    std::memset(cells + 2 * period, 0, (run.transform - 2 * period) * sizeof(float));
    run.values[ch] = std::span<float>(cells, run.transform);
  }
  return true;
}

// Correlation by the product of the spectra; the reference serves both channels.
bool Deconvolve(Run& run) {
  HostProgress& progress = run.progress;
  progress.Begin("Deconvolving IRS");
  const long steps = 3L * run.channels;
  long step = 0;
  bool going = true;
  for (int ch = 0; ch < run.channels && going; ++ch) {
    RealFft(run.values[ch], +1);
    going = progress.Report(++step, steps);
    if (!going) break;
    MultiplyPackedSpectra(run.values[ch], run.reference);
    going = progress.Report(++step, steps);
    if (!going) break;
    RealFft(run.values[ch], -1);
    going = progress.Report(++step, steps);
  }
  progress.End();
  return going;
}

// One MLS length of lags from the chosen peak, scaled to full scale, after its WAV
// header; the magnitude it was scaled from. The response is read within lags 0 .. L - 1,
// wrapping circularly as the MLS deconvolution does: the lags from L on hold it with
// inverted sign.
float WriteResponse(Run& run) {
  const long lagZero = IrsLagZero(run.length);
  float magnitude = 0;
  long peakLag[2] = {0, -1};
  std::span<const float> lags[2];
  for (int ch = 0; ch < run.channels; ++ch) {
    lags[ch] = run.values[ch].subspan(static_cast<std::size_t>(lagZero), static_cast<std::size_t>(run.length));
    peakLag[ch] = FindPeakOfValues(lags[ch], false, magnitude).position;
  }
  const long start = ChooseStartLag(peakLag[0], peakLag[1], run.row->order);
  if (magnitude == 0) magnitude = 1;
  const std::span<int16_t> output(reinterpret_cast<int16_t*>(run.buffers.samples()),
                                  static_cast<std::size_t>(run.length * run.channels));
  for (int ch = 0; ch < run.channels; ++ch) WriteIrsResponse(lags[ch], start, magnitude, output, ch, run.channels);
  WriteWavHeader(run.buffers.result, run.channels, run.context->sampleRate,
                 static_cast<uint32_t>(2 * run.channels * run.length));
  return magnitude;
}

}  // namespace

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const InvSeqUnfoldBlock settings = *lock.as<InvSeqUnfoldBlock>();
  Run run(context, settings);
  if (!CheckSettings(run, settings) || !Allocate(run)) return 1;
  const DWORD startTicks = GetTickCount();
  if (!PrepareReference(run) || !Average(run) || !Deconvolve(run)) return 1;
  const float magnitude = WriteResponse(run);
  run.Deliver<InvSeqUnfoldBlock>(lock, kTitle, startTicks, run.cycles, magnitude);
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
