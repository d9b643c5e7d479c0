// "Design spectrum flattening filter" (Kirkeby inversion): from the selected impulse
// response, the FIR filter whose bins are conj(H) / (|H|² + ε), ε small inside the chosen
// band and large outside it; for stereo responses the four filters of a 2 × 2
// crosstalk-cancelling network through the inverted determinant. The filters go to the
// clipboard as 16-bit WAV data. The document is not changed.
#include <cmath>
#include <iterator>
#include <algorithm>
#include <span>
#include <string>

#include "filterdesign/delivery.h"
#include "filterdesign/design.h"
#include "filterdesign/spectrum/spectrum_block.h"
#include "frame/descriptor.h"
#include "frame/dialogs.h"
#include "frame/edits.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "frame/progress.h"
#include "frame/stages.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kTitle[] = "Design spectrum flattening filter";
constexpr char kDialogCaption[] = "Invert Kirkeby";
constexpr char kCaption[] = "Flatten Spectrum";
constexpr char kMemoryCaption[] = "Flattening Spectrum";
constexpr int kInfoText = 1026;
constexpr int kStereoRadio = 1025;
constexpr int kTwoByTwoRadio = 1047;
constexpr int kLengthCombo = 1034;
constexpr int kInBandEdit = 1042;
constexpr int kOutBandEdit = 1043;
constexpr int kLowEdit = 1044;
constexpr int kHighEdit = 1045;
constexpr int kWidthEdit = 1046;
constexpr long kShortestFilter = 8;
// The longest filter offered: 2 L of a stereo design still fits the block's field.
constexpr int64_t kLongestFilter = int64_t{1} << 29;
constexpr uint64_t kLargestBuffer = 0x7FFFFFF0u;
constexpr char kMemoryMessage[] =
    "The system cannot allocate enough memory\nto design spectrum flattening filter.\n\n"
    "Retry after closing some windows or\nwith a shorter selected area.";
constexpr char kRegularisationMessage[] = "The regularisation parameters must be\npositive numbers.";
constexpr char kWidthMessage[] = "The transition width must be a number\nof octaves not below 0.";
constexpr char kFrequencyMessage[] = "The cut frequencies must not be below 0 Hz.";

const ModuleInfo kInfo = {"Tovrel\\Invert Kirkeby", kTitle, kChannelsMonoStereo, kKindAnalysis, kFlattenTypeString};

// The first message the values deserve, or null when a design can run with them.
const char* CheckValues(float inBand, float outBand, long low, long high, float width) {
  if (!(std::isfinite(inBand) && inBand > 0 && std::isfinite(outBand) && outBand > 0)) return kRegularisationMessage;
  if (!(std::isfinite(width) && width >= 0)) return kWidthMessage;
  if (low < 0 || high < 0) return kFrequencyMessage;
  return nullptr;
}

// The per-channel filter length of the stored settings, or 0 when it is not one the dialog offers.
long FilterLength(const FlattenBlock& block, int channels) {
  const long stored = block.length;
  if (stored <= 0 || stored % channels != 0) return 0;
  const long L = stored / channels;
  if (L < kShortestFilter || L > kLongestFilter || (L & (L - 1)) != 0) return 0;
  return L;
}

// The smallest power of two not below v (1 for v < 2).
int64_t PowerOfTwoAtLeast(int64_t v) {
  int64_t p = 1;
  while (p < v) p *= 2;
  return p;
}

// Entries 8, 16, ... up to the smallest power of two not below 8 n.
void FillLengthCombo(HWND dialog, int64_t frames, long perChannel) {
  const int64_t last = std::min(PowerOfTwoAtLeast(8 * std::max<int64_t>(frames, 1)), kLongestFilter);
  const std::string wanted = std::to_string(perChannel > last ? 2 * frames : perChannel);
  int index = 0, selected = -1;
  for (int64_t L = kShortestFilter; L <= last; L *= 2, ++index) {
    const std::string text = std::to_string(L);
    SendDlgItemMessageA(dialog, kLengthCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (selected < 0 && text.compare(0, wanted.size(), wanted) == 0) selected = index;
  }
  SendDlgItemMessageA(dialog, kLengthCombo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void FillSettings(HWND dialog, void* data, XfmContext* context) {
  const auto* block = static_cast<const FlattenBlock*>(data);
  const bool stereo = context->channels == 2;
  const int64_t n = static_cast<int64_t>(SelectedFrames(context));
  SetDlgItemTextA(dialog, kInfoText, ResponseInfo(context, n).c_str());
  CheckDlgButton(dialog, kStereoRadio, block->layout == 1 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kTwoByTwoRadio, block->layout == 0 ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(GetDlgItem(dialog, kStereoRadio), stereo);
  EnableWindow(GetDlgItem(dialog, kTwoByTwoRadio), stereo);
  FillLengthCombo(dialog, n, stereo ? block->length / 2 : block->length);
  SetDlgItemTextA(dialog, kInBandEdit, FormatGeneral(block->inBand).c_str());
  SetDlgItemTextA(dialog, kOutBandEdit, FormatGeneral(block->outBand).c_str());
  SetDlgItemTextA(dialog, kLowEdit, std::to_string(block->lowCut).c_str());
  SetDlgItemTextA(dialog, kHighEdit, std::to_string(block->highCut).c_str());
  SetDlgItemTextA(dialog, kWidthEdit, FormatGeneral(block->width).c_str());
}

// Numbers as typed, whole; the regularisation must be above 0 (CheckValues).
const EditField kFields[] = {
    {kInBandEdit, "IN-band Regularisation Parameter", 0, 1e30, false, "", "above 0"},
    {kOutBandEdit, "OUT-band Regularisation Parameter", 0, 1e30, false, "", "above 0"},
    {kLowEdit, "Lower cut frequency (Hz)", 0, 2147483647, true, "Hz"},
    {kHighEdit, "Higher cut frequency (Hz)", 0, 2147483647, true, "Hz"},
    {kWidthEdit, "Transition Width (oct)", 0, 100, false, "octaves"},
};

// The values are checked before any is stored: a refused value keeps the dialog open.
INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext* context) {
  auto* block = static_cast<FlattenBlock*>(data);
  double v[std::size(kFields)];
  if (!ReadFields(dialog, kFields, v, kDialogCaption)) return -1;
  const float inBand = static_cast<float>(v[0]);
  const float outBand = static_cast<float>(v[1]);
  const LONG low = static_cast<LONG>(v[2]);
  const LONG high = static_cast<LONG>(v[3]);
  const float width = static_cast<float>(v[4]);
  if (const char* message = CheckValues(inBand, outBand, low, high, width)) {
    MessageBoxA(dialog, message, kDialogCaption, MB_OK | MB_ICONSTOP);
    return -1;
  }
  const bool stereo = context->channels == 2;
  if (stereo) block->layout = IsDlgButtonChecked(dialog, kStereoRadio) == BST_CHECKED ? 1 : 0;
  const LRESULT index = SendDlgItemMessageA(dialog, kLengthCombo, CB_GETCURSEL, 0, 0);
  const LONG L = index >= 0 ? static_cast<LONG>(kShortestFilter << index) : kShortestFilter;
  block->length = stereo ? 2 * L : L;
  block->inBand = inBand;
  block->outBand = outBand;
  block->lowCut = low;
  block->highCut = high;
  block->width = width;
  return 1;
}

void FillResults(HWND dialog, void* data, XfmContext* context) {
  const auto* block = static_cast<const FlattenBlock*>(data);
  const int channels = context->channels > 0 ? context->channels : 1;
  SetDlgItemTextA(dialog, 1026, std::to_string(block->length / channels).c_str());
  SetDlgItemTextA(dialog, 1031, FormatGeneral(block->inBand).c_str());
  SetDlgItemTextA(dialog, 1032, FormatGeneral(block->outBand).c_str());
  SetDlgItemTextA(dialog, 1044, std::to_string(block->lowCut).c_str());
  SetDlgItemTextA(dialog, 1045, std::to_string(block->highCut).c_str());
  SetDlgItemTextA(dialog, 1046, FormatGeneral(block->width).c_str());
  FillCommonStatistics(dialog, context, block->elapsedMs);
}

const SettingsDialog kSettings = {kDialogCaption, kHelpButton, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields};
const ResultDialog kResult = {FillResults, nullptr};

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<FlattenBlock>(context, [](FlattenBlock& block) {
    block.length = 512;
    block.inBand = 0.001f;
    block.outBand = 1.0f;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  return SetupStoringWindow<FlattenBlock>(parent, instance, context);
}

TOVREL_DIALOG_PROCEDURES(kSettings, kResult)

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  const FlattenBlock settings = *lock.as<FlattenBlock>();
  const HWND owner = FieldToHandle<HWND>(settings.ownerWindow);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(settings.moduleInstance);
  const int channels = context->channels;
  const int64_t n = static_cast<int64_t>(SelectedFrames(context));
  const long L = channels == 1 || channels == 2 ? FilterLength(settings, channels) : 0;
  const char* invalid = L == 0 || n < 1 ? "filter length"
                        : channels == 2 && settings.layout > 1 ? "impulse response layout"
                        : CheckValues(settings.inBand, settings.outBand, settings.lowCut, settings.highCut,
                                      settings.width)
                            ? "regularisation"
                            : nullptr;
  if (invalid) {
    ShowInvalidStoredSetting(owner, invalid, kCaption);
    return 1;
  }
  const bool stereo = channels == 2, oneResponse = stereo && settings.layout == 1;
  const int64_t R = oneResponse ? 2 * n : n;
  const int64_t P0 = PowerOfTwoAtLeast(R);
  const int64_t C = std::max<int64_t>(settings.length, P0);
  // Each work buffer: the whole of C for mono, half of it (max(L, P0 / 2)) for each of the four.
  const int64_t perWork = stereo ? C / 2 : C;

  // Stages: the selection, then work A (mono) or works A ... D and the determinant.
  StagedMemory memory;
  const bool fits = static_cast<uint64_t>(n) * channels * 2 <= kLargestBuffer &&
                    static_cast<uint64_t>(perWork) * 4 <= kLargestBuffer;
  auto* raw = fits ? memory.AllocLocked<int16_t>(static_cast<std::size_t>(n * channels)) : nullptr;
  std::span<float> work[5];
  const int buffers = stereo ? 5 : 1;
  bool allocated = raw != nullptr;
  for (int b = 0; b < buffers && allocated; ++b) {
    float* w = memory.AllocLocked<float>(static_cast<std::size_t>(perWork), GMEM_MOVEABLE | GMEM_ZEROINIT);
    work[b] = std::span<float>(w, w ? static_cast<std::size_t>(perWork) : 0);
    allocated = w != nullptr;
  }
  if (!allocated) {
    memory.ReleaseAll();
    lock.Unlock();
    MessageBoxA(owner, kMemoryMessage, kMemoryCaption, MB_OK | MB_ICONSTOP);
    return 1;
  }
  const DWORD startTicks = GetTickCount();
  context->readSamples(raw, static_cast<LONG>(static_cast<int64_t>(context->selStart) * channels * 2),
                       static_cast<LONG>(n * channels * 2));

  const Regularisation reg = {settings.inBand, settings.outBand,
                              ComputeBandEdges(context->sampleRate, L, settings.lowCut, settings.highCut, settings.width)};
  const HostProgress progress(context);
  constexpr float kScale = 1.0f / 32768.0f;
  bool designed;
  if (!stereo) {
    for (int64_t j = 0; j < n; ++j) work[0][static_cast<std::size_t>(j)] = raw[j] * kScale;
    progress.Begin("Designing inverse filter...");
    designed = DesignFlattening(work[0], static_cast<long>(P0), L, reg, progress.Callback());
    progress.End();
  } else {
    // Layout 1: one stereo response, the crossed paths taken as equal to each other and
    // so the direct ones. Layout 0: the first half of the selection is the stereo
    // response of the first source, the second half that of the second.
    const int64_t K = R / 2;
    for (int64_t j = 0; j < K; ++j) {
      work[0][static_cast<std::size_t>(j)] = raw[2 * j] * kScale;
      work[1][static_cast<std::size_t>(j)] = raw[2 * j + 1] * kScale;
    }
    for (int64_t j = 0; j < (oneResponse ? K : n - K); ++j) {
      const std::size_t at = static_cast<std::size_t>(j);
      work[2][at] = oneResponse ? work[1][at] : raw[2 * (K + j)] * kScale;
      work[3][at] = oneResponse ? work[0][at] : raw[2 * (K + j) + 1] * kScale;
    }
    progress.Begin("Designing stereo dipole filter...");
    designed = DesignDipole(work[0], work[1], work[2], work[3], work[4], static_cast<long>(P0 / 2), L, reg,
                            progress.Callback());
    progress.End();
  }
  if (!designed) return 1;

  const FilterTexts texts = {kCaption, kMemoryMessage, kMemoryCaption};
  const long rate = context->sampleRate;
  const bool delivered = !stereo     ? DeliverFilters({work[0]}, 1, L, rate, owner, texts)
                         : oneResponse ? DeliverFilters({work[0], work[1]}, 2, L, rate, owner, texts)
                                       : DeliverFilters({work[0], work[1], work[2], work[3]}, 2, L, rate, owner, texts);
  memory.ReleaseAll();
  if (!delivered) return 1;
  lock.as<FlattenBlock>()->elapsedMs = static_cast<LONG>(GetTickCount() - startTicks);
  lock.Unlock();
  MessageBeep(0);
  ShowResultDialog(owner, instance, context);
  lock.Relock();
  return 0;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
