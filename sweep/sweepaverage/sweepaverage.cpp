// "Synchronous Averaging": the selection holds a train of sweep responses convolved with
// the sweep's inverse filter, H measurements of M periods each. Every period is cut where
// its linear response (or the response of a harmonic) lies, the periods of each
// measurement are averaged, and the H responses go to the clipboard as 16-bit WAV data.
// The document is not changed.
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

#include "frame/averaging.h"
#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/edits.h"
#include "frame/dialogs.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/peaks.h"
#include "frame/stages.h"
#include "sweep/fields.h"
#include "sweep/sweep.h"
#include "sweep/sweepaverage/sweepaverage_block.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Synchronous Averaging";
constexpr char kHelpKeyword[] = "Deconvolve Multiple MLS Signals";
constexpr char kTooShortMessage[] =
    "Highlighted area is too short to perform the averaging\n"
    "with the selected N. of measurements, N. of sweeps and duration.";
constexpr char kTooShortCaption[] = "Synchronous Averaging Error";
constexpr int kRemoveDcBox = 1000;
constexpr int kMeasurementsEdit = 1001;
constexpr int kEachBox = 1004;
constexpr int kResponseEdit = 1005;
constexpr int kSkipEdit = 1006;
constexpr int kSweepEdit = 1009;
constexpr int kSweepsEdit = 1010;
constexpr int kSilenceEdit = 1011;
constexpr int kEndEdit = 1012;
constexpr int kStartEdit = 1013;
constexpr int kOrderList = 1015;
constexpr long kHighestOrder = 9;

const ModuleInfo kInfo = {"Tovrel\\Synchronous Average", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kSweepAverageTypeString};

AverageSettings SettingsOf(const SweepAverageBlock& b, long sampleRate) {
  return {b.measurements,   b.sweepsPerMeasurement, b.sweepDuration,  b.silenceDuration, b.responseLength,
          b.skipSamples,    b.harmonicOrder,        b.startFrequency, b.endFrequency,    sampleRate};
}

// A duration: 9 significant digits cut to 8 characters.
void ShowDuration(HWND dialog, int id, float value) { SetEditGeneral(dialog, id, value, 9, 8); }

void FillSettings(HWND dialog, void* data, XfmContext*) {
  const auto* block = static_cast<SweepAverageBlock*>(data);
  SetEditLong(dialog, kMeasurementsEdit, block->measurements);
  SetEditLong(dialog, kSweepsEdit, block->sweepsPerMeasurement);
  SetEditGeneral(dialog, kStartEdit, block->startFrequency, 7);
  SetEditGeneral(dialog, kEndEdit, block->endFrequency, 7);
  ShowDuration(dialog, kSweepEdit, block->sweepDuration);
  ShowDuration(dialog, kSilenceEdit, block->silenceDuration);
  SetEditLong(dialog, kResponseEdit, block->responseLength);
  SetEditLong(dialog, kSkipEdit, block->skipSamples);
  SendDlgItemMessageA(dialog, kOrderList, CB_RESETCONTENT, 0, 0);
  for (long k = 1; k <= kHighestOrder; ++k) {
    char item[16];
    std::snprintf(item, sizeof item, k == 1 ? "%ld Linear" : "%ld", k);
    SendDlgItemMessageA(dialog, kOrderList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
  const long order = block->harmonicOrder;
  SendDlgItemMessageA(dialog, kOrderList, CB_SETCURSEL, order >= 1 && order <= kHighestOrder ? order - 1 : 0, 0);
  CheckDlgButton(dialog, kRemoveDcBox, block->autoscaleRemoveDc ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kEachBox, block->autoscaleEach ? BST_CHECKED : BST_UNCHECKED);
}

// Numbers as typed, whole; how they combine with the selection the averaging's own check says.
const EditField kFields[] = {
    {kMeasurementsEdit, "N. of measurements", 1, 2147483647, true},
    {kSweepsEdit, "N. of sweeps / measurement", 1, 65536, true},
    {kStartEdit, "Start Frequency (Hz)", 0, 1e6, false, "Hz", "of the sweep; a harmonic response needs it above 0"},
    {kEndEdit, "End Frequency (Hz)", 0, 1e6, false, "Hz",
     "of the sweep; a harmonic response needs it above 0 and other than the start"},
    {kSweepEdit, "Sweep duration (s or samples)", 0, 2147483647, false, "s or samples",
     "below 100 in seconds, from 100 on in samples; one sample at least"},
    {kSilenceEdit, "Silence duration (s or samples)", 0, 2147483647, false, "s or samples",
     "below 100 in seconds, from 100 on in samples"},
    {kResponseEdit, "N. of samples for each response", 1, 2147483647, true, "samples"},
    {kSkipEdit, "N. of first samples to skip", 0, 2147483646, true, "samples",
     "less than one period of sweep and silence"},
};

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<SweepAverageBlock*>(data);
  double v[std::size(kFields)];
  if (!ReadFields(dialog, kFields, v, kTitle)) return -1;
  SweepAverageBlock read = *block;
  read.measurements = static_cast<LONG>(v[0]);
  read.sweepsPerMeasurement = static_cast<LONG>(v[1]);
  read.startFrequency = static_cast<float>(v[2]);
  read.endFrequency = static_cast<float>(v[3]);
  read.sweepDuration = static_cast<float>(v[4]);
  read.silenceDuration = static_cast<float>(v[5]);
  read.responseLength = static_cast<LONG>(v[6]);
  read.skipSamples = static_cast<LONG>(v[7]);
  const LRESULT selected = SendDlgItemMessageA(dialog, kOrderList, CB_GETCURSEL, 0, 0);
  read.harmonicOrder = selected >= 0 && selected < kHighestOrder ? static_cast<LONG>(selected + 1) : 1;
  read.autoscaleRemoveDc = IsDlgButtonChecked(dialog, kRemoveDcBox) == BST_CHECKED ? 1 : 0;
  read.autoscaleEach = IsDlgButtonChecked(dialog, kEachBox) == BST_CHECKED ? 1 : 0;

  const char* why = nullptr;
  const AverageFit fit = CheckAverage(SettingsOf(read, context->sampleRate), SelectedFrames(context), &why);
  // Settings that cannot be averaged keep the dialog open, with the reason.
  if (fit == AverageFit::Refused) {
    ShowError(dialog, why, kTitle);
    return -1;
  }
  *block = read;
  return fit == AverageFit::TooShort ? 2 : 1;
}

void FillResults(HWND dialog, void* data, XfmContext*) {
  const auto* block = static_cast<const SweepAverageBlock*>(data);
  AverageSettings settings = SettingsOf(*block, block->resultSampleRate);
  char text[32];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(PlanAverage(settings).R));  // as delivered
  SetDlgItemTextA(dialog, 1026, text);
  std::snprintf(text, sizeof text, "%d", static_cast<int>(block->resultChannels));
  SetDlgItemTextA(dialog, 1028, text);
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(block->resultSampleRate));
  SetDlgItemTextA(dialog, 1027, text);
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(block->measurements));
  SetDlgItemTextA(dialog, 1001, text);
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(block->sweepsPerMeasurement));
  SetDlgItemTextA(dialog, 1002, text);
  SetDlgItemTextA(dialog, 1030, FormatElapsed(block->elapsedMs).c_str());
  SetDlgItemTextA(dialog, 1032, ("Rescaled from: " + FormatGeneral(block->rescaledFrom, 11).substr(0, 10)).c_str());
}

const SettingsDialog kSettings = {kHelpKeyword, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields};
const ResultDialog kResult = {FillResults, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<SweepAverageBlock>(context, [](SweepAverageBlock& block) {
    block.autoscaleRemoveDc = 0;
    block.measurements = 1;
    block.sweepsPerMeasurement = 2;
    block.sweepDuration = 5.0f;
    block.silenceDuration = 1.0f;
    block.responseLength = 32767;
    block.skipSamples = 0;
    block.autoscaleEach = 0;
    block.startFrequency = 100.0f;
    block.endFrequency = 10000.0f;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupDeconvolver<SweepAverageBlock>(parent, instance, context, kTooShortMessage, kTooShortCaption);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const SweepAverageBlock block = *lock.as<SweepAverageBlock>();
  const HWND owner = FieldToHandle<HWND>(block.ownerWindow);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(block.moduleInstance);
  const int channels = context->channels == 2 ? 2 : 1;
  const AverageSettings settings = SettingsOf(block, context->sampleRate);

  // A stored block the dialog would not accept is refused here as well.
  const char* why = nullptr;
  const AverageFit fit = CheckAverage(settings, SelectedFrames(context), &why);
  if (fit != AverageFit::Fits) {
    ShowError(owner, fit == AverageFit::TooShort ? kTooShortMessage : why,
              fit == AverageFit::TooShort ? kTooShortCaption : kTitle);
    return 1;
  }
  const AveragePlan plan = PlanAverage(settings);
  const std::size_t H = static_cast<std::size_t>(block.measurements);
  const long M = block.sweepsPerMeasurement;
  const std::size_t P = static_cast<std::size_t>(plan.P), R = static_cast<std::size_t>(plan.R);
  const std::size_t skip = static_cast<std::size_t>(block.skipSamples);
  const std::size_t rows = H * P;
  const std::size_t clipFrames = (H * R > P ? H * R : P) + 2;

  // Stages: the clipboard block (its data area first serves as the read buffer), then per
  // channel the accumulator and the averaged rows.
  StagedMemory memory;
  HGLOBAL clipHandle = nullptr;
  int32_t* sums[2] = {nullptr, nullptr};
  float* averages[2] = {nullptr, nullptr};
  const bool fits = static_cast<double>(rows) * sizeof(float) < static_cast<double>(SIZE_MAX) / 2;
  auto* clip = fits ? memory.AllocLocked<uint8_t>(kWavHeaderBytes + 2 * static_cast<std::size_t>(channels) * clipFrames,
                                                  GMEM_MOVEABLE | GMEM_DDESHARE, &clipHandle)
                    : nullptr;
  bool allocated = clip != nullptr;
  for (int c = 0; c < channels && allocated; ++c) {
    sums[c] = memory.AllocLocked<int32_t>(P + 2, GMEM_MOVEABLE | GMEM_ZEROINIT);
    averages[c] = sums[c] ? memory.AllocLocked<float>(rows) : nullptr;
    allocated = averages[c] != nullptr;
  }
  if (!allocated) {
    memory.ReleaseAll();
    ShowError(owner, kDeconvolutionMemoryMessage, context->caption);
    return 1;
  }
  auto* samples = reinterpret_cast<int16_t*>(clip + kWavHeaderBytes);

  const DWORD startTicks = GetTickCount();
  HostProgress progress(context);
  const long a = channels == 2 ? 8 : 5;
  const long total = a * static_cast<long>(H) + 3;
  bool going = true;
  progress.Begin("Making multiple Synchronous Average...");
  going = progress.Report(0, total);
  for (std::size_t i = 0; i < H && going; ++i) {
    const int64_t K = AverageStartFrame(settings, plan, static_cast<long>(i));
    for (int c = 0; c < channels; ++c) std::memset(sums[c], 0, (P + 2) * sizeof(int32_t));
    SumPeriods(context, static_cast<long>(context->selStart + K), static_cast<long>(P), M, channels, samples, sums);
    if (!(going = progress.Report(static_cast<long>(i) * a + 4, total))) break;
    for (int c = 0; c < channels; ++c)
      for (std::size_t t = 0; t < P; ++t) averages[c][i * P + t] = static_cast<float>(sums[c][t]);
    going = progress.Report(static_cast<long>(i) * a + 6, total);
  }
  progress.End();
  if (!going) return 1;

  // A mono document with two measurements gives one stereo response: one per channel.
  const bool pair = channels == 1 && H == 2;
  const int outChannels = pair ? 2 : channels;
  auto response = [&](int c, std::size_t i) { return std::span<const float>(averages[c] + i * P + skip, R); };
  auto write = [&](int c, std::size_t i, double mean, float peak) {
    const float g = 32767.0f / peak;
    const auto values = response(c, i);
    for (std::size_t t = 0; t < R; ++t) {
      const std::size_t at = pair ? t * 2 + i : (i * R + t) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c);
      samples[at] = ScaleToSample(values[t], mean, g);
    }
  };
  float peak = 0;
  const bool removeDc = block.autoscaleRemoveDc != 0;
  if (block.autoscaleEach) {
    progress.Begin("Finding Max Data and Scaling...");
    going = progress.Report(0, 2 * static_cast<long>(H));
    for (std::size_t i = 0; i < H && going; ++i) {
      peak = 0;
      Peak found[2];
      for (int c = 0; c < channels; ++c) found[c] = FindPeakOfValues(response(c, i), removeDc, peak);
      if (peak == 0) peak = 1;
      if (!(going = progress.Report(2 * static_cast<long>(i) + 1, 2 * static_cast<long>(H)))) break;
      for (int c = 0; c < channels; ++c) write(c, i, found[c].dc, peak);
      going = progress.Report(2 * static_cast<long>(i) + 2, 2 * static_cast<long>(H));
    }
  } else {
    double means[2] = {0, 0};
    if (removeDc) {
      for (int c = 0; c < channels; ++c)
        means[c] = FindPeakOfValues(std::span<const float>(averages[c], rows), true, peak).dc;
    } else {
      peak = static_cast<float>(M) * 32767.0f;  // the plain average of the sweeps
    }
    if (peak == 0) peak = 1;
    progress.Begin("Converting and scaling data ...");
    for (std::size_t i = 0; i < H && going; ++i) {
      for (int c = 0; c < channels; ++c) write(c, i, means[c], peak);
      going = progress.Report(static_cast<long>(i), static_cast<long>(H));
    }
  }
  progress.End();
  if (!going) return 1;

  const std::size_t dataBytes = H * R * static_cast<std::size_t>(channels) * 2;
  WriteWavHeader(clip, outChannels, context->sampleRate, static_cast<uint32_t>(dataBytes));
  if (!PlaceOnClipboard(owner, memory.Release(clipHandle), CF_WAVE, context->caption)) return 0;
  auto* stored = lock.as<SweepAverageBlock>();
  stored->elapsedMs = static_cast<LONG>(GetTickCount() - startTicks);
  stored->resultSampleRate = context->sampleRate;
  stored->resultChannels = static_cast<BYTE>(channels);
  stored->rescaledFrom = peak;
  lock.Unlock();
  MessageBeep(0);
  ShowResultDialog(owner, instance, context);
  lock.Relock();
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
