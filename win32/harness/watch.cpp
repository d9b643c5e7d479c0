#include "win32/harness/watch.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "win32/harness/fit.h"

namespace harness {
namespace {

Watch g_watch;
HHOOK g_hook = nullptr;
BYTE* g_moduleBase = nullptr;
SIZE_T g_moduleSize = 0;
int g_pendingBox = -1;                   // index of the message box being shown
std::map<UINT_PTR, HWND> g_stuckTimers;  // safety timer of each open module dialog

// A dialog's script in progress: the steps after a wait, resumed by the wait's timer.
struct PendingScript {
  HWND dialog = nullptr;
  size_t record = 0;  // index in g_watch.dialogs
  DialogScript script;
  size_t next = 0;  // the step after the wait
};
std::map<UINT_PTR, PendingScript> g_waits;

typedef int(WINAPI* MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);
typedef BOOL(WINAPI* WinHelpAFn)(HWND, LPCSTR, UINT, ULONG_PTR);
typedef BOOL(WINAPI* MessageBeepFn)(UINT);
MessageBoxAFn g_realMessageBox = nullptr;

std::string WindowText(HWND window) {
  char buffer[1024];
  int n = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

std::string ClassOf(HWND window) {
  char buffer[256];
  int n = GetClassNameA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? n : 0);
}

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// A label as the user reads it: without the mnemonic marks and surrounding blanks.
std::string Plain(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&') {
      if (i + 1 < label.size() && label[i + 1] == '&') out += '&', ++i;
      continue;
    }
    out += label[i];
  }
  size_t a = out.find_first_not_of(" \t");
  size_t b = out.find_last_not_of(" \t:");
  return a == std::string::npos ? std::string() : out.substr(a, b - a + 1);
}

bool IsCheckable(HWND control) {
  if (!SameText(ClassOf(control), "Button")) return false;
  LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_3STATE ||
         type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* controls = reinterpret_cast<std::vector<ControlState>*>(param);
  ControlState c;
  c.id = GetDlgCtrlID(child);
  c.cls = ClassOf(child);
  c.text = WindowText(child);
  LONG style = GetWindowLongA(child, GWL_STYLE);
  c.visible = (style & WS_VISIBLE) != 0;
  c.enabled = (style & WS_DISABLED) == 0;
  if (IsCheckable(child)) c.checked = static_cast<int>(SendMessageA(child, BM_GETCHECK, 0, 0));
  bool combo = SameText(c.cls, "ComboBox");
  bool list = SameText(c.cls, "ListBox");
  if (combo || list) {
    UINT countMsg = combo ? CB_GETCOUNT : LB_GETCOUNT;
    UINT selMsg = combo ? CB_GETCURSEL : LB_GETCURSEL;
    UINT lenMsg = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
    UINT textMsg = combo ? CB_GETLBTEXT : LB_GETTEXT;
    LRESULT count = SendMessageA(child, countMsg, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      LRESULT len = SendMessageA(child, lenMsg, i, 0);
      std::string item(len > 0 ? len + 1 : 1, '\0');
      SendMessageA(child, textMsg, i, reinterpret_cast<LPARAM>(item.data()));
      item.resize(std::strlen(item.c_str()));
      c.items.push_back(item);
    }
    c.selected = static_cast<int>(SendMessageA(child, selMsg, 0, 0));
    c.text = c.selected >= 0 && c.selected < static_cast<int>(c.items.size()) ? c.items[c.selected] : "";
  }
  controls->push_back(c);
  return TRUE;
}

// The control a setting names: an id, the text of a check box or button, or the text of a
// static label, which names the control that follows it in the dialog's order.
HWND FindControl(HWND dialog, const std::string& key) {
  if (!key.empty() && key.find_first_not_of("0123456789") == std::string::npos) {
    return GetDlgItem(dialog, std::atoi(key.c_str()));
  }
  std::string wanted = Plain(key);
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!SameText(Plain(WindowText(child)), wanted)) continue;
    if (!SameText(ClassOf(child), "Static")) return child;
    for (HWND next = GetWindow(child, GW_HWNDNEXT); next; next = GetWindow(next, GW_HWNDNEXT)) {
      if (!SameText(ClassOf(next), "Static")) return next;
    }
  }
  return nullptr;
}

void Notify(HWND dialog, HWND control, WORD code) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code), reinterpret_cast<LPARAM>(control));
}

// Sets a control as a user would, with the notification the dialog would receive.
bool ApplySetting(HWND dialog, const std::string& key, const std::string& value, std::string& error) {
  HWND control = FindControl(dialog, key);
  if (!control) {
    error = "no control \"" + key + "\"";
    return false;
  }
  std::string cls = ClassOf(control);
  if (SameText(cls, "ComboBox") || SameText(cls, "ListBox")) {
    bool combo = SameText(cls, "ComboBox");
    LRESULT index = SendMessageA(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(value.c_str()));
    if (index < 0 && value.size() > 1 && value[0] == '#') index = std::atoi(value.c_str() + 1);
    LRESULT count = SendMessageA(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    if (index < 0 || index >= count) {
      error = "no item \"" + value + "\" in \"" + key + "\"";
      return false;
    }
    SendMessageA(control, combo ? CB_SETCURSEL : LB_SETCURSEL, index, 0);
    Notify(dialog, control, combo ? CBN_SELCHANGE : LBN_SELCHANGE);
    return true;
  }
  if (SameText(cls, WC_TABCONTROLA)) {
    // A tab by its text or #index, chosen as the user's click does: TCN_SELCHANGE follows.
    const int count = static_cast<int>(SendMessageA(control, TCM_GETITEMCOUNT, 0, 0));
    int index = value.size() > 1 && value[0] == '#' ? std::atoi(value.c_str() + 1) : -1;
    for (int k = 0; k < count && index < 0; ++k) {
      char text[128] = {0};
      TCITEMA item = {};
      item.mask = TCIF_TEXT;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      if (SendMessageA(control, TCM_GETITEMA, k, reinterpret_cast<LPARAM>(&item)) && SameText(text, value)) index = k;
    }
    if (index < 0 || index >= count) {
      error = "no tab \"" + value + "\" in \"" + key + "\"";
      return false;
    }
    SendMessageA(control, TCM_SETCURSEL, index, 0);
    NMHDR header = {control, static_cast<UINT_PTR>(GetDlgCtrlID(control)), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(dialog, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    return true;
  }
  if (IsCheckable(control)) {
    int want = value == "1" || SameText(value, "on") || SameText(value, "true") ? BST_CHECKED : BST_UNCHECKED;
    if (SendMessageA(control, BM_GETCHECK, 0, 0) != want) {
      SendMessageA(control, BM_SETCHECK, want, 0);
      Notify(dialog, control, BN_CLICKED);
    }
    return true;
  }
  if (SameText(cls, "Edit")) {
    SetWindowTextA(control, value.c_str());  // sends EN_CHANGE itself
    return true;
  }
  error = "control \"" + key + "\" (" + cls + ") cannot be set";
  return false;
}

void PostButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void CALLBACK StuckTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  auto it = g_stuckTimers.find(timer);
  if (it == g_stuckTimers.end()) return;
  HWND dialog = it->second;
  g_stuckTimers.erase(it);
  if (!IsWindow(dialog)) return;
  std::string caption = WindowText(dialog);
  for (auto& d : g_watch.dialogs) {
    if (d.caption == caption) d.timedOut = true;
  }
  g_watch.errors.push_back("dialog \"" + caption + "\" did not end by itself");
  EndDialog(dialog, 0);
}

// The button a message box answers with when no answer is given: its default button.
int DefaultAnswer(UINT type) {
  int button = (type & MB_DEFMASK) >> 8;  // 0, 1 or 2
  static const int sets[][3] = {
      {IDOK, IDOK, IDOK},          {IDOK, IDCANCEL, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},     {IDYES, IDNO, IDNO},        {IDRETRY, IDCANCEL, IDCANCEL},
      {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
  };
  UINT kind = type & MB_TYPEMASK;
  if (kind >= sizeof sets / sizeof sets[0]) return IDOK;
  return sets[kind][button > 2 ? 0 : button];
}

void OnMessageBoxShown(HWND box) {
  MessageBoxRecord& rec = g_watch.boxes[g_pendingBox];
  rec.shown = true;
  if (WindowText(box) != rec.caption) g_watch.errors.push_back("message box shows caption \"" + WindowText(box) + "\"");
  size_t n = g_watch.boxes.size() - 1;
  int answer = g_watch.answers.empty() ? DefaultAnswer(rec.type)
                                       : g_watch.answers[n < g_watch.answers.size() ? n : g_watch.answers.size() - 1];
  PostButton(box, answer);
}

void RunScript(PendingScript pending);

// The end of a wait: the dialog's controls as they stand, then the rest of its script.
void CALLBACK WaitTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  auto it = g_waits.find(timer);
  if (it == g_waits.end()) return;
  PendingScript pending = std::move(it->second);
  g_waits.erase(it);
  if (!IsWindow(pending.dialog)) return;
  g_watch.dialogs[pending.record].afterWaits.push_back(SnapshotControls(pending.dialog));
  RunScript(std::move(pending));
}

// Posts the script's presses up to its next wait, and after the last step how the
// dialog ends. The dialog's own message loop runs while a wait's timer is pending.
void RunScript(PendingScript pending) {
  const HWND dialog = pending.dialog;
  const std::vector<ScriptStep>& steps = pending.script.steps;
  for (; pending.next < steps.size(); ++pending.next) {
    const ScriptStep& step = steps[pending.next];
    if (step.press) PostButton(dialog, step.press);
    if (step.waitMs == 0) continue;
    ++pending.next;
    const UINT_PTR timer = SetTimer(nullptr, 0, step.waitMs, WaitTimer);
    if (timer) {
      g_waits[timer] = std::move(pending);
      return;
    }
    g_watch.errors.push_back("cannot wait in dialog \"" + WindowText(dialog) + "\"");
  }
  Finish finish = pending.script.finish;
  if (finish == Finish::Default) finish = g_watch.batch ? Finish::None : Finish::Ok;
  switch (finish) {
    case Finish::Ok: PostButton(dialog, IDOK); break;
    case Finish::Cancel: PostButton(dialog, IDCANCEL); break;
    case Finish::Close: PostMessageA(dialog, WM_CLOSE, 0, 0); break;
    default: break;
  }
}

void OnModuleDialog(HWND dialog) {
  size_t index = g_watch.dialogs.size();
  DialogRecord rec;
  rec.caption = WindowText(dialog);
  rec.controls = SnapshotControls(dialog);
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const LabelFit fit = MeasureLabel(child);
    if (fit.Fits()) continue;
    rec.clipped.push_back(ClassOf(child) + " " + std::to_string(GetDlgCtrlID(child)) + " \"" + WindowText(child) +
                          "\" needs " + std::to_string(fit.needed.cx) + "x" + std::to_string(fit.needed.cy) +
                          " pixels, has " + std::to_string(fit.available.cx) + "x" + std::to_string(fit.available.cy));
  }
  DialogScript script = index < g_watch.scripts.size() ? g_watch.scripts[index] : DialogScript{};
  for (const auto& [key, value] : script.sets) {
    std::string error;
    if (!ApplySetting(dialog, key, value, error)) rec.errors.push_back(error);
  }
  g_watch.dialogs.push_back(rec);
  UINT_PTR timer = SetTimer(nullptr, 0, g_watch.dialogTimeoutMs, StuckTimer);
  if (timer) g_stuckTimers[timer] = dialog;
  RunScript(PendingScript{dialog, index, script, 0});
}

bool InModule(const void* address) {
  const BYTE* p = static_cast<const BYTE*>(address);
  return p >= g_moduleBase && p < g_moduleBase + g_moduleSize;
}

LRESULT CALLBACK CallWndRet(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* m = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (m->message == WM_INITDIALOG) {
      if (g_pendingBox >= 0 && !g_watch.boxes[g_pendingBox].shown) {
        OnMessageBoxShown(m->hwnd);
      } else if (InModule(reinterpret_cast<const void*>(GetWindowLongPtrA(m->hwnd, DWLP_DLGPROC)))) {
        OnModuleDialog(m->hwnd);
      } else {
        g_watch.systemDialogs.push_back(WindowText(m->hwnd));
      }
    } else if (m->message == WM_DESTROY) {
      for (auto it = g_stuckTimers.begin(); it != g_stuckTimers.end(); ++it) {
        if (it->second == m->hwnd) {
          KillTimer(nullptr, it->first);
          g_stuckTimers.erase(it);
          break;
        }
      }
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

int WINAPI WatchMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  MessageBoxRecord rec;
  rec.caption = caption ? caption : "Error";
  rec.text = text ? text : "";
  rec.type = type;
  rec.owned = owner != nullptr;
  g_watch.boxes.push_back(rec);
  int saved = g_pendingBox;
  g_pendingBox = static_cast<int>(g_watch.boxes.size()) - 1;
  int index = g_pendingBox;
  int answer = g_realMessageBox(owner, text, caption, type);
  g_watch.boxes[index].answer = answer;
  g_pendingBox = saved;
  return answer;
}

BOOL WINAPI WatchWinHelpA(HWND, LPCSTR file, UINT command, ULONG_PTR data) {
  HelpRecord rec;
  rec.file = file ? file : "";
  rec.command = command;
  rec.data = data;
  if (command == HELP_KEY && data) rec.key = reinterpret_cast<const char*>(data);
  g_watch.help.push_back(rec);
  return TRUE;  // the help file is not part of the suite's tests
}

BOOL WINAPI WatchMessageBeep(UINT type) {
  g_watch.beeps.push_back(type);
  return TRUE;
}

// Replaces the address of one imported function in the module's import address table.
bool PatchImport(HMODULE module, const char* dll, const char* name, void* replacement, void** original) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return false;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
    DWORD lookup = imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD old = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return false;
      if (original) *original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return true;
    }
  }
  return false;
}

}  // namespace

Watch& TheWatch() { return g_watch; }

std::vector<ControlState> SnapshotControls(HWND dialog) {
  std::vector<ControlState> controls;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&controls));
  return controls;
}

bool StartWatching(HMODULE module) {
  g_moduleBase = reinterpret_cast<BYTE*>(module);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(g_moduleBase + reinterpret_cast<IMAGE_DOS_HEADER*>(module)->e_lfanew);
  g_moduleSize = nt->OptionalHeader.SizeOfImage;

  g_realMessageBox = MessageBoxA;
  void* unused = nullptr;
  // A module that never shows a box, asks for help or beeps does not import the function.
  PatchImport(module, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(WatchMessageBoxA), &unused);
  PatchImport(module, "user32.dll", "WinHelpA", reinterpret_cast<void*>(WatchWinHelpA), &unused);
  PatchImport(module, "user32.dll", "MessageBeep", reinterpret_cast<void*>(WatchMessageBeep), &unused);

  g_hook = SetWindowsHookExA(WH_CALLWNDPROCRET, CallWndRet, nullptr, GetCurrentThreadId());
  if (!g_hook) {
    g_watch.errors.push_back("SetWindowsHookEx failed");
    return false;
  }
  return true;
}

void StopWatching() {
  if (g_hook) UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  for (auto& [timer, dialog] : g_stuckTimers) KillTimer(nullptr, timer);
  g_stuckTimers.clear();
  for (auto& [timer, pending] : g_waits) KillTimer(nullptr, timer);
  g_waits.clear();
}

}  // namespace harness
