#include "vorn/host/Library.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace OVK {
namespace {

bool HasSoSuffix(std::string_view name) {
  return (name.size() >= 3 && name.substr(name.size() - 3) == ".so") || name.find(".so.") != std::string_view::npos;
}

std::vector<std::string> Candidates(const std::string& name) {
  if (name.find('/') != std::string::npos || HasSoSuffix(name)) return {name};
  return {"lib" + name + ".so", name + ".so", name};
}

// The file the loader actually mapped for `handle`, made absolute and
// resolved; `fallback` when the loader cannot tell.
std::string LoadedPath(void* handle, const std::string& fallback) {
  const link_map* map = nullptr;
  std::string loaded = fallback;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && map->l_name[0]) loaded = map->l_name;
  char resolved[PATH_MAX];
  if (realpath(loaded.c_str(), resolved)) return resolved;
  return loaded;
}

}  // namespace

Library::Library(void* handle, std::string path) noexcept : m_handle(handle), m_path(std::move(path)) {}

Library::~Library() {
  if (m_handle) dlclose(m_handle);
}

std::unique_ptr<Library> Library::CreateLibrary(const char* name, std::string& errorText, std::string& path,
                                                bool global) {
  errorText.clear();
  path = name ? name : "";
  if (!name || !*name) {
    errorText = "empty library name";
    return nullptr;
  }
  const int flags = RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL);
  for (const std::string& candidate : Candidates(name)) {
    dlerror();  // clear any stale message
    void* handle = dlopen(candidate.c_str(), flags);
    if (handle) {
      std::unique_ptr<Library> library;
      try {
        library.reset(new Library(handle, LoadedPath(handle, candidate)));
      } catch (...) {
        dlclose(handle);
        throw;
      }
      errorText.clear();
      path = library->GetPath();
      return library;
    }
    const char* message = dlerror();
    if (!errorText.empty()) errorText += "; ";
    errorText += message ? message : candidate + ": cannot be loaded";
  }
  return nullptr;
}

void* Library::GetSymbolPtr(const char* symbol) const {
  if (!symbol || !m_handle) return nullptr;
  return dlsym(m_handle, symbol);
}

}  // namespace OVK
