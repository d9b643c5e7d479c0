// "Deconvolve IRS Signal": averages the whole periods of a recorded IRS excitation,
// cross-correlates the averaged period with the reference IRS through the real FFT,
// and places one MLS length of lags, normalised to full scale, on the clipboard as
// 16-bit WAV data. The document is not changed.
#include <cstring>
#include <span>
#include <string>

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
constexpr char kInvalidEntryMessage[] =
    "The stored IRS order is not valid.\nChoose the IRS order again in the settings dialog.";
// `cycles` is a 16-bit field counting MLS lengths, two per IRS period: longer
// selections average this many IRS periods.
constexpr long kMaxCycles = 32767;
constexpr long kMaxPeriods = kMaxCycles / 2;

const ModuleInfo kInfo = {"Tovrel\\Deconvolve IRS Signal", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kInvSeqUnfoldTypeString};

// The rows the IRS modules offer: orders up to 19.
const MlsEntry* FindIrsEntry(long index) { return index < kIrsEntryCount ? FindMlsEntry(index) : nullptr; }

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
  const auto* block = static_cast<const InvSeqUnfoldBlock*>(data);
  const long length = block->order >= 2 && block->order <= 19 ? MlsPeriod(block->order) : 0;
  FillDeconvolutionStatistics(dialog, length, block->resultChannels, block->resultSampleRate, block->cycles,
                              block->elapsedMs, block->rescaledFrom);
}

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr};
const ResultDialog kResult = {FillResults, nullptr};

// The integer sums of one IRS period (cells 0 .. P - 1) become floats, written there and
// again at P .. 2P - 1; the cells from 2P to the end become 0.
void DoublePeriod(void* cells, std::size_t period, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(cells);
  for (std::size_t j = 0; j < period; ++j) {
    int32_t sum;
    std::memcpy(&sum, bytes + 4 * j, 4);
    const float f = static_cast<float>(sum);
    std::memcpy(bytes + 4 * j, &f, 4);
    std::memcpy(bytes + 4 * (period + j), &f, 4);
  }
  std::memset(bytes + 4 * 2 * period, 0, 4 * (size - 2 * period));
}

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<InvSeqUnfoldBlock>(context, [](InvSeqUnfoldBlock& block) {
    WriteDeconvolverDefaults(block);
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplate);
  if (result == 2) {
    ShowError(parent, kTooShortMessage, kTitle);
    return 0;
  }
  if (result != 1) return 0;
  BlockLock lock(context->paramHandle);
  if (!lock) return 0;
  lock.as<InvSeqUnfoldBlock>()->ownerWindow = HandleToField(parent);
  lock.as<InvSeqUnfoldBlock>()->moduleInstance = HandleToField(instance);
  return 1;
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const InvSeqUnfoldBlock settings = *lock.as<InvSeqUnfoldBlock>();
  const HWND owner = FieldToHandle<HWND>(settings.ownerWindow);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(settings.moduleInstance);

  const MlsEntry* row = FindIrsEntry(settings.entry);
  if (!row || row->order != settings.order || (context->channels != 1 && context->channels != 2)) {
    ShowError(owner, kInvalidEntryMessage, kTitle);
    return 1;
  }
  const int channels = context->channels;
  const int order = row->order;
  const long length = MlsPeriod(order);  // L, the response length
  const long period = IrsPeriod(order);  // P = 2L
  const std::size_t transform = static_cast<std::size_t>(2 * period + 4);  // F = 4 * 2^N
  const long lagZero = IrsLagZero(length);
  const long selected = SelectedFrames(context);
  long periods = selected / period;
  if (periods < 1) {
    ShowError(owner, kTooShortMessage, kTitle);
    return 1;
  }
  if (periods > kMaxPeriods) periods = kMaxPeriods;
  const long cycles = selected / length < kMaxCycles ? selected / length : kMaxCycles;

  // Stages: the reference (positions 0 .. F), the result buffer (header and room for
  // 2^(N+1) frames: the read buffer while averaging), the work arrays.
  StagedMemory memory;
  HGLOBAL resultHandle = nullptr;
  void* work[2] = {nullptr, nullptr};
  auto* reference = memory.AllocLocked<float>(transform + 1, GMEM_MOVEABLE | GMEM_ZEROINIT);
  auto* result = reference ? memory.AllocLocked<uint8_t>(kWavHeaderBytes + transform * static_cast<std::size_t>(channels),
                                                         GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, &resultHandle)
                           : nullptr;
  bool allocated = result != nullptr;
  for (int c = 0; c < channels && allocated; ++c) {
    work[c] = memory.AllocLocked<float>(transform, GMEM_MOVEABLE | GMEM_ZEROINIT);
    allocated = work[c] != nullptr;
  }
  if (!allocated) {
    memory.ReleaseAll();
    ShowError(owner, kMemoryMessage, kTitle);
    return 1;
  }
  const DWORD startTicks = GetTickCount();
  HostProgress progress(context);
  const ProgressFn report = progress.Callback();

  // The unit period reversed in time at positions 1 .. P, zeros up to F.
  const std::span<float> referenceCells(reference + 1, transform);
  progress.Begin("Generating IRS sequence...");
  bool going = GenerateIrsReference(*row, referenceCells, report);
  progress.End();
  if (!going) return 1;

  progress.Begin("Transforming IRS sequence...");
  RealFft(referenceCells, +1);
  going = progress.Report(1, 1);
  progress.End();
  if (!going) return 1;

  // Sum the whole IRS periods: sample j of a period adds to cell j.
  progress.Begin("Averaging data...");
  auto* samples = reinterpret_cast<SHORT*>(result + kWavHeaderBytes);
  const LONG periodBytes = static_cast<LONG>(2 * channels * period);
  for (long c = 0; c < periods && going; ++c) {
    const LONG offset = static_cast<LONG>(2 * channels * (context->selStart + c * period));
    context->readSamples(samples, offset, periodBytes);
    for (int ch = 0; ch < channels; ++ch) {
      auto* sums = static_cast<int32_t*>(work[ch]);
      const SHORT* in = samples + ch;
      for (long j = 0; j < period; ++j) sums[j] += in[j * channels];
    }
    going = progress.Report(c + 1, periods);
  }
  progress.End();
  if (!going) return 1;

  std::span<float> values[2];
  for (int ch = 0; ch < channels; ++ch) {
    DoublePeriod(work[ch], static_cast<std::size_t>(period), transform);
    values[ch] = std::span<float>(static_cast<float*>(work[ch]), transform);
  }

  // Correlation by the product of the spectra; the reference serves both channels.
  progress.Begin("Deconvolving IRS");
  const long steps = 3L * channels;
  long step = 0;
  for (int ch = 0; ch < channels && going; ++ch) {
    RealFft(values[ch], +1);
    going = progress.Report(++step, steps);
    if (!going) break;
    MultiplyPackedSpectra(values[ch], referenceCells);
    going = progress.Report(++step, steps);
    if (!going) break;
    RealFft(values[ch], -1);
    going = progress.Report(++step, steps);
  }
  progress.End();
  if (!going) return 1;

  // The peak of each channel among lags 0 .. L - 1.
  float magnitude = 0;
  long peakLag[2] = {0, -1};
  std::span<const float> lags[2];
  for (int ch = 0; ch < channels; ++ch) {
    lags[ch] = values[ch].subspan(static_cast<std::size_t>(lagZero), static_cast<std::size_t>(length));
    peakLag[ch] = FindPeakOfValues(lags[ch], false, magnitude).position;
  }
  // The response is read within lags 0 .. L - 1, wrapping circularly as the MLS
  // deconvolution does: the lags from L on hold it with inverted sign.
  const long start = ChooseStartLag(peakLag[0], peakLag[1], order);
  if (magnitude == 0) magnitude = 1;
  const std::span<int16_t> output(reinterpret_cast<int16_t*>(samples), static_cast<std::size_t>(length * channels));
  for (int ch = 0; ch < channels; ++ch) WriteIrsResponse(lags[ch], start, magnitude, output, ch, channels);

  WriteWavHeader(result, channels, context->sampleRate, static_cast<uint32_t>(2 * channels * length));
  DeliverResponse<InvSeqUnfoldBlock>(lock, memory, resultHandle, context, owner, instance, kTitle, startTicks, cycles,
                                     channels, magnitude);
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
