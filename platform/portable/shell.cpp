// The thread's last error, the system folder, the Windows folder's files, the file
// dialog (answered by the user) and the common controls' set-up.

#include <cctype>
#include <cstring>
#include <mutex>

#include "platform/portable/internal.h"

namespace tovrel::portable {
namespace {

constexpr char kWindowsPrefix[] = "C:\\WINDOWS\\";
constexpr char kSystemFolder[] = "C:\\WINDOWS\\SYSTEM";

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local DWORD t_dialogError = 0;

struct ShellState {
  std::mutex mutex;
  std::string windowsFolder;
};

ShellState& State() {
  static ShellState* state = new ShellState;  // never destroyed: used until process exit
  return *state;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (std::size_t k = 0; k < n; ++k)
    if (std::toupper(static_cast<unsigned char>(text[k])) != std::toupper(static_cast<unsigned char>(prefix[k])))
      return false;
  return true;
}

// The strings of a double-zero-terminated filter list.
std::vector<std::string> FilterStrings(const char* list) {
  std::vector<std::string> out;
  while (list != nullptr && *list != 0) {
    out.emplace_back(list);
    list += out.back().size() + 1;
  }
  return out;
}

}  // namespace

void SetWindowsFolder(const std::string& folder) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.windowsFolder = folder;
}

std::string RealFileName(const std::string& name) {
  if (!StartsWithNoCase(name, kWindowsPrefix)) return name;
  std::string folder;
  {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    folder = s.windowsFolder;
  }
  // Without a Windows folder the name stands for nothing that can be opened.
  if (folder.empty()) return std::string();
  std::string rest = name.substr(std::strlen(kWindowsPrefix));
  for (char& c : rest)
    if (c == '\\') c = '/';
  return folder + "/" + rest;
}

}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

DWORD WINAPI GetLastError(void) { return tp::t_lastError; }

void WINAPI SetLastError(DWORD error) { tp::t_lastError = error; }

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  const UINT length = static_cast<UINT>(std::strlen(tp::kSystemFolder));
  // As Windows: the size needed (with its terminating zero) when the buffer is too small.
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, tp::kSystemFolder, length + 1);
  return length;
}

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA dialog) {
  tp::t_dialogError = 0;
  if (dialog == nullptr || dialog->lpstrFile == nullptr || dialog->nMaxFile == 0) return FALSE;
  tp::FileDialogEvent event;
  event.owner = tp::detail::HandleValue(dialog->hwndOwner);
  event.title = dialog->lpstrTitle != nullptr ? dialog->lpstrTitle : "Open";
  event.filters = tp::FilterStrings(dialog->lpstrFilter);
  event.filterIndex = dialog->nFilterIndex;
  event.fileName.assign(dialog->lpstrFile, strnlen(dialog->lpstrFile, dialog->nMaxFile));
  event.initialDirectory = dialog->lpstrInitialDir != nullptr ? dialog->lpstrInitialDir : "";
  event.flags = dialog->Flags;
  tp::User* user = tp::detail::CurrentUser();
  std::optional<std::string> chosen = user != nullptr ? user->OpenFileName(event) : std::nullopt;
  if (chosen && chosen->size() + 1 > dialog->nMaxFile) {
    tp::t_dialogError = FNERR_BUFFERTOOSMALL;
    chosen.reset();
  }
  if (chosen) event.chosen = *chosen;
  tp::detail::Record(event);
  if (!chosen || chosen->empty()) return FALSE;
  std::memcpy(dialog->lpstrFile, chosen->c_str(), chosen->size() + 1);
  const std::size_t slash = chosen->find_last_of("/\\");
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = chosen->find('.', name);
  dialog->nFileOffset = static_cast<WORD>(name);
  dialog->nFileExtension = static_cast<WORD>(dot == std::string::npos ? chosen->size() : dot + 1);
  if (dialog->lpstrFileTitle != nullptr && dialog->nMaxFileTitle > 0) {
    const std::string title = chosen->substr(name).substr(0, dialog->nMaxFileTitle - 1);
    std::memcpy(dialog->lpstrFileTitle, title.c_str(), title.size() + 1);
  }
  return TRUE;
}

DWORD WINAPI CommDlgExtendedError(void) { return tp::t_dialogError; }

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* classes) { return classes != nullptr ? TRUE : FALSE; }

}  // extern "C"
