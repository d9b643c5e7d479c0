// The tovrel command: shared pieces of its subcommands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/filter_driver.h"
#include "host/modules.h"
#include "host/state.h"

namespace tovrel::cli {

// Exit statuses users and scripts rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitDocument = 3;

struct App {
  std::string programPath;
  std::vector<std::unique_ptr<host::Module>> modules;
  std::vector<std::unique_ptr<host::FileFilter>> filters;
  std::vector<std::string> loadProblems;
  bool loaded = false;
  host::StateStore store{host::HomeDirectory()};

  // Loads every module on the module path (once).
  void LoadModules();
};

// The clipboard kept between runs; what is wrong with it (a file that cannot be read,
// damaged wave data) goes to `notices`.
std::vector<portable::ClipboardItem> LoadStoredClipboard(App& app, std::vector<std::string>& notices);

// One clear line on stderr: "tovrel: <text>".
void Fail(const std::string& text);

}  // namespace tovrel::cli
