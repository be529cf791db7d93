#include "vorn/contexts/BaseContext.h"

#include <utility>

#include "vorn/contexts/ClientApps.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/Converters.h"
#include "vorn/views/ContextInfo.h"

namespace {
void UnsubscribeAll(std::vector<std::shared_ptr<VornEventToken>>& tokens) {
  for (const auto& token : tokens)
    if (token) token->Unsubscribe();
  tokens.clear();
}

bool BoolOf(const std::shared_ptr<VornEventData>& data) {
  const VornValue_sp value = data ? data->GetValue() : VornValue_sp();
  return value && value->Holds<bool>() && value->GetRawValue<bool>();
}
}  // namespace

VornContextsDataUpdateRequest::~VornContextsDataUpdateRequest() = default;

VornBaseContext::VornBaseContext(const std::string& name, const std::string& nameSpace)
    : VornRemoteObject(name, nameSpace) {}

VornBaseContext::~VornBaseContext() {
  for (auto& [object, listened] : m_modelObjectTokens) UnsubscribeAll(listened.tokens);
  m_modelObjectTokens.clear();
  m_clientApps.clear();
  for (auto& [id, tokens] : m_clientAppTokens) UnsubscribeAll(tokens);
  m_clientAppTokens.clear();
  VornMainComponent::_UnregisterIfStored(GetName(), this);
}

void VornBaseContext::UpdateDataTree(const VornValuesByString& values) {
  VornMainComponent::UpdateDataTree(GetName(), values);
}

void VornBaseContext::RemoveModelObjects(const std::vector<VornValuesByString>& criteria, bool requestDestruction) {
  VornMainComponent::RemoveModelObjects(GetName(), criteria, requestDestruction);
}

bool VornBaseContext::RegisterInVorn(const std::shared_ptr<VornContextInfo>& info) {
  if (!_RegisterInVorn(info ? info : BuildRegistrationInfo())) return false;
  _RegisterRemoteObject();
  return true;
}

bool VornBaseContext::_RegisterInVorn(const std::shared_ptr<VornContextInfo>& given) {
  std::shared_ptr<VornBaseContext> self = std::static_pointer_cast<VornBaseContext>(_GetSharedPtrFromBase());
  // Set once the main component holds the context: until then the new
  // ownership must not delete what the caller still owns.
  std::shared_ptr<bool> adopted;
  if (!self) {
    adopted = std::make_shared<bool>(false);
    self = std::shared_ptr<VornBaseContext>(this, [adopted](VornBaseContext* context) {
      if (*adopted) delete context;
    });
  }
  std::shared_ptr<VornContextInfo> info = given ? given : std::make_shared<VornContextInfo>();
  std::shared_ptr<VornBaseContext> previous = std::exchange(info->context, self);
  bool callbackSet = false;
  if (info->dataOptions && !info->dataOptions->onDataTreeInitialized) {
    std::weak_ptr<VornBaseContext> weak = self;
    info->dataOptions->onDataTreeInitialized = [weak](const ModelObjectPtr& root) {
      if (auto context = weak.lock()) context->_ManageNewModelObject(root);
    };
    callbackSet = true;
  }
  const auto settle = [&](bool registered) {
    if (adopted) *adopted = registered;
    if (registered) return;
    info->context = std::move(previous);
    if (callbackSet) info->dataOptions->onDataTreeInitialized = nullptr;
  };
  bool registered = false;
  try {
    registered = VornMainComponent::Register(info);
  } catch (...) {
    // A report thrown part way: registered if the record was stored.
    const auto stored = VornMainComponent::GetContextInfo(GetName());
    settle(stored && stored->context == self);
    throw;
  }
  settle(registered);
  return registered;
}

std::vector<VornBaseContext::ClientAppPtr> VornBaseContext::GetClientApps() const {
  std::vector<ClientAppPtr> apps;
  for (const auto& [id, app] : m_clientApps) apps.push_back(app);
  return apps;
}

void VornBaseContext::_ManageNewModelObject(const ModelObjectPtr& object) {
  if (!object) return;
  for (const ModelObjectPtr& child : object->GetChildren()) _ManageNewModelObject(child);
  _ListenModelObject(object);
  _OnNewModelObject(object);
}

void VornBaseContext::_ListenModelObject(const ModelObjectPtr& object) {
  if (!object) return;
  auto [it, added] = m_modelObjectTokens.try_emplace(object.get());
  Listened& listened = it->second;
  if (!added && !listened.object.expired()) return;
  UnsubscribeAll(listened.tokens);  // a stale entry: another object had this address
  listened.object = object;
  listened.tokens.push_back(object->Subscribe("onAddChild", [this](const std::shared_ptr<VornEventData>& data) {
    if (auto added = std::dynamic_pointer_cast<VornMOAddChildEventData>(data)) _ManageNewModelObject(added->GetNewChild());
  }));
  listened.tokens.push_back(object->Subscribe(
      "onChange", [this](const std::shared_ptr<VornEventData>& data) { _OnModelObjectDataChange(data); }));
  listened.tokens.push_back(
      object->SubscribeOnce(Vorn::kEventDestructionRequested, [this](const std::shared_ptr<VornEventData>& data) {
        auto* publisher = static_cast<VornModelObject*>(static_cast<VornEventsHandler*>(data->GetEventPublisher()));
        _UnsubscribeToModelObject(publisher);
        _OnModelObjectDestructionRequested(publisher);
      }));
}

void VornBaseContext::_UnsubscribeToModelObject(VornModelObject* object) {
  if (!object) return;
  auto it = m_modelObjectTokens.find(object);
  if (it == m_modelObjectTokens.end()) return;
  UnsubscribeAll(it->second.tokens);
  m_modelObjectTokens.erase(it);
}

void VornBaseContext::_AddClientApp(const ClientAppPtr& app) {
  if (!app) return;
  const std::string id = app->GetID();
  if (m_clientApps.contains(id)) return;
  std::vector<std::shared_ptr<VornEventToken>> tokens;
  VornBaseClientApp* raw = app.get();
  // The context's own tokens, withdrawn when it goes: raw pointers suffice.
  tokens.push_back(app->SubscribeOnce(Vorn::kEventDestructionRequested, [this, id](const std::shared_ptr<VornEventData>&) {
    if (auto it = m_clientAppTokens.find(id); it != m_clientAppTokens.end()) {
      UnsubscribeAll(it->second);
      m_clientAppTokens.erase(it);
    }
    m_clientApps.erase(id);
  }));
  auto shared = [raw] { return std::static_pointer_cast<VornBaseClientApp>(raw->GetSharedPtr()); };
  tokens.push_back(app->Subscribe("onConnectionChange", [this, shared](const std::shared_ptr<VornEventData>& data) {
    _ManageClientAppConnectionChange(shared(), BoolOf(data));
  }));
  tokens.push_back(app->Subscribe("onLaunch", [this, shared](const auto&) { _ManageClientAppLaunch(shared()); }));
  tokens.push_back(app->Subscribe("onClose", [this, shared](const auto&) { _ManageClientAppClose(shared()); }));
  tokens.push_back(app->Subscribe("onHide", [this, shared](const auto&) { _ManageClientAppHide(shared()); }));
  tokens.push_back(app->Subscribe("onShow", [this, shared](const auto&) { _ManageClientAppShow(shared()); }));
  tokens.push_back(app->Subscribe("OnRemoteContextStatusChange/" + GetName(),
                                  [this, shared](const std::shared_ptr<VornEventData>& data) {
                                    _ManageRemoteContextStatusChange(shared(), BoolOf(data));
                                  }));
  m_clientApps.try_emplace(id, app);
  m_clientAppTokens.try_emplace(id, std::move(tokens));
}

// --- host-object context -------------------------------------------------------------

VornKRTBaseContext::VornKRTBaseContext(const std::string& name, const std::string& refsRegistryName,
                                       bool mustConvertToJSON, const std::string& nameSpace)
    : VornBaseContext(name, nameSpace),
      m_converters(new VornKRTRemoteFuncConverters_V1(refsRegistryName, mustConvertToJSON)) {}

VornKRTBaseContext::~VornKRTBaseContext() = default;

std::string VornKRTBaseContext::GetRefsRegistryName() const {
  return m_converters ? m_converters->GetRefsRegistryName() : std::string();
}

bool VornKRTBaseContext::MustConvertKRTObjectsToJSON() const {
  return m_converters && m_converters->MustConvertToJSON();
}
