// Windows, modal dialogs and their controls, windows of registered classes, and the
// user's actions on them.
//
// A dialog is created from its module's resource script, its controls are windows of
// their own, and DialogBoxParamA runs a modal loop: sent messages from other threads,
// then posted messages in order, then (queue empty) the user's turn. All window state
// is guarded by one mutex, which is never held while a dialog procedure or the user
// runs: procedures call back into the backend, and the convolver's preview thread
// writes its status line while the dialog thread waits in the loop.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

constexpr int kIdleRounds = 64;
constexpr UINT kEditChange = 5;  // CBN_EDITCHANGE
constexpr size_t kDefaultEditLimit = 32767;

enum class WindowType { Host, Dialog, Control, Class };

struct Window {
  uint32_t handle = 0;
  WindowType type = WindowType::Control;
  uint32_t parent = 0;  // controls: the dialog; dialogs: the owner
  std::thread::id thread;
  std::string text;
  uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  // Controls
  int id = 0;
  ControlKind kind = ControlKind::Other;
  std::string windowClass;
  int check = BST_UNCHECKED;
  std::vector<std::string> items;
  int selection = CB_ERR;
  size_t limit = kDefaultEditLimit;
  // Dialogs
  DLGPROC proc = nullptr;
  int templateId = 0;
  std::string font;
  std::vector<uint32_t> children;  // in template order
  bool ended = false;
  INT_PTR result = 0;
  // Windows of a registered class (windowClass holds its name; x, y, cx, cy are pixels)
  WNDPROC wndProc = nullptr;
  uint32_t background = 0;  // the class's brush
  bool invalid = false;     // WM_PAINT is due
  bool erase = false;       // ... and the background is to be erased first
};

struct RegisteredClass {
  std::string name;
  HINSTANCE instance = nullptr;
  WNDPROC proc = nullptr;
  uint32_t background = 0;
};

struct Posted {
  uint32_t window;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

struct Sent {
  uint32_t window;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id target;
  LRESULT result = 0;
  bool done = false;
};

struct UiState {
  std::mutex mutex;
  std::condition_variable sentDone;
  std::unordered_map<uint32_t, std::unique_ptr<Window>> windows;
  std::vector<uint32_t> dialogs;  // open modal dialogs, innermost last
  std::deque<Posted> posted;
  std::list<Sent*> sent;
  uint32_t host = 0;
  std::vector<RegisteredClass> classes;
  ATOM nextAtom = 0xC000;
};

UiState& State() {
  static UiState* state = new UiState;  // never destroyed: used until process exit
  return *state;
}

using Lock = std::unique_lock<std::mutex>;

Window* Get(UiState& s, uint32_t handle) {
  auto it = s.windows.find(handle);
  return it == s.windows.end() ? nullptr : it->second.get();
}
Window* Get(UiState& s, HWND hwnd) { return hwnd == nullptr ? nullptr : Get(s, detail::HandleValue(hwnd)); }

HWND AsHwnd(uint32_t handle) { return detail::MakeHandle<HWND>(handle); }

Window* Child(UiState& s, const Window& dialog, int id) {
  for (uint32_t c : dialog.children) {
    Window* w = Get(s, c);
    if (w != nullptr && w->id == id) return w;
  }
  return nullptr;
}

bool Enabled(const Window& w) { return (w.style & WS_DISABLED) == 0; }
bool Visible(const Window& w) { return (w.style & WS_VISIBLE) != 0; }
UINT ButtonType(const Window& w) { return w.style & BS_TYPEMASK; }
bool IsButton(const Window& w) { return w.type == WindowType::Control && w.windowClass == "BUTTON"; }
bool IsCombo(const Window& w) { return w.type == WindowType::Control && w.kind == ControlKind::ComboBox; }
bool IsTab(const Window& w) { return w.type == WindowType::Control && w.kind == ControlKind::Tab; }
bool EditableCombo(const Window& w) { return IsCombo(w) && (w.style & 0x3) != CBS_DROPDOWNLIST; }
bool SingleLineEdit(const Window& w) { return w.kind == ControlKind::Edit && (w.style & ES_MULTILINE) == 0; }

// Shown, with every window it sits in.
bool ShownLocked(UiState& s, Window* w) {
  while (w != nullptr && Visible(*w)) {
    if (w->type == WindowType::Host || w->type == WindowType::Dialog || w->parent == 0) return true;
    w = Get(s, w->parent);
  }
  return false;
}

bool IsOpenDialog(const UiState& s, uint32_t handle) {
  return std::find(s.dialogs.begin(), s.dialogs.end(), handle) != s.dialogs.end();
}

int CompareNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

LRESULT CopyText(const std::string& text, WPARAM size, LPARAM buffer) {
  char* out = reinterpret_cast<char*>(buffer);
  if (out == nullptr || size == 0) return 0;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  return static_cast<LRESULT>(n);
}

std::string TextArgument(LPARAM lParam) {
  const char* text = reinterpret_cast<const char*>(lParam);
  return text != nullptr ? std::string(text) : std::string();
}

// Text messages every window answers.
bool TextMessage(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (msg) {
    case WM_SETTEXT: w.text = TextArgument(lParam); *result = TRUE; return true;
    case WM_GETTEXT: *result = CopyText(w.text, wParam, lParam); return true;
    case WM_GETTEXTLENGTH: *result = static_cast<LRESULT>(w.text.size()); return true;
    default: return false;
  }
}

void SetComboSelection(Window& c, int index) {
  c.selection = index;
  if (index >= 0) c.text = c.items[static_cast<size_t>(index)];
  else if (!EditableCombo(c)) c.text.clear();
}

// A message to a control, handled by the control itself. `notify` receives the
// notification code the control then sends its dialog, if any.
LRESULT ControlMessage(Window& c, UINT msg, WPARAM wParam, LPARAM lParam, int* notify) {
  LRESULT result = 0;
  if (IsCombo(c)) {
    int count = static_cast<int>(c.items.size());
    int index = static_cast<int>(static_cast<intptr_t>(wParam));
    switch (msg) {
      case WM_SETTEXT: {
        std::string text = TextArgument(lParam);
        if (EditableCombo(c)) {
          c.text = text;
          return TRUE;
        }
        // A drop-down list shows only its items: the text selects one.
        for (int i = 0; i < count; ++i) {
          if (CompareNoCase(c.items[static_cast<size_t>(i)], text) == 0) {
            SetComboSelection(c, i);
            return TRUE;
          }
        }
        return CB_ERR;
      }
      case CB_ADDSTRING: {
        std::string text = TextArgument(lParam);
        int at = count;
        if (c.style & CBS_SORT) {
          at = 0;
          while (at < count && CompareNoCase(c.items[static_cast<size_t>(at)], text) <= 0) ++at;
        }
        c.items.insert(c.items.begin() + at, text);
        if (c.selection >= at) ++c.selection;
        return at;
      }
      case CB_INSERTSTRING: {
        if (index == -1) index = count;
        if (index < 0 || index > count) return CB_ERR;
        c.items.insert(c.items.begin() + index, TextArgument(lParam));
        if (c.selection >= index) ++c.selection;
        return index;
      }
      case CB_DELETESTRING:
        if (index < 0 || index >= count) return CB_ERR;
        c.items.erase(c.items.begin() + index);
        if (c.selection == index) SetComboSelection(c, CB_ERR);
        else if (c.selection > index) --c.selection;
        return count - 1;
      case CB_GETCOUNT: return count;
      case CB_GETCURSEL: return c.selection;
      case CB_SETCURSEL:
        if (index < 0 || index >= count) {
          SetComboSelection(c, CB_ERR);
          if (EditableCombo(c)) c.text.clear();
          return CB_ERR;
        }
        SetComboSelection(c, index);
        return index;
      case CB_GETLBTEXT: {
        char* out = reinterpret_cast<char*>(lParam);
        if (index < 0 || index >= count || out == nullptr) return CB_ERR;
        const std::string& item = c.items[static_cast<size_t>(index)];
        std::memcpy(out, item.c_str(), item.size() + 1);
        return static_cast<LRESULT>(item.size());
      }
      case CB_GETLBTEXTLEN:
        if (index < 0 || index >= count) return CB_ERR;
        return static_cast<LRESULT>(c.items[static_cast<size_t>(index)].size());
      case CB_RESETCONTENT:
        c.items.clear();
        c.selection = CB_ERR;
        c.text.clear();
        return TRUE;
      default: break;
    }
  }
  if (IsTab(c)) {
    const int count = static_cast<int>(c.items.size());
    const int index = static_cast<int>(static_cast<intptr_t>(wParam));
    switch (msg) {
      case TCM_INSERTITEMA: {
        const auto* item = reinterpret_cast<const TCITEMA*>(lParam);
        if (item == nullptr || index < 0) return -1;
        const int at = std::min(index, count);
        c.items.insert(c.items.begin() + at,
                       (item->mask & TCIF_TEXT) && item->pszText != nullptr ? std::string(item->pszText) : std::string());
        if (c.selection >= at) ++c.selection;
        if (c.selection < 0) c.selection = 0;  // the first tab is selected once there is one
        return at;
      }
      case TCM_GETITEMCOUNT: return count;
      case TCM_GETCURSEL: return c.selection;
      case TCM_SETCURSEL: {
        if (index < 0 || index >= count) return -1;
        const int previous = c.selection;
        c.selection = index;  // as Windows: no notification for a program's own change
        return previous;
      }
      case TCM_DELETEALLITEMS:
        c.items.clear();
        c.selection = -1;
        return TRUE;
      default: break;
    }
  }
  if (IsButton(c)) {
    switch (msg) {
      case BM_GETCHECK:
        return c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton ? c.check : BST_UNCHECKED;
      case BM_SETCHECK: {
        if (c.kind != ControlKind::CheckBox && c.kind != ControlKind::RadioButton) return 0;
        int most = ButtonType(c) == BS_3STATE || ButtonType(c) == BS_AUTO3STATE ? BST_INDETERMINATE : BST_CHECKED;
        c.check = std::min(static_cast<int>(wParam), most);
        return 0;
      }
      default: break;
    }
  }
  if (c.kind == ControlKind::Edit && msg == EM_LIMITTEXT) {
    c.limit = wParam == 0 ? 0x7FFFFFFE : static_cast<size_t>(wParam);
    return 0;
  }
  if (TextMessage(c, msg, wParam, lParam, &result)) {
    // Windows tells a dialog about a changed single-line edit, even when the program changed it.
    if (msg == WM_SETTEXT && SingleLineEdit(c)) *notify = EN_CHANGE;
    return result;
  }
  return 0;
}

void PostLocked(UiState& s, uint32_t window, UINT msg, WPARAM wParam, LPARAM lParam) {
  s.posted.push_back({window, msg, wParam, lParam});
}

LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// What the dialog manager does with a message the procedure did not handle.
LRESULT DefaultDialogMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto& s = State();
  Lock lock(s.mutex);
  Window* d = Get(s, hwnd);
  if (d == nullptr) return 0;
  if (msg == WM_CLOSE) {
    // The close box stands for Cancel, unless a Cancel button is there and disabled.
    Window* cancel = Child(s, *d, IDCANCEL);
    if (cancel == nullptr || Enabled(*cancel))
      PostLocked(s, d->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(cancel != nullptr ? AsHwnd(cancel->handle) : nullptr));
    return 0;
  }
  LRESULT result = 0;
  TextMessage(*d, msg, wParam, lParam, &result);
  return result;
}

LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto& s = State();
  Lock lock(s.mutex);
  Window* w = Get(s, hwnd);
  if (w == nullptr) return 0;
  if (w->type == WindowType::Host || w->type == WindowType::Control) {
    int notify = -1;
    LRESULT result = w->type == WindowType::Control ? ControlMessage(*w, msg, wParam, lParam, &notify) : 0;
    if (w->type == WindowType::Host) TextMessage(*w, msg, wParam, lParam, &result);
    if (notify >= 0) {
      uint32_t parent = w->parent;
      int id = w->id;
      lock.unlock();
      Send(AsHwnd(parent), WM_COMMAND, MAKEWPARAM(id, notify), reinterpret_cast<LPARAM>(hwnd));
    }
    return result;
  }
  if (w->thread != std::this_thread::get_id()) {
    // Another thread's dialog: its loop runs the procedure, this thread waits for the answer.
    Sent sent{w->handle, msg, wParam, lParam, w->thread};
    s.sent.push_back(&sent);
    s.sentDone.wait(lock, [&] { return sent.done; });
    return sent.result;
  }
  if (w->type == WindowType::Class) {
    WNDPROC proc = w->wndProc;
    lock.unlock();
    return proc != nullptr ? proc(hwnd, msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
  }
  DLGPROC proc = w->proc;
  lock.unlock();
  LRESULT result = proc != nullptr ? proc(hwnd, msg, wParam, lParam) : FALSE;
  if (result == FALSE) result = DefaultDialogMessage(hwnd, msg, wParam, lParam);
  return result;
}

// Runs one message meant for a window of this thread, if there is one. Sent messages
// go before posted ones; messages to windows that are gone are dropped.
bool DispatchOne(UiState& s, Lock& lock) {
  std::thread::id me = std::this_thread::get_id();
  for (auto it = s.sent.begin(); it != s.sent.end(); ++it) {
    Sent* sent = *it;
    if (sent->target != me) continue;
    s.sent.erase(it);
    lock.unlock();
    LRESULT result = Send(AsHwnd(sent->window), sent->msg, sent->wParam, sent->lParam);
    lock.lock();
    sent->result = result;
    sent->done = true;
    s.sentDone.notify_all();
    return true;
  }
  for (auto it = s.posted.begin(); it != s.posted.end();) {
    Window* w = Get(s, it->window);
    if (w == nullptr || w->type == WindowType::Host) {
      it = s.posted.erase(it);
      continue;
    }
    if (w->thread != me) {
      ++it;
      continue;
    }
    Posted message = *it;
    s.posted.erase(it);
    lock.unlock();
    Send(AsHwnd(message.window), message.msg, message.wParam, message.lParam);
    lock.lock();
    return true;
  }
  // Last, as in Windows: WM_PAINT for a shown window that is due, the oldest first.
  uint32_t due = 0;
  for (const auto& [handle, w] : s.windows) {
    if (w->type == WindowType::Class && w->invalid && w->thread == me && ShownLocked(s, w.get()) &&
        (due == 0 || handle < due))
      due = handle;
  }
  if (due == 0) return false;
  Get(s, due)->invalid = false;  // painted once even by a procedure that never validates
  lock.unlock();
  Send(AsHwnd(due), WM_PAINT, 0, 0);
  lock.lock();
  return true;
}

ControlState StateOf(const Window& c) {
  ControlState state;
  state.id = c.id;
  state.kind = c.kind;
  state.windowClass = c.windowClass;
  state.text = c.text;
  state.style = c.style;
  state.enabled = Enabled(c);
  state.visible = Visible(c);
  state.defaultButton = IsButton(c) && ButtonType(c) == BS_DEFPUSHBUTTON;
  state.check = c.check;
  state.items = c.items;
  state.selection = c.selection;
  state.x = c.x;
  state.y = c.y;
  state.cx = c.cx;
  state.cy = c.cy;
  return state;
}

DialogState InspectLocked(UiState& s, const Window& d) {
  DialogState state;
  state.window = AsHwnd(d.handle);
  state.templateId = d.templateId;
  state.caption = d.text;
  state.font = d.font;
  state.x = d.x;
  state.y = d.y;
  state.cx = d.cx;
  state.cy = d.cy;
  for (uint32_t c : d.children) {
    if (Window* w = Get(s, c)) state.controls.push_back(StateOf(*w));
  }
  return state;
}

DialogState DescribeLocked(const DialogTemplate& t) {
  DialogState state;
  state.templateId = t.id;
  state.caption = t.caption;
  state.font = t.font;
  state.x = t.x;
  state.y = t.y;
  state.cx = t.cx;
  state.cy = t.cy;
  for (const auto& c : t.controls) {
    ControlState control;
    control.id = c.id;
    control.kind = c.kind;
    control.windowClass = c.windowClass;
    control.text = c.text;
    control.style = c.style;
    control.enabled = (c.style & WS_DISABLED) == 0;
    control.visible = (c.style & WS_VISIBLE) != 0;
    control.defaultButton = c.windowClass == "BUTTON" && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    control.x = c.x;
    control.y = c.y;
    control.cx = c.cx;
    control.cy = c.cy;
    state.controls.push_back(std::move(control));
  }
  return state;
}

// The dialog and control a person may act on, or nulls.
struct Target {
  Window* dialog = nullptr;
  Window* control = nullptr;
};
Target Reachable(UiState& s, HWND dialog, int id) {
  Window* d = Get(s, dialog);
  if (d == nullptr || d->type != WindowType::Dialog || !IsOpenDialog(s, d->handle) || d->ended || !Visible(*d) ||
      !Enabled(*d))
    return {};
  Window* c = Child(s, *d, id);
  if (c == nullptr || !Enabled(*c) || !Visible(*c)) return {};
  return {d, c};
}

void Notify(Lock& lock, const Window& dialog, const Window& control, UINT code) {
  HWND d = AsHwnd(dialog.handle);
  HWND c = AsHwnd(control.handle);
  WPARAM wParam = MAKEWPARAM(control.id, code);
  lock.unlock();
  Send(d, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(c));
}

// The default user: presses the default push button (else OK) of every dialog.
void DefaultIdle(HWND dialog) {
  int id = IDOK;
  {
    auto& s = State();
    Lock lock(s.mutex);
    Window* d = Get(s, dialog);
    if (d == nullptr) return;
    for (uint32_t c : d->children) {
      Window* w = Get(s, c);
      if (w != nullptr && IsButton(*w) && ButtonType(*w) == BS_DEFPUSHBUTTON) {
        id = w->id;
        break;
      }
    }
  }
  Click(dialog, id);
}

uint32_t CreateWindowLocked(UiState& s, std::unique_ptr<Window> w) {
  w->handle = detail::NextHandle();
  w->thread = std::this_thread::get_id();
  uint32_t handle = w->handle;
  s.windows.emplace(handle, std::move(w));
  return handle;
}

// Takes the dialog and its controls away, with whatever still waits for them.
void DestroyDialogLocked(UiState& s, uint32_t handle) {
  Window* d = Get(s, handle);
  if (d == nullptr) return;
  std::vector<uint32_t> gone = d->children;
  gone.push_back(handle);
  for (const auto& [h, w] : s.windows) {
    if (w->type == WindowType::Class && w->parent == handle) {
      gone.push_back(h);
      detail::DropSurface(h);
    }
  }
  for (uint32_t w : gone) s.windows.erase(w);
  s.dialogs.erase(std::remove(s.dialogs.begin(), s.dialogs.end(), handle), s.dialogs.end());
  auto isGone = [&](uint32_t w) { return std::find(gone.begin(), gone.end(), w) != gone.end(); };
  s.posted.erase(std::remove_if(s.posted.begin(), s.posted.end(), [&](const Posted& p) { return isGone(p.window); }),
                 s.posted.end());
  for (auto it = s.sent.begin(); it != s.sent.end();) {
    if (isGone((*it)->window)) {
      (*it)->done = true;
      it = s.sent.erase(it);
    } else {
      ++it;
    }
  }
  s.sentDone.notify_all();
}

// Win32's parsing of a dialog item's number: blanks, an optional sign, digits, blanks.
UINT ParseDlgInt(const std::string& text, BOOL* translated, BOOL isSigned) {
  if (translated != nullptr) *translated = FALSE;
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    if (negative && !isSigned) return 0;
    ++i;
  }
  size_t digits = i;
  unsigned long long value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 0xFFFFFFFFull + 1) return 0;
    ++i;
  }
  if (i == digits) return 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i != text.size()) return 0;
  long long signedValue = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
  if (isSigned ? (signedValue < INT_MIN || signedValue > INT_MAX) : value > UINT_MAX) return 0;
  if (translated != nullptr) *translated = TRUE;
  return static_cast<UINT>(static_cast<int64_t>(signedValue));
}

}  // namespace

// ---- Faces ------------------------------------------------------------------------------

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::Static: return "static";
    case ControlKind::Edit: return "edit";
    case ControlKind::PushButton: return "button";
    case ControlKind::CheckBox: return "checkbox";
    case ControlKind::RadioButton: return "radio";
    case ControlKind::GroupBox: return "groupbox";
    case ControlKind::ComboBox: return "combobox";
    case ControlKind::Tab: return "tab";
    case ControlKind::Other: break;
  }
  return "other";
}

const ControlState* DialogState::Find(int id) const {
  for (const auto& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

std::optional<DialogState> DescribeTemplate(HMODULE module, int templateId) {
  auto script = detail::ModuleScript(module, nullptr);
  if (script == nullptr) return std::nullopt;
  const DialogTemplate* t = script->Find(templateId);
  if (t == nullptr) return std::nullopt;
  return DescribeLocked(*t);
}

std::vector<int> TemplateIds(HMODULE module) {
  std::vector<int> ids;
  auto script = detail::ModuleScript(module, nullptr);
  if (script == nullptr) return ids;
  for (const auto& d : script->dialogs) {
    if (d.name.empty()) ids.push_back(d.id);
  }
  return ids;
}

DialogState Inspect(HWND dialog) {
  auto& s = State();
  Lock lock(s.mutex);
  Window* d = Get(s, dialog);
  if (d == nullptr || d->type != WindowType::Dialog) return {};
  return InspectLocked(s, *d);
}

std::vector<HWND> OpenDialogs() {
  auto& s = State();
  Lock lock(s.mutex);
  std::vector<HWND> open;
  for (uint32_t d : s.dialogs) open.push_back(AsHwnd(d));
  return open;
}

bool TypeText(HWND dialog, const int id, const std::string& text) {
  auto& s = State();
  Lock lock(s.mutex);
  Target t = Reachable(s, dialog, id);
  if (t.control == nullptr) return false;
  Window& c = *t.control;
  if (c.kind == ControlKind::Edit) {
    if (c.style & ES_READONLY) return false;
    if ((c.style & ES_NUMBER) &&
        !std::all_of(text.begin(), text.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); }))
      return false;
    c.text = text.substr(0, std::min(text.size(), c.limit));
    Notify(lock, *t.dialog, c, EN_CHANGE);
    return true;
  }
  if (EditableCombo(c)) {
    c.text = text;
    c.selection = CB_ERR;
    for (size_t i = 0; i < c.items.size(); ++i) {
      if (c.items[i] == text) {
        c.selection = static_cast<int>(i);
        break;
      }
    }
    Notify(lock, *t.dialog, c, kEditChange);
    return true;
  }
  return false;
}

bool ChooseItem(HWND dialog, int id, int index) {
  auto& s = State();
  Lock lock(s.mutex);
  Target t = Reachable(s, dialog, id);
  if (t.control == nullptr || !(IsCombo(*t.control) || IsTab(*t.control))) return false;
  if (index < 0 || index >= static_cast<int>(t.control->items.size())) return false;
  if (IsTab(*t.control)) {
    // The tab control tells the dialog before and after it changes (WM_NOTIFY). A dialog
    // cannot keep the current tab here: its answer would come through DWLP_MSGRESULT.
    Window& c = *t.control;
    HWND d = AsHwnd(t.dialog->handle);
    NMHDR header{AsHwnd(c.handle), static_cast<UINT_PTR>(c.id), TCN_SELCHANGING};
    const uint32_t control = c.handle;
    lock.unlock();
    Send(d, WM_NOTIFY, static_cast<WPARAM>(header.idFrom), reinterpret_cast<LPARAM>(&header));
    lock.lock();
    Window* tab = Get(s, control);
    if (tab == nullptr || index >= static_cast<int>(tab->items.size())) return false;
    tab->selection = index;
    header.code = TCN_SELCHANGE;
    lock.unlock();
    Send(d, WM_NOTIFY, static_cast<WPARAM>(header.idFrom), reinterpret_cast<LPARAM>(&header));
    return true;
  }
  SetComboSelection(*t.control, index);
  Notify(lock, *t.dialog, *t.control, CBN_SELCHANGE);
  return true;
}

bool Click(HWND dialog, int id) {
  auto& s = State();
  Lock lock(s.mutex);
  Target t = Reachable(s, dialog, id);
  if (t.control == nullptr || !IsButton(*t.control)) return false;
  Window& c = *t.control;
  switch (ButtonType(c)) {
    case BS_GROUPBOX: return false;
    case BS_AUTOCHECKBOX: c.check = c.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED; break;
    case BS_AUTO3STATE: c.check = (c.check + 1) % 3; break;
    case BS_AUTORADIOBUTTON: {
      // The group runs from the last WS_GROUP control up to this one to the next WS_GROUP control.
      const auto& children = t.dialog->children;
      size_t at = static_cast<size_t>(std::find(children.begin(), children.end(), c.handle) - children.begin());
      size_t first = at;
      while (first > 0 && !(Get(s, children[first])->style & WS_GROUP)) --first;
      size_t last = at + 1;
      while (last < children.size() && !(Get(s, children[last])->style & WS_GROUP)) ++last;
      for (size_t i = first; i < last; ++i) {
        Window* other = Get(s, children[i]);
        if (IsButton(*other) && ButtonType(*other) == BS_AUTORADIOBUTTON) other->check = BST_UNCHECKED;
      }
      c.check = BST_CHECKED;
      break;
    }
    default: break;
  }
  Notify(lock, *t.dialog, c, BN_CLICKED);
  return true;
}

void PressCloseBox(HWND dialog) {
  {
    auto& s = State();
    Lock lock(s.mutex);
    Window* d = Get(s, dialog);
    if (d == nullptr || d->type != WindowType::Dialog || d->ended || !Enabled(*d)) return;
  }
  Send(dialog, WM_CLOSE, 0, 0);
}

bool WaitWhileOpen(HWND dialog, DWORD milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  auto& s = State();
  Lock lock(s.mutex);
  for (;;) {
    Window* d = Get(s, dialog);
    if (d == nullptr || d->type != WindowType::Dialog || d->ended) return false;
    if (DispatchOne(s, lock)) continue;
    if (std::chrono::steady_clock::now() >= deadline) return true;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    lock.lock();
  }
}

std::vector<WindowInfo> ClassWindows(HWND parent) {
  auto& s = State();
  Lock lock(s.mutex);
  std::vector<WindowInfo> found;
  uint32_t parentHandle = parent != nullptr ? detail::HandleValue(parent) : 0;
  for (const auto& [handle, w] : s.windows) {
    if (w->type != WindowType::Class || w->parent != parentHandle) continue;
    found.push_back({AsHwnd(handle), w->windowClass, w->text, ShownLocked(s, w.get()), w->x, w->y, w->cx, w->cy});
  }
  std::sort(found.begin(), found.end(), [](const WindowInfo& a, const WindowInfo& b) {
    return detail::HandleValue(a.window) < detail::HandleValue(b.window);
  });
  return found;
}

namespace detail {

bool ClassWindowPaint(HWND window, bool take, WindowPaint* paint) {
  auto& s = State();
  Lock lock(s.mutex);
  Window* w = Get(s, window);
  if (w == nullptr || w->type != WindowType::Class) return false;
  paint->width = w->cx;
  paint->height = w->cy;
  paint->background = w->background;
  paint->erase = w->erase;
  if (take) w->invalid = w->erase = false;
  return true;
}

}  // namespace detail

HWND HostWindow() {
  auto& s = State();
  Lock lock(s.mutex);
  if (s.host == 0) {
    auto w = std::make_unique<Window>();
    w->type = WindowType::Host;
    w->style = WS_OVERLAPPED | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
    w->text = "tovrel";
    s.host = CreateWindowLocked(s, std::move(w));
  }
  return AsHwnd(s.host);
}

}  // namespace tovrel::portable

namespace tp = tovrel::portable;
using tp::Lock;
using tp::Window;
using tp::WindowType;

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  if (templateName == nullptr) return -1;
  std::string error;
  auto script = tp::detail::ModuleScript(instance, &error);
  if (script == nullptr) return -1;
  const tp::DialogTemplate* t =
      IS_INTRESOURCE(templateName) ? script->Find(LOWORD(templateName)) : script->Find(std::string_view(templateName));
  if (t == nullptr) return -1;

  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* owner = tp::Get(s, parent);
  if (parent != nullptr && owner == nullptr) return 0;  // as Windows: an invalid parent gives 0

  auto dialog = std::make_unique<Window>();
  dialog->type = WindowType::Dialog;
  dialog->parent = owner != nullptr ? owner->handle : 0;
  dialog->text = t->caption;
  dialog->style = t->style & ~static_cast<uint32_t>(WS_VISIBLE | WS_DISABLED);  // shown once initialised
  dialog->x = t->x;
  dialog->y = t->y;
  dialog->cx = t->cx;
  dialog->cy = t->cy;
  dialog->proc = proc;
  dialog->templateId = t->id;
  dialog->font = t->font;
  uint32_t handle = tp::CreateWindowLocked(s, std::move(dialog));
  HWND hwnd = tp::AsHwnd(handle);
  uint32_t focus = 0;
  std::vector<uint32_t> children;
  for (const auto& ct : t->controls) {
    auto c = std::make_unique<Window>();
    c->parent = handle;
    c->id = ct.id;
    c->kind = ct.kind;
    c->windowClass = ct.windowClass;
    c->text = ct.text;
    c->style = ct.style;
    c->x = ct.x;
    c->y = ct.y;
    c->cx = ct.cx;
    c->cy = ct.cy;
    bool takesFocus = (ct.style & WS_TABSTOP) && (ct.style & WS_VISIBLE) && !(ct.style & WS_DISABLED);
    // A drop-down list's text is its selected item: none yet.
    if (c->kind == tp::ControlKind::ComboBox) c->text.clear();
    uint32_t child = tp::CreateWindowLocked(s, std::move(c));
    if (focus == 0 && takesFocus) focus = child;
    children.push_back(child);
  }
  tp::Get(s, handle)->children = std::move(children);
  s.dialogs.push_back(handle);
  // A modal dialog disables its owner while it runs.
  bool ownerWasEnabled = owner != nullptr && tp::Enabled(*owner);
  if (ownerWasEnabled) owner->style |= WS_DISABLED;
  uint32_t ownerHandle = owner != nullptr ? owner->handle : 0;

  lock.unlock();
  tp::Send(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(tp::AsHwnd(focus)), param);
  lock.lock();
  Window* d = tp::Get(s, handle);
  if (!d->ended) d->style |= WS_VISIBLE;

  int round = 0;
  bool closing = false;
  while (!tp::Get(s, handle)->ended) {
    if (tp::DispatchOne(s, lock)) continue;
    if (round < tp::kIdleRounds) {
      lock.unlock();
      tp::User* user = tp::detail::CurrentUser();
      if (user != nullptr) user->DialogIdle(hwnd, round);
      else tp::DefaultIdle(hwnd);
      lock.lock();
      ++round;
    } else if (!closing) {
      // Nobody closes it: the close box, then Cancel.
      closing = true;
      lock.unlock();
      tp::Send(hwnd, WM_CLOSE, 0, 0);
      lock.lock();
    } else {
      Window* w = tp::Get(s, handle);
      w->ended = true;
      w->result = IDCANCEL;
    }
  }

  d = tp::Get(s, handle);
  tp::DialogEvent event;
  event.final = tp::InspectLocked(s, *d);
  event.result = d->result;
  event.owner = d->parent;
  INT_PTR result = d->result;
  lock.unlock();
  tp::detail::Record(std::move(event));
  tp::Send(hwnd, WM_DESTROY, 0, 0);
  lock.lock();
  tp::DestroyDialogLocked(s, handle);
  if (ownerWasEnabled) {
    if (Window* o = tp::Get(s, ownerHandle)) o->style &= ~static_cast<uint32_t>(WS_DISABLED);
  }
  return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* d = tp::Get(s, dialog);
  if (d == nullptr || d->type != WindowType::Dialog || !tp::IsOpenDialog(s, d->handle)) return FALSE;
  d->ended = true;
  d->result = result;
  d->style &= ~static_cast<uint32_t>(WS_VISIBLE);
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* d = tp::Get(s, dialog);
  if (d == nullptr) return nullptr;
  Window* c = tp::Child(s, *d, id);
  return c != nullptr ? tp::AsHwnd(c->handle) : nullptr;
}

int WINAPI GetDlgCtrlID(HWND control) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* c = tp::Get(s, control);
  return c != nullptr && c->type == WindowType::Control ? c->id : 0;
}

HWND WINAPI GetParent(HWND window) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  return w != nullptr && w->parent != 0 ? tp::AsHwnd(w->parent) : nullptr;
}

LRESULT WINAPI SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return tp::Send(window, msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  if (w == nullptr) return FALSE;
  tp::PostLocked(s, w->handle, msg, wParam, lParam);
  return TRUE;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND control = GetDlgItem(dialog, id);
  return control != nullptr ? tp::Send(control, msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return FALSE;
  return tp::Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) == CB_ERR ? FALSE : TRUE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
    return 0;
  }
  if (size <= 0) return 0;
  return static_cast<UINT>(tp::Send(control, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
  return SetDlgItemTextA(dialog, id, text.c_str());
}

UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated != nullptr) *translated = FALSE;
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return 0;
  char buffer[64];
  tp::Send(control, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return tp::ParseDlgInt(buffer, translated, isSigned);
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return FALSE;
  tp::Send(control, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control != nullptr ? static_cast<UINT>(tp::Send(control, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* d = tp::Get(s, dialog);
  if (d == nullptr) return FALSE;
  for (uint32_t handle : d->children) {
    Window* c = tp::Get(s, handle);
    if (c->id < first || c->id > last || !tp::IsButton(*c)) continue;
    if (c->kind == tp::ControlKind::CheckBox || c->kind == tp::ControlKind::RadioButton)
      c->check = c->id == check ? BST_CHECKED : BST_UNCHECKED;
  }
  return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsWindow(window)) return FALSE;
  return tp::Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) == CB_ERR ? FALSE : TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = 0;
  return static_cast<int>(tp::Send(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int WINAPI GetWindowTextLengthA(HWND window) { return static_cast<int>(tp::Send(window, WM_GETTEXTLENGTH, 0, 0)); }

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  if (w == nullptr) return FALSE;
  BOOL wasDisabled = tp::Enabled(*w) ? FALSE : TRUE;
  if (enable) w->style &= ~static_cast<uint32_t>(WS_DISABLED);
  else w->style |= WS_DISABLED;
  return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  return w != nullptr && tp::Enabled(*w) ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  if (w == nullptr) return FALSE;
  BOOL wasVisible = tp::Visible(*w) ? TRUE : FALSE;
  if (command == SW_HIDE) w->style &= ~static_cast<uint32_t>(WS_VISIBLE);
  else w->style |= WS_VISIBLE;
  if (w->type == WindowType::Class && !wasVisible && command != SW_HIDE) w->invalid = w->erase = true;
  return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND window) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  // Visible only when the window and every window it sits in are shown.
  return tp::ShownLocked(s, tp::Get(s, window)) ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND window) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  return tp::Get(s, window) != nullptr ? TRUE : FALSE;
}

// ---- Window classes ------------------------------------------------------------------

namespace tovrel::portable {
namespace {

bool SameName(const std::string& a, const char* b) { return b != nullptr && CompareNoCase(a, b) == 0; }

// The class a window is created from: registered by that instance, else by any.
const RegisteredClass* FindClassLocked(const UiState& s, const char* name, HINSTANCE instance) {
  const RegisteredClass* any = nullptr;
  for (const auto& c : s.classes) {
    if (!SameName(c.name, name)) continue;
    if (c.instance == instance) return &c;
    if (any == nullptr) any = &c;
  }
  return any;
}

}  // namespace
}  // namespace tovrel::portable

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr ||
      IS_INTRESOURCE(windowClass->lpszClassName) || windowClass->lpszClassName[0] == 0)
    return 0;
  auto& s = tp::State();
  Lock lock(s.mutex);
  for (const auto& c : s.classes) {
    if (c.instance == windowClass->hInstance && tp::SameName(c.name, windowClass->lpszClassName)) return 0;
  }
  s.classes.push_back({windowClass->lpszClassName, windowClass->hInstance, windowClass->lpfnWndProc,
                       tp::detail::HandleValue(windowClass->hbrBackground)});
  return s.nextAtom++;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  auto it = std::find_if(s.classes.begin(), s.classes.end(), [&](const tp::RegisteredClass& c) {
    return c.instance == instance && tp::SameName(c.name, className);
  });
  if (it == s.classes.end()) return FALSE;
  for (const auto& [handle, w] : s.windows) {
    if (w->type == WindowType::Class && tp::CompareNoCase(w->windowClass, it->name) == 0) return FALSE;
  }
  s.classes.erase(it);
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (className == nullptr || IS_INTRESOURCE(className) || width < 0 || height < 0) return nullptr;
  auto& s = tp::State();
  Lock lock(s.mutex);
  const tp::RegisteredClass* c = tp::FindClassLocked(s, className, instance);
  if (c == nullptr) return nullptr;
  Window* owner = tp::Get(s, parent);
  if (parent != nullptr && owner == nullptr) return nullptr;
  auto w = std::make_unique<Window>();
  w->type = WindowType::Class;
  w->parent = owner != nullptr ? owner->handle : 0;
  w->windowClass = c->name;
  w->text = windowName != nullptr ? windowName : "";
  w->style = style;
  w->x = x;
  w->y = y;
  w->cx = width;
  w->cy = height;
  w->id = static_cast<int>(reinterpret_cast<uintptr_t>(menu));
  w->wndProc = c->proc;
  w->background = c->background;
  w->invalid = w->erase = (style & WS_VISIBLE) != 0;
  return tp::AsHwnd(tp::CreateWindowLocked(s, std::move(w)));
}

BOOL WINAPI DestroyWindow(HWND window) {
  auto& s = tp::State();
  {
    Lock lock(s.mutex);
    Window* w = tp::Get(s, window);
    if (w == nullptr || w->type != WindowType::Class) return FALSE;
  }
  tp::Send(window, WM_DESTROY, 0, 0);
  Lock lock(s.mutex);
  uint32_t handle = tp::detail::HandleValue(window);
  if (tp::Get(s, handle) == nullptr) return TRUE;
  s.windows.erase(handle);
  tp::detail::DropSurface(handle);
  s.posted.erase(std::remove_if(s.posted.begin(), s.posted.end(), [&](const tp::Posted& p) { return p.window == handle; }),
                 s.posted.end());
  return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (BeginPaint(window, &paint) != nullptr) EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      tp::detail::WindowPaint info;
      if (!tp::detail::ClassWindowPaint(window, false, &info) || info.background == 0) return 0;
      RECT all = {0, 0, info.width, info.height};
      return FillRect(reinterpret_cast<HDC>(wParam), &all, tp::detail::MakeHandle<HBRUSH>(info.background)) ? 1 : 0;
    }
    default: break;
  }
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  LRESULT result = 0;
  if (w != nullptr) tp::TextMessage(*w, msg, wParam, lParam, &result);
  return result;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  // The system's arrow: the only cursor the modules ask for.
  if (instance != nullptr || name != IDC_ARROW) return nullptr;
  static const uint32_t arrow = tp::detail::NextHandle();
  return tp::detail::MakeHandle<HCURSOR>(arrow);
}

LONG WINAPI GetDialogBaseUnits(void) { return MAKELONG(8, 16); }

BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  if (w == nullptr || rect == nullptr) return FALSE;
  // Dialogs and controls keep dialog units: with base units 8 x 16, one unit is 2 pixels.
  const int scale = w->type == WindowType::Class ? 1 : 2;
  *rect = {0, 0, w->cx * scale, w->cy * scale};
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  if (w == nullptr) return FALSE;
  if (w->type == WindowType::Class) {
    w->invalid = true;
    w->erase = w->erase || erase;
  }
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND window, const RECT* rect) {
  auto& s = tp::State();
  Lock lock(s.mutex);
  Window* w = tp::Get(s, window);
  if (w == nullptr) return FALSE;
  w->invalid = w->erase = false;
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
  {
    auto& s = tp::State();
    Lock lock(s.mutex);
    Window* w = tp::Get(s, window);
    if (w == nullptr) return FALSE;
    if (w->type != WindowType::Class || !w->invalid || !tp::ShownLocked(s, w)) return TRUE;
    w->invalid = false;
  }
  tp::Send(window, WM_PAINT, 0, 0);
  return TRUE;
}

}  // extern "C"
