// tovrel run: one command on a document, as the host runs it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/commands.h"
#include "cli/documents.h"
#include "cli/run_output.h"
#include "frame/dialogs.h"
#include "host/interrupt.h"
#include "host/runner.h"
#include "host/safefile.h"

namespace tovrel::cli {

namespace {

bool SameClipboard(const std::vector<portable::ClipboardItem>& a, const std::vector<portable::ClipboardItem>& b) {
  if (a.size() != b.size()) return false;
  for (const auto& item : a)
    if (std::none_of(b.begin(), b.end(),
                     [&](const auto& other) { return other.format == item.format && other.bytes == item.bytes; }))
      return false;
  return true;
}

struct RunArgs {
  std::string command;
  std::string document;
  std::string newDocument;
  std::string output;
  std::string saveClip;
  std::string selection;
  std::string device;
  double preview = 0;
  std::vector<std::string> sets;
  std::vector<std::string> presses;
  std::vector<std::string> snapshots;
  std::vector<std::string> tabs;
  std::vector<std::string> openFiles;
  // The options that script the user, and the subcommand that saw them in order.
  CLI::App* subcommand = nullptr;
  const CLI::Option* setOption = nullptr;
  const CLI::Option* pressOption = nullptr;
  const CLI::Option* tabOption = nullptr;
  const CLI::Option* openFileOption = nullptr;
  bool yes = false;
  bool no = false;
  bool batch = false;
  bool json = false;
  bool defaults = false;
};

// The settings a run confirmed, as its settings dialog showed them at the end: the value
// of each edit, list, check box and radio button by label ("MLS Order=15 B").
std::vector<std::pair<std::string, std::string>> ConfirmedSettings(const host::RunReport& report) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& e : report.journal) {
    const auto* d = std::get_if<portable::DialogEvent>(&e);
    if (!d) continue;
    for (std::size_t k = 0; k < d->final.controls.size(); ++k) {
      const auto& c = d->final.controls[k];
      const bool value = c.kind == portable::ControlKind::Edit || c.kind == portable::ControlKind::ComboBox ||
                         c.kind == portable::ControlKind::CheckBox || c.kind == portable::ControlKind::RadioButton;
      if (!value || !c.visible || c.id == kStateControl) continue;
      std::string label;
      for (char ch : host::ControlLabel(d->final, k))
        if (ch != '&') label += ch;
      if (!label.empty() && label.back() == ':') label.pop_back();
      out.emplace_back(label.empty() ? std::to_string(c.id) : label, host::ControlValue(c));
    }
    break;  // the settings dialog is the first
  }
  return out;
}

int RunMain(App& app, const RunArgs& a) {
  // Ctrl-C or SIGTERM from here on cancels the run: nothing is written, the exit status is 1.
  host::CancellableWork cancellable;
  if (!UseDevice(a.device)) return kExitUsage;
  app.LoadModules();
  std::string error;
  const host::Module* module = host::FindCommand(app.modules, a.command, error);
  if (!module) {
    Fail(error);
    return kExitUsage;
  }
  if (a.document.empty() == a.newDocument.empty()) {
    Fail(a.document.empty() ? "name a DOCUMENT to open, or --new RATE[:CHANNELS] for an empty one"
                            : "give either a DOCUMENT or --new, not both");
    return kExitUsage;
  }
  host::RunOptions options;
  // --set, --press, --tab and --open-file act in the order given, as a user's clicks.
  std::map<const CLI::Option*, std::size_t> seen;
  for (const CLI::Option* o : a.subcommand->parse_order()) {
    const std::size_t k = seen[o]++;
    using Kind = host::UserAction::Kind;
    if (o == a.setOption && k < a.sets.size()) {
      const std::string& s = a.sets[k];
      auto eq = s.find('=');
      if (eq == std::string::npos) {
        Fail("--set takes CONTROL=VALUE, not \"" + s + "\"");
        return kExitUsage;
      }
      options.actions.push_back({Kind::Set, s.substr(0, eq), s.substr(eq + 1)});
    } else if (o == a.pressOption && k < a.presses.size()) {
      options.actions.push_back({Kind::Press, a.presses[k], ""});
    } else if (o == a.tabOption && k < a.tabs.size()) {
      options.actions.push_back({Kind::Tab, "", a.tabs[k]});
    } else if (o == a.openFileOption && k < a.openFiles.size()) {
      options.actions.push_back({Kind::OpenFile, "", a.openFiles[k]});
    }
  }
  if (a.preview != 0 && !(a.preview > 0 && a.preview <= 86400)) {
    Fail("--preview takes a number of seconds above 0 (at most a day)");
    return kExitUsage;
  }
  options.previewSeconds = a.preview;
  for (const auto& s : a.snapshots) {
    host::Snapshot snapshot;
    if (!host::ParseSnapshot(s, snapshot, error)) {
      Fail(error);
      return kExitUsage;
    }
    options.snapshots.push_back(snapshot);
  }
  if (a.yes && a.no) {
    Fail("--yes and --no exclude each other");
    return kExitUsage;
  }
  if (a.yes) options.answer = true;
  if (a.no) options.answer = false;
  options.batch = a.batch;
  options.interactive = !a.json && isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  options.printMessages = !a.json;
  options.showProgress = !a.json && isatty(STDERR_FILENO);
  options.handleInterrupt = true;
  options.keepBlock = !a.defaults;
  // Saving through a file filter shows its options dialog, whose controls can be set too.
  std::vector<const host::Module*> alsoShown;
  if (!a.output.empty())
    if (const host::FileFilter* filter = host::FilterForWriting(app.filters, a.output))
      alsoShown.push_back(&filter->module());
  if (!host::CheckControlNames(*module, options, error, alsoShown)) {
    Fail(error);
    return kExitUsage;
  }
  if (!a.output.empty() && !CheckOutput(app, a.output, error)) {
    Fail(error);
    return kExitDocument;
  }
  for (const auto& snapshot : options.snapshots) {
    if (!host::CheckWritable(snapshot.file, error)) {
      Fail(error);
      return kExitDocument;
    }
  }

  host::Document doc;
  host::FilterData filterData;
  if (!a.newDocument.empty()) {
    if (!ParseNewDocument(a.newDocument, doc, error)) {
      Fail(error);
      return kExitUsage;
    }
  } else {
    auto opened = OpenDocument(app, a.document, error, &filterData);
    if (!opened) {
      Fail(error);
      return kExitDocument;
    }
    doc = std::move(*opened);
  }
  if (!a.selection.empty() && !host::ParseSelection(a.selection, doc, error)) {
    Fail(error);
    return kExitUsage;
  }

  std::vector<std::string> notices;
  const std::vector<portable::ClipboardItem> before = LoadStoredClipboard(app, notices);
  portable::LoadClipboard(before);
  host::RunReport report = host::RunCommand(*module, doc, options, app.store);
  notices.insert(notices.begin(), report.notices.begin(), report.notices.end());
  if (host::Interrupted() && report.status == host::RunStatus::Completed) {
    // Interrupted after the module's last check: the run is cancelled all the same.
    report.status = host::RunStatus::Cancelled;
    report.message = "\"" + module->title() + "\" was cancelled (interrupted)";
  }
  // What the run placed on the clipboard, for --save-clip: its result text, or the
  // clipboard when the run changed it; kept even when the clipboard cannot be.
  int clipSaved = a.saveClip.empty() ? kExitOk : kExitFailed;
  if (!a.saveClip.empty() && report.status == host::RunStatus::Completed) {
    std::vector<portable::ClipboardItem> placed;
    if (!report.resultTexts.empty()) {
      std::vector<uint8_t> text(report.resultTexts.front().begin(), report.resultTexts.front().end());
      text.push_back(0);
      placed.push_back({CF_TEXT, std::move(text)});
    } else if (!SameClipboard(report.clipboard, before)) {
      placed = report.clipboard;
    }
    if (placed.empty()) Fail("\"" + module->title() + "\" placed nothing on the clipboard: --save-clip wrote nothing");
    else clipSaved = SaveClipboardItems(placed, a.saveClip);
  }

  // A result the next command cannot find is lost: a clipboard that cannot be kept fails the run.
  std::string saveError;
  if (report.status == host::RunStatus::Completed && !SameClipboard(report.clipboard, before) &&
      !app.store.SaveClipboard(report.clipboard, saveError)) {
    report.status = host::RunStatus::Failed;
    report.message = clipSaved == kExitOk && !a.saveClip.empty()
                         ? "the result on the clipboard could not be kept (" + saveError + "); it is in \"" + a.saveClip + "\""
                         : "the result on the clipboard could not be kept, so it is lost: " + saveError;
  }

  int code = host::ExitCode(report.status);
  if (code == kExitOk) code = clipSaved;
  bool written = false;
  // The output is written only after a completed run: a refused, failed or cancelled one
  // leaves whatever the file held.
  if (!a.output.empty() && report.status == host::RunStatus::Completed) {
    host::ScriptedUser saver(host::UserActions(options), options.answer, options.interactive, options.printMessages);
    if (!SaveDocument(app, a.output, doc, error, &filterData, &saver)) {
      Fail(error);
      code = kExitDocument;
    } else {
      written = true;
    }
  }
  // Settings from an earlier run are said, so that a run is never a surprise.
  const bool earlier = report.setupResult && !report.initResult;
  const auto settings = ConfirmedSettings(report);
  if (a.json) {
    host::Json j = host::ReportJson(*module, report);
    host::Json used = host::Json::object();
    for (const auto& [label, value] : settings) used[label] = value;
    j["settings"] = used;
    j["settingsFrom"] = earlier ? "earlier run" : "defaults";
    host::Json list = host::Json::array();
    for (const auto& n : notices) list.push(n);
    j["notices"] = list;
    j["output"] = written ? host::Json(a.output) : host::Json();
    PrintModuleResultsJson(*module, report, j);
    j["errors"] = TakeErrorsJson();
    std::printf("%s\n", j.dump().c_str());
  } else {
    for (const auto& n : notices) Fail(n);
    if (earlier && !settings.empty()) {
      std::string line;
      for (const auto& [label, value] : settings) line += (line.empty() ? "" : ", ") + label + "=" + value;
      std::fprintf(stderr, "tovrel: settings of an earlier run: %s (--defaults or tovrel reset for the defaults)\n",
                   line.c_str());
    }
    if (!PrintResultTexts(report)) PrintResultDialogs(*module, report);
    // A module's message box was printed as it appeared: it is not repeated.
    if (report.status != host::RunStatus::Completed) {
      if (!(report.messageFromBox && options.printMessages)) Fail(report.message);
    } else if (report.documentChanged && a.output.empty()) {
      std::fprintf(stderr, "tovrel: the document changed (%ld frames now); it was not written: use -o FILE\n",
                   report.after.frames);
    }
  }
  return code;
}

}  // namespace

void RegisterRun(CLI::App& cli, App& app, Commands& commands) {
  static RunArgs a;
  auto* cmd = cli.add_subcommand("run", "Run one command on a document, as the host would");
  cmd->add_option("COMMAND", a.command, "Command name (after \"Tovrel\\\"), title or module name")->required();
  cmd->add_option("DOCUMENT", a.document, "Document to open: an audio file (WAV, AIFF, FLAC, ...) or a TIM file");
  cmd->add_option("--new", a.newDocument, "Start from an empty document: RATE[:CHANNELS]");
  cmd->add_option("-o,--output", a.output, "Write the document to FILE after the run");
  cmd->add_option("--save-clip", a.saveClip,
                  "After a completed run, write what it placed on the clipboard (response, filter: WAV; report: text) to FILE");
  cmd->add_option("--select", a.selection, "Selection FROM:TO, inclusive, in frames or seconds (suffix s)");
  a.subcommand = cmd;
  a.setOption = cmd->add_option("--set", a.sets, "Set a dialog control before it is confirmed: CONTROL=VALUE (label or id; an edit's text, a list item's text or #index, on/off)")->expected(1)->take_all();
  a.pressOption = cmd->add_option("--press", a.presses, "Press a dialog button before the dialog is confirmed")->expected(1)->take_all();
  a.tabOption = cmd->add_option("--tab", a.tabs, "Choose a tab of the dialog (its name, or #index)")->expected(1)->take_all();
  a.openFileOption = cmd->add_option("--open-file", a.openFiles, "The file the next file dialog opens")->expected(1)->take_all();
  cmd->footer("--set, --press, --tab and --open-file act in the order given, as a user's clicks would.");
  cmd->add_option("--snapshot", a.snapshots,
                  "Save a display window of the settings dialog as PNG, as it stands when the dialog is confirmed: "
                  "VIEW=FILE.png (views: monitor, ir1, ir2, audio)")
      ->take_all();
  cmd->add_option("--preview", a.preview,
                  "Play the settings dialog's preview for SECONDS (on --device), then confirm or cancel as the other options say");
  cmd->add_option("--device", a.device, "Play on this wave output device only: virtual, virtual:FILE.wav or an ALSA name (default, hw:0, ...)");
  cmd->add_flag("--yes", a.yes, "Answer Yes to questions");
  cmd->add_flag("--no", a.no, "Answer No to questions");
  cmd->add_flag("--batch", a.batch, "Run in the host's batch mode: every dialog confirms itself");
  cmd->add_flag("--json", a.json, "Print what the run did as one JSON object");
  cmd->add_flag("--defaults", a.defaults, "Start from the module's defaults; the stored settings stay as they are");
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return RunMain(app, a); }; });
}

}  // namespace tovrel::cli
