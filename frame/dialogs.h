// The settings and result dialogs every module shares: the state text in hidden
// control 1033, batch-mode confirmation, Help, and the common message flow.
#pragma once

#include <cstdint>
#include <string>

#include <span>

#include "frame/edits.h"
#include "frame/paramblock.h"
#include "frame/xfm.h"

inline constexpr int kStateControl = 1033;
inline constexpr int kHelpButton = 3;
inline constexpr int kSettingsTemplate = 100;
inline constexpr int kResultTemplate = 107;
inline constexpr int kSettingsProcOrdinal = 100;
inline constexpr int kResultProcOrdinal = 101;

// Sent by our hosts (never by the editor) to an open settings dialog: wParam a control
// id, lParam a buffer of kFieldTextBytes characters that receives what values the edit
// may hold (DescribeField), or stays as it was for a control the module does not list.
inline constexpr UINT kDescribeFieldMessage = WM_APP + 0x3A1;
inline constexpr std::size_t kFieldTextBytes = 2048;
// Sent by our hosts to an open settings dialog before anything is changed in it: lParam a
// buffer of kFieldTextBytes characters that receives the refusal of the first listed
// edit, enabled, whose text its field cannot hold ("<name> must be <range>."), or stays
// as it was when every one holds. The host checks so the settings of a stored block.
inline constexpr UINT kCheckFieldsMessage = WM_APP + 0x3A2;

// Batch mode: a batch index is set and dialogs are not to be shown.
inline bool IsBatchMode(const XfmContext* context) {
  return context->batchIndex != -1 && context->batchShowDialogs == 0;
}

// "%ld,%d,%ld": address of the locked block, the block's handle, address of the context.
struct DialogStateText {
  uintptr_t block = 0;
  uintptr_t handle = 0;
  uintptr_t context = 0;
};
std::string FormatDialogState(const void* block, HGLOBAL handle, const XfmContext* context);
// Three unsigned decimal numbers separated by commas; an empty or short text gives zeros.
DialogStateText ParseDialogState(const char* text);
void WriteDialogState(HWND dialog, const void* block, HGLOBAL handle, const XfmContext* context,
                      int control = kStateControl);
DialogStateText ReadDialogState(HWND dialog, int control = kStateControl);

// WinHelp on the shared help file at the module's keyword.
void ShowHelp(HWND dialog, const char* keyword);

// Posts IDOK at once in batch mode.
void ConfirmIfBatch(HWND dialog, const XfmContext* context);

// What a module adds to the common settings dialog.
struct SettingsDialog {
  const char* helpKeyword;
  int helpButton;  // 3, or 4 where the module's template says so
  // WM_INITDIALOG, after the state text and dialogInit: fill the controls from the block.
  void (*fill)(HWND dialog, void* block, XfmContext* context);
  // IDOK: read the controls into the block. Returns the dialog result (1 run, 2 the
  // selection is too short, 0 do not run), or -1 to keep the dialog open.
  INT_PTR (*confirm)(HWND dialog, void* block, XfmContext* context);
  // Other commands (may be null); returns TRUE when handled.
  BOOL (*command)(HWND dialog, int id, int code, void* block, XfmContext* context);
  // The hidden static that carries the state text (1033 unless the template says otherwise).
  int stateControl = kStateControl;
  // The edits and the values they may hold, for the host's description.
  std::span<const EditField> fields{};
  // What another control means (a list's items, say), or empty; may be null.
  std::string (*describe)(int id) = nullptr;
};

// The common settings dialog procedure; a module's DIALOGMsgProc forwards to it.
INT_PTR SettingsDialogProc(const SettingsDialog& hooks, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// DialogBoxParam on the module's own template with the procedure fetched from the
// module by ordinal (or by name when procName is given); the result as 16 bits,
// 0 when the procedure cannot be found or the dialog cannot be created.
WORD RunSettingsDialog(HWND parent, HINSTANCE instance, XfmContext* context, int templateId,
                       const char* procName = nullptr);

// The settings dialog of a module whose confirm may answer "selection too short" (end
// code 2): true for end code 1; end code 2 shows `tooShortMessage` under `caption` and
// gives false, as do the others.
bool RunSettingsOrTooShort(HWND parent, HINSTANCE instance, XfmContext* context, const char* tooShortMessage,
                           const char* caption);

// XfmSetup of a module that keeps its owner: the settings dialog, and once it says run,
// the parent window and the module instance in the block's ownerWindow and
// moduleInstance fields; the dialog's end code, 0 when it did not say run.
template <class Block>
WORD SetupStoringWindow(HWND parent, HINSTANCE instance, XfmContext* context) {
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplate);
  if (result == 0) return 0;
  return WithBlock<Block>(context, [&](Block& block) {
    block.ownerWindow = HandleToField(parent);
    block.moduleInstance = HandleToField(instance);
  }) ? result : 0;
}

// The same for a module that needs a long enough selection (a deconvolver, say): end
// code 2 shows the "too short" box (under the host's caption unless given) and gives 0;
// a confirmed dialog gives 1.
template <class Block>
WORD SetupDeconvolver(HWND parent, HINSTANCE instance, XfmContext* context, const char* tooShortMessage,
                      const char* caption = nullptr) {
  if (!RunSettingsOrTooShort(parent, instance, context, tooShortMessage, caption ? caption : context->caption))
    return 0;
  return WithBlock<Block>(context, [&](Block& block) {
    block.ownerWindow = HandleToField(parent);
    block.moduleInstance = HandleToField(instance);
  }) ? 1 : 0;
}

// What a generator's confirmed settings tell the host: the selection it replaces (kept
// in the block, to return unchanged when the run fails) and the frames it will write.
template <class Block>
INT_PTR ConfirmGeneratorLength(Block& block, XfmContext* context, long frames) {
  block.selectionLength = context->selEnd - context->selStart + 1;
  context->outputLengthSet = 1;
  context->outputLength = static_cast<LONG>(frames);
  return 1;
}

// What a module adds to the common result dialog.
struct ResultDialog {
  // WM_INITDIALOG: fill the static fields from the stored results (block locked meanwhile).
  void (*fill)(HWND dialog, void* block, XfmContext* context);
  // Other commands (may be null); returns TRUE when handled.
  BOOL (*command)(HWND dialog, int id, int code);
};
INT_PTR ResultDialogProc(const ResultDialog& hooks, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the result dialog (template 107 unless given) with the procedure at ordinal 101.
INT_PTR ShowResultDialog(HWND owner, HINSTANCE instance, XfmContext* context, int templateId = kResultTemplate);

// The two dialog procedures a module exports, forwarding to the common ones with the
// module's hooks.
#define TOVREL_DIALOG_PROCEDURES(settingsHooks, resultHooks)                                  \
  INT_PTR CALLBACK DIALOGMsgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {  \
    return SettingsDialogProc(settingsHooks, dialog, message, wParam, lParam);                \
  }                                                                                           \
  INT_PTR CALLBACK DIALOGMsgProc2(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) { \
    return ResultDialogProc(resultHooks, dialog, message, wParam, lParam);                    \
  }
