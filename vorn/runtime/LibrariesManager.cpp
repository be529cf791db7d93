#include "vorn/runtime/LibrariesManager.h"

#include <exception>
#include <utility>
#include <vector>

#include "vorn/core/ErrorPolicy.h"

std::unique_ptr<VornLibrariesManager> VornLibrariesManager::_Instance;
bool VornLibrariesManager::_Ended = false;
namespace {
// True while the manager's destructor runs its hooks: owners those hooks end
// may still withdraw theirs. Before and after, an ended manager is gone.
bool g_releasingHooks = false;
}  // namespace

VornLibrariesManager::~VornLibrariesManager() {
  if (this == _Instance.get()) _Ended = true;
  g_releasingHooks = true;
  // Hooks first, libraries after: a hook may destroy objects whose code
  // lives in a library this table holds.
  // A hook may end other owners (the main component deletes the views
  // manager), which withdraw their hooks: each is looked up again just
  // before it runs.
  std::vector<const void*> owners;
  for (const auto& [owner, hook] : m_releaseHooks) owners.push_back(owner);
  for (const void* owner : owners) {
    auto it = m_releaseHooks.find(owner);
    if (it == m_releaseHooks.end()) continue;
    std::function<void()> hook = std::move(it->second);
    m_releaseHooks.erase(it);
    try {
      if (hook) hook();
    } catch (...) {
      Vorn::LogError("[Vorn - Libraries Manager] A release hook failed during unloading");
    }
  }
  g_releasingHooks = false;
  m_libraries.clear();
}

VornLibrariesManager* VornLibrariesManager::GetInstance() {
  if (!_Instance && !_Ended) _Instance.reset(new VornLibrariesManager());
  return _Instance.get();
}

bool VornLibrariesManager::IsValidLibraryName(std::string_view name) noexcept {
  return !name.empty() && name.find_first_of("/\\") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

std::shared_ptr<OVK::Library> VornLibrariesManager::GetLibrary(const std::string& name) {
  VornLibrariesManager* manager = GetInstance();
  return manager ? manager->_LoadLibrary(name) : nullptr;
}

std::shared_ptr<OVK::Library> VornLibrariesManager::_LoadLibrary(const std::string& name) {
  if (auto it = m_libraries.find(name); it != m_libraries.end()) return it->second;
  if (!IsValidLibraryName(name)) {
    Vorn::RaiseError("[Vorn - Libraries Manager] Refused library name '" + name +
                     "': a library is named without a path separator or '..'");
    return nullptr;
  }
  // The report is raised outside the try block: in exceptions mode it
  // throws, and must not be caught and reworded as a loading exception.
  std::string errorText, path, failure;
  std::shared_ptr<OVK::Library> library;
  try {
    library = OVK::Library::CreateLibrary(name.c_str(), errorText, path, false);
    if (!library && errorText.empty()) errorText = "the loader returned no library";
    if (!errorText.empty())
      failure = "[Vorn - Libraries Manager] Failed to load library '" + name + "' from path '" + path +
                "'!\nPlease check that the library exists and is accessible in your runtime view.\n"
                "Internal Error (OVK): \"" + errorText + "\"";
    else
      m_libraries.try_emplace(name, library);
  } catch (const std::exception& e) {
    failure = "[Vorn - Libraries Manager] Exception during library '" + name + "' loading: " + e.what();
  }
  if (!failure.empty()) {
    Vorn::RaiseError(failure);
    return nullptr;
  }
  return library;
}

void VornLibrariesManager::_AddReleaseHook(const void* owner, std::function<void()> hook) {
  if (VornLibrariesManager* manager = GetInstance()) manager->m_releaseHooks.insert_or_assign(owner, std::move(hook));
}

void VornLibrariesManager::_RemoveReleaseHook(const void* owner) {
  if (_Instance && (!_Ended || g_releasingHooks)) _Instance->m_releaseHooks.erase(owner);
}

std::shared_ptr<OVK::Library> Vorn::GetLibrary(const std::string& name) { return VornLibrariesManager::GetLibrary(name); }
