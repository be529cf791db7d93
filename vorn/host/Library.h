#pragma once

#include <memory>
#include <string>

#include "vorn/host/HostExport.h"

namespace OVK {

// A loaded shared library (Linux stand-in over dlopen). Destroying the
// object unloads the library (dlclose); symbols taken from it must not be
// used afterwards.
class KRT_API Library {
public:
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Loads the library `name`. Symbols are bound at once (RTLD_NOW), so a
  // missing dependency or symbol fails here rather than at a later call.
  // `global` makes the library's symbols available to libraries loaded
  // later (RTLD_GLOBAL); otherwise they stay local (RTLD_LOCAL).
  //
  // Search: a name containing "/" is a path (a relative one is taken from
  // the working directory) and is loaded as given. A name ending in ".so" or
  // containing ".so." is given to the system loader as it is. Any other
  // name is tried as "lib<name>.so", then "<name>.so", then as given; these
  // are found by the system loader's search (LD_LIBRARY_PATH, the run path
  // of this library, the system directories).
  //
  // On success returns the library, clears `errorText` and sets `path` to
  // the real absolute path of the file loaded (symbolic links resolved). On
  // failure returns null and sets `errorText` to the loader's messages, one
  // per name tried, separated by "; " (never empty), and `path` to `name`.
  static std::unique_ptr<Library> CreateLibrary(const char* name, std::string& errorText, std::string& path,
                                                bool global = false);

  // The address of the exported symbol, or null when it is absent (or the
  // name is null).
  void* GetSymbolPtr(const char* symbol) const;

  // The path reported by CreateLibrary.
  const std::string& GetPath() const noexcept { return m_path; }

private:
  Library(void* handle, std::string path) noexcept;

  void* m_handle;
  std::string m_path;
};

}  // namespace OVK
