// Modules: shared libraries opened with dlopen, their exports by name and by the
// ordinals of their .def file, and their resource scripts.

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <unordered_map>

#include "platform/portable/internal.h"
#include "platform/portable/module_data.h"

namespace tovrel::portable {
namespace {

struct Module {
  void* library = nullptr;
  long references = 0;
  std::string path;
  std::shared_ptr<const ResourceScript> script;  // parsed on first use
  std::string scriptError;
  bool scriptRead = false;
};

struct ModuleState {
  std::mutex mutex;
  std::unordered_map<uint32_t, Module> modules;  // handle -> module
};

ModuleState& State() {
  static ModuleState* state = new ModuleState;  // never destroyed: used until process exit
  return *state;
}

Module* Find(ModuleState& s, HMODULE module) {
  auto it = s.modules.find(detail::HandleValue(module));
  if (module == nullptr || it == s.modules.end()) return nullptr;
  return &it->second;
}

std::string LibraryPath(void* library, const char* requested) {
  struct link_map* map = nullptr;
  std::string path = requested;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr && map->l_name[0] != 0)
    path = map->l_name;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) path = resolved;
  return path;
}

}  // namespace

namespace detail {

std::shared_ptr<const ResourceScript> ModuleScript(HMODULE module, std::string* error) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  Module* m = Find(s, module);
  if (m == nullptr) {
    if (error != nullptr) *error = "not a loaded module";
    return nullptr;
  }
  if (!m->scriptRead) {
    m->scriptRead = true;
    const char* text = static_cast<const char*>(dlsym(m->library, "tovrel_resource_script"));
    if (text == nullptr) {
      m->scriptError = "the module carries no resource script";
    } else {
      std::string parseError;
      auto parsed = ParseResourceScript(text, &parseError);
      if (parsed) {
        m->script = std::make_shared<const ResourceScript>(std::move(*parsed));
      } else {
        m->scriptError = "resource script of " + m->path + ": " + parseError;
        // A script that does not parse is a build fault of the module: say so once.
        std::fprintf(stderr, "tovrel: %s\n", m->scriptError.c_str());
      }
    }
  }
  if (m->script == nullptr && error != nullptr) *error = m->scriptError;
  return m->script;
}

}  // namespace detail
}  // namespace tovrel::portable

namespace tp = tovrel::portable;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR path) {
  if (path == nullptr || path[0] == 0) return nullptr;
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  auto& s = tp::State();
  std::lock_guard lock(s.mutex);
  // Loading the same library again gives the same module, as on Windows.
  for (auto& [handle, module] : s.modules) {
    if (module.library == library) {
      ++module.references;
      return tp::detail::MakeHandle<HMODULE>(handle);
    }
  }
  uint32_t handle = tp::detail::NextHandle();
  tp::Module module;
  module.library = library;
  module.references = 1;
  module.path = tp::LibraryPath(library, path);
  s.modules.emplace(handle, std::move(module));
  return tp::detail::MakeHandle<HMODULE>(handle);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  auto& s = tp::State();
  std::lock_guard lock(s.mutex);
  tp::Module* m = tp::Find(s, module);
  if (m == nullptr) return FALSE;
  // Each LoadLibraryA took one dlopen reference.
  dlclose(m->library);
  if (--m->references == 0) s.modules.erase(tp::detail::HandleValue(module));
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR nameOrOrdinal) {
  if (nameOrOrdinal == nullptr) return nullptr;
  auto& s = tp::State();
  std::lock_guard lock(s.mutex);
  tp::Module* m = tp::Find(s, module);
  if (m == nullptr) return nullptr;
  const char* name = nameOrOrdinal;
  if (IS_INTRESOURCE(nameOrOrdinal)) {
    unsigned ordinal = LOWORD(nameOrOrdinal);
    const auto* table = static_cast<const TovrelExportOrdinal*>(dlsym(m->library, "tovrel_export_ordinals"));
    name = nullptr;
    for (; table != nullptr && table->name != nullptr; ++table) {
      if (table->ordinal == ordinal) {
        name = table->name;
        break;
      }
    }
    if (name == nullptr) return nullptr;
  }
  void* symbol = dlsym(m->library, name);
  if (symbol == nullptr) {
    // A stdcall-decorated export ("_Name@12") has its plain name in a shared library.
    std::string plain = name;
    auto at = plain.rfind('@');
    if (plain.size() > 1 && plain[0] == '_' && at != std::string::npos && at > 1 &&
        plain.find_first_not_of("0123456789", at + 1) == std::string::npos && at + 1 < plain.size())
      symbol = dlsym(m->library, plain.substr(1, at - 1).c_str());
  }
  if (symbol == nullptr) return nullptr;
  FARPROC proc;
  static_assert(sizeof proc == sizeof symbol);
  std::memcpy(&proc, &symbol, sizeof proc);
  return proc;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  std::string path;
  if (module == nullptr) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return 0;
    path.assign(exe, static_cast<size_t>(n));
  } else {
    auto& s = tp::State();
    std::lock_guard lock(s.mutex);
    tp::Module* m = tp::Find(s, module);
    if (m == nullptr) return 0;
    path = m->path;
  }
  if (buffer == nullptr || size == 0) return 0;
  // As on Windows: a path that does not fit is cut and terminated, and the result is size.
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

}  // extern "C"
