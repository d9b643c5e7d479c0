// "Calculate Acoustical Parameters": treats the selection as a room impulse response and
// shows, per channel, the octave-band energy ratios, centre time and decay times; the
// whole table can be copied to the clipboard as text. The document is never changed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "acoustic/acoustic/acoustic_block.h"
#include "acoustic/parameters.h"
#include "acoustic/report.h"
#include "frame/clipwave.h"
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

constexpr char kTitle[] = "Calculate Acoustical Parameters";
constexpr char kDialogTitle[] = "Acoustical Parameters";  // dialogs, help keyword, message boxes
constexpr int kHelp = 4;

constexpr char kMemoryMessage[] =
    "The system cannot allocate enough memory\nto calculate acoustical parameters.\n\n"
    "Retry after closing some windows or\nwith a shorter impulse response.";
constexpr char kFirstArrivalMessage[] =
    "Can not calculate First Arrival Time.\nThreshold is too high.\n\nTry again with a lower Threshold.";

// Settings dialog controls.
constexpr int kNoiseCheck = 1000;
constexpr int kUpperEdit = 1001;
constexpr int kLowerEdit = 1002;
constexpr int kThresholdEdit = 1003;

// Results dialog controls.
constexpr int kHeadingText = 1011;   // 1011 ... 1016: column headings
constexpr int kNoiseText = 1020;     // 1020 ... 1025: "N.C." line
constexpr int kRowButton = 1040;     // 1040 ... 1045: first row shown
constexpr int kChannelButton = 1050;
constexpr int kCopyButton = 1051;
constexpr int kRtuText = 1053;
constexpr int kTitleText = 1055;
constexpr int kGridText = 1060;      // 1060 + 11 x column + parameter
constexpr int kColumns = 6;
constexpr UINT kRowChosen = WM_USER + 1;

constexpr char kHeading[] = "OCTAVE BAND ACOUSTICAL PARAMETERS";
constexpr char kLeftHeading[] = "OCTAVE BAND ACOUSTICAL PARAMETERS - Left Channel";
constexpr char kRightHeading[] = "OCTAVE BAND ACOUSTICAL PARAMETERS - Right Channel";

const ModuleInfo kInfo = {"Tovrel\\Acoustical Parameters", kTitle, kChannelsMonoStereo, kKindAnalysis,
                          kAcousticTypeString};

// ---- The result store ------------------------------------------------------------
//
// Offsets 13 and 17 of the block carry the running analysis' value and flag arrays to
// the results dialog. On the 32-bit build they hold the arrays' addresses. A 64-bit
// address does not fit 4 bytes: there they hold the handles of the two locked blocks
// that carry the arrays, and the dialog looks the addresses up through the handles.

DWORD ResultField(HGLOBAL block, const void* address) {
  if constexpr (sizeof(void*) <= sizeof(DWORD)) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(address));
  } else {
    return HandleToField(block);
  }
}

template <class T>
T* ResultAddress(DWORD field) {
  if (field == 0) return nullptr;
  if constexpr (sizeof(void*) <= sizeof(DWORD)) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(field));
  } else {
    // The run keeps the block locked while the dialog is open, so the address stays
    // valid after this look-up's own lock is undone.
    HGLOBAL block = FieldToHandle<HGLOBAL>(field);
    void* address = GlobalLock(block);
    if (address) GlobalUnlock(block);
    return static_cast<T*>(address);
  }
}

AnalysisSettings SettingsOf(const AcousticParams& p) {
  AnalysisSettings s;
  s.rtuUpper = p.rtuUpper;
  s.rtuLower = p.rtuLower;
  s.threshold = static_cast<float>(p.threshold);
  s.noiseCorrection = p.noiseCorrection != 0;
  return s;
}

// A level in the general format with 7 digits, cut to at most 6 characters.
std::string LevelText(float level) { return FormatGeneral(level, 7).substr(0, 6); }

// ---- Settings dialog ---------------------------------------------------------------

// The user's decay range lies within 100 dB below the first arrival and spans 1 dB at
// least; the first arrival is the first sample that reaches the threshold, which must be
// above silence.
const EditField kFields[] = {
    {kUpperEdit, "RTU upper level", -99, 0, false, "dB", "relative to the level at the first arrival"},
    {kLowerEdit, "RTU lower level", -100, -1, false, "dB", "at least 1 dB below the upper level"},
    {kThresholdEdit, "First Arrival Time Threshold", 1, 32767, true, "16-bit sample units",
     "the first sample whose magnitude reaches it is the first arrival"},
};

void FillSettings(HWND dialog, void* data, XfmContext*) {
  const auto* block = static_cast<AcousticParams*>(data);
  SetDlgItemTextA(dialog, kUpperEdit, LevelText(block->rtuUpper).c_str());
  SetDlgItemTextA(dialog, kLowerEdit, LevelText(block->rtuLower).c_str());
  char text[16];
  std::snprintf(text, sizeof text, "%i", static_cast<int>(block->threshold));
  SetDlgItemTextA(dialog, kThresholdEdit, text);
  CheckDlgButton(dialog, kNoiseCheck, block->noiseCorrection ? BST_CHECKED : BST_UNCHECKED);
}

// Values outside their fields are refused, not clamped: a clamp would change the results
// without a word. The dialog stays open.
INT_PTR ConfirmSettings(HWND dialog, void* data, XfmContext*) {
  auto* block = static_cast<AcousticParams*>(data);
  const auto upper = ReadField(dialog, kFields[0], kDialogTitle);
  if (!upper) return -1;
  const auto lower = ReadFieldIn(dialog, kFields[1], kFields[1].lo, *upper - 1, kDialogTitle);
  if (!lower) return -1;
  const auto threshold = ReadField(dialog, kFields[2], kDialogTitle);
  if (!threshold) return -1;
  block->rtuUpper = static_cast<float>(*upper);
  block->rtuLower = static_cast<float>(*lower);
  block->threshold = static_cast<SHORT>(*threshold);
  block->noiseCorrection = IsDlgButtonChecked(dialog, kNoiseCheck) == BST_CHECKED ? 1 : 0;
  return 1;
}

const SettingsDialog kSettings = {kDialogTitle, kHelp, FillSettings, ConfirmSettings, nullptr, kStateControl, kFields};

// ---- Results dialog ----------------------------------------------------------------

struct ResultView {
  AcousticParams* block;
  XfmContext* context;
  const float* values;
  const char* flags;
};

ResultView ViewOf(HWND dialog) {
  const DialogStateText state = ReadDialogState(dialog);
  ResultView v{reinterpret_cast<AcousticParams*>(state.block), reinterpret_cast<XfmContext*>(state.context), nullptr,
               nullptr};
  if (v.block) {
    v.values = ResultAddress<const float>(v.block->values);
    v.flags = ResultAddress<const char>(v.block->flags);
  }
  return v;
}

void FillGrid(HWND dialog, const ResultView& v) {
  const int first = v.block->firstRow;
  const int ch = v.block->channelShown ? 1 : 0;
  for (int i = 0; i < kColumns; ++i) {
    const int row = first + i;
    SetDlgItemTextA(dialog, kHeadingText + i, kDialogRowLabels[row]);
    if (v.block->noiseCorrection) {
      const bool corrected = v.flags && v.flags[kNoiseFlagsOffset + row] == 'y';
      SetDlgItemTextA(dialog, kNoiseText + i, corrected ? "yes" : "no");
    }
    for (int j = 0; j < kParameters; ++j) {
      const int k = ch * kChannelValues + row * kParameters + j;
      const bool valid = v.values && v.flags && v.flags[k] == 'y';
      SetDlgItemTextA(dialog, kGridText + kParameters * i + j,
                      valid ? FormatGeneral(v.values[k], 4).c_str() : "- -");
    }
  }
}

void InitResults(HWND dialog, XfmContext* context) {
  auto* block = context ? static_cast<AcousticParams*>(GlobalLock(context->paramHandle)) : nullptr;
  if (!block) {
    EndDialog(dialog, 1);
    return;
  }
  // The block stays locked until the dialog ends.
  WriteDialogState(dialog, block, context->paramHandle, context);
  block->firstRow = 0;
  block->channelShown = 0;

  // A row button stays enabled only when the last of the six rows it shows was computed.
  const float top = HighestCentre(static_cast<float>(context->sampleRate));
  for (int i = 1; i < kColumns; ++i) {
    if (top < kBandCentres[i + 4]) EnableWindow(GetDlgItem(dialog, kRowButton + i), FALSE);
  }
  if (context->channels == 2) {
    SetDlgItemTextA(dialog, kTitleText, kLeftHeading);
  } else {
    EnableWindow(GetDlgItem(dialog, kChannelButton), FALSE);
  }
  EnableWindow(GetDlgItem(dialog, kRowButton), FALSE);
  if (!block->noiseCorrection) {
    for (int i = 0; i < kColumns; ++i) SetDlgItemTextA(dialog, kNoiseText + i, "- -");
  }
  const std::string rtu = "(" + LevelText(block->rtuUpper) + " dB, " + LevelText(block->rtuLower) + " dB)";
  SetDlgItemTextA(dialog, kRtuText, rtu.c_str());
  if (context->dialogInit) context->dialogInit(dialog, 0);
  FillGrid(dialog, ViewOf(dialog));
  ConfirmIfBatch(dialog, context);
}

void CopyReport(const ResultView& v) {
  const int channels = v.context->channels == 2 ? 2 : 1;
  const std::size_t size = static_cast<std::size_t>(channels) * kReportBytesPerChannel;
  HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size);
  if (!text) return;
  char* p = static_cast<char*>(GlobalLock(text));
  if (!p) {
    GlobalFree(text);
    return;
  }
  std::string report;
  if (v.values && v.flags) {
    report = BuildReportText(v.values, v.flags, channels, v.block->noiseCorrection != 0, v.block->rtuUpper,
                             v.block->rtuLower);
  }
  // The longest report fits; the cut only guards the block's end.
  const std::size_t n = report.size() < size ? report.size() : size - 1;
  std::memcpy(p, report.data(), n);
  p[n] = '\0';
  GlobalUnlock(text);
  PlaceOnClipboard(FieldToHandle<HWND>(v.block->window), text, CF_TEXT, kDialogTitle);
}

void ResultCommand(HWND dialog, int id) {
  const ResultView v = ViewOf(dialog);
  if (!v.block || !v.context) return;  // the dialog has ended already
  if (id >= kRowButton && id < kRowButton + kColumns) {
    const int previous = kRowButton + v.block->firstRow;
    if (id == previous) return;
    SendMessageA(dialog, kRowChosen, static_cast<WPARAM>(previous), 0);
    EnableWindow(GetDlgItem(dialog, id), FALSE);
    EnableWindow(GetDlgItem(dialog, previous), TRUE);
    v.block->firstRow = static_cast<char>(id - kRowButton);
    FillGrid(dialog, v);
  } else if (id == kChannelButton) {
    const bool right = v.block->channelShown != 0;
    SetDlgItemTextA(dialog, kChannelButton, right ? "Right Channel Parameters" : "Left Channel Parameters");
    SetDlgItemTextA(dialog, kTitleText, right ? kLeftHeading : kRightHeading);
    v.block->channelShown = right ? 0 : 1;
    FillGrid(dialog, v);
  } else if (id == kCopyButton) {
    CopyReport(v);
  } else if (id == IDOK) {
    const DialogStateText state = ReadDialogState(dialog);
    GlobalUnlock(reinterpret_cast<HGLOBAL>(state.handle));
    SetDlgItemTextA(dialog, kStateControl, "");
    EndDialog(dialog, 1);
  } else if (id == kHelp) {
    ShowHelp(dialog, kDialogTitle);
  }
}

// ---- The run -------------------------------------------------------------------------

const char* StatusFor(char tag) {
  switch (tag) {
    case 'l': return "Calculating Left Channel Acoustics...";
    case 'r': return "Calculating Right Channel Acoustics...";
    default: return "Calculating Acoustics...";
  }
}

// One channel, with the host's progress and messages around the kernel. True when the
// analysis completed.
bool AnalyseChannelOnHost(const float* source, float* work, long n, float* values, char* flags,
                          const AcousticParams& block, char tag, XfmContext* context) {
  HostProgress progress(context);
  ChannelHooks hooks;
  hooks.started = [&] { progress.Begin(StatusFor(tag)); };
  hooks.progress = progress.Callback();
  // The right channel's noise flags are those of the left.
  std::span<char> noiseFlags = tag == 'r' ? std::span<char>() : std::span<char>(flags + kNoiseFlagsOffset, kRows);
  const std::size_t offset = tag == 'r' ? kChannelValues : 0;
  const ChannelOutcome outcome =
      AnalyseChannel(std::span<const float>(source, static_cast<std::size_t>(n)),
                     std::span<float>(work, static_cast<std::size_t>(n)), static_cast<float>(context->sampleRate),
                     SettingsOf(block), std::span<float, kChannelValues>(values + offset, kChannelValues),
                     std::span<char, kChannelValues>(flags + offset, kChannelValues), noiseFlags, hooks);
  if (outcome == ChannelOutcome::kNoFirstArrival) {
    MessageBoxA(FieldToHandle<HWND>(block.window), kFirstArrivalMessage, kDialogTitle, MB_OK | MB_ICONSTOP);
    return false;
  }
  progress.End();
  return outcome == ChannelOutcome::kCompleted;
}

}  // namespace

WORD WINAPI QueryXfm(XfmDescriptor* descriptor) { return FillDescriptor(descriptor, kInfo); }

BOOL WINAPI XfmInit(XfmContext* context) {
  return WithBlock<AcousticParams>(context, [](AcousticParams& block) {
    std::memset(&block, 0, sizeof block);
    block.rtuUpper = -5.0f;
    block.rtuLower = -15.0f;
    block.threshold = 10000;
    block.noiseCorrection = 1;
  });
}

WORD WINAPI XfmSetup(HWND parent, HINSTANCE instance, XfmContext* context) {
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplate);
  if (result == 0) return 0;
  const bool stored = WithBlock<AcousticParams>(context, [&](AcousticParams& block) {
    block.window = HandleToField(parent);
    block.instance = HandleToField(instance);
  });
  return stored ? result : 0;
}

INT_PTR CALLBACK DIALOGMsgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return SettingsDialogProc(kSettings, dialog, message, wParam, lParam);
}

INT_PTR CALLBACK DIALOGMsgProc2(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitResults(dialog, reinterpret_cast<XfmContext*>(lParam));
      return TRUE;
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return TRUE;
    case WM_COMMAND:
      ResultCommand(dialog, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

namespace {

// The buffers of one run: source and work buffers of n float32 values each (the work
// buffer first takes the interleaved 16-bit samples, 2 x n x 2 bytes for stereo), then
// the result store the results dialog reads.
struct RunBuffers {
  StagedMemory memory;
  HGLOBAL sourceBlock = nullptr, workBlock = nullptr, valuesBlock = nullptr, flagsBlock = nullptr;
  float* source = nullptr;
  float* work = nullptr;
  float* values = nullptr;
  char* flags = nullptr;
};

bool AllocateBuffers(RunBuffers& b, std::size_t frames) {
  constexpr UINT kShared = GMEM_MOVEABLE | GMEM_DDESHARE;
  const bool fits = frames <= static_cast<std::size_t>(0x7fffffff) / 4;
  b.source = fits ? b.memory.AllocLocked<float>(frames ? frames : 1, kShared, &b.sourceBlock) : nullptr;
  b.work = b.source ? b.memory.AllocLocked<float>(frames ? frames : 1, kShared, &b.workBlock) : nullptr;
  b.values = b.work ? b.memory.AllocLocked<float>(2 * kChannelValues, GMEM_MOVEABLE | GMEM_ZEROINIT, &b.valuesBlock)
                    : nullptr;
  b.flags = b.values ? b.memory.AllocLocked<char>(kResultFlagBytes, GMEM_MOVEABLE, &b.flagsBlock) : nullptr;
  if (!b.flags) return false;
  std::memset(b.flags, 'n', kResultFlagBytes);
  return true;
}

// Reads the selection into the work buffer and copies one channel's samples to the source.
void ReadChannel(XfmContext* context, RunBuffers& b, std::size_t frames, int channel, int channels) {
  const LONG byteOffset = static_cast<LONG>(channels * context->selStart * 2);
  const LONG byteCount = static_cast<LONG>(frames * static_cast<std::size_t>(channels) * 2);
  context->readSamples(b.work, byteOffset, byteCount);
  const auto* samples = reinterpret_cast<const SHORT*>(b.work);
  for (std::size_t k = 0; k < frames; ++k) b.source[k] = samples[k * static_cast<std::size_t>(channels) + channel];
}

// Every channel, left then right; the right one only once the left one completed (the
// work buffer has been overwritten by then: the selection is read again).
bool AnalyseSelection(XfmContext* context, RunBuffers& b, long n, const AcousticParams& block) {
  const std::size_t frames = n > 0 ? static_cast<std::size_t>(n) : 0;
  if (context->channels != 2) {
    ReadChannel(context, b, frames, 0, 1);
    return AnalyseChannelOnHost(b.source, b.work, n, b.values, b.flags, block, 'm', context);
  }
  ReadChannel(context, b, frames, 0, 2);
  if (!AnalyseChannelOnHost(b.source, b.work, n, b.values, b.flags, block, 'l', context)) return false;
  ReadChannel(context, b, frames, 1, 2);
  return AnalyseChannelOnHost(b.source, b.work, n, b.values, b.flags, block, 'r', context);
}

// The results dialog over the store, with the block unlocked meanwhile; the store goes
// with the run, so no address is left behind in the kept block.
void ShowResults(BlockLock& lock, XfmContext* context, HWND owner, HINSTANCE instance, bool completed) {
  lock.Unlock();
  if (completed) {
    MessageBeep(0);
    ShowResultDialog(owner, instance, context);
  }
  if (lock.Relock()) {
    lock.as<AcousticParams>()->values = 0;
    lock.as<AcousticParams>()->flags = 0;
  }
}

}  // namespace

LONG WINAPI XfmDo(XfmContext* context) {
  BlockLock lock(context->paramHandle);
  if (!lock) return 1;
  auto* block = lock.as<AcousticParams>();
  const HWND owner = FieldToHandle<HWND>(block->window);
  const HINSTANCE instance = FieldToHandle<HINSTANCE>(block->instance);
  if (context->channels != 1 && context->channels != 2) return 1;  // the module declares mono and stereo only
  const long n = SelectedFrames(context);
  RunBuffers buffers;
  if (!AllocateBuffers(buffers, n > 0 ? static_cast<std::size_t>(n) : 0)) {
    buffers.memory.ReleaseAll();
    lock.Unlock();
    MessageBoxA(owner, kMemoryMessage, context->caption, MB_OK | MB_ICONSTOP);
    return 1;
  }
  block->values = ResultField(buffers.valuesBlock, buffers.values);
  block->flags = ResultField(buffers.flagsBlock, buffers.flags);
  const bool completed = AnalyseSelection(context, buffers, n, *block);
  buffers.memory.Free(buffers.workBlock);
  buffers.memory.Free(buffers.sourceBlock);
  ShowResults(lock, context, owner, instance, completed);
  return completed ? 0 : 1;
}

BOOL WINAPI XfmDestroy(XfmContext* context) { return DestroyCommon(context); }
