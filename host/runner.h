// Runs one command of a module on a document as the host does: QueryXfm (at load),
// XfmInit or the stored block, XfmSetup, XfmDo, XfmDestroy, and reports what happened.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/core/document.h"
#include "host/core/json.h"
#include "host/modules.h"
#include "host/state.h"
#include "host/user.h"
#include "platform/portable/faces.h"

namespace tovrel::host {

struct RunOptions {
  std::vector<UserAction> actions;      // --set, --press, --tab, --open-file in the order given
  std::vector<ControlSetting> sets;     // settings after the actions
  std::vector<std::string> presses;     // presses after those
  std::optional<bool> answer;           // --yes / --no
  std::vector<Snapshot> snapshots;      // --snapshot VIEW=FILE, of the settings dialog
  double previewSeconds = 0;            // --preview: how long the settings dialog plays its preview
  bool batch = false;                   // the host's batch mode
  bool interactive = false;             // questions may be asked on the terminal
  bool printMessages = false;           // message boxes printed on stderr as they appear
  bool showProgress = false;            // progress bar on stderr
  bool keepBlock = true;                // store the parameter block for the next run
  bool storeBlock = true;               // with keepBlock: store it (false: only read the stored one)
  bool handleInterrupt = false;         // Ctrl-C cancels the run
  // For tests: faults armed just before XfmDo, and a cancel at the k-th progress report.
  std::optional<portable::Faults> faultsDuringRun;
  long cancelAtReport = 0;
};

enum class RunStatus { Completed, Failed, Cancelled, UsageError };

struct DocumentSummary {
  long sampleRate = 0;
  int channels = 0;
  long frames = 0;
  long selStart = 0;
  long selEnd = -1;
};
DocumentSummary Summarize(const Document& doc);

struct RunReport {
  RunStatus status = RunStatus::Failed;
  std::string message;  // one line saying what went wrong (or what was done)
  bool messageFromBox = false;  // the message is a message box's, which the user was shown
  WORD queryResult = 0;
  std::optional<BOOL> initResult;  // absent when the stored block was used
  std::optional<WORD> setupResult;
  std::optional<LONG> doResult;
  std::optional<BOOL> destroyResult;
  DocumentSummary before, after;
  bool documentChanged = false;
  std::vector<portable::Event> journal;
  std::vector<portable::ClipboardItem> clipboard;
  std::vector<std::string> statusTexts;
  std::vector<std::string> resultTexts;  // handed on by result dialogs ("Copy to Clipboard")
  long progressReports = 0;
  std::vector<uint8_t> block;  // the parameter block after the run
  std::vector<std::string> notices;  // stored state that was not used, and why
};

// The actions of a run's user: its actions, then its settings, then its presses.
std::vector<UserAction> UserActions(const RunOptions& options);

// Checks the --set and --press names against the module's dialog templates before a
// run, and that a dialog has tabs for --tab: an unknown or ambiguous name is a usage
// error naming the candidates.
// Other dialogs a run may show (a file filter's options dialog on saving, say) can be given.
bool CheckControlNames(const Module& module, const RunOptions& options, std::string& error,
                       const std::vector<const Module*>& alsoShown = {});

RunReport RunCommand(const Module& module, Document& doc, const RunOptions& options, const StateStore& store);

int ExitCode(RunStatus status);

// The report as the --json object.
Json ReportJson(const Module& module, const RunReport& report);
// The dialog's controls; `notes` adds what each may hold ("range") where the module says.
Json DialogJson(const portable::DialogState& dialog, const std::map<int, std::string>& notes = {});
Json ClipboardJson(const std::vector<portable::ClipboardItem>& items);
Json DocumentJson(const DocumentSummary& doc);
Json DescriptorJson(const Module& module);

}  // namespace tovrel::host

namespace tovrel::host {

// The settings as a user would find them now: the parameter block (stored, or the
// module's defaults) and the settings dialog opened on a document and cancelled.
struct SettingsView {
  std::vector<uint8_t> block;
  bool fromStore = false;
  std::optional<portable::DialogState> dialog;  // absent when the module shows none here
  // What each control of the dialog may hold, by id, as the module describes it: the
  // numbers an edit takes, with their unit, or what a list's items mean.
  std::map<int, std::string> controlNotes;
};
SettingsView PeekSettings(const Module& module, Document& doc, const StateStore& store);

// The fields of a parameter block decoded by its type string.
Json BlockJson(const std::string& typeString, const std::vector<uint8_t>& block);

}  // namespace tovrel::host
