#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/host/Library.h"

// Loads plug-in libraries by name, once each, and keeps them loaded until the
// manager goes (at process end). Used from the main thread; nothing locks.
class VORN_API VornLibrariesManager {
public:
  virtual ~VornLibrariesManager();
  VornLibrariesManager(const VornLibrariesManager&) = delete;
  VornLibrariesManager& operator=(const VornLibrariesManager&) = delete;

  // The library `name`, loaded on the first request; empty when it cannot be
  // loaded. A failed load is reported and not remembered, so the next request
  // tries again. For the host's own loads (views, tweakers, contexts): the
  // name goes to the system loader's search (see OVK::Library).
  //
  // Names that IsValidLibraryName refuses are reported (with the reason)
  // and give an empty result: a plug-in is found through the loader's
  // search path, never by a path.
  // A loader that returns no library is a failure even when its error text
  // is empty (the text then says so), since the null library would be used.
  static std::shared_ptr<OVK::Library> GetLibrary(const std::string& name);

  // Whether `name` may be handed to the loader: not empty, at most
  // kMaxLibraryNameLength bytes, and holding no path separator ('/' or
  // '\\'), no ".." and no NUL byte (the loader would read a name cut at the
  // NUL while the tables kept the whole one).
  static bool IsValidLibraryName(std::string_view name) noexcept;
  static constexpr std::size_t kMaxLibraryNameLength = 255;

  // Libraries named by clients (GetClientLibrary) are looked up in these
  // folders, in order, and nowhere else. Empty entries are dropped (they
  // would name the file system's root); a relative folder is taken from the
  // working directory at each load. Replaces the previous list.
  static void SetPluginFolders(std::vector<std::string> folders);
  // The host declares a library that clients may name. A name that
  // IsValidLibraryName refuses is reported and not kept.
  static void DeclareClientLibrary(const std::string& name);

  // The library `name` for a name that comes from a client, which may be
  // anything. Refused, reported ("[Vorn - Libraries Manager] ..." naming
  // the library and why) with an empty result, when:
  //   - IsValidLibraryName refuses the name;
  //   - the name is neither loaded nor declared by the host;
  //   - a declared name is not found in the plug-in folders, or its file
  //     fails to load.
  // A library already in the table under that name (loaded by the host or
  // an earlier client request) is returned as it is. Otherwise a declared
  // name is loaded from the first existing regular file among
  // "<folder>/lib<name>.so" and "<folder>/<name>.so", for each plug-in
  // folder in order, by its full path: the system loader's search
  // (LD_LIBRARY_PATH, system directories) is never used for a client's
  // name, so a client cannot make the host map a system library. The
  // library is then kept under `name`. Refused names are stored nowhere, so
  // made-up names cannot grow any table.
  static std::shared_ptr<OVK::Library> GetClientLibrary(const std::string& name);
  // Whether GetClientLibrary(name) would get past its first refusals: the
  // name is valid and already loaded or declared by the host. Reports
  // nothing, so a caller can tell a name that addresses no library at all
  // from a library that fails, without the cost of a refusal.
  static bool IsClientLibraryKnown(const std::string& name);

  // A name as a report shows it: control bytes escaped as \xNN, cut after
  // 64 bytes (with the full length given), since a refused name may be
  // anything a client sent.
  static std::string _ShownName(std::string_view name);

  // Objects made by plug-in code must be destroyed while their library is
  // still mapped. Whoever holds such objects (the library-based factories)
  // registers a hook under its own address; the manager's destructor runs
  // every hook, in registration order, before it unloads anything. A hook
  // is removed by its owner when the owner goes. The manager is out of its
  // slot while the hooks run: they find no manager, except that an owner a
  // hook ends can still remove its own hook.
  static void _AddReleaseHook(const void* owner, std::function<void()> hook);
  static void _RemoveReleaseHook(const void* owner);

private:
  friend class Vorn::SingletonSlot<VornLibrariesManager>;

  VornLibrariesManager() = default;

  static VornLibrariesManager* _GetInstance();
  std::shared_ptr<OVK::Library> _LoadLibrary(const std::string& name);
  std::shared_ptr<OVK::Library> _LoadClientLibrary(const std::string& name);
  // Loads `target` (a bare name for the loader's search, or a full path),
  // keeps the library under `name` on success, reports a failure.
  std::shared_ptr<OVK::Library> _Load(const std::string& name, const std::string& target);

  static Vorn::SingletonSlot<VornLibrariesManager> _Instance;

  Vorn::HashTable<std::string, std::shared_ptr<OVK::Library>> m_libraries;
  Vorn::HashTable<std::string, bool> m_clientLibraries;  // declared by the host
  std::vector<std::string> m_pluginFolders;
  Vorn::HashTable<const void*, std::function<void()>> m_releaseHooks;
};

namespace Vorn {
// VornLibrariesManager::GetLibrary(name).
VORN_API std::shared_ptr<OVK::Library> GetLibrary(const std::string& name);
}  // namespace Vorn
