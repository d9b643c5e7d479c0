// Texts the modules share.
#pragma once

#include <string>

#include "platform/win.h"

inline constexpr char kHelpFile[] = "tovrel96.hlp";
inline constexpr char kGenerationMemoryMessage[] = "Not enough memory,\ngeneration aborted.";
inline constexpr char kDeconvolutionMemoryMessage[] =
    "The system cannot allocate enough memory\nto perform deconvolution.\n\n"
    "Retry after closing some windows or\nwith a lower  MLS order.";
// The convolvers' texts.
inline constexpr char kDocumentBitsMessage[] = "Audio Data must be 16-bit.";
inline constexpr char kConvolutionMemoryMessage[] =
    "The system cannot allocate enough memory\nto perform convolution.\n\n"
    "Retry after closing some windows or\nwith a shorter impulse response.";
inline constexpr char kTempFileMessage[] = "Error creating, reading or writing temporary file.";
inline constexpr char kFileErrorCaption[] = "File Error";
inline constexpr char kDocumentWriteMessage[] = "The result could not be written into the document.";
inline constexpr char kClipboardBusyMessage[] =
    "Can not access Clipboard Data.\nAnother application or window\nhas the Clipboard opened.";

// An error box with the error icon.
inline int ShowError(HWND owner, const char* text, const char* caption) {
  return MessageBoxA(owner, text, caption, MB_OK | MB_ICONERROR);
}

// The message for a parameter block whose stored setting (an "MLS order", say) is not
// one the module offers: "The stored <setting> is not valid.\nChoose the <setting> again
// in the settings dialog."
inline std::string InvalidStoredSettingMessage(const char* setting) {
  const std::string what = setting;
  return "The stored " + what + " is not valid.\nChoose the " + what + " again in the settings dialog.";
}
inline int ShowInvalidStoredSetting(HWND owner, const char* setting, const char* caption) {
  return ShowError(owner, InvalidStoredSettingMessage(setting).c_str(), caption);
}
