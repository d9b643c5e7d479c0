// What the harness sees of a module while it runs: its dialogs (filled, their labels
// measured, scripted and confirmed through a WH_CALLWNDPROCRET hook), the message boxes it
// shows (real boxes, answered through the same hook), its help calls and beeps (taken from
// its import table).
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace harness {

enum class Finish { Default, Ok, Cancel, Close, None };

// One step of a dialog's script: press a button, or let the dialog run for a while and
// then record its controls (a wait).
struct ScriptStep {
  int press = 0;
  UINT waitMs = 0;
};

// What to do with the n-th dialog a module opens.
struct DialogScript {
  std::vector<std::pair<std::string, std::string>> sets;  // control (label or id) and value
  std::vector<ScriptStep> steps;                           // presses and waits, in order
  Finish finish = Finish::Default;                         // Ok, or None in batch mode
};

struct ControlState {
  int id = 0;
  std::string cls;
  std::string text;
  bool visible = false;
  bool enabled = false;
  int checked = -1;   // check boxes and radio buttons
  int selected = -1;  // combo and list boxes
  std::vector<std::string> items;
};

struct DialogRecord {
  std::string caption;
  std::vector<ControlState> controls;  // as the module filled them
  std::vector<std::vector<ControlState>> afterWaits;  // as they stood at the end of each wait
  std::vector<std::string> errors;     // settings that could not be applied
  std::vector<std::string> clipped;    // labels that do not fit their controls as filled
  bool timedOut = false;
};

struct MessageBoxRecord {
  std::string caption;
  std::string text;
  UINT type = 0;
  bool owned = false;
  bool shown = false;  // the real box appeared
  int answer = 0;
};

struct HelpRecord {
  std::string file;
  UINT command = 0;
  std::string key;  // for HELP_KEY
  ULONG_PTR data = 0;
};

struct Watch {
  // Set before the run.
  std::vector<DialogScript> scripts;
  std::vector<int> answers;  // message box answers in order; the last one repeats; none: default button
  bool batch = false;
  UINT dialogTimeoutMs = 15000;

  // Filled during the run.
  std::vector<DialogRecord> dialogs;
  std::vector<std::string> systemDialogs;
  std::vector<MessageBoxRecord> boxes;
  std::vector<HelpRecord> help;
  std::vector<UINT> beeps;
  std::vector<std::string> errors;
};

Watch& TheWatch();

// Patches the module's imports of MessageBoxA, WinHelpA and MessageBeep and installs the
// dialog hook on this thread. Returns false (with the reason in errors) if that failed.
bool StartWatching(HMODULE module);
void StopWatching();

// Snapshot of every child control of a dialog.
std::vector<ControlState> SnapshotControls(HWND dialog);

}  // namespace harness
