// tovrel: the host on the command line. List and describe the modules, run a command
// on a document, look after the clipboard, and show a whole measurement.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/app.h"
#include "cli/commands.h"
#include "host/interrupt.h"
#include "platform/portable/faces.h"

namespace tovrel::cli {

ErrorSink& Errors() {
  static ErrorSink sink;
  return sink;
}

void Fail(const std::string& text) {
  if (Errors().json) Errors().messages.push_back(text);
  else std::fprintf(stderr, "tovrel: %s\n", text.c_str());
}

host::Json TakeErrorsJson() {
  host::Json list = host::Json::array();
  for (const auto& m : Errors().messages) list.push(m);
  Errors().answered = true;
  return list;
}

host::Json ErrorJson(int code) {
  host::Json j = host::Json::object();
  j["status"] = code == kExitUsage ? "usage error" : code == kExitDocument ? "document error" : "failed";
  j["exitCode"] = code;
  j["message"] = Errors().messages.empty() ? std::string() : Errors().messages.front();
  j["errors"] = TakeErrorsJson();
  return j;
}

void App::LoadModules() {
  if (loaded) return;
  loaded = true;
  modules = host::LoadAllModules(host::ModuleSearchPath(programPath), &loadProblems);
  filters = host::FileFilters(modules, &loadProblems);
}

}  // namespace tovrel::cli

int main(int argc, char** argv) {
  using namespace tovrel::cli;
  tovrel::host::InstallInterruptHandling();
  App app;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  app.programPath = ec ? std::string(argv[0]) : self.string();

  CLI::App cli{"tovrel: room-acoustics and electro-acoustic measurement modules and their host"};
  cli.require_subcommand(1);
  cli.set_help_all_flag("--help-all", "Show the help of every command");
  cli.set_version_flag("--version", std::string("tovrel ") + TOVREL_VERSION, "Show the version and exit");

  Commands commands;
  RegisterCommands(cli, app, commands);

  // With --json anywhere, errors are answered as JSON too.
  for (int k = 1; k < argc; ++k)
    if (std::string(argv[k]) == "--json") Errors().json = true;
  auto finish = [&](int code) {
    if (Errors().json && !Errors().answered && code != kExitOk)
      std::printf("%s\n", ErrorJson(code).dump().c_str());
    return code;
  };

  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return cli.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    // A first word that is no option and no command names the unknown command.
    std::string known;
    bool isCommand = false;
    for (const auto* sub : cli.get_subcommands({})) {
      known += (known.empty() ? "" : ", ") + sub->get_name();
      isCommand = isCommand || (argc > 1 && sub->get_name() == argv[1]);
    }
    if (argc > 1 && argv[1][0] != '-' && !isCommand) {
      Fail(std::string("unknown command \"") + argv[1] + "\" (commands: " + known + ")");
    } else {
      Fail(e.what());
    }
    return finish(kExitUsage);
  }
  return finish(commands.Run());
}
