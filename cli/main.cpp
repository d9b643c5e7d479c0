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

void Fail(const std::string& text) { std::fprintf(stderr, "tovrel: %s\n", text.c_str()); }

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

  Commands commands;
  RegisterCommands(cli, app, commands);

  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return cli.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    Fail(e.what());
    return kExitUsage;
  }
  return commands.Run();
}
