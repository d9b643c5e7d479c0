#include "host/modules.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace tovrel::host {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

#if defined(_WIN32)
constexpr const char* kModuleExtension = ".dll";
#else
constexpr const char* kModuleExtension = ".so";
#endif

}  // namespace

Module::~Module() {
  if (instance_) FreeLibrary(instance_);
}

FARPROC Module::Export(const char* name) const { return GetProcAddress(instance_, name); }

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
  HMODULE instance = LoadLibraryA(path.c_str());
  if (!instance) {
    error = "cannot load \"" + path + "\"";
    return nullptr;
  }
  std::unique_ptr<Module> m(new Module);
  m->instance_ = instance;
  m->path_ = path;
  m->name_ = fs::path(path).stem().string();
  if (GetProcAddress(instance, "QueryVornFilter")) {
    m->kind_ = ModuleKind::FileFilter;
    return m;
  }
  auto query = ExportCast<QueryXfmFn>(GetProcAddress(instance, "QueryXfm"));
  m->init = ExportCast<XfmInitFn>(GetProcAddress(instance, "XfmInit"));
  m->setup = ExportCast<XfmSetupFn>(GetProcAddress(instance, "XfmSetup"));
  m->run = ExportCast<XfmDoFn>(GetProcAddress(instance, "XfmDo"));
  m->destroy = ExportCast<XfmDestroyFn>(GetProcAddress(instance, "XfmDestroy"));
  if (!query || !m->init || !m->setup || !m->run || !m->destroy) {
    error = "\"" + path + "\" is not a tovrel module (its host interface is incomplete)";
    return nullptr;
  }
  m->queryResult_ = query(&m->descriptor_);
  // Keep every text of the descriptor terminated whatever the module wrote.
  m->descriptor_.menuPath[sizeof m->descriptor_.menuPath - 1] = 0;
  m->descriptor_.copyright[sizeof m->descriptor_.copyright - 1] = 0;
  m->descriptor_.title[sizeof m->descriptor_.title - 1] = 0;
  m->descriptor_.typeString[sizeof m->descriptor_.typeString - 1] = 0;
  m->descriptor_.flagString[sizeof m->descriptor_.flagString - 1] = 0;
  return m;
}

std::string Module::commandName() const {
  std::string path = menuPath();
  const std::string prefix = "Tovrel\\";
  return path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : path;
}

std::vector<std::string> ModuleSearchPath(const std::string& programPath) {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("TOVREL_MODULE_PATH"); env && *env) {
    std::string all = env;
    std::size_t start = 0;
    while (start <= all.size()) {
      std::size_t colon = all.find(':', start);
      std::string dir = all.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      if (!dir.empty()) dirs.push_back(dir);
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  std::error_code ec;
  fs::path program = fs::weakly_canonical(fs::path(programPath), ec);
  if (!ec && program.has_parent_path()) {
    fs::path bin = program.parent_path();
    dirs.push_back((bin.parent_path() / "modules").string());                  // build tree
    dirs.push_back((bin.parent_path() / "lib" / "tovrel" / "modules").string());  // installed
  }
  return dirs;
}

std::vector<std::unique_ptr<Module>> LoadAllModules(const std::vector<std::string>& searchPath,
                                                    std::vector<std::string>* problems) {
  std::map<std::string, std::string> found;  // module name -> path, first on the path wins
  for (const auto& dir : searchPath) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      if (entry.path().extension() != kModuleExtension) continue;
      found.emplace(entry.path().stem().string(), entry.path().string());
    }
  }
  std::vector<std::unique_ptr<Module>> modules;
  for (const auto& [name, path] : found) {
    std::string error;
    if (auto m = Module::Load(path, error)) modules.push_back(std::move(m));
    else if (problems) problems->push_back(error);
  }
  return modules;
}

const Module* FindCommand(const std::vector<std::unique_ptr<Module>>& modules, const std::string& name,
                          std::string& error) {
  const std::string wanted = Lower(name);
  std::vector<const Module*> matches;
  // Command names and module names are unique; titles may be shared.
  for (const auto& m : modules) {
    if (m->kind() != ModuleKind::Transform) continue;
    if (Lower(m->commandName()) == wanted || Lower(m->name()) == wanted || Lower(m->menuPath()) == wanted)
      return m.get();
  }
  for (const auto& m : modules)
    if (m->kind() == ModuleKind::Transform && Lower(m->title()) == wanted) matches.push_back(m.get());
  if (matches.size() == 1) return matches.front();
  if (matches.empty()) {
    error = "no command \"" + name + "\"; the commands are:";
    for (const auto& m : modules)
      if (m->kind() == ModuleKind::Transform) error += "\n  \"" + m->commandName() + "\" (" + m->name() + ")";
    return nullptr;
  }
  error = "\"" + name + "\" is the title of several commands; name one of:";
  for (const auto* m : matches) error += "\n  \"" + m->commandName() + "\" (" + m->name() + ")";
  return nullptr;
}

std::string KindName(DWORD kind) {
  switch (kind) {
    case 2: return "generator";
    case 17: return "analysis";
    case 689: return "convolver";
    case 697: return "live convolver";
    default: return "kind " + std::to_string(kind);
  }
}

}  // namespace tovrel::host
