#include "frame/dialogs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/messages.h"

std::string FormatDialogState(const void* block, HGLOBAL handle, const XfmContext* context) {
  char text[96];
  std::snprintf(text, sizeof text, "%ld,%d,%ld", static_cast<long>(reinterpret_cast<intptr_t>(block)),
                static_cast<int>(reinterpret_cast<intptr_t>(handle)),
                static_cast<long>(reinterpret_cast<intptr_t>(context)));
  return text;
}

DialogStateText ParseDialogState(const char* text) {
  // strtoul takes a leading minus as the unsigned wrap-around, which restores an
  // address that "%ld" printed as negative on the 32-bit target.
  DialogStateText state;
  uintptr_t* fields[3] = {&state.block, &state.handle, &state.context};
  const char* p = text;
  for (int i = 0; i < 3 && p && *p; ++i) {
    char* end = nullptr;
    unsigned long value = std::strtoul(p, &end, 10);
    if (end == p) break;
    *fields[i] = static_cast<uintptr_t>(value);
    p = (*end == ',') ? end + 1 : nullptr;
  }
  if (sizeof(unsigned long) < sizeof(uintptr_t)) {
    // Keep a handle printed with %d within its 32 bits.
    state.handle &= 0xffffffffu;
  }
  return state;
}

void WriteDialogState(HWND dialog, const void* block, HGLOBAL handle, const XfmContext* context, int control) {
  SetDlgItemTextA(dialog, control, FormatDialogState(block, handle, context).c_str());
}

DialogStateText ReadDialogState(HWND dialog, int control) {
  char text[96] = {0};
  GetDlgItemTextA(dialog, control, text, sizeof text);
  return ParseDialogState(text);
}

void ShowHelp(HWND dialog, const char* keyword) {
  WinHelpA(dialog, kHelpFile, HELP_KEY, reinterpret_cast<ULONG_PTR>(keyword));
}

void ConfirmIfBatch(HWND dialog, const XfmContext* context) {
  if (IsBatchMode(context)) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

namespace {

void EndSettings(HWND dialog, const DialogStateText& state, INT_PTR result, int control) {
  HGLOBAL handle = reinterpret_cast<HGLOBAL>(state.handle);
  if (handle && state.block) GlobalUnlock(handle);
  // The state is gone with the lock: a late command finds zeros and is ignored.
  SetDlgItemTextA(dialog, control, "");
  EndDialog(dialog, result);
}

}  // namespace

INT_PTR SettingsDialogProc(const SettingsDialog& hooks, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* context = reinterpret_cast<XfmContext*>(lParam);
      void* block = context ? GlobalLock(context->paramHandle) : nullptr;
      if (!block) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      WriteDialogState(dialog, block, context->paramHandle, context, hooks.stateControl);
      if (context->dialogInit) context->dialogInit(dialog, 0);
      if (hooks.fill) hooks.fill(dialog, block, context);
      ConfirmIfBatch(dialog, context);
      return TRUE;
    }
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return TRUE;
    case kDescribeFieldMessage: {
      auto* text = reinterpret_cast<char*>(lParam);
      const int id = static_cast<int>(wParam);
      std::string described = hooks.describe ? hooks.describe(id) : std::string();
      for (const EditField& field : hooks.fields)
        if (field.id == id) described = DescribeField(field);
      if (text && !described.empty()) {
        std::strncpy(text, described.c_str(), kFieldTextBytes - 1);
        text[kFieldTextBytes - 1] = '\0';
      }
      return TRUE;
    }
    case kCheckFieldsMessage: {
      auto* text = reinterpret_cast<char*>(lParam);
      for (const EditField& field : hooks.fields) {
        HWND edit = GetDlgItem(dialog, field.id);
        if (!text || !edit || !IsWindowEnabled(edit)) continue;
        if (FieldHolds(dialog, field)) continue;
        std::strncpy(text, FieldRefusal(field, field.lo, field.hi).c_str(), kFieldTextBytes - 1);
        text[kFieldTextBytes - 1] = '\0';
        break;
      }
      return TRUE;
    }
    case WM_COMMAND: {
      DialogStateText state = ReadDialogState(dialog, hooks.stateControl);
      auto* block = reinterpret_cast<void*>(state.block);
      auto* context = reinterpret_cast<XfmContext*>(state.context);
      if (!block || !context) return TRUE;  // the dialog has ended already
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (id == IDOK) {
        INT_PTR result = hooks.confirm ? hooks.confirm(dialog, block, context) : 1;
        if (result >= 0) EndSettings(dialog, state, result, hooks.stateControl);
      } else if (id == IDCANCEL) {
        EndSettings(dialog, state, 0, hooks.stateControl);
      } else if (id == hooks.helpButton) {
        ShowHelp(dialog, hooks.helpKeyword);
      } else if (hooks.command) {
        hooks.command(dialog, id, code, block, context);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

WORD RunSettingsDialog(HWND parent, HINSTANCE instance, XfmContext* context, int templateId, const char* procName) {
  FARPROC proc = GetProcAddress(instance, procName ? procName : MAKEINTRESOURCEA(kSettingsProcOrdinal));
  if (!proc) return 0;
  INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), parent, ExportCast<DLGPROC>(proc),
                                   reinterpret_cast<LPARAM>(context));
  if (result < 0) return 0;
  return static_cast<WORD>(result);
}

INT_PTR ResultDialogProc(const ResultDialog& hooks, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* context = reinterpret_cast<XfmContext*>(lParam);
      if (context) {
        void* block = GlobalLock(context->paramHandle);
        if (block) {
          if (hooks.fill) hooks.fill(dialog, block, context);
          GlobalUnlock(context->paramHandle);
        }
        ConfirmIfBatch(dialog, context);
      }
      return TRUE;
    }
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (hooks.command) return hooks.command(dialog, LOWORD(wParam), HIWORD(wParam));
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR ShowResultDialog(HWND owner, HINSTANCE instance, XfmContext* context, int templateId) {
  FARPROC proc = GetProcAddress(instance, MAKEINTRESOURCEA(kResultProcOrdinal));
  if (!proc) return 0;
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, ExportCast<DLGPROC>(proc),
                         reinterpret_cast<LPARAM>(context));
}

bool RunSettingsOrTooShort(HWND parent, HINSTANCE instance, XfmContext* context, const char* tooShortMessage,
                           const char* caption) {
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplate);
  if (result == 2) ShowError(parent, tooShortMessage, caption);
  return result == 1;
}
