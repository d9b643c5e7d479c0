// The user the host puts in front of the dialogs: sets controls by their labels,
// presses buttons, chooses tabs and files, confirms, and answers questions from options
// or the terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/snapshot.h"
#include "platform/portable/faces.h"

namespace tovrel::host {

// A label as a user types it: "&" mnemonics, a trailing ":" and surrounding blanks
// dropped, lower case.
std::string NormalizeLabel(const std::string& text);

// The label a person reads for each control: its own text for buttons, the text of
// the nearest static before it for edits and lists (as Windows assigns mnemonics).
std::string ControlLabel(const portable::DialogState& dialog, std::size_t index);

// The value a person reads: edit text, selected item, "on"/"off", a static's text.
std::string ControlValue(const portable::ControlState& control);

// Finds the control a user names (label or numeric id) in one dialog. Returns its
// index, -1 when the dialog has no such control, -2 when the name matches several
// (the candidates are then listed in error).
int FindControl(const portable::DialogState& dialog, const std::string& name, std::string& error);

// The texts of a dialog's visible statics as a person reads them: one line per row of
// the layout, left to right ("Length: 32767 Samples").
std::vector<std::string> DialogTextLines(const portable::DialogState& dialog);

// Labels of the controls a user can set or press in a dialog, for error messages.
std::string DescribeSettableControls(const portable::DialogState& dialog);

struct ControlSetting {
  std::string control;
  std::string value;
};

// One step of a user's script, applied in the order given: set a control, press a
// button, choose a tab of the dialog's tab control, or name the file the next file
// dialog opens.
struct UserAction {
  enum class Kind { Set, Press, Tab, OpenFile };
  Kind kind = Kind::Set;
  std::string control;  // Set, Press: the control's label or id
  std::string value;    // Set: the value; Tab: the tab's name or #index; OpenFile: the path
};

class ScriptedUser : public portable::User {
 public:
  // Settings first, then presses.
  ScriptedUser(std::vector<ControlSetting> sets, std::vector<std::string> presses, std::optional<bool> answer,
               bool interactive, bool printMessages);
  // Each dialog takes the actions that name its controls, in their order. An action that
  // brings up an error or warning message ends the dialog with Cancel.
  ScriptedUser(std::vector<UserAction> actions, std::optional<bool> answer, bool interactive, bool printMessages);

  void DialogIdle(HWND dialog, int round) override;
  int MessageBox(const portable::MessageBoxEvent& box) override;
  std::optional<std::string> OpenFileName(const portable::FileDialogEvent& dialog) override;

  // Pictures to take of the first dialog's display windows, once its settings and
  // presses are done, before it is confirmed. A failed one is a usage error.
  void SetSnapshots(std::vector<Snapshot> snapshots) { snapshots_ = std::move(snapshots); }
  // In the first dialog, once its settings and presses are done: press "Preview", let the
  // dialog play for this long (less when the preview ends by itself), press "Stop".
  void SetPreview(double seconds) { previewSeconds_ = seconds; }

  // Before anything else, the first settings dialog is asked whether its edits hold
  // values of their ranges (the settings of a stored block); one that does not is
  // cancelled at once, and storedRefusal() says why.
  void CheckStoredFields() { checkStored_ = true; }
  const std::string& storedRefusal() const { return storedRefusal_; }

  // A value that a dialog does not offer, found while the dialog was open.
  const std::string& usageError() const { return usageError_; }
  // Settings and presses that no dialog of the run had.
  std::vector<std::string> Unused() const;
  // The settings dialog did not accept OK and was cancelled by us.
  bool refusedToClose() const { return refusedToClose_; }
  // The texts the run's result dialogs handed over through their "Copy to Clipboard"
  // button. The user presses it in every dialog that has one; unless asked to press it
  // (--press), the clipboard is then put back as it was.
  const std::vector<std::string>& resultTexts() const { return resultTexts_; }

 private:
  bool Apply(HWND dialog, const portable::DialogState& state, int index, const std::string& value);
  // Presses the dialog's copy button and takes the text it placed; false when the press
  // ended the dialog.
  bool CopyResultText(HWND dialog, int id, bool keepOnClipboard);
  // The preview of SetPreview; false when the dialog ended meanwhile or has no preview.
  bool Preview(HWND dialog, const portable::DialogState& state);

  // Applies one action in the dialog; false when it does not concern this dialog.
  bool Act(HWND dialog, portable::DialogState& state, const UserAction& action);

  std::vector<UserAction> actions_;
  std::vector<bool> done_;
  std::vector<std::string> files_;  // answers of the next file dialogs
  int alarms_ = 0;                  // error and warning messages shown so far
  bool copied_ = false;             // a result text was handed over in this dialog
  std::optional<bool> answer_;
  bool interactive_;
  bool printMessages_;
  std::string usageError_;
  double previewSeconds_ = 0;
  bool refusedToClose_ = false;
  bool checkStored_ = false;
  std::string storedRefusal_;
  std::vector<std::string> resultTexts_;
  std::vector<Snapshot> snapshots_;
};

}  // namespace tovrel::host
