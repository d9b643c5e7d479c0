// The settings dialog of "Real Time Convolver" (template 119): tabs, the channel selector,
// the responses' sources, the information lines, the scaling factor, and the display
// windows of the class "Display".
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/dialogs.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "liveconvolver/livefold/dialog.h"
#include "liveconvolver/livefold/display.h"
#include "liveconvolver/livefold/livefold_block.h"
#include "liveconvolver/livefold/preview.h"
#include "liveconvolver/livefold/sources.h"
#include "liveconvolver/routing.h"

TOVREL_DECLARE_XFM_EXPORTS();

namespace {

constexpr char kHelpKeyword[] = "Real Time Convolver";
constexpr int kStateControlId = kLiveStateControl;

// Controls of template 119.
enum : int {
  kHelpId = 9,
  kTabs = 1230,
  kSelectorGroup = 1224,
  kInputHead = 1034, kFirstHead = 1086, kSecondHead = 1087, kOutputHead = 1033,
  kLeftRow = 1198, kRightRow = 1199, kLeftOut = 1200, kRightOut = 1201,
  kFirstSwitch = 1007, kLastSwitch = 1014,
  kSourceGroup = 1225, kFileButton = 1002, kHostClipButton = 1003, kWinClipButton = 1004, kUnloadButton = 1180,
  kSourceLabel = 1239, kSourceEdit = 1039, kPathEdit = 1202,
  kDeviceLabel = 1248, kCapsHead = 1249,
  kInputInfo = 1038, kOutputInfo = 1146, kFftInfo = 1147,
  kScalingEdit = 1030, kUpTen = 1208, kUpOne = 1207, kDownOne = 1210, kDownTen = 1209,
};

enum Tab { kMonitorTab = 0, kFirstTab = 1, kSecondTab = 2, kAudioTab = 3 };
constexpr const char* kTabNames[] = {"Monitor", "IR #1", "IR #2", "Audio"};

// The state the dialog, its display windows and the playback share.
struct DialogState {
  int tab = kMonitorTab;
  HWND display[4] = {nullptr, nullptr, nullptr, nullptr};  // routing, IR1, IR2, device capabilities
  float baseGain = 1;  // g0
  float gain = 1;      // g = g0 10^(S/10)
};
DialogState g_state;
HINSTANCE g_instance = nullptr;

void Show(HWND dialog, int id, bool shown) { ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE); }
void Enable(HWND dialog, int id, bool enabled) { EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE); }

bool Loaded(const LiveParams& p, int which) { return p.responseSource[which] != kSourceNone; }

// The mask the responses and the document allow: no switch of a response that is not
// loaded, no right-input switch on a mono document, and a mono response's switch to R
// only along a path on which the other, stereo, response goes to R.
LONG AllowedMask(const LiveParams& p) {
  uint32_t mask = static_cast<uint32_t>(p.routingMask) & 0xFFu;
  for (int k = 0; k < 2; ++k)
    if (!Loaded(p, k)) mask &= ~(0xFu << (4 * k));
  if (p.documentChannels != 2) mask &= kMonoDocumentMask;
  for (int k = 0; k < 2; ++k) {
    if (!Loaded(p, k) || p.responseChannels[k] != 1) continue;
    const int other = 1 - k;
    const bool otherStereo = Loaded(p, other) && p.responseChannels[other] == 2;
    for (unsigned path : {kPathLR, kPathRR})
      if (!otherStereo || !(ResponsePaths(mask, other) & path)) mask &= ~(path << (4 * k));
  }
  return static_cast<LONG>(mask);
}

// Letters, FFT size and gain after a change of the routing or of a response.
void Recompute(LiveParams& p) {
  p.routingMask = AllowedMask(p);
  UpdateRouting(p);
  g_state.baseGain = BaseGain(static_cast<uint32_t>(p.routingMask), p.responseEnergy[0], p.responseEnergy[1],
                              p.selectionEnergy, p.fftSize);
  g_state.gain = PlaybackGain(g_state.baseGain, p.scalingDb);
}

// A combined routing to both outputs from the left input ('c') has no place in a mono document.
bool Runnable(const LiveParams& p) { return !(p.combinedLetter == 'c' && p.documentChannels != 2); }

std::string Info(long rate, bool stereo, long frames) {
  char text[96];
  std::snprintf(text, sizeof text, "%li Hz/%s%li Samples", rate, stereo ? "Stereo/" : "Mono/", frames);
  return text;
}

void FillInfo(HWND dialog, const LiveParams& p) {
  const bool stereoDocument = p.documentChannels == 2;
  SetDlgItemTextA(dialog, kInputInfo, Info(p.documentRate, stereoDocument, p.selectionFrames).c_str());
  const long m = FilterLength(static_cast<uint32_t>(p.routingMask), p.responseFrames[0], p.responseFrames[1]);
  const bool stereoOutput = stereoDocument && !LetterIn(kSinglePath, p.combinedLetter);
  SetDlgItemTextA(dialog, kOutputInfo, Info(p.documentRate, stereoOutput, p.selectionFrames + m - 1).c_str());
  char fft[32];
  std::snprintf(fft, sizeof fft, "%li Samples", static_cast<long>(p.fftSize));
  SetDlgItemTextA(dialog, kFftInfo, fft);
  Enable(dialog, IDOK, Runnable(p));
}

// The channel selector as the responses, the document and the mask allow it.
void ShowSwitches(HWND dialog, const LiveParams& p) {
  const bool stereoDocument = p.documentChannels == 2;
  const uint32_t mask = static_cast<uint32_t>(p.routingMask);
  for (int k = 0; k < 2; ++k) {
    const bool loaded = Loaded(p, k);
    const bool stereo = p.responseChannels[k] == 2;
    const int other = 1 - k;
    const bool otherStereo = Loaded(p, other) && p.responseChannels[other] == 2;
    Show(dialog, k == 0 ? kFirstHead : kSecondHead, loaded);
    for (int row = 0; row < 2; ++row) {
      for (int column = 0; column < 2; ++column) {
        const int id = kFirstSwitch + 4 * k + 2 * row + column;
        const unsigned path = 1u << (2 * row + column);
        const bool toR = column == 1;
        bool shown = loaded && (row == 0 || stereoDocument);
        bool enabled = true;
        if (!stereo && toR) {
          shown = shown && otherStereo;
          enabled = (ResponsePaths(mask, other) & path) != 0;
        }
        SetDlgItemTextA(dialog, id, stereo ? (toR ? "R" : "L") : "M");
        CheckDlgButton(dialog, id, (ResponsePaths(mask, k) & path) ? BST_CHECKED : BST_UNCHECKED);
        Show(dialog, id, shown);
        Enable(dialog, id, enabled);
      }
    }
  }
  SetDlgItemTextA(dialog, kLeftRow, stereoDocument ? "Left" : "Mono");
  Show(dialog, kRightRow, stereoDocument);
}

// The source edits and Unload of the response on the current tab.
void ShowSource(HWND dialog, const LiveParams& p) {
  const int which = g_state.tab == kFirstTab ? 0 : g_state.tab == kSecondTab ? 1 : -1;
  std::string source, path;
  if (which >= 0) {
    switch (p.responseSource[which]) {
      case kSourceFile: {
        path.assign(p.responsePath[which], strnlen(p.responsePath[which], sizeof p.responsePath[which]));
        const std::size_t slash = path.find_last_of("\\/");
        source = slash == std::string::npos ? path : path.substr(slash + 1);
        break;
      }
      case kSourceWindowsClipboard: source = "Windows ClipBoard"; break;
      case kSourceHostClipboard: source = "Vorn Edit ClipBoard"; break;
      default: break;
    }
  }
  SetDlgItemTextA(dialog, kSourceEdit, source.c_str());
  SetDlgItemTextA(dialog, kPathEdit, path.c_str());
  Enable(dialog, kUnloadButton, which >= 0 && Loaded(p, which) && !PreviewRunning());
}

void Redraw(int view) {
  if (g_state.display[view]) InvalidateRect(g_state.display[view], nullptr, TRUE);
}

// The controls and the display window of the current tab.
void ShowTab(HWND dialog, const LiveParams& p) {
  const int tab = g_state.tab;
  const bool monitor = tab == kMonitorTab, response = tab == kFirstTab || tab == kSecondTab, audio = tab == kAudioTab;
  for (int view = 0; view < 4; ++view)
    if (g_state.display[view]) ShowWindow(g_state.display[view], view == tab ? SW_SHOW : SW_HIDE);
  for (int id : {kSelectorGroup, kInputHead, kOutputHead, kLeftRow, kLeftOut, kRightOut}) Show(dialog, id, monitor);
  if (monitor) {
    ShowSwitches(dialog, p);
  } else {
    for (int id = kFirstSwitch; id <= kLastSwitch; ++id) Show(dialog, id, false);
    for (int id : {kFirstHead, kSecondHead, kRightRow}) Show(dialog, id, false);
  }
  for (int id : {kSourceEdit, kPathEdit, kSourceLabel, kSourceGroup, kFileButton, kHostClipButton, kWinClipButton,
                 kUnloadButton})
    Show(dialog, id, response);
  for (int id : {int{kDeviceList}, int{kDeviceLabel}, int{kCapsHead}}) Show(dialog, id, audio);
  ShowSource(dialog, p);
  Redraw(tab);
}

void CreateDisplays(HWND dialog, HINSTANCE instance) {
  WNDCLASSA cls;
  std::memset(&cls, 0, sizeof cls);
  cls.style = CS_HREDRAW | CS_VREDRAW;
  cls.lpfnWndProc = DisplayWindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  cls.lpszClassName = kDisplayClass;
  RegisterClassA(&cls);
  const int u = DisplayUnit();
  struct Place {
    int x, y, cx, cy;
  };
  const Place places[4] = {{8, 22, 61, 41}, {4, 24, 70, 45}, {4, 24, 70, 45}, {8, 30, 61, 41}};
  for (int k = 0; k < 4; ++k)
    g_state.display[k] = CreateWindowExA(0, kDisplayClass, kDisplayWindowText[k], WS_CHILD, places[k].x * u,
                                         places[k].y * u, places[k].cx * u, places[k].cy * u, dialog, nullptr,
                                         instance, nullptr);
}

// The display windows go with the dialog, and their class with them: a class left
// registered would outlive the module if the host unloads it.
void DestroyDisplays(HINSTANCE instance) {
  for (HWND& w : g_state.display) {
    if (w) DestroyWindow(w);
    w = nullptr;
  }
  UnregisterClassA(kDisplayClass, instance);
}

HINSTANCE Instance(const XfmContext* context) { return g_instance ? g_instance : context->instanceHandle; }

void End(HWND dialog, const DialogStateText& state, INT_PTR result) {
  const XfmContext* context = reinterpret_cast<const XfmContext*>(state.context);
  DestroyDisplays(Instance(context));
  if (HGLOBAL handle = reinterpret_cast<HGLOBAL>(state.handle)) GlobalUnlock(handle);
  SetDlgItemTextA(dialog, kStateControlId, "");
  EndDialog(dialog, result);
}

BOOL InitDialog(HWND dialog, XfmContext* context) {
  void* block = context ? GlobalLock(context->paramHandle) : nullptr;
  if (!block) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  LiveParams& p = *static_cast<LiveParams*>(block);
  WriteDialogState(dialog, block, context->paramHandle, context, kStateControlId);
  SetDlgItemTextA(dialog, kStatusLine, "");
  p.selectionFrames = static_cast<LONG>(SelectedFrames(context));
  p.documentRate = context->sampleRate;
  p.documentChannels = static_cast<int16_t>(context->channels);
  p.selectionEnergy = 300.0;
  Recompute(p);
  FillInfo(dialog, p);

  g_state = DialogState{};
  CreateDisplays(dialog, Instance(context));
  for (int k = 0; k < 4; ++k) {
    TCITEMA item;
    std::memset(&item, 0, sizeof item);
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kTabNames[k]);
    SendDlgItemMessageA(dialog, kTabs, TCM_INSERTITEMA, static_cast<WPARAM>(k), reinterpret_cast<LPARAM>(&item));
  }
  SendDlgItemMessageA(dialog, kTabs, TCM_SETCURSEL, kMonitorTab, 0);
  ShowTab(dialog, p);

  if (context->bitsPerSample != 16) {
    MessageBeep(MB_ICONEXCLAMATION);
    MessageBoxA(dialog, "Audio Data must be 16-bit.", context->caption, MB_OK | MB_ICONEXCLAMATION);
  }
  if (context->dialogInit) context->dialogInit(dialog, 0);
  if (!ReloadResponses(dialog, p)) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  Recompute(p);
  FillInfo(dialog, p);
  ShowTab(dialog, p);
  SetDlgItemInt(dialog, kScalingEdit, static_cast<UINT>(static_cast<int>(p.scalingDb)), TRUE);
  ConfirmIfBatch(dialog, context);
  return TRUE;
}

// The controls a user can act on, but the preview button.
constexpr int kActiveControls[] = {IDOK, IDCANCEL, kHelpId, kTabs, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014,
                                   kFileButton, kHostClipButton, kWinClipButton, kUnloadButton, kDeviceList,
                                   kScalingEdit, kUpTen, kUpOne, kDownOne, kDownTen};

// Preview starts and stops: while it plays only its button acts; afterwards the controls
// come back with their interlocks, and OK only when the left input does not go to both outputs.
void PreviewCommand(HWND dialog, LiveParams& p, XfmContext* context) {
  if (PreviewRunning()) {
    StopPreview(dialog);
    SetDlgItemTextA(dialog, kPreviewButton, "Preview");
    for (int id : kActiveControls) Enable(dialog, id, true);
    ShowTab(dialog, p);
    FillInfo(dialog, p);
    Enable(dialog, IDOK, Runnable(p) && p.combinedLetter != 'c');
    return;
  }
  Recompute(p);
  if (!StartPreview(dialog, context, p)) return;
  for (int id : kActiveControls) Enable(dialog, id, false);
  SetDlgItemTextA(dialog, kPreviewButton, "Stop");
}

void StepScaling(HWND dialog, LiveParams& p, int step) {
  const int s = p.scalingDb + step;
  if (s > 32767 || s < -32767) {
    // Past the range the bound is kept; the edit keeps what it showed.
    p.scalingDb = static_cast<int16_t>(s > 0 ? 32767 : -32767);
  } else {
    p.scalingDb = static_cast<int16_t>(s);
    SetDlgItemInt(dialog, kScalingEdit, static_cast<UINT>(s), TRUE);
  }
  Recompute(p);
}

void SwitchClicked(HWND dialog, LiveParams& p, int id) {
  const unsigned bit = 1u << (id - kFirstSwitch);
  if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) p.routingMask |= static_cast<LONG>(bit);
  else p.routingMask &= ~static_cast<LONG>(bit);
  // Unchecking a stereo response's switch to R also unchecks the mono response's one that
  // follows it (AllowedMask).
  Recompute(p);
  FillInfo(dialog, p);
  ShowSwitches(dialog, p);
  Redraw(kMonitorTab);
}

void SourceCommand(HWND dialog, LiveParams& p, int id) {
  const int which = g_state.tab == kFirstTab ? 0 : g_state.tab == kSecondTab ? 1 : -1;
  if (which < 0) return;
  bool changed = false;
  if (id == kUnloadButton) {
    changed = UnloadResponse(dialog, p, which);
  } else {
    const int source = id == kFileButton ? kSourceFile : id == kWinClipButton ? kSourceWindowsClipboard : kSourceHostClipboard;
    changed = LoadResponse(dialog, p, which, source, false);
  }
  if (!changed) return;
  Recompute(p);
  FillInfo(dialog, p);
  ShowTab(dialog, p);
  Redraw(1 + which);
}

BOOL Command(HWND dialog, int id, int code) {
  const DialogStateText state = ReadDialogState(dialog, kStateControlId);
  auto* p = reinterpret_cast<LiveParams*>(state.block);
  auto* context = reinterpret_cast<XfmContext*>(state.context);
  if (!p || !context) return TRUE;  // the dialog has ended already
  if (PreviewRunning() && id != kPreviewButton && (id == IDOK || id == IDCANCEL)) StopPreview(dialog);
  switch (id) {
    case kPreviewButton:
      if (code == BN_CLICKED) PreviewCommand(dialog, *p, context);
      return TRUE;
    case IDOK:
      Recompute(*p);
      if (Runnable(*p)) End(dialog, state, 1);
      return TRUE;
    case IDCANCEL:
      ReleaseBlocks(*p, 0);
      ReleaseBlocks(*p, 1);
      End(dialog, state, 0);
      return TRUE;
    case kHelpId:
      ShowHelp(dialog, kHelpKeyword);
      return TRUE;
    case kFileButton:
    case kHostClipButton:
    case kWinClipButton:
    case kUnloadButton:
      if (code == BN_CLICKED) SourceCommand(dialog, *p, id);
      return TRUE;
    case kUpTen: StepScaling(dialog, *p, 10); return TRUE;
    case kUpOne: StepScaling(dialog, *p, 1); return TRUE;
    case kDownOne: StepScaling(dialog, *p, -1); return TRUE;
    case kDownTen: StepScaling(dialog, *p, -10); return TRUE;
    case kScalingEdit:
      if (code == EN_CHANGE) {
        BOOL ok = FALSE;
        const int s = static_cast<int>(GetDlgItemInt(dialog, kScalingEdit, &ok, TRUE));
        if (ok && s >= -32767 && s <= 32767) {
          p->scalingDb = static_cast<int16_t>(s);
          Recompute(*p);
        }
      }
      return TRUE;
    case kDeviceList:
      // The capabilities view shows the chosen device.
      if (code == CBN_SELCHANGE) {
        const LRESULT device = SendDlgItemMessageA(dialog, kDeviceList, CB_GETCURSEL, 0, 0);
        if (device >= 0 && static_cast<UINT>(device) != PreviewDevice()) {
          SetPreviewDevice(static_cast<UINT>(device));
          Redraw(kAudioTab);
        }
      }
      return TRUE;
    default:
      if (id >= kFirstSwitch && id <= kLastSwitch && code == BN_CLICKED) SwitchClicked(dialog, *p, id);
      return TRUE;
  }
}

BOOL Notify(HWND dialog, const NMHDR* header) {
  if (header == nullptr || header->idFrom != static_cast<UINT_PTR>(kTabs) || header->code != TCN_SELCHANGE)
    return FALSE;
  const DialogStateText state = ReadDialogState(dialog, kStateControlId);
  auto* p = reinterpret_cast<LiveParams*>(state.block);
  if (!p) return TRUE;
  const LRESULT tab = SendDlgItemMessageA(dialog, kTabs, TCM_GETCURSEL, 0, 0);
  if (tab >= kMonitorTab && tab <= kAudioTab) g_state.tab = static_cast<int>(tab);
  ShowTab(dialog, *p);
  return TRUE;
}

}  // namespace

void SetDialogInstance(HINSTANCE instance) { g_instance = instance; }

INT_PTR CALLBACK DIALOGMsgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (PreviewMessage(dialog, message, wParam, lParam)) return TRUE;
  switch (message) {
    case WM_INITDIALOG: return InitDialog(dialog, reinterpret_cast<XfmContext*>(lParam));
    case WM_COMMAND: return Command(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY: return Notify(dialog, reinterpret_cast<const NMHDR*>(lParam));
    case WM_CLOSE: PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); return TRUE;
    default: return FALSE;
  }
}
