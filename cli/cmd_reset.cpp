// tovrel reset: a module, or every module, back to its defaults for the next run.
#include <cstdio>

#include "cli/commands.h"

namespace tovrel::cli {

void RegisterReset(CLI::App& cli, App& app, Commands& commands) {
  auto* cmd = cli.add_subcommand("reset", "Forget the stored settings of a command (of every command without one)");
  static std::string name;
  cmd->add_option("COMMAND", name, "Command name, title or module name");
  cmd->callback([&app, &commands] {
    commands.chosen = [&app] {
      app.LoadModules();
      std::vector<const host::Module*> chosen;
      if (name.empty()) {
        for (const auto& m : app.modules) chosen.push_back(m.get());
      } else {
        std::string error;
        const host::Module* m = host::FindCommand(app.modules, name, error);
        if (!m) {
          Fail(error);
          return kExitUsage;
        }
        chosen.push_back(m);
      }
      for (const host::Module* m : chosen)
        if (app.store.ForgetBlock(m->name())) std::printf("%s: back to its defaults\n", m->name().c_str());
      return kExitOk;
    };
  });
}

}  // namespace tovrel::cli
