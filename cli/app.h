// The tovrel command: shared pieces of its subcommands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/core/json.h"
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

// Where errors go: one clear line each on stderr ("tovrel: <text>"), or with --json into
// the command's JSON object (an object of their own when the command printed none).
struct ErrorSink {
  bool json = false;
  bool answered = false;  // a JSON object that holds them was printed
  std::vector<std::string> messages;
};
ErrorSink& Errors();
void Fail(const std::string& text);

// The JSON object of a command that ended with `code` before it could print its own.
host::Json ErrorJson(int code);
// The errors so far as a JSON array, now answered.
host::Json TakeErrorsJson();

}  // namespace tovrel::cli
