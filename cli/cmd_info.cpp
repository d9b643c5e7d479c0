// tovrel list, tovrel describe: what the modules are and how they stand now.
#include <cstdio>

#include "cli/commands.h"
#include "host/runner.h"
#include "frame/dialogs.h"
#include "host/filter_driver.h"
#include "host/user.h"

namespace tovrel::cli {

namespace {

std::string ChannelsName(WORD channels) {
  return channels == kChannelsMonoOnly ? "mono" : channels == kChannelsMonoStereo ? "mono, stereo" : std::to_string(channels);
}

int DescribeFilter(const host::FileFilter& filter, bool json) {
  HMODULE instance = filter.module().instance();
  host::Json dialogs = host::Json::array();
  std::vector<portable::DialogState> templates;
  for (int id : portable::TemplateIds(instance))
    if (auto t = portable::DescribeTemplate(instance, id)) {
      templates.push_back(*t);
      dialogs.push(host::DialogJson(*t));
    }
  if (json) {
    host::Json j = host::Json::object();
    j["module"] = filter.name();
    j["kindName"] = "file filter";
    j["name"] = filter.shortName();
    j["description"] = filter.description();
    j["extension"] = filter.extension();
    j["queryResult"] = filter.queryResult();
    j["dialogs"] = dialogs;
    std::printf("%s\n", j.dump().c_str());
    return kExitOk;
  }
  std::printf("%s (%s)\n  file filter %s: %s (.%s)\n", filter.name().c_str(), filter.module().path().c_str(),
              filter.shortName().c_str(), filter.description().c_str(), filter.extension().c_str());
  for (const auto& t : templates) {
    std::printf("  dialog %d \"%s\"\n", t.templateId, t.caption.c_str());
    for (std::size_t k = 0; k < t.controls.size(); ++k) {
      const auto& c = t.controls[k];
      if (c.id == 1033) continue;
      std::printf("    %5d %-9s \"%s\"\n", c.id, portable::ControlKindName(c.kind), host::ControlLabel(t, k).c_str());
    }
  }
  return kExitOk;
}

// How a user drives the dialog of a module whose use is not evident from its controls.
struct Example {
  const char* module;
  const char* note;
  const char* commandLine;
};
const Example kExamples[] = {
    {"livefold",
     "Load a response on the tab \"IR #1\" or \"IR #2\" (File, Vorn Clip, Win Clip), then route it on \"Monitor\":\n"
     "    switches 1007 1008 1009 1010 (IR1) and 1011 1012 1013 1014 (IR2) send the left input to L, to R,\n"
     "    the right input to L, to R. --set, --press, --tab and --open-file act in the order given.",
     "tovrel run \"Real Time Convolver\" song.wav --tab \"IR #1\" --open-file ir1.wav --press File "
     "--tab \"IR #2\" --open-file ir2.wav --press File --tab Monitor --set 1007=on --set 1011=on -o out.wav"},
};

}  // namespace

void RegisterList(CLI::App& cli, App& app, Commands& commands) {
  auto* cmd = cli.add_subcommand("list", "List every module found");
  static bool json = false;
  cmd->add_flag("--json", json, "Print the list as JSON");
  cmd->callback([&app, &commands] {
    commands.chosen = [&app] {
      app.LoadModules();
      if (json) {
        host::Json out = host::Json::array();
        for (const auto& m : app.modules) {
          host::Json j = host::Json::object();
          j["module"] = m->name();
          if (m->kind() == host::ModuleKind::Transform) {
            j["menuPath"] = m->menuPath();
            j["command"] = m->commandName();
            j["title"] = m->title();
            j["channels"] = m->descriptor().channels;
            j["kind"] = static_cast<long>(m->descriptor().kind);
            j["kindName"] = host::KindName(m->descriptor().kind);
          } else {
            j["kindName"] = "file filter";
          }
          j["path"] = m->path();
          out.push(j);
        }
        std::printf("%s\n", out.dump().c_str());
      } else {
        for (const auto& m : app.modules) {
          if (m->kind() == host::ModuleKind::Transform)
            std::printf("%-16s %-42s %-34s %-13s %s\n", m->name().c_str(), m->menuPath().c_str(), m->title().c_str(),
                        ChannelsName(m->descriptor().channels).c_str(), host::KindName(m->descriptor().kind).c_str());
          else
            std::printf("%-16s %-42s %-34s %-13s %s\n", m->name().c_str(), "-", "-", "-", "file filter");
        }
        if (app.modules.empty()) std::fprintf(stderr, "tovrel: no modules found (set TOVREL_MODULE_PATH)\n");
      }
      for (const auto& p : app.loadProblems) std::fprintf(stderr, "tovrel: %s\n", p.c_str());
      return kExitOk;
    };
  });
}

void RegisterDescribe(CLI::App& cli, App& app, Commands& commands) {
  auto* cmd = cli.add_subcommand("describe", "Describe a command: descriptor, settings, dialog controls");
  static std::string name;
  static bool json = false;
  cmd->add_option("COMMAND", name, "Command name, title or module name")->required();
  cmd->add_flag("--json", json, "Print the description as JSON");
  cmd->callback([&app, &commands] {
    commands.chosen = [&app] {
      app.LoadModules();
      std::string error;
      const host::Module* m = host::FindCommand(app.modules, name, error);
      if (!m) {
        // A file filter is described by its formats and its options dialog.
        for (const auto& f : app.filters)
          if (host::NormalizeLabel(f->name()) == host::NormalizeLabel(name) ||
              host::NormalizeLabel(f->shortName()) == host::NormalizeLabel(name))
            return DescribeFilter(*f, json);
        Fail(error);
        return kExitUsage;
      }
      host::Document doc = host::Document::Empty(44100, 1);
      host::SettingsView view = host::PeekSettings(*m, doc, app.store);
      host::Json j = host::Json::object();
      j["module"] = m->name();
      j["descriptor"] = host::DescriptorJson(*m);
      host::Json block = host::Json::object();
      block["typeString"] = std::string(m->descriptor().typeString);
      block["size"] = static_cast<long>(m->descriptor().paramSize);
      block["stored"] = view.fromStore;
      block["fields"] = host::BlockJson(m->descriptor().typeString, view.block);
      j["parameterBlock"] = block;
      j["dialog"] = view.dialog ? host::DialogJson(*view.dialog, view.controlNotes) : host::Json();
      if (json) {
        std::printf("%s\n", j.dump().c_str());
        return kExitOk;
      }
      const XfmDescriptor& d = m->descriptor();
      std::printf("%s (%s)\n  menu path   %s\n  title       %s\n  channels    %s\n  kind        %u (%s)\n"
                  "  block       %u bytes, type string \"%s\"%s\n",
                  m->name().c_str(), m->path().c_str(), m->menuPath().c_str(), m->title().c_str(),
                  ChannelsName(d.channels).c_str(), static_cast<unsigned>(d.kind), host::KindName(d.kind).c_str(),
                  static_cast<unsigned>(d.paramSize), d.typeString, view.fromStore ? " (stored settings)" : " (defaults)");
      const host::Json fields = host::BlockJson(d.typeString, view.block);
      if (const auto* list = std::get_if<host::Json::Array>(&fields.value()))
        for (const auto& f : *list)
          std::printf("    field %-3s %s at %-4s = %s\n", f.find("index")->dump().c_str(), f.find("type")->dump().c_str(),
                      f.find("offset")->dump().c_str(), f.find("value")->dump().c_str());
      if (view.dialog) {
        std::printf("  dialog %d \"%s\"\n", view.dialog->templateId, view.dialog->caption.c_str());
        for (std::size_t k = 0; k < view.dialog->controls.size(); ++k) {
          const auto& c = view.dialog->controls[k];
          if (c.id == kStateControl) continue;  // the frame's hidden state carrier
          if (c.kind == portable::ControlKind::Other && c.id == 0) continue;  // a display window
          if (c.kind == portable::ControlKind::Tab) {
            std::string tabs;
            for (const auto& item : c.items) tabs += (tabs.empty() ? "\"" : ", \"") + item + "\"";
            std::printf("    %5d %-9s %s (--tab NAME)\n", c.id, "tabs", tabs.c_str());
            continue;
          }
          const bool hasValue = c.kind == portable::ControlKind::Edit || c.kind == portable::ControlKind::ComboBox ||
                                c.kind == portable::ControlKind::CheckBox || c.kind == portable::ControlKind::RadioButton;
          std::printf("    %5d %-9s %-34s %s%s%s\n", c.id, portable::ControlKindName(c.kind),
                      ("\"" + host::ControlLabel(*view.dialog, k) + "\"").c_str(),
                      hasValue ? ("= \"" + host::ControlValue(c) + "\"").c_str() : "", c.enabled ? "" : " (disabled)",
                      c.visible ? "" : " (hidden)");
          if (auto note = view.controlNotes.find(c.id); note != view.controlNotes.end())
            std::printf("            takes %s\n", note->second.c_str());
          if (c.kind == portable::ControlKind::ComboBox && !c.items.empty()) {
            std::string items;
            for (const auto& item : c.items) items += (items.empty() ? "\"" : ", \"") + item + "\"";
            std::printf("            items %s\n", items.c_str());
          }
        }
      }
      for (const auto& e : kExamples) {
        if (m->name() != e.module) continue;
        std::printf("  %s\n  example\n    %s\n", e.note, e.commandLine);
      }
      return kExitOk;
    };
  });
}

}  // namespace tovrel::cli
