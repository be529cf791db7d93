#include "vorn/contexts/ClientApps.h"

#include <algorithm>

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/views/ContextInfo.h"

namespace {
std::shared_ptr<VornEventData> BoolData(bool value) { return VornEventData::Create(VornValue_sp::Make(VornValue(value))); }
}  // namespace

// --- client app ---------------------------------------------------------------------

VornBaseClientApp::VornBaseClientApp(const std::string& identifier, const std::vector<std::string>& contextNames)
    : VornRemoteObject(identifier, VornKRTRemoteObject::kDefaultNamespace) {
  for (const std::string& name : contextNames) m_contextStatuses.try_emplace(name, false);
}

VornBaseClientApp::~VornBaseClientApp() = default;

void VornBaseClientApp::Launch() { Publish("onLaunch", nullptr); }

void VornBaseClientApp::Close() { Publish("onClose", nullptr); }

void VornBaseClientApp::Show() {
  m_displayed = true;
  Publish("onShow", nullptr);
}

void VornBaseClientApp::Hide() {
  m_displayed = false;
  Publish("onHide", nullptr);
}

bool VornBaseClientApp::GetContextStatus(const std::string& contextName) const {
  auto it = m_contextStatuses.find(contextName);
  return it != m_contextStatuses.end() && it->second;
}

void VornBaseClientApp::_AddToContext(const std::string& contextName) {
  const auto info = VornMainComponent::GetContextInfo(contextName);
  auto self = std::static_pointer_cast<VornBaseClientApp>(_GetSharedPtrFromBase());
  if (info && info->context && self) info->context->_AddClientApp(self);
}

void VornBaseClientApp::_ChangeClientContextStatus(const std::string& contextName, const bool& status) {
  if (contextName.empty()) return;
  const bool isNew = !m_contextStatuses.contains(contextName);
  m_contextStatuses.insert_or_assign(contextName, status);
  Publish("OnRemoteContextStatusChange/" + contextName, BoolData(status));
  if (isNew) _AddToContext(contextName);
}

void VornBaseClientApp::_ChangeConnectionStatus(const bool& connected, const std::vector<std::string>& contextNames) {
  m_connected = connected;
  std::vector<std::string> added;
  for (const std::string& name : contextNames) {
    if (!m_contextStatuses.contains(name)) added.push_back(name);
    m_contextStatuses.insert_or_assign(name, connected);
  }
  for (auto& [name, status] : m_contextStatuses)
    if (std::find(contextNames.begin(), contextNames.end(), name) == contextNames.end()) status = false;
  Publish("onConnectionChange", BoolData(connected));
  for (const std::string& name : added) _AddToContext(name);
}

// --- manager ---------------------------------------------------------------------------

// Not made once the main component is destroyed: the teardown deletes it
// and nothing may bring it back.
constinit Vorn::SingletonSlot<VornClientAppsManager> VornClientAppsManager::_Instance{
    {.mayCreate = [] { return !VornMainComponent::IsDestroyed(); }}};

VornClientAppsManager::~VornClientAppsManager() = default;

VornClientAppsManager* VornClientAppsManager::_GetInstance() { return _Instance.Get(); }

void VornClientAppsManager::_DeleteInstance() { _Instance.Delete(); }

bool VornClientAppsManager::Register(const std::shared_ptr<VornBaseClientApp>& app) {
  VornClientAppsManager* instance = _GetInstance();
  if (!instance) return false;
  if (!app) {
    Vorn::RaiseError("[VornClientAppsManager::Register] The provided object is not a valid VornBaseClientApp!");
    return false;
  }
  const std::string id = app->GetID();
  if (!instance->m_apps.try_emplace(id, app).second) return false;
  // Only the app stored under the identifier may end it.
  const VornBaseClientApp* raw = app.get();
  app->SubscribeOnce(Vorn::kEventDestructionRequested, [id, raw](const std::shared_ptr<VornEventData>&) {
    if (GetClientApp(id).get() == raw) Unregister(id);
  });
  return true;
}

void VornClientAppsManager::Unregister(const std::string& identifier) {
  VornClientAppsManager* instance = _Instance.Peek();
  if (!instance) return;
  instance->m_connections.erase(identifier);
  auto it = instance->m_apps.find(identifier);
  if (it == instance->m_apps.end()) return;
  const std::shared_ptr<VornBaseClientApp> app = std::move(it->second);
  instance->m_apps.erase(it);
  if (app) app->RequestDestruction();
}

void VornClientAppsManager::ChangeClientAppConnectionStatus(const OVK::ChannelId& channel, const bool& connected,
                                                            const std::string& identifier,
                                                            const std::vector<std::string>& contextNames) {
  VornClientAppsManager* instance = _GetInstance();
  if (!instance) return;
  std::string id = identifier;
  if (id.empty()) {
    for (const auto& [key, record] : instance->m_connections)
      if (record.channel == channel) {
        id = record.identifier;
        break;
      }
  }
  if (id.empty()) return;
  const auto app = GetClientApp(id);
  if (!connected && !app) {
    instance->m_connections.erase(id);
    return;
  }
  auto [record, added] = instance->m_connections.try_emplace(id, Connection{id, connected, channel});
  if (!added) {
    record->second.connected = connected;
    record->second.channel = channel;
  }
  if (app) app->_ChangeConnectionStatus(connected, contextNames);
}

void VornClientAppsManager::ChangeClientContextStatus(const std::string& identifier, const std::string& contextName,
                                                      const bool& status) {
  if (const auto app = GetClientApp(identifier)) app->_ChangeClientContextStatus(contextName, status);
}

void VornClientAppsManager::ShowClientApp(const std::string& identifier) {
  if (const auto app = GetClientApp(identifier)) app->Show();
}

void VornClientAppsManager::HideClientApp(const std::string& identifier) {
  if (const auto app = GetClientApp(identifier)) app->Hide();
}

void VornClientAppsManager::CloseClientApp(const std::string& identifier) {
  if (const auto app = GetClientApp(identifier)) app->Close();
}

std::shared_ptr<VornBaseClientApp> VornClientAppsManager::GetClientApp(const std::string& identifier) {
  VornClientAppsManager* instance = _Instance.Peek();
  if (!instance) return nullptr;
  auto it = instance->m_apps.find(identifier);
  return it == instance->m_apps.end() ? nullptr : it->second;
}

std::shared_ptr<VornBaseClientApp> VornClientAppsManager::GetClientApp(const OVK::ChannelId& channel) {
  VornClientAppsManager* instance = _Instance.Peek();
  if (!instance) return nullptr;
  for (const auto& [id, record] : instance->m_connections)
    if (record.channel == channel) return GetClientApp(record.identifier);
  return nullptr;
}

std::vector<std::string> VornClientAppsManager::GetClientAppIDs() {
  std::vector<std::string> ids;
  if (VornClientAppsManager* instance = _Instance.Peek())
    for (const auto& [id, app] : instance->m_apps) ids.push_back(id);
  return ids;
}

bool VornClientAppsManager::HasClientApp(const std::string& identifier) { return GetClientApp(identifier) != nullptr; }

bool VornClientAppsManager::IsClientAppConnected(const std::string& identifier) {
  VornClientAppsManager* instance = _Instance.Peek();
  if (!instance) return false;
  auto it = instance->m_connections.find(identifier);
  return it != instance->m_connections.end() && it->second.connected;
}

bool VornClientAppsManager::IsClientAppDisplayed(const std::string& identifier) {
  const auto app = GetClientApp(identifier);
  return app && app->IsDisplayed();
}

std::shared_ptr<VornEventToken> VornClientAppsManager::ListenToClientApp(
    const std::string& identifier, const std::string& eventName,
    const std::function<void(const std::shared_ptr<VornEventData>&)>& callback) {
  const auto app = GetClientApp(identifier);
  return app ? app->Subscribe(eventName, callback) : nullptr;
}

std::size_t VornClientAppsManager::ConnectionCount() {
  VornClientAppsManager* instance = _Instance.Peek();
  return instance ? instance->m_connections.size() : 0;
}
