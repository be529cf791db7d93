#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
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
  // tries again.
  //
  // Names are refused (reported, empty result) when they hold a path
  // separator ('/' or '\\') or "..": clients choose library names, and a
  // plug-in is found through the loader's search path, never by a path.
  // A loader that returns no library is a failure even when its error text
  // is empty (the text then says so), since the null library would be used.
  static std::shared_ptr<OVK::Library> GetLibrary(const std::string& name);

  // Whether `name` may be handed to the loader (see GetLibrary).
  static bool IsValidLibraryName(std::string_view name) noexcept;

  // Objects made by plug-in code must be destroyed while their library is
  // still mapped. Whoever holds such objects (the library-based factories)
  // registers a hook under its own address; the manager's destructor runs
  // every hook, in registration order, before it unloads anything. A hook
  // is removed by its owner when the owner goes.
  static void _AddReleaseHook(const void* owner, std::function<void()> hook);
  static void _RemoveReleaseHook(const void* owner);

private:
  VornLibrariesManager() = default;

  static VornLibrariesManager* GetInstance();
  std::shared_ptr<OVK::Library> _LoadLibrary(const std::string& name);

  static std::unique_ptr<VornLibrariesManager> _Instance;
  // Set once the process-wide instance has been destroyed (trivially
  // destructible, so it can be read during static destruction): no new
  // manager is made after that.
  static bool _Ended;

  Vorn::HashTable<std::string, std::shared_ptr<OVK::Library>> m_libraries;
  Vorn::HashTable<const void*, std::function<void()>> m_releaseHooks;
};

namespace Vorn {
// VornLibrariesManager::GetLibrary(name).
VORN_API std::shared_ptr<OVK::Library> GetLibrary(const std::string& name);
}  // namespace Vorn
