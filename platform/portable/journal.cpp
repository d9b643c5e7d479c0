// The journal of what was shown, the user in charge, message boxes, beeps, help and
// the clock.

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

struct JournalState {
  std::mutex mutex;
  std::vector<Event> events;
  std::atomic<User*> user{nullptr};
  std::function<DWORD()> tickSource;
};

JournalState& State() {
  static JournalState* state = new JournalState;  // never destroyed: used until process exit
  return *state;
}

}  // namespace

namespace detail {

uint32_t NextHandle() {
  static std::atomic<uint32_t> next{1};
  uint32_t handle = next.fetch_add(1);
  // Handles stay positive as 32-bit signed numbers (they are printed with %d).
  if (handle >= 0x7FFFFFFFu) std::abort();
  return handle;
}

void Record(Event event) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.events.push_back(std::move(event));
}

User* CurrentUser() { return State().user.load(); }

}  // namespace detail

const std::vector<Event>& Journal() { return State().events; }

void ClearJournal() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.events.clear();
}

void SetUser(User* user) { State().user.store(user); }

int DefaultAnswer(UINT type) {
  static const int kButtons[][3] = {
      {IDOK, 0, 0},                   // MB_OK
      {IDOK, IDCANCEL, 0},            // MB_OKCANCEL
      {IDABORT, IDRETRY, IDIGNORE},   // MB_ABORTRETRYIGNORE
      {IDYES, IDNO, IDCANCEL},        // MB_YESNOCANCEL
      {IDYES, IDNO, 0},               // MB_YESNO
      {IDRETRY, IDCANCEL, 0},         // MB_RETRYCANCEL
  };
  UINT buttons = type & MB_TYPEMASK;
  if (buttons >= sizeof kButtons / sizeof kButtons[0]) return IDOK;
  UINT index = (type & MB_DEFMASK) >> 8;
  if (index > 2 || kButtons[buttons][index] == 0) index = 0;
  return kButtons[buttons][index];
}

void SetTickSource(std::function<DWORD()> source) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.tickSource = std::move(source);
}

}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  tp::MessageBoxEvent box;
  box.owner = tp::detail::HandleValue(owner);
  box.text = text != nullptr ? text : "";
  box.caption = caption != nullptr ? caption : "Error";
  box.type = type;
  tp::User* user = tp::detail::CurrentUser();
  box.answer = user != nullptr ? user->MessageBox(box) : tp::DefaultAnswer(type);
  int answer = box.answer;
  tp::detail::Record(std::move(box));
  return answer;
}

BOOL WINAPI MessageBeep(UINT type) {
  tp::detail::Record(tp::BeepEvent{type});
  return TRUE;
}

BOOL WINAPI WinHelpA(HWND window, LPCSTR helpFile, UINT command, ULONG_PTR data) {
  tp::HelpEvent help;
  help.window = tp::detail::HandleValue(window);
  help.file = helpFile != nullptr ? helpFile : "";
  help.command = command;
  if (command == HELP_KEY) {
    const char* keyword = reinterpret_cast<const char*>(data);
    help.keyword = keyword != nullptr ? keyword : "";
  } else {
    help.data = data;
  }
  tp::detail::Record(std::move(help));
  return TRUE;
}

DWORD WINAPI GetTickCount(void) {
  std::function<DWORD()> source;
  {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    source = s.tickSource;
  }
  if (source) return source();
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // extern "C"
