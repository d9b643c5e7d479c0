// "Generate Sine Sweep": replaces the selection with R periods of a faded linear or
// logarithmic sine sweep followed by silence, and places the sweep's inverse filter on
// the clipboard. In stereo the sweeps play on the left and then on the right channel, or
// on the left only with a short control tone on the right at the end of every sweep.
#include <iterator>
#include <cstdio>
#include <cstring>

#include "frame/clipwave.h"
#include "frame/descriptor.h"
#include "frame/edits.h"
#include "frame/dialogs.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"
#include "sweep/fields.h"
#include "sweep/sweep.h"
#include "sweep/sweepsource/sweepsource_block.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Generate Sine Sweep";
constexpr int kStartEdit = 1036;
constexpr int kEndEdit = 1037;
constexpr int kSweepEdit = 1038;
constexpr int kAmplitudeEdit = 1039;
constexpr int kLinearRadio = 1026;
constexpr int kLogRadio = 1025;
constexpr int kSilenceEdit = 1041;
constexpr int kCyclesEdit = 1040;
constexpr int kControlPulsesBox = 1044;
constexpr long kProgressStep = 1000;

const ModuleInfo kInfo = {"Tovrel\\Sine Sweep", kTitle, kChannelsMonoStereo, kKindGenerator,
                          kSweepSourceTypeString};

SweepSettings SettingsOf(const SweepSourceBlock& b, long sampleRate) {
  return {b.startFrequency, b.endFrequency, b.sweepDuration, b.silenceDuration, b.amplitude, b.linearSweep != 0,
          sampleRate};
}

void FillSettings(HWND dialog, void* data, XfmContext* context) {
  const auto* block = static_cast<SweepSourceBlock*>(data);
  SetEditGeneral(dialog, kStartEdit, block->startFrequency, 7);
  SetEditGeneral(dialog, kEndEdit, block->endFrequency, 7);
  SetEditGeneral(dialog, kSweepEdit, block->sweepDuration, 7);
  SetEditLong(dialog, kAmplitudeEdit, block->amplitude);
  CheckDlgButton(dialog, kLinearRadio, block->linearSweep != 0 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kLogRadio, block->linearSweep != 0 ? BST_UNCHECKED : BST_CHECKED);
  SetEditGeneral(dialog, kSilenceEdit, block->silenceDuration, 10);
  SetEditLong(dialog, kCyclesEdit, block->repetitions);
  // The control tone needs a right channel.
  const bool stereo = context->channels == 2;
  EnableWindow(GetDlgItem(dialog, kControlPulsesBox), stereo ? TRUE : FALSE);
  CheckDlgButton(dialog, kControlPulsesBox, stereo && block->controlPulses ? BST_CHECKED : BST_UNCHECKED);
}

// Numbers as typed, whole; how they combine (frequencies below half the sample rate, a
// sweep long enough for its fades, a signal that fits) the sweep's own check says.
const EditField kFields[] = {
    {kStartEdit, "Start Frequency (Hz)", 0, 1e6, false, "Hz", "above 0, at most half the sample rate"},
    {kEndEdit, "End Frequency (Hz)", 0, 1e6, false, "Hz",
     "above 0, at most half the sample rate; a logarithmic sweep needs it other than the start"},
    {kSweepEdit, "Sweep duration (s or samples)", 0, 2147483647, false, "s or samples",
     "up to 100 in seconds, above in samples; at least 17 samples"},
    {kAmplitudeEdit, "Amplitude", 1, 32767, true},
    {kSilenceEdit, "Silence duration (s or samples)", 0, 2147483647, false, "s or samples",
     "up to 100 in seconds, above in samples"},
    {kCyclesEdit, "N. of cycles", 1, 2147483647, true, "",
     "the whole signal must stay within one write of the host"},
};

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<SweepSourceBlock*>(data);
  double v[std::size(kFields)];
  if (!ReadFields(dialog, kFields, v, kTitle)) return -1;
  SweepSourceBlock read = *block;
  read.startFrequency = static_cast<float>(v[0]);
  read.endFrequency = static_cast<float>(v[1]);
  read.sweepDuration = static_cast<float>(v[2]);
  read.amplitude = static_cast<LONG>(v[3]);
  read.linearSweep = IsDlgButtonChecked(dialog, kLinearRadio) == BST_CHECKED ? 1 : 0;
  read.silenceDuration = static_cast<float>(v[4]);
  read.repetitions = static_cast<LONG>(v[5]);
  const int channels = context->channels == 2 ? 2 : 1;
  read.controlPulses = channels == 2 && IsDlgButtonChecked(dialog, kControlPulsesBox) == BST_CHECKED ? 1 : 0;

  // Settings that give no sweep keep the dialog open, with the reason.
  const SweepSettings settings = SettingsOf(read, context->sampleRate);
  if (const char* problem = CheckSweep(settings, read.repetitions, channels, read.controlPulses != 0)) {
    ShowError(dialog, problem, kTitle);
    return -1;
  }
  *block = read;
  return ConfirmGeneratorLength(
      *block, context, static_cast<long>(SweepFrames(PlanSweep(settings), read.repetitions, channels, read.controlPulses != 0)));
}

const SettingsDialog kSettings = {kTitle, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields};
const ResultDialog kResult = {nullptr, nullptr};

// The four boxes of a failed allocation: the message, the failed stage, the sizes asked.
void ShowAllocationFailure(int stage, std::size_t documentBytes, std::size_t clipboardBytes) {
  char text[32];
  ShowError(nullptr, kGenerationMemoryMessage, kTitle);
  std::snprintf(text, sizeof text, "%d", stage);
  ShowError(nullptr, text, "CantAllocateLevel =");
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(documentBytes));
  ShowError(nullptr, text, "Memory required L1 (Bytes)");
  std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(clipboardBytes));
  ShowError(nullptr, text, "Memory required L2 (Bytes)");
}

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<SweepSourceBlock>(context, [](SweepSourceBlock& block) {
    block.startFrequency = 100.0f;
    block.endFrequency = 10000.0f;
    block.sweepDuration = 10.0f;
    block.amplitude = 16384;
    block.linearSweep = 0;
    block.silenceDuration = 1.0f;
    block.repetitions = 1;
    block.ownerWindow = 0;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplate);
  // The window is stored whatever the dialog's result.
  BlockLock lock(context->paramHandle);
  if (!lock) return 0;
  const uint32_t owner = HandleToField(parent);
  std::memcpy(lock.as<BYTE>() + offsetof(SweepSourceBlock, ownerWindow), &owner, sizeof owner);
  return result;
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return SelectedFrames(context);  // the document keeps its length
  const SweepSourceBlock block = *lock.as<SweepSourceBlock>();
  const LONG unchanged = block.selectionLength;
  const HWND owner = FieldToHandle<HWND>(block.ownerWindow);
  const int channels = context->channels == 2 ? 2 : 1;
  const bool tone = channels == 2 && block.controlPulses != 0;
  const long R = block.repetitions;

  // A stored block the dialog would not accept is refused here as well.
  const SweepSettings settings = SettingsOf(block, context->sampleRate);
  if (const char* problem = CheckSweep(settings, R, channels, tone)) {
    ShowError(nullptr, problem, kTitle);
    return unchanged;
  }
  const SweepPlan plan = PlanSweep(settings);
  const std::size_t N = static_cast<std::size_t>(plan.N), P = static_cast<std::size_t>(plan.P);
  const std::size_t frames = static_cast<std::size_t>(SweepFrames(plan, R, channels, tone));
  const std::size_t documentBytes = frames * static_cast<std::size_t>(channels) * 2;
  const std::size_t clipboardBytes = 2 * N + 48;

  // Stages: 1 the document buffer, 2 its lock, 3 the clipboard block, 4 its lock.
  StagedMemory memory;
  int failed = 0;
  HGLOBAL documentHandle = memory.Alloc(documentBytes, GMEM_MOVEABLE | GMEM_ZEROINIT);
  auto* out = documentHandle ? static_cast<int16_t*>(memory.Lock(documentHandle)) : nullptr;
  HGLOBAL clipHandle = out ? memory.Alloc(clipboardBytes, GMEM_MOVEABLE | GMEM_DDESHARE) : nullptr;
  auto* clip = clipHandle ? static_cast<uint8_t*>(memory.Lock(clipHandle)) : nullptr;
  if (!documentHandle) failed = 1;
  else if (!out) failed = 2;
  else if (!clipHandle) failed = 3;
  else if (!clip) failed = 4;
  if (failed) {
    memory.ReleaseAll();
    ShowAllocationFailure(failed, documentBytes, clipboardBytes);
    return unchanged;
  }
  auto* inverse = reinterpret_cast<int16_t*>(clip + kWavHeaderBytes);

  HostProgress progress(context);
  progress.Begin(plan.linear ? "Generating Linear Sine Sweep" : "Generating Logarithmic Sine Sweep");
  // Progress counts sweep samples, times the channels when the sweeps play on both.
  const long scale = tone ? 1 : channels;
  const long total = static_cast<long>(N) * R * scale;
  bool going = true;
  for (long r = 0; r < R && going; ++r) {
    int16_t* period = out + static_cast<std::size_t>(r) * P * static_cast<std::size_t>(channels);
    // Without a control tone a stereo document plays the same periods on the right after the left.
    int16_t* right = channels == 2 && !tone ? period + static_cast<std::size_t>(R) * P * 2 + 1 : nullptr;
    for (std::size_t n = 0; n < N; ++n) {
      if (n % kProgressStep == 0 &&
          !(going = progress.Report((static_cast<long>(r) * static_cast<long>(N) + static_cast<long>(n)) * scale, total)))
        break;
      const double value = SweepValue(plan, static_cast<int64_t>(n));
      const int16_t sample = SweepSample(value);
      period[n * static_cast<std::size_t>(channels)] = sample;
      if (right) right[2 * n] = sample;
      if (tone && N >= kControlToneSamples && n >= N - kControlToneSamples)
        period[2 * n + 1] = ControlToneSample(static_cast<int64_t>(n));
      if (r == 0) inverse[N - 1 - n] = InverseSample(plan, static_cast<int64_t>(n), value);
    }
  }
  progress.End();
  if (!going) return unchanged;  // nothing written; the clipboard block is freed

  // (The frames written may equal the selection's: the write's own result tells failure.)
  const LONG byteOffset = static_cast<LONG>(static_cast<int64_t>(context->selStart) * channels * 2);
  if (context->writeSamples(out, byteOffset, static_cast<LONG>(documentBytes)) != 0) return unchanged;
  WriteWavHeader(clip, 1, context->sampleRate, static_cast<uint32_t>(2 * N));
  PlaceOnClipboard(owner, memory.Release(clipHandle), CF_WAVE, context->caption);
  return static_cast<LONG>(frames);
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
