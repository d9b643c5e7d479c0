// tovrel convert: a document from one format into another (audio files, TIM files).
#include <unistd.h>

#include <cstdio>

#include "cli/commands.h"
#include "cli/documents.h"
#include "host/user.h"

namespace tovrel::cli {

namespace {

struct ConvertArgs {
  std::string input;
  std::string output;
  std::vector<std::string> sets;
  bool yes = false;
  bool no = false;
};

int ConvertMain(App& app, const ConvertArgs& a) {
  app.LoadModules();
  std::vector<host::ControlSetting> sets;
  for (const auto& s : a.sets) {
    auto eq = s.find('=');
    if (eq == std::string::npos) {
      Fail("--set takes CONTROL=VALUE, not \"" + s + "\"");
      return kExitUsage;
    }
    sets.push_back({s.substr(0, eq), s.substr(eq + 1)});
  }
  if (a.yes && a.no) {
    Fail("--yes and --no exclude each other");
    return kExitUsage;
  }
  const host::FileFilter* outFilter = host::FilterForWriting(app.filters, a.output);
  for (const auto& s : sets) {
    // The only dialog a conversion shows is the output filter's options dialog.
    bool found = false;
    std::string error;
    if (outFilter)
      for (int id : portable::TemplateIds(outFilter->module().instance()))
        if (auto t = portable::DescribeTemplate(outFilter->module().instance(), id)) {
          int index = host::FindControl(*t, s.control, error);
          if (index == -2) {
            Fail(error);
            return kExitUsage;
          }
          found = found || index >= 0;
        }
    if (!found) {
      Fail("no control \"" + s.control + "\" to set: " +
           (outFilter ? "the options of " + outFilter->shortName() + " files do not have it"
                      : "\"" + a.output + "\" is written without options"));
      return kExitUsage;
    }
  }
  std::string error;
  if (!CheckOutput(app, a.output, error)) {
    Fail(error);
    return kExitDocument;
  }
  host::FilterData data;
  auto doc = OpenDocument(app, a.input, error, &data);
  if (!doc) {
    Fail(error);
    return kExitDocument;
  }
  std::optional<bool> answer;
  if (a.yes) answer = true;
  if (a.no) answer = false;
  host::ScriptedUser user(sets, {}, answer, isatty(STDIN_FILENO) && isatty(STDERR_FILENO), true);
  if (!SaveDocument(app, a.output, *doc, error, &data, &user)) {
    Fail(error);
    return kExitDocument;
  }
  if (!user.usageError().empty()) {
    Fail(user.usageError());
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

void RegisterConvert(CLI::App& cli, App& app, Commands& commands) {
  static ConvertArgs a;
  auto* cmd = cli.add_subcommand("convert", "Convert a document between formats (WAV, AIFF, FLAC, TIM, ...)");
  cmd->add_option("IN", a.input, "The document to read")->required();
  cmd->add_option("OUT", a.output, "The file to write; its extension names the format")->required();
  cmd->add_option("--set", a.sets, "Set a control of the output format's options dialog: CONTROL=VALUE")
      ->take_all();
  cmd->add_flag("--yes", a.yes, "Answer Yes to questions");
  cmd->add_flag("--no", a.no, "Answer No to questions");
  cmd->callback([&app, &commands] { commands.chosen = [&app] { return ConvertMain(app, a); }; });
}

}  // namespace tovrel::cli
