// What the tests of every module share: a host with a private home folder and the
// modules of the build tree, running commands as a user would.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "frame/clipwave.h"
#include "host/modules.h"
#include "host/runner.h"
#include "host/state.h"

namespace tovrel::host::testing {

// A test target names the modules it loads (tovrel_add_test MODULES), so that building it
// rebuilds them; loading one it did not name would run whatever stale build lies about.
inline void RequireDeclared(const std::string& name) {
#ifdef TOVREL_TEST_MODULES
  const std::string declared = "," TOVREL_TEST_MODULES ",";
  if (declared.find("," + name + ",") == std::string::npos)
    throw std::runtime_error("module " + name + " is not among the MODULES of this test target");
#else
  (void)name;
#endif
}

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
    RequireDeclared(name);
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

// The parameter block a run left, as the module's record (copied: its fields are packed).
template <class Block>
Block BlockOf(const RunReport& r) {
  Block b{};
  EXPECT_EQ(r.block.size(), sizeof b);
  std::memcpy(&b, r.block.data(), r.block.size() < sizeof b ? r.block.size() : sizeof b);
  return b;
}

// The wave data a run left on the clipboard.
struct Response {
  bool present = false;
  WavImage header;
  std::vector<int16_t> samples;
};
inline Response ClipboardResponse(const RunReport& r) {
  Response out;
  for (const auto& item : r.clipboard) {
    if (item.format != CF_WAVE) continue;
    out.present = true;
    out.header = ReadWavImage(item.bytes.data(), item.bytes.size());
    const std::size_t bytes = out.header.dataFits ? out.header.dataBytes : 0;
    out.samples.resize(bytes / 2);
    if (bytes) std::memcpy(out.samples.data(), item.bytes.data() + kWavHeaderBytes, bytes);
  }
  return out;
}

// The last dialog of the run shown from the given template, as it ended.
inline const portable::DialogState* FindDialog(const RunReport& r, int templateId) {
  const portable::DialogState* found = nullptr;
  for (const auto* d : Dialogs(r))
    if (d->final.templateId == templateId) found = &d->final;
  return found;
}

}  // namespace tovrel::host::testing
