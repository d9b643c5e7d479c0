// A module for the platform tests: exports by name and ordinal, and dialog
// procedures that follow the plug-in conventions (close box posts Cancel, Help stays).
#include "platform/win.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT int QueryXfm(void*) { return 0x480; }

TEST_EXPORT INT_PTR CALLBACK DIALOGMsgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemInt(dialog, 1033, static_cast<UINT>(lParam), TRUE);
      if (lParam < 0) PostMessageA(dialog, WM_COMMAND, IDOK, 0);  // batch style
      return TRUE;
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: EndDialog(dialog, 1); break;
        case IDCANCEL: EndDialog(dialog, 0); break;
        case 3: WinHelpA(dialog, "tovrel96.hlp", HELP_KEY, reinterpret_cast<ULONG_PTR>("Test Module")); break;
        default: break;
      }
      return TRUE;
    default:
      return FALSE;
  }
}

TEST_EXPORT INT_PTR CALLBACK DIALOGMsgProc2(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  if (msg == WM_CLOSE) {
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  return FALSE;
}
