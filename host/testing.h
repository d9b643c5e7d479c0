// What the tests of every module share: a host with a private home folder and the
// modules of the build tree, running commands as a user would.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/modules.h"
#include "host/runner.h"
#include "host/state.h"

namespace tovrel::host::testing {

class TestHost {
 public:
  TestHost() : home_(MakeHome()), store_(home_) {
    std::vector<std::string> path;
    if (const char* env = std::getenv("TOVREL_MODULE_PATH")) path.push_back(env);
    if (const char* build = std::getenv("TOVREL_BUILD_DIR")) path.push_back(std::string(build) + "/modules");
    modules_ = LoadAllModules(path);
    portable::LoadClipboard({});
    portable::ClearJournal();
  }
  ~TestHost() {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  const Module& module(const std::string& name) const {
    for (const auto& m : modules_)
      if (m->name() == name) return *m;
    throw std::runtime_error("module " + name + " not built (TOVREL_BUILD_DIR/modules, TOVREL_MODULE_PATH)");
  }
  const StateStore& store() const { return store_; }

  RunReport Run(const std::string& name, Document& doc, RunOptions options = {}) const {
    return RunCommand(module(name), doc, options, store_);
  }

 private:
  static std::string MakeHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovrel-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("no temporary folder");
    return buf.data();
  }
  std::string home_;
  StateStore store_;
  std::vector<std::unique_ptr<Module>> modules_;
};

inline std::vector<const portable::MessageBoxEvent*> MessageBoxes(const RunReport& r) {
  std::vector<const portable::MessageBoxEvent*> out;
  for (const auto& e : r.journal)
    if (auto* b = std::get_if<portable::MessageBoxEvent>(&e)) out.push_back(b);
  return out;
}

inline std::vector<const portable::DialogEvent*> Dialogs(const RunReport& r) {
  std::vector<const portable::DialogEvent*> out;
  for (const auto& e : r.journal)
    if (auto* d = std::get_if<portable::DialogEvent>(&e)) out.push_back(d);
  return out;
}

}  // namespace tovrel::host::testing
