#include "sequence/mls_dialogs.h"

#include <cstdio>
#include <cstring>

#include "frame/dialogs.h"
#include "frame/format.h"
#include "frame/messages.h"
#include "frame/paramblock.h"
#include "sequence/unfold.h"

void FillMlsOrderCombo(HWND dialog, int id, long entry, int rows) {
  for (int k = 0; k < rows; ++k)
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(MlsEntryTable[k].label));
  const long selected = entry >= 0 && entry < rows ? entry : kDefaultMlsEntry;
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

MlsChoice ReadMlsOrderCombo(HWND dialog, int id, MlsChoice stored, int rows) {
  const LRESULT selected = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  if (selected < 0 || selected >= rows) return stored;
  return {static_cast<SHORT>(selected), static_cast<SHORT>(MlsEntryTable[selected].order)};
}

WORD SetupDeconvolver(HWND parent, HINSTANCE instance, XfmContext* context, const char* tooShortMessage,
                      std::size_t ownerOffset, std::size_t instanceOffset) {
  const WORD result = RunSettingsDialog(parent, instance, context, kSettingsTemplate);
  if (result == 2) {
    ShowError(parent, tooShortMessage, context->caption);
    return 0;
  }
  if (result != 1) return 0;
  BlockLock lock(context->paramHandle);
  if (!lock) return 0;
  const uint32_t owner = HandleToField(parent), module = HandleToField(instance);
  std::memcpy(lock.as<BYTE>() + ownerOffset, &owner, sizeof owner);
  std::memcpy(lock.as<BYTE>() + instanceOffset, &module, sizeof module);
  return 1;
}

void FillDeconvolutionStatistics(HWND dialog, long length, int channels, long sampleRate, int cycles,
                                 long elapsedMs, double rescaledFrom) {
  char text[64];
  std::snprintf(text, sizeof text, "%li", length);
  SetDlgItemTextA(dialog, 1026, text);
  std::snprintf(text, sizeof text, "%i", channels);
  SetDlgItemTextA(dialog, 1028, text);
  std::snprintf(text, sizeof text, "%li", sampleRate);
  SetDlgItemTextA(dialog, 1027, text);
  std::snprintf(text, sizeof text, "%i", cycles);
  SetDlgItemTextA(dialog, 1029, text);
  SetDlgItemTextA(dialog, 1030, FormatElapsed(elapsedMs).c_str());
  SetDlgItemTextA(dialog, 1032, ("Rescaled from: " + FormatResultNumber(rescaledFrom)).c_str());
}

void SumsToFloats(int32_t* cells, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i <= last; ++i) {
    const float f = static_cast<float>(cells[i]);
    std::memcpy(cells + i, &f, sizeof f);
  }
}
