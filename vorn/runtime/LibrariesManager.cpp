#include "vorn/runtime/LibrariesManager.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "vorn/core/ErrorPolicy.h"

// Made on first use, deleted at process end (after the managers made since,
// which may still hold plug-in objects) and never made again.
constinit Vorn::SingletonSlot<VornLibrariesManager> VornLibrariesManager::_Instance{
    {.closeOnDelete = true, .deleteAtExit = true}};
namespace {
// The manager while its destructor runs the hooks. It is out of its slot by
// then, but owners that those hooks end must still withdraw their own hooks.
VornLibrariesManager* g_runningHooks = nullptr;

// Why `name` may not be handed to the loader; null when it may.
const char* InvalidNameReason(std::string_view name) noexcept {
  if (name.empty()) return "the name is empty";
  if (name.size() > VornLibrariesManager::kMaxLibraryNameLength) return "the name is longer than 255 bytes";
  if (name.find('\0') != std::string_view::npos) return "the name holds a NUL byte";
  if (name.find_first_of("/\\") != std::string_view::npos) return "the name holds a path separator";
  if (name.find("..") != std::string_view::npos) return "the name holds '..'";
  return nullptr;
}
}  // namespace

std::string VornLibrariesManager::_ShownName(std::string_view name) {
  constexpr std::size_t kShown = 64;
  std::string out;
  for (char c : name.substr(0, kShown)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += escaped;
    } else {
      out += c;
    }
  }
  if (name.size() > kShown) out += "... (" + std::to_string(name.size()) + " bytes)";
  return out;
}

VornLibrariesManager::~VornLibrariesManager() {
  g_runningHooks = this;
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
  g_runningHooks = nullptr;
  m_libraries.clear();
}

VornLibrariesManager* VornLibrariesManager::_GetInstance() { return _Instance.Get(); }

bool VornLibrariesManager::IsValidLibraryName(std::string_view name) noexcept {
  return InvalidNameReason(name) == nullptr;
}

std::shared_ptr<OVK::Library> VornLibrariesManager::GetLibrary(const std::string& name) {
  VornLibrariesManager* manager = _GetInstance();
  return manager ? manager->_LoadLibrary(name) : nullptr;
}

std::shared_ptr<OVK::Library> VornLibrariesManager::_LoadLibrary(const std::string& name) {
  if (auto it = m_libraries.find(name); it != m_libraries.end()) return it->second;
  if (const char* reason = InvalidNameReason(name)) {
    Vorn::RaiseError("[Vorn - Libraries Manager] Refused library name '" + _ShownName(name) + "': " + reason);
    return nullptr;
  }
  return _Load(name, name);
}

std::shared_ptr<OVK::Library> VornLibrariesManager::GetClientLibrary(const std::string& name) {
  VornLibrariesManager* manager = _GetInstance();
  return manager ? manager->_LoadClientLibrary(name) : nullptr;
}

bool VornLibrariesManager::IsClientLibraryKnown(const std::string& name) {
  const VornLibrariesManager* manager = _GetInstance();
  return manager && InvalidNameReason(name) == nullptr &&
         (manager->m_libraries.contains(name) || manager->m_clientLibraries.contains(name));
}

std::shared_ptr<OVK::Library> VornLibrariesManager::_LoadClientLibrary(const std::string& name) {
  // Checked before any lookup: the tables never see a refused name.
  if (const char* reason = InvalidNameReason(name)) {
    Vorn::RaiseError("[Vorn - Libraries Manager] Refused client library '" + _ShownName(name) + "': " + reason);
    return nullptr;
  }
  if (auto it = m_libraries.find(name); it != m_libraries.end()) return it->second;
  if (!m_clientLibraries.contains(name)) {
    Vorn::RaiseError("[Vorn - Libraries Manager] Refused client library '" + _ShownName(name) +
                     "': not declared by the host");
    return nullptr;
  }
  for (const std::string& folder : m_pluginFolders) {
    for (const std::string& file : {"lib" + name + ".so", name + ".so"}) {
      const std::string path = folder + "/" + file;
      std::error_code ec;
      if (std::filesystem::is_regular_file(path, ec)) return _Load(name, path);
    }
  }
  Vorn::RaiseError("[Vorn - Libraries Manager] Refused client library '" + _ShownName(name) +
                   "': not found in the plug-in folders");
  return nullptr;
}

std::shared_ptr<OVK::Library> VornLibrariesManager::_Load(const std::string& name, const std::string& target) {
  // The report is raised outside the try block: in exceptions mode it
  // throws, and must not be caught and reworded as a loading exception.
  std::string errorText, path, failure;
  std::shared_ptr<OVK::Library> library;
  try {
    library = OVK::Library::CreateLibrary(target.c_str(), errorText, path, false);
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

void VornLibrariesManager::SetPluginFolders(std::vector<std::string> folders) {
  VornLibrariesManager* manager = _GetInstance();
  if (!manager) return;
  std::erase_if(folders, [](const std::string& folder) { return folder.empty(); });
  manager->m_pluginFolders = std::move(folders);
}

void VornLibrariesManager::DeclareClientLibrary(const std::string& name) {
  VornLibrariesManager* manager = _GetInstance();
  if (!manager) return;
  if (const char* reason = InvalidNameReason(name)) {
    Vorn::RaiseError("[Vorn - Libraries Manager] Refused declaration of library '" + _ShownName(name) + "': " + reason);
    return;
  }
  manager->m_clientLibraries.insert_or_assign(name, true);
}

void VornLibrariesManager::_AddReleaseHook(const void* owner, std::function<void()> hook) {
  if (VornLibrariesManager* manager = _GetInstance()) manager->m_releaseHooks.insert_or_assign(owner, std::move(hook));
}

void VornLibrariesManager::_RemoveReleaseHook(const void* owner) {
  VornLibrariesManager* manager = g_runningHooks ? g_runningHooks : _Instance.Peek();
  if (manager) manager->m_releaseHooks.erase(owner);
}

std::shared_ptr<OVK::Library> Vorn::GetLibrary(const std::string& name) { return VornLibrariesManager::GetLibrary(name); }
