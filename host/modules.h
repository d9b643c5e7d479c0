// Module loading and lookup: every module found on the module path, what it says of
// itself, and the command a user names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frame/xfm.h"

namespace tovrel::host {

enum class ModuleKind { Transform, FileFilter };

// A loaded module. Transform modules carry their descriptor and entry points.
class Module {
 public:
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Loads the shared library; null with an error when it is not a module of ours.
  static std::unique_ptr<Module> Load(const std::string& path, std::string& error);

  const std::string& name() const { return name_; }  // file name without extension: "seqsource"
  const std::string& path() const { return path_; }
  ModuleKind kind() const { return kind_; }
  HMODULE instance() const { return instance_; }
  FARPROC Export(const char* name) const;

  // Transform modules.
  const XfmDescriptor& descriptor() const { return descriptor_; }
  WORD queryResult() const { return queryResult_; }
  std::string menuPath() const { return descriptor_.menuPath; }
  std::string title() const { return descriptor_.title; }
  std::string commandName() const;  // the menu path after "Tovrel\"
  XfmInitFn init = nullptr;
  XfmSetupFn setup = nullptr;
  XfmDoFn run = nullptr;
  XfmDestroyFn destroy = nullptr;

 private:
  Module() = default;
  std::string name_;
  std::string path_;
  ModuleKind kind_ = ModuleKind::Transform;
  HMODULE instance_ = nullptr;
  XfmDescriptor descriptor_{};
  WORD queryResult_ = 0;
};

// The folders searched for modules: TOVREL_MODULE_PATH (colon-separated) first, then
// beside the program (the build tree's modules folder, the installed lib/tovrel/modules).
std::vector<std::string> ModuleSearchPath(const std::string& programPath);

// Every module found on the path, in name order (the first of a name wins).
std::vector<std::unique_ptr<Module>> LoadAllModules(const std::vector<std::string>& searchPath,
                                                    std::vector<std::string>* problems = nullptr);

// The transform module a user names: its command name, its title or its module name,
// case-insensitive. Null with an error that lists the candidates otherwise.
const Module* FindCommand(const std::vector<std::unique_ptr<Module>>& modules, const std::string& name,
                          std::string& error);

std::string KindName(DWORD kind);

}  // namespace tovrel::host
