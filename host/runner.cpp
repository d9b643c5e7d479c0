#include "host/runner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "frame/clipwave.h"
#include "frame/dialogs.h"
#include "frame/paramblock.h"
#include "host/session.h"

namespace tovrel::host {

namespace {

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  // Runs of blanks left by the line breaks read as one.
  std::string out;
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  return out;
}

std::vector<portable::DialogState> Templates(const Module& module) {
  std::vector<portable::DialogState> out;
  for (int id : portable::TemplateIds(module.instance()))
    if (auto t = portable::DescribeTemplate(module.instance(), id)) out.push_back(*t);
  return out;
}

bool CheckName(const std::vector<portable::DialogState>& templates, const std::string& name, const char* what,
               std::string& error) {
  for (const auto& t : templates) {
    std::string ambiguity;
    int index = FindControl(t, name, ambiguity);
    if (index == -2) {
      error = ambiguity;
      return false;
    }
    if (index >= 0) return true;
  }
  error = std::string("no control \"") + name + "\" to " + what;
  if (!templates.empty()) {
    error += "; the controls of \"" + templates.front().caption + "\" are " + DescribeSettableControls(templates.front());
    for (std::size_t k = 1; k < templates.size(); ++k)
      error += "; of \"" + templates[k].caption + "\": " + DescribeSettableControls(templates[k]);
  }
  return false;
}

const char* IconName(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
  }
}

const char* ButtonsName(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return "ok";
    case MB_OKCANCEL: return "okcancel";
    case MB_ABORTRETRYIGNORE: return "abortretryignore";
    case MB_YESNOCANCEL: return "yesnocancel";
    case MB_YESNO: return "yesno";
    case MB_RETRYCANCEL: return "retrycancel";
    default: return "other";
  }
}

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK: return "ok";
    case IDCANCEL: return "cancel";
    case IDYES: return "yes";
    case IDNO: return "no";
    case IDABORT: return "abort";
    case IDRETRY: return "retry";
    case IDIGNORE: return "ignore";
    default: return "none";
  }
}

}  // namespace

DocumentSummary Summarize(const Document& doc) {
  return {doc.sampleRate, doc.channels, doc.frames(), doc.selStart, doc.selEnd};
}

int ExitCode(RunStatus status) {
  switch (status) {
    case RunStatus::Completed: return 0;
    case RunStatus::UsageError: return 2;
    default: return 1;
  }
}

bool CheckControlNames(const Module& module, const RunOptions& options, std::string& error,
                       const std::vector<const Module*>& alsoShown) {
  auto templates = Templates(module);
  for (const Module* other : alsoShown) {
    auto more = Templates(*other);
    templates.insert(templates.end(), more.begin(), more.end());
  }
  for (const auto& a : UserActions(options)) {
    if (a.kind == UserAction::Kind::Set && !CheckName(templates, a.control, "set", error)) return false;
    if (a.kind == UserAction::Kind::Press && !CheckName(templates, a.control, "press", error)) return false;
    if (a.kind == UserAction::Kind::Tab) {
      bool tabs = false;
      for (const auto& t : templates)
        for (const auto& c : t.controls) tabs = tabs || c.kind == portable::ControlKind::Tab;
      if (!tabs) {
        error = "no dialog of \"" + module.title() + "\" has tabs to choose \"" + a.value + "\" from";
        return false;
      }
    }
  }
  return true;
}

std::vector<UserAction> UserActions(const RunOptions& options) {
  std::vector<UserAction> actions = options.actions;
  for (const auto& s : options.sets) actions.push_back({UserAction::Kind::Set, s.control, s.value});
  for (const auto& p : options.presses) actions.push_back({UserAction::Kind::Press, p, ""});
  return actions;
}

RunReport RunCommand(const Module& module, Document& doc, const RunOptions& options, const StateStore& store) {
  RunReport rep;
  rep.queryResult = module.queryResult();
  rep.before = Summarize(doc);
  const XfmDescriptor& desc = module.descriptor();
  const std::size_t blockSize = desc.paramSize;

  HGLOBAL block = GlobalAlloc(GHND, blockSize ? blockSize : 1);
  if (!block) {
    rep.message = "the host has no memory for the settings of \"" + module.title() + "\"";
    return rep;
  }
  portable::ClearJournal();
  portable::SetWindowsFolder(store.WindowsFolder());
  ScriptedUser user(UserActions(options), options.answer, options.interactive, options.printMessages);
  user.SetSnapshots(options.snapshots);
  user.SetPreview(options.previewSeconds);
  portable::SetUser(&user);
  const std::vector<int16_t> original = doc.samples;
  {
    Session session(doc, module.title());
    XfmContext& ctx = session.context();
    ctx.paramHandle = block;
    ctx.instanceHandle = module.instance();
    if (options.batch) ctx.batchIndex = 0;

    std::string problem;
    auto stored = options.keepBlock ? store.LoadBlock(module.name(), desc.typeString, blockSize, &problem) : std::nullopt;
    if (!problem.empty()) rep.notices.push_back(problem + "; the defaults are used");
    bool ready = true;
    if (stored) {
      if (void* p = GlobalLock(block)) {
        std::memcpy(p, stored->data(), blockSize);
        GlobalUnlock(block);
      }
    } else {
      rep.initResult = module.init(&ctx);
      ready = *rep.initResult != 0;
      if (!ready) rep.message = "\"" + module.title() + "\" could not set up its settings";
    }
    auto saveBlock = [&] {
      rep.block.assign(blockSize, 0);
      if (void* p = GlobalLock(block)) {
        std::memcpy(rep.block.data(), p, blockSize);
        GlobalUnlock(block);
      }
    };

    if (ready) {
      session.ShowProgress(options.showProgress);
      if (stored) user.CheckStoredFields();
      rep.setupResult = module.setup(portable::HostWindow(), module.instance(), &ctx);
      if (!user.storedRefusal().empty()) {
        // A stored block whose settings the dialog cannot hold is outside data gone wrong:
        // say so, and run from the defaults as if nothing had been stored.
        std::string why = user.storedRefusal();
        if (!why.empty() && why.back() == '.') why.pop_back();
        rep.notices.push_back("the stored settings of \"" + module.title() + "\" are not used (" + why +
                              "); the defaults are used");
        portable::ClearJournal();
        rep.initResult = module.init(&ctx);
        if (*rep.initResult != 0) rep.setupResult = module.setup(portable::HostWindow(), module.instance(), &ctx);
      }
      const std::size_t journalAfterSetup = portable::Journal().size();
      if (!user.usageError().empty()) {
        rep.status = RunStatus::UsageError;
        rep.message = user.usageError();
      } else if (*rep.setupResult == 0) {
        rep.status = RunStatus::Cancelled;
        rep.message = "\"" + module.title() + "\" did not run: its settings were not confirmed";
        bool dialogShown = false;
        for (const auto& e : portable::Journal()) {
          if (auto* box = std::get_if<portable::MessageBoxEvent>(&e)) {
            rep.status = RunStatus::Failed;
            rep.message = box->caption + ": " + OneLine(box->text);
            rep.messageFromBox = true;
          }
          if (std::holds_alternative<portable::DialogEvent>(e)) dialogShown = true;
        }
        if (user.refusedToClose()) rep.message += " (the dialog did not accept the settings)";
        if (!dialogShown && rep.status == RunStatus::Cancelled) {
          rep.status = RunStatus::Failed;
          rep.message = "\"" + module.title() + "\" does not run on this document (" +
                        std::to_string(doc.channels) + " channel" + (doc.channels == 1 ? "" : "s") + ")";
        }
      } else {
        session.CancelAtReport(options.cancelAtReport);
        if (options.handleInterrupt) session.InstallInterruptHandler();
        if (options.faultsDuringRun) portable::ArmFaults(*options.faultsDuringRun);
        rep.doResult = session.Do(module.run, desc.kind);
        if (options.faultsDuringRun) portable::DisarmFaults();
        session.RemoveInterruptHandler();

        const long result = *rep.doResult;
        const bool wrote = session.wroteSamples();

        // What the module said during the run decides how it ended.
        std::string errorText;
        const auto& journal = portable::Journal();
        for (std::size_t k = journalAfterSetup; k < journal.size(); ++k)
          if (auto* box = std::get_if<portable::MessageBoxEvent>(&journal[k]))
            if ((box->type & MB_ICONMASK) == MB_ICONERROR && errorText.empty())
              errorText = box->caption + ": " + OneLine(box->text);
        if (session.cancelled()) {
          rep.status = RunStatus::Cancelled;
          rep.message = "\"" + module.title() + "\" was cancelled" + (session.interrupted() ? " (interrupted)" : "");
        } else if (!errorText.empty()) {
          rep.status = RunStatus::Failed;
          rep.message = errorText;
          rep.messageFromBox = true;
        } else if (desc.kind == kKindGenerator && !wrote) {
          rep.status = RunStatus::Failed;
          rep.message = "\"" + module.title() + "\" wrote nothing into the document";
        } else if ((desc.kind == kKindConvolver || desc.kind == kKindLiveConvolver) && !wrote) {
          // A convolver that did not write its result returned the selection as it was.
          rep.status = RunStatus::Failed;
          rep.message = "\"" + module.title() + "\" stopped before the end";
          for (std::size_t k = journalAfterSetup; k < journal.size(); ++k)
            if (auto* box = std::get_if<portable::MessageBoxEvent>(&journal[k]))
              if (box->answer == IDNO || box->answer == IDCANCEL)
                rep.message = box->caption + ": " + OneLine(box->text) + " (answered no)";
        } else if (desc.kind == kKindAnalysis && result != 0) {
          rep.status = RunStatus::Failed;
          rep.message = "\"" + module.title() + "\" stopped before the end";
        } else {
          rep.status = RunStatus::Completed;
        }
        rep.statusTexts = session.statusTexts();
        rep.progressReports = session.progressReports();
      }
      rep.destroyResult = module.destroy(&ctx);
      saveBlock();
      // Only a completed run's settings are kept for the next one.
      std::string error;
      if (options.keepBlock && options.storeBlock && rep.status == RunStatus::Completed &&
          !store.SaveBlock(module.name(), desc.typeString, rep.block, error))
        rep.notices.push_back("the settings could not be kept for the next run: " + error);
    }
  }
  GlobalFree(block);
  portable::SetUser(nullptr);
  rep.resultTexts = user.resultTexts();
  rep.journal = portable::Journal();
  rep.clipboard = portable::ClipboardContents();
  rep.after = Summarize(doc);
  rep.documentChanged = doc.samples != original || rep.after.selStart != rep.before.selStart ||
                        rep.after.selEnd != rep.before.selEnd;
  return rep;
}

Json DocumentJson(const DocumentSummary& d) {
  Json j = Json::object();
  j["rate"] = d.sampleRate;
  j["channels"] = d.channels;
  j["frames"] = d.frames;
  Json sel = Json::object();
  sel["start"] = d.selStart;
  sel["end"] = d.selEnd;
  sel["frames"] = d.selEnd - d.selStart + 1;
  j["selection"] = sel;
  return j;
}

Json DialogJson(const portable::DialogState& dialog, const std::map<int, std::string>& notes) {
  Json j = Json::object();
  j["template"] = dialog.templateId;
  j["caption"] = dialog.caption;
  Json controls = Json::array();
  for (std::size_t k = 0; k < dialog.controls.size(); ++k) {
    const auto& c = dialog.controls[k];
    Json cj = Json::object();
    cj["id"] = c.id;
    cj["kind"] = portable::ControlKindName(c.kind);
    cj["label"] = ControlLabel(dialog, k);
    cj["value"] = ControlValue(c);
    cj["enabled"] = c.enabled;
    cj["visible"] = c.visible;
    if (auto note = notes.find(c.id); note != notes.end()) cj["range"] = note->second;
    if (c.kind == portable::ControlKind::ComboBox) {
      Json items = Json::array();
      for (const auto& item : c.items) items.push(item);
      cj["items"] = items;
      cj["selection"] = c.selection;
    }
    controls.push(cj);
  }
  j["controls"] = controls;
  return j;
}

Json ClipboardJson(const std::vector<portable::ClipboardItem>& items) {
  Json j = Json::object();
  Json formats = Json::array();
  j["wave"] = nullptr;
  j["text"] = nullptr;
  for (const auto& item : items) {
    if (item.format == CF_WAVE) {
      formats.push("wave");
      WavImage w = ReadWavImage(item.bytes.data(), item.bytes.size());
      Json wave = Json::object();
      wave["rate"] = static_cast<long>(w.sampleRate);
      wave["channels"] = w.channels;
      wave["bits"] = w.bitsPerSample;
      const long frameBytes = w.channels * ((w.bitsPerSample + 7) / 8);
      const long bytes = w.dataFits ? static_cast<long>(w.dataBytes) : 0;
      wave["frames"] = frameBytes > 0 ? bytes / frameBytes : 0;
      if (w.riff && w.bitsPerSample == 16 && w.dataFits) {
        int peak = 0;
        for (long k = 0; k + 1 < bytes; k += 2) {
          int v = static_cast<int16_t>(w.data[k] | (w.data[k + 1] << 8));
          peak = std::max(peak, std::abs(v));
        }
        wave["peak"] = peak;
      }
      j["wave"] = wave;
    } else if (item.format == CF_TEXT) {
      formats.push("text");
      const char* text = reinterpret_cast<const char*>(item.bytes.data());
      j["text"] = std::string(text, strnlen(text, item.bytes.size()));
    } else {
      formats.push(static_cast<long>(item.format));
    }
  }
  j["formats"] = formats;
  return j;
}

Json DescriptorJson(const Module& module) {
  const XfmDescriptor& d = module.descriptor();
  Json j = Json::object();
  j["menuPath"] = module.menuPath();
  j["command"] = module.commandName();
  j["copyright"] = std::string(d.copyright);
  j["title"] = module.title();
  j["channels"] = d.channels;
  j["kind"] = static_cast<long>(d.kind);
  j["kindName"] = KindName(d.kind);
  j["paramSize"] = static_cast<long>(d.paramSize);
  j["typeString"] = std::string(d.typeString);
  j["flagString"] = std::string(d.flagString);
  j["queryResult"] = module.queryResult();
  return j;
}

Json ReportJson(const Module& module, const RunReport& rep) {
  Json j = Json::object();
  Json m = Json::object();
  m["name"] = module.name();
  m["menuPath"] = module.menuPath();
  m["title"] = module.title();
  j["module"] = m;
  const char* status = rep.status == RunStatus::Completed ? "completed"
                       : rep.status == RunStatus::Cancelled ? "cancelled"
                       : rep.status == RunStatus::UsageError ? "usage error"
                                                             : "failed";
  j["status"] = status;
  j["exitCode"] = ExitCode(rep.status);
  j["message"] = rep.message;
  Json entries = Json::object();
  entries["QueryXfm"] = rep.queryResult;
  entries["XfmInit"] = rep.initResult ? Json(*rep.initResult) : Json();
  entries["XfmSetup"] = rep.setupResult ? Json(*rep.setupResult) : Json();
  entries["XfmDo"] = rep.doResult ? Json(static_cast<long>(*rep.doResult)) : Json();
  entries["XfmDestroy"] = rep.destroyResult ? Json(*rep.destroyResult) : Json();
  j["entryPoints"] = entries;
  Json dialogs = Json::array(), boxes = Json::array(), help = Json::array(), beeps = Json::array();
  for (const auto& e : rep.journal) {
    if (auto* d = std::get_if<portable::DialogEvent>(&e)) {
      Json dj = DialogJson(d->final);
      dj["result"] = static_cast<long>(d->result);
      dialogs.push(dj);
    } else if (auto* b = std::get_if<portable::MessageBoxEvent>(&e)) {
      Json bj = Json::object();
      bj["caption"] = b->caption;
      bj["text"] = b->text;
      bj["icon"] = IconName(b->type);
      bj["buttons"] = ButtonsName(b->type);
      bj["answer"] = AnswerName(b->answer);
      bj["owner"] = static_cast<long>(b->owner);
      boxes.push(bj);
    } else if (auto* h = std::get_if<portable::HelpEvent>(&e)) {
      Json hj = Json::object();
      hj["file"] = h->file;
      hj["command"] = h->command;
      hj["keyword"] = h->keyword;
      help.push(hj);
    } else if (auto* beep = std::get_if<portable::BeepEvent>(&e)) {
      beeps.push(beep->type);
    }
  }
  j["dialogs"] = dialogs;
  j["messageBoxes"] = boxes;
  j["help"] = help;
  j["beeps"] = beeps;
  Json docs = Json::object();
  docs["before"] = DocumentJson(rep.before);
  docs["after"] = DocumentJson(rep.after);
  docs["changed"] = rep.documentChanged;
  j["document"] = docs;
  j["clipboard"] = ClipboardJson(rep.clipboard);
  Json status_texts = Json::array();
  for (const auto& s : rep.statusTexts) status_texts.push(s);
  j["statusTexts"] = status_texts;
  Json result_texts = Json::array();
  for (const auto& s : rep.resultTexts) result_texts.push(s);
  j["resultTexts"] = result_texts;
  return j;
}

}  // namespace tovrel::host

namespace tovrel::host {

namespace {

// Looks at the first dialog and closes it with Cancel.
class PeekingUser : public portable::User {
 public:
  void DialogIdle(HWND dialog, int) override {
    if (!seen) {
      seen = portable::Inspect(dialog);
      for (const auto& c : seen->controls) {
        if (c.id <= 0 || c.id == kStateControl) continue;
        char text[kFieldTextBytes] = {0};
        SendMessageA(dialog, kDescribeFieldMessage, static_cast<WPARAM>(c.id), reinterpret_cast<LPARAM>(text));
        if (text[0]) notes[c.id] = text;
      }
    }
    if (!portable::Click(dialog, IDCANCEL)) portable::PressCloseBox(dialog);
  }
  int MessageBox(const portable::MessageBoxEvent& box) override { return portable::DefaultAnswer(box.type); }
  std::optional<portable::DialogState> seen;
  std::map<int, std::string> notes;
};

}  // namespace

SettingsView PeekSettings(const Module& module, Document& doc, const StateStore& store) {
  SettingsView view;
  const std::size_t size = module.descriptor().paramSize;
  HGLOBAL block = GlobalAlloc(GHND, size ? size : 1);
  if (!block) return view;
  {
    Session session(doc, module.title());
    XfmContext& ctx = session.context();
    ctx.paramHandle = block;
    ctx.instanceHandle = module.instance();
    if (auto stored = store.LoadBlock(module.name(), module.descriptor().typeString, size)) {
      view.fromStore = true;
      if (void* p = GlobalLock(block)) {
        std::memcpy(p, stored->data(), size);
        GlobalUnlock(block);
      }
    } else {
      module.init(&ctx);
    }
    view.block.assign(size, 0);
    if (void* p = GlobalLock(block)) {
      std::memcpy(view.block.data(), p, size);
      GlobalUnlock(block);
    }
    PeekingUser user;
    portable::SetUser(&user);
    portable::SetWindowsFolder(store.WindowsFolder());
    module.setup(portable::HostWindow(), module.instance(), &ctx);
    portable::SetUser(nullptr);
    view.dialog = user.seen;
    view.controlNotes = user.notes;
    module.destroy(&ctx);
  }
  GlobalFree(block);
  portable::ClearJournal();
  return view;
}

Json BlockJson(const std::string& typeString, const std::vector<uint8_t>& block) {
  Json fields = Json::array();
  std::size_t offset = 0;
  for (std::size_t k = 0; k < typeString.size(); ++k) {
    const char letter = typeString[k];
    std::size_t width = TypeLetterSize(letter);
    Json f = Json::object();
    f["index"] = static_cast<long>(k);
    f["type"] = std::string(1, letter);
    f["offset"] = static_cast<long>(offset);
    if (width == 0 || offset + width > block.size()) {
      f["value"] = nullptr;
      fields.push(f);
      break;
    }
    const uint8_t* p = block.data() + offset;
    switch (letter) {
      case 'c': f["value"] = static_cast<int>(static_cast<int8_t>(p[0])); break;
      case 'i': { int16_t v; std::memcpy(&v, p, 2); f["value"] = static_cast<int>(v); break; }
      case 'l': { int32_t v; std::memcpy(&v, p, 4); f["value"] = static_cast<long>(v); break; }
      case 'b': { int32_t v; std::memcpy(&v, p, 4); f["value"] = v != 0; break; }
      case 'h': { uint32_t v; std::memcpy(&v, p, 4); f["value"] = static_cast<long>(v); break; }
      case 'f': { float v; std::memcpy(&v, p, 4); f["value"] = static_cast<double>(v); break; }
      case 'd': { double v; std::memcpy(&v, p, 8); f["value"] = v; break; }
      case 's': f["value"] = std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 256)); break;
    }
    fields.push(f);
    offset += width;
  }
  return fields;
}

}  // namespace tovrel::host
