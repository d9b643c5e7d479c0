// The harness's dialog-fit mode: every dialog template of a module DLL created as it
// comes from its resources, each label measured in the dialog's own font against the
// control that shows it, and a picture of the dialog saved beside the report.
#pragma once

#include <windows.h>

namespace harness {

// A control's text measured against the room the control gives it, in pixels.
struct LabelFit {
  bool measured = false;  // a static or button with a text that it draws itself
  SIZE available{};
  SIZE needed{};
  bool Fits() const { return !measured || (needed.cx <= available.cx && needed.cy <= available.cy); }
};
LabelFit MeasureLabel(HWND control);

// True when the options ask for the fit mode (--fit-dialogs DIR).
bool IsFitRun(int argc, char** argv);

// Runs the fit mode; the process exit code.
int RunFit(int argc, char** argv);

}  // namespace harness
