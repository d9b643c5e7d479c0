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

#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
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
constexpr char kNoTobMessage[] = "No TOB found !!!\n(Wrong taps ?)";
constexpr char kInvalidEntryMessage[] =
    "The stored MLS order is not valid.\nChoose the MLS order again in the settings dialog.";
// The counts live in 16-bit fields; the window must lie within one response.
constexpr char kCountsMessage[] =
    "The N. of measurements and the N. of sequences / measurement\nmust lie between 1 and 32767, "
    "the N. of first sequences to skip\nbetween 0 and 32767.";
constexpr char kSamplesMessage[] = "The N. of samples for each sequence must be at least 1.";
constexpr char kSkipMessageFormat[] =
    "The N. of samples to skip must lie within one response:\nfrom 0 to %ld for the selected MLS order.";
constexpr long kMaxCount = 32767;

const ModuleInfo kInfo = {"Tovrel\\Deconvolve Multiple MLS Signals", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kMultiUnfoldTypeString};

void SetNumber(HWND dialog, int id, long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  SetDlgItemTextA(dialog, id, text);
}

// The leading integer of the first 9 characters of an edit.
long ReadNumber(HWND dialog, int id) {
  char text[10] = {0};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return std::strtol(text, nullptr, 10);
}

// Why the settings cannot serve, or null.
const char* CheckCounts(long measurements, long sequences, long skipped) {
  if (measurements < 1 || measurements > kMaxCount || sequences < 1 || sequences > kMaxCount || skipped < 0 ||
      skipped > kMaxCount)
    return kCountsMessage;
  return nullptr;
}

void FillSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<MultiUnfoldBlock*>(data);
  FillMlsOrderCombo(dialog, kOrderCombo, block->entry);
  CheckDlgButton(dialog, kRemoveDcCheck, block->removeDc ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kScaleSeparatelyCheck, block->scaleSeparately ? BST_CHECKED : BST_UNCHECKED);
  SetNumber(dialog, kMeasurementsEdit, block->measurements);
  SetNumber(dialog, kSequencesEdit, block->sequencesPerMeasurement);
  SetNumber(dialog, kSkipSequencesEdit, block->sequencesToSkip);
  SetNumber(dialog, kSamplesEdit, block->samplesPerResponse);
  SetNumber(dialog, kSkipSamplesEdit, block->samplesToSkip);
}

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<MultiUnfoldBlock*>(data);
  const long measurements = ReadNumber(dialog, kMeasurementsEdit);
  const long sequences = ReadNumber(dialog, kSequencesEdit);
  const long skipped = ReadNumber(dialog, kSkipSequencesEdit);
  const long samples = ReadNumber(dialog, kSamplesEdit);
  const long skipSamples = ReadNumber(dialog, kSkipSamplesEdit);
  const MlsChoice choice = ReadMlsOrderCombo(dialog, kOrderCombo, {block->entry, block->order});
  const MlsEntry* row = FindMlsEntry(choice.entry);
  const long period = row ? MlsPeriod(row->order) : 0;
  // Settings that cannot serve keep the dialog open, with the reason.
  const char* problem = CheckCounts(measurements, sequences, skipped);
  if (!problem && samples < 1) problem = kSamplesMessage;
  char skipText[160];
  if (!problem && (skipSamples < 0 || skipSamples >= period)) {
    std::snprintf(skipText, sizeof skipText, kSkipMessageFormat, period - 1);
    problem = skipText;
  }
  if (problem) {
    ShowError(dialog, problem, context->caption);
    return -1;
  }
  block->entry = choice.entry;
  block->order = choice.order;
  block->removeDc = IsDlgButtonChecked(dialog, kRemoveDcCheck) == BST_CHECKED ? 1 : 0;
  block->scaleSeparately = IsDlgButtonChecked(dialog, kScaleSeparatelyCheck) == BST_CHECKED ? 1 : 0;
  block->measurements = static_cast<SHORT>(measurements);
  block->sequencesPerMeasurement = static_cast<SHORT>(sequences);
  block->sequencesToSkip = static_cast<SHORT>(skipped);
  block->samplesPerResponse = static_cast<LONG>(samples);
  block->samplesToSkip = static_cast<LONG>(skipSamples);
  const double needed = static_cast<double>(period) * measurements * sequences;
  return static_cast<double>(SelectedFrames(context)) < needed ? 2 : 1;
}

void FillResults(HWND dialog, void* data, XfmContext*) {
  const auto* block = static_cast<const MultiUnfoldBlock*>(data);
  const long period = block->order >= 2 && block->order <= 21 ? MlsPeriod(block->order) : 0;
  FillDeconvolutionStatistics(dialog, period, block->resultChannels, block->resultSampleRate, block->cycles,
                              block->elapsedMs, block->rescaledFrom);
  char text[32];
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->measurements));
  SetDlgItemTextA(dialog, 1001, text);
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->sequencesPerMeasurement));
  SetDlgItemTextA(dialog, 1002, text);
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->sequencesToSkip));
  SetDlgItemTextA(dialog, 1003, text);
}

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr};
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
  return SetupDeconvolver(parent, instance, context, kTooShortMessage, offsetof(MultiUnfoldBlock, ownerWindow),
                          offsetof(MultiUnfoldBlock, moduleInstance));
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const MultiUnfoldBlock settings = *lock.as<MultiUnfoldBlock>();
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
  const long G = settings.measurements, X = settings.sequencesPerMeasurement, Y = settings.sequencesToSkip;
  const long K0 = settings.samplesToSkip;
  // A stored block the dialog would not accept is refused here as well.
  const char* problem = CheckCounts(G, X, Y);
  if (!problem && settings.samplesPerResponse < 1) problem = kSamplesMessage;
  if (!problem && (K0 < 0 || K0 >= period)) problem = "The N. of samples to skip lies outside one response.";
  if (problem) {
    ShowError(owner, problem, context->caption);
    return 1;
  }
  if (static_cast<double>(SelectedFrames(context)) < static_cast<double>(period) * G * X) {
    ShowError(owner, kTooShortMessage, context->caption);
    return 1;
  }
  // The window lies within one response.
  const long window = settings.samplesPerResponse < period - K0 ? settings.samplesPerResponse : period - K0;
  const std::size_t outFrames = static_cast<std::size_t>(G) * static_cast<std::size_t>(window);
  const std::size_t bufferFrames = (outFrames > static_cast<std::size_t>(period) ? outFrames : period) + 2;
  const std::size_t responses = static_cast<std::size_t>(G) * static_cast<std::size_t>(period);

  // Stages: permutation, result buffer, then per channel a work array and a result array.
  StagedMemory memory;
  HGLOBAL resultHandle = nullptr;
  int32_t* work[2] = {nullptr, nullptr};
  float* results[2] = {nullptr, nullptr};
  auto* perm = memory.AllocLocked<int32_t>(cells);
  auto* result = perm ? memory.AllocLocked<uint8_t>(kWavHeaderBytes + 2 * bufferFrames * static_cast<std::size_t>(channels),
                                                    GMEM_MOVEABLE | GMEM_DDESHARE, &resultHandle)
                      : nullptr;
  bool allocated = result != nullptr;
  for (int c = 0; c < channels && allocated; ++c) {
    work[c] = memory.AllocLocked<int32_t>(cells, GMEM_MOVEABLE | GMEM_ZEROINIT);
    results[c] = work[c] ? memory.AllocLocked<float>(responses, GMEM_MOVEABLE | GMEM_ZEROINIT) : nullptr;
    allocated = results[c] != nullptr;
  }
  if (!allocated) {
    memory.ReleaseAll();
    ShowError(owner, kDeconvolutionMemoryMessage, context->caption);
    return 1;
  }
  const DWORD startTicks = GetTickCount();
  HostProgress progress(context);
  const long a = channels == 2 ? 8 : 5;
  const long total = a * G + 3;
  bool going = true;
  auto step = [&](long done) { return going = going && progress.Report(done, total); };

  progress.Begin("Making multiple MLS deconvolution...");
  step(0);
  // Reference, TOB and permutation run to completion before the first cancel check.
  GenerateMlsBits(*row, work[0], 1, {});
  const std::span<const int32_t> reference(work[0], static_cast<std::size_t>(period));
  step(1);
  long tob[21] = {};
  const TobResult found = LookUpTob(reference, std::span<long>(tob, static_cast<std::size_t>(order)), {});
  if (found == TobResult::NotFound) {
    progress.End();
    ShowError(nullptr, kNoTobMessage, context->caption);
    return 1;
  }
  step(2);
  const std::span<int32_t> permutation(perm, cells);
  BuildMlsPermutation(reference, std::span<const long>(tob, static_cast<std::size_t>(order)), permutation, {});
  step(3);

  auto* samples = reinterpret_cast<SHORT*>(result + kWavHeaderBytes);
  const LONG periodBytes = static_cast<LONG>(2 * channels * period);
  for (long m = 0; m < G && going; ++m) {
    const long s = 5 + a * m;
    for (int ch = 0; ch < channels; ++ch) std::memset(work[ch], 0, cells * sizeof(int32_t));
    for (long p = 0; p < X - Y; ++p) {
      const long frame = context->selStart + (m * X + Y + p) * period;
      context->readSamples(samples, static_cast<LONG>(2 * channels * frame), periodBytes);
      for (int ch = 0; ch < channels; ++ch) {
        int32_t* sums = work[ch] + 2;
        const SHORT* in = samples + ch;
        for (long k = 0; k < period; ++k) sums[k] += in[k * channels];
      }
    }
    if (!step(s - 1)) break;
    std::span<float> values[2];
    for (int ch = 0; ch < channels; ++ch) {
      SumsToFloats(work[ch], 2, cells - 1);
      values[ch] = std::span<float>(reinterpret_cast<float*>(work[ch]), cells);
    }
    if (!step(s)) break;
    for (int ch = 0; ch < channels && going; ++ch) {
      PermuteForward(values[ch], permutation);
      if (!step(s + 1 + 3 * ch)) break;
      FastHadamardTransform(values[ch]);
      if (!step(s + 2 + 3 * ch)) break;
      PermuteBackward(values[ch], permutation);
      if (!step(s + 3 + 3 * ch)) break;
      // Natural time order: lag t sits at position 3 - t, wrapping below 2 to 2^N.
      float* slot = results[ch] + static_cast<std::size_t>(m) * static_cast<std::size_t>(period);
      for (long t = 0; t < period; ++t) {
        long pos = 3 - t;
        if (pos < 2) pos += period;
        slot[t] = values[ch][static_cast<std::size_t>(pos)];
      }
    }
  }
  progress.End();
  if (!going) return 1;

  // Scaling and output: window m of each channel goes to frames m * window onwards.
  const std::span<int16_t> output(reinterpret_cast<int16_t*>(samples), outFrames * static_cast<std::size_t>(channels));
  auto windowOf = [&](int ch, long m) {
    return std::span<const float>(results[ch] + static_cast<std::size_t>(m) * period + K0,
                                  static_cast<std::size_t>(window));
  };
  auto writeWindow = [&](int ch, long m, double dc, float magnitude) {
    const float g = 32767.0f / magnitude;
    const auto values = windowOf(ch, m);
    for (long t = 0; t < window; ++t)
      output[static_cast<std::size_t>((m * window + t) * channels + ch)] =
          ScaleToSample(values[static_cast<std::size_t>(t)], dc, g);
  };
  float magnitude = 0;
  if (settings.scaleSeparately) {
    progress.Begin("Finding Max Data and Scaling...");
    going = progress.Report(0, 2 * G);
    for (long m = 0; m < G && going; ++m) {
      magnitude = 0;
      Peak peaks[2];
      for (int ch = 0; ch < channels; ++ch)
        peaks[ch] = FindPeakOfValues(windowOf(ch, m), settings.removeDc != 0, magnitude);
      if (magnitude == 0) magnitude = 1;
      if (!(going = progress.Report(2 * m + 1, 2 * G))) break;
      for (int ch = 0; ch < channels; ++ch) writeWindow(ch, m, peaks[ch].dc, magnitude);
      going = progress.Report(2 * m + 2, 2 * G);
    }
  } else {
    Peak peaks[2];
    for (int ch = 0; ch < channels; ++ch)
      peaks[ch] = FindPeakOfValues(std::span<const float>(results[ch], responses), settings.removeDc != 0, magnitude);
    if (magnitude == 0) magnitude = 1;
    progress.Begin("Converting and scaling data ...");
    for (long m = 0; m < G && going; ++m) {
      for (int ch = 0; ch < channels; ++ch) writeWindow(ch, m, peaks[ch].dc, magnitude);
      going = progress.Report(m, G);
    }
  }
  progress.End();
  if (!going) return 1;

  WriteWavHeader(result, channels, context->sampleRate, static_cast<uint32_t>(2 * channels * outFrames));
  const long cycles = SelectedFrames(context) / period;
  DeliverResponse<MultiUnfoldBlock>(lock, memory, resultHandle, context, owner, instance, context->caption, startTicks,
                                    cycles < kMaxCount ? cycles : kMaxCount, channels, magnitude);
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
