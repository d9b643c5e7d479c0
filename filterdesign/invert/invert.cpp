// "Design inverse filter": the FIR filter of a chosen length whose convolution with the
// selected impulse response best approximates, in the least-squares sense, a unit
// impulse delayed by a chosen number of samples. The normal equations (autocorrelation
// by the real FFT, a symmetric Toeplitz matrix) are solved by Levinson recursion; the
// filter goes to the clipboard as 16-bit WAV data. The document is not changed.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "filterdesign/delivery.h"
#include "filterdesign/design.h"
#include "filterdesign/invert/invert_block.h"
#include "filterdesign/toeplitz.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/edits.h"
#include "frame/fft.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Design inverse filter";
constexpr char kCaption[] = "Inverse Filter";
constexpr char kHelpKeyword[] = "Inverse Filter";
constexpr int kInfoText = 1026;
constexpr int kLengthEdit = 1037;
constexpr int kDelayEdit = 1038;
constexpr char kRangeMessage[] = "Delta delay range is:\n0..(inverse filter lenght + impulse response lenght - 1)";
constexpr char kMemoryMessage[] =
    "The system cannot allocate enough memory\nto design inverse filter.\n\n"
    "Retry after closing some windows or\nwith a shorter selected area.";
constexpr char kSolverMemoryMessage[] =
    "The system cannot allocate enough memory\nto solve the Toeplitz system.\n\n"
    "Retry after closing some windows or\nwith a shorter selected area.";
constexpr char kSingularMessage[] = "Singular principal minor in toeplz function.";
// The largest buffer the design takes, in bytes.
constexpr uint64_t kLargestBuffer = 0x7FFFFFF0u;

const ModuleInfo kInfo = {"Tovrel\\Inverse filter", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kInverseFilterTypeString};

// The settings a design can run with: L >= 1 and 0 <= D < n + L.
bool ValidSettings(int64_t length, int64_t delay, int64_t frames) {
  return length >= 1 && delay >= 0 && frames >= 1 && delay < frames + length;
}

void FillSettings(HWND dialog, void*, XfmContext* context) {
  const int64_t n = static_cast<int64_t>(SelectedFrames(context));
  SetDlgItemTextA(dialog, kInfoText, ResponseInfo(context, n).c_str());
  SetDlgItemTextA(dialog, kLengthEdit, std::to_string(2 * n - 1).c_str());
  SetDlgItemTextA(dialog, kDelayEdit, std::to_string(n - 1).c_str());
}

// A length of 0 or below, or a delay below 0, closes the dialog as if cancelled; text
// that is no whole number is refused.
const EditField kFields[] = {
    {kLengthEdit, "Inverse filter lenght", 1, 2147483647, true, "samples", "0 or below closes the dialog as if cancelled"},
    {kDelayEdit, "Delta delay", 0, 2147483647, true, "samples",
     "below inverse filter lenght + impulse response lenght; below 0 closes the dialog as if cancelled"},
};

INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<InverseFilterBlock*>(data);
  double v[2];
  for (int k = 0; k < 2; ++k) {
    char text[64] = {0};
    GetDlgItemTextA(dialog, kFields[k].id, text, sizeof text);
    const std::optional<double> value = ParseFieldIn(text, -2147483648.0, kFields[k].hi, true);
    if (!value) {
      RefuseField(dialog, kFields[k], kFields[k].lo, kFields[k].hi, kCaption);
      return -1;
    }
    v[k] = *value;
  }
  const LONG length = static_cast<LONG>(v[0]);
  const LONG delay = static_cast<LONG>(v[1]);
  block->length = length;
  block->delay = delay;
  if (length <= 0 || delay < 0) return 0;
  if (!ValidSettings(length, delay, static_cast<int64_t>(SelectedFrames(context)))) {
    MessageBoxA(nullptr, kRangeMessage, kCaption, MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    return -1;
  }
  return 1;
}

void FillResults(HWND dialog, void* data, XfmContext* context) {
  const auto* block = static_cast<const InverseFilterBlock*>(data);
  char text[24];
  std::snprintf(text, sizeof text, "%li", static_cast<long>(block->length));
  SetDlgItemTextA(dialog, 1026, text);
  FillCommonStatistics(dialog, context, block->elapsedMs);
}

const SettingsDialog kSettings = {kHelpKeyword, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields};
const ResultDialog kResult = {FillResults, nullptr};

// One channel's filter: the signal buffer holds h at 0 ... n - 1 and zeros up to its end
// (G values at least, G >= 2n - 1); rhs and result hold L values.
bool DesignChannel(std::span<float> signal, std::span<float> rhs, std::span<float> result, long G, long n,
                   int64_t delay, const HostProgress& progress) {
  const long L = static_cast<long>(result.size());
  DelayedImpulseCorrelation(signal.first(static_cast<std::size_t>(n)), delay, rhs);

  // The autocorrelation, (G / 2) × sum h[j] h[j + m] at lag m: nothing wraps below lag n.
  progress.Begin("Calculating autocorrelation...");
  const std::span<float> transform = signal.first(static_cast<std::size_t>(G));
  RealFft(transform, +1);
  bool going = progress.Report(2, 5);
  if (going) {
    PowerSpectrum(transform);
    going = progress.Report(3, 5);
  }
  if (going) {
    RealFft(transform, -1);
    going = progress.Report(5, 5);
  }
  progress.End();
  if (!going) return false;
  // Lags n ... L - 1 are zero; the buffer holds the wrapped negative lags there.
  for (long m = n; m < L; ++m) signal[static_cast<std::size_t>(m)] = 0;

  progress.Begin("Solving Toeplitz system...");
  StagedMemory memory;
  float* work = memory.AllocLocked<float>(static_cast<std::size_t>(L));
  ToeplitzResult solved = ToeplitzResult::Singular;
  if (!work) {
    MessageBoxA(nullptr, kSolverMemoryMessage, kCaption, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  } else {
    solved = ToeplitzSolve(signal.first(static_cast<std::size_t>(L)), rhs, result,
                           std::span<float>(work, static_cast<std::size_t>(L)), progress.Callback());
    if (solved == ToeplitzResult::Singular)
      MessageBoxA(nullptr, kSingularMessage, kCaption, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  }
  going = solved == ToeplitzResult::Solved && progress.Report(1, 1);
  progress.End();
  return going;
}

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

// The dialog proposes the length and delay from the selection each time: no defaults.
BOOL WINAPI XfmInit(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  return lock ? TRUE : FALSE;
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupStoringWindow<InverseFilterBlock>(parent, instance, context);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const InverseFilterBlock settings = *lock.as<InverseFilterBlock>();
  const HWND owner = FieldToHandle<HWND>(settings.ownerWindow);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(settings.moduleInstance);
  const int channels = context->channels;
  const int64_t n = static_cast<int64_t>(SelectedFrames(context));
  if ((channels != 1 && channels != 2) || !ValidSettings(settings.length, settings.delay, n)) {
    ShowInvalidStoredSetting(owner, settings.length < 1 ? "inverse filter lenght" : "delta delay", kCaption);
    return 1;
  }
  const long L = settings.length;
  const int64_t G = AutocorrelationSize(n);
  const int64_t S = G > L ? G : L;

  // Stages: the selection, the signal, the right-hand side, one result per channel.
  StagedMemory memory;
  const bool fits = G > 0 && static_cast<uint64_t>(n) * channels * 2 <= kLargestBuffer &&
                    static_cast<uint64_t>(S) * 4 <= kLargestBuffer;
  auto* raw = fits ? memory.AllocLocked<int16_t>(static_cast<std::size_t>(n * channels)) : nullptr;
  auto* signal = raw ? memory.AllocLocked<float>(static_cast<std::size_t>(S), GMEM_MOVEABLE | GMEM_ZEROINIT) : nullptr;
  auto* rhs = signal ? memory.AllocLocked<float>(static_cast<std::size_t>(L), GMEM_MOVEABLE | GMEM_ZEROINIT) : nullptr;
  float* result[2] = {nullptr, nullptr};
  bool allocated = rhs != nullptr;
  for (int c = 0; c < channels && allocated; ++c) {
    result[c] = memory.AllocLocked<float>(static_cast<std::size_t>(L), GMEM_MOVEABLE | GMEM_ZEROINIT);
    allocated = result[c] != nullptr;
  }
  if (!allocated) {
    memory.ReleaseAll();
    lock.Unlock();
    MessageBoxA(owner, kMemoryMessage, kCaption, MB_OK | MB_ICONSTOP);
    return 1;
  }
  const DWORD startTicks = GetTickCount();
  context->readSamples(raw, static_cast<LONG>(static_cast<int64_t>(context->selStart) * channels * 2),
                       static_cast<LONG>(n * channels * 2));

  const HostProgress progress(context);
  const std::span<float> signalSpan(signal, static_cast<std::size_t>(S));
  bool designed = true;
  for (int c = 0; c < channels && designed; ++c) {
    for (int64_t j = 0; j < n; ++j) signal[j] = raw[j * channels + c];
    std::fill(signal + n, signal + S, 0.0f);
    designed = DesignChannel(signalSpan, std::span<float>(rhs, static_cast<std::size_t>(L)),
                             std::span<float>(result[c], static_cast<std::size_t>(L)), static_cast<long>(G),
                             static_cast<long>(n), settings.delay, progress);
  }
  if (!designed) return 1;

  const std::span<const float> left(result[0], static_cast<std::size_t>(L));
  const FilterTexts texts = {kCaption, kMemoryMessage, kCaption};
  const bool delivered =
      channels == 1 ? DeliverFilters({left}, 1, L, context->sampleRate, owner, texts)
                    : DeliverFilters({left, std::span<const float>(result[1], static_cast<std::size_t>(L))}, 2, L,
                                     context->sampleRate, owner, texts);
  memory.ReleaseAll();
  if (!delivered) return 1;
  lock.as<InverseFilterBlock>()->elapsedMs = static_cast<LONG>(GetTickCount() - startTicks);
  lock.Unlock();
  MessageBeep(0);
  ShowResultDialog(owner, instance, context);
  lock.Relock();
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
