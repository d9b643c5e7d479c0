// "Deconvolve MLS Signal": averages the whole periods of a recorded MLS excitation,
// correlates the averaged period with the reference sequence by a fast Hadamard
// transform, and places the impulse response, normalised to full scale, on the
// clipboard as 16-bit WAV data. The document is not changed.
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

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
constexpr char kNoTobMessage[] = "No TOB found !!!\n(Wrong taps ?)";
constexpr char kInvalidEntryMessage[] =
    "The stored MLS order is not valid.\nChoose the MLS order again in the settings dialog.";
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
  const auto* block = static_cast<const SeqUnfoldBlock*>(data);
  const long period = block->order >= 2 && block->order <= 21 ? MlsPeriod(block->order) : 0;
  FillDeconvolutionStatistics(dialog, period, block->resultChannels, block->resultSampleRate, block->cycles,
                              block->elapsedMs, block->rescaledFrom);
}

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr};
const ResultDialog kResult = {FillResults, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<SeqUnfoldBlock>(context, [](SeqUnfoldBlock& block) {
    WriteDeconvolverDefaults(block);
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupDeconvolver(parent, instance, context, kTooShortMessage, offsetof(SeqUnfoldBlock, ownerWindow),
                          offsetof(SeqUnfoldBlock, moduleInstance));
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const SeqUnfoldBlock settings = *lock.as<SeqUnfoldBlock>();
  const HWND owner = FieldToHandle<HWND>(settings.ownerWindow);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(settings.moduleInstance);

  const MlsEntry* row = FindMlsEntry(settings.entry);
  if (!row || row->order != settings.order || (context->channels != 1 && context->channels != 2)) {
    ShowError(owner, kInvalidEntryMessage, context->caption);
    return 1;
  }
  const int channels = context->channels;
  const int order = row->order;
  const long period = MlsPeriod(order);
  const std::size_t cells = static_cast<std::size_t>(period) + 2;  // positions 0 .. 2^N
  const long wholePeriods = SelectedFrames(context) / period;
  if (wholePeriods < 1) {
    ShowError(owner, kTooShortMessage, context->caption);
    return 1;
  }
  const long cycles = wholePeriods < kMaxCycles ? wholePeriods : kMaxCycles;

  // Stages: permutation, result buffer (header and room for L + 2 frames; the read
  // buffer while averaging), the work arrays.
  StagedMemory memory;
  HGLOBAL resultHandle = nullptr;
  int32_t* work[2] = {nullptr, nullptr};
  auto* perm = memory.AllocLocked<int32_t>(cells);
  auto* result = perm ? memory.AllocLocked<uint8_t>(kWavHeaderBytes + 2 * cells * static_cast<std::size_t>(channels),
                                                    GMEM_MOVEABLE | GMEM_DDESHARE, &resultHandle)
                      : nullptr;
  bool allocated = result != nullptr;
  for (int c = 0; c < channels && allocated; ++c) {
    work[c] = memory.AllocLocked<int32_t>(cells, GMEM_MOVEABLE | GMEM_ZEROINIT);
    allocated = work[c] != nullptr;
  }
  if (!allocated) {
    memory.ReleaseAll();
    ShowError(owner, kDeconvolutionMemoryMessage, context->caption);
    return 1;
  }
  const DWORD startTicks = GetTickCount();
  HostProgress progress(context);
  const ProgressFn report = progress.Callback();

  // The reference bits x[0] .. x[2^N - 1] go into the first work array.
  progress.Begin("Initializing MLS deconvolution...");
  bool going = GenerateMlsBits(*row, work[0], 1, report);
  progress.End();
  if (!going) return 1;
  const std::span<const int32_t> reference(work[0], static_cast<std::size_t>(period));

  long tob[21] = {};
  progress.Begin("Look up TOB...");
  const TobResult found = LookUpTob(reference, std::span<long>(tob, static_cast<std::size_t>(order)), report);
  progress.End();
  if (found == TobResult::Cancelled) return 1;
  if (found == TobResult::NotFound) {
    ShowError(nullptr, kNoTobMessage, context->caption);
    return 1;
  }

  const std::span<int32_t> permutation(perm, cells);
  progress.Begin("Generating permutation...");
  going = BuildMlsPermutation(reference, std::span<const long>(tob, static_cast<std::size_t>(order)), permutation,
                              report);
  progress.End();
  if (!going) return 1;

  // Sum the whole periods: sample k of a period adds to position k + 2.
  progress.Begin("Averaging data...");
  std::memset(work[0], 0, cells * sizeof(int32_t));
  auto* samples = reinterpret_cast<SHORT*>(result + kWavHeaderBytes);
  const LONG periodBytes = static_cast<LONG>(2 * channels * period);
  for (long c = 0; c < cycles && going; ++c) {
    const LONG offset = static_cast<LONG>(2 * channels * (context->selStart + c * period));
    context->readSamples(samples, offset, periodBytes);
    for (int ch = 0; ch < channels; ++ch) {
      int32_t* sums = work[ch] + 2;
      const SHORT* in = samples + ch;
      for (long k = 0; k < period; ++k) sums[k] += in[k * channels];
    }
    going = progress.Report(c + 1, cycles);
  }
  progress.End();
  if (!going) return 1;

  std::span<float> values[2];
  for (int ch = 0; ch < channels; ++ch) {
    SumsToFloats(work[ch], 2, cells - 1);
    values[ch] = std::span<float>(reinterpret_cast<float*>(work[ch]), cells);
  }

  progress.Begin("Deconvolving MLS");
  const long steps = 3L * channels;
  long step = 0;
  for (int ch = 0; ch < channels && going; ++ch) {
    PermuteForward(values[ch], permutation);
    going = progress.Report(++step, steps);
    if (!going) break;
    FastHadamardTransform(values[ch]);
    going = progress.Report(++step, steps);
    if (!going) break;
    PermuteBackward(values[ch], permutation);
    going = progress.Report(++step, steps);
  }
  progress.End();
  if (!going) return 1;

  float magnitude = 0;
  Peak peaks[2];
  for (int ch = 0; ch < channels; ++ch) peaks[ch] = FindPeak(values[ch], settings.removeDc != 0, magnitude);
  const long start = ChooseStartPosition(peaks[0].position, channels == 2 ? peaks[1].position : -1, order);
  if (magnitude == 0) magnitude = 1;
  const std::span<int16_t> output(reinterpret_cast<int16_t*>(samples), static_cast<std::size_t>(period * channels));
  for (int ch = 0; ch < channels; ++ch)
    WriteRotatedResponse(values[ch], start, peaks[ch].dc, magnitude, output, ch, channels);

  WriteWavHeader(result, channels, context->sampleRate, static_cast<uint32_t>(2 * channels * period));
  DeliverResponse<SeqUnfoldBlock>(lock, memory, resultHandle, context, owner, instance, context->caption, startTicks,
                                  cycles, channels, magnitude);
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
