#include "vorn/contexts/MainComponent.h"

#include <algorithm>

#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ClientApps.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/PropertiesDico.h"
#include "vorn/runtime/LibrariesManager.h"
#include "vorn/runtime/MainThreadManager.h"
#include "vorn/values/ValueTypesManager.h"
#include "vorn/views/ContextInfo.h"
#include "vorn/views/TweakerFactory.h"
#include "vorn/views/ViewsManager.h"

// Never made again once deleted, by Destroy() or at process end (before the
// libraries manager, which is made in its constructor).
constinit Vorn::SingletonSlot<VornMainComponent> VornMainComponent::_Instance{
    {.closeOnDelete = true, .deleteAtExit = true}};

VornMainComponent::VornMainComponent() {
  // Contexts and views may be plug-in objects: they go before any library
  // is unloaded at process end.
  VornLibrariesManager::_AddReleaseHook(this, [] { Destroy(); });
}

VornMainComponent* VornMainComponent::_GetInstance() { return _Instance.Get(); }

VornMainComponent::~VornMainComponent() {
  VornLibrariesManager::_RemoveReleaseHook(this);
  std::vector<std::shared_ptr<VornBaseContext>> contexts;
  for (const auto& [name, info] : m_contexts)
    if (info && info->context) contexts.push_back(info->context);
  for (const auto& context : contexts) context->RequestDestruction();
  contexts.clear();
  m_contexts.clear();
  VornClientAppsManager::_DeleteInstance();
  VornTweakerFactory::_DeleteInstance();
  VornViewsManager::_DeleteInstance();
  VornDataManager::_DeleteInstance();
  VornModelPropertiesDicoManager::_DeleteInstance();
  VornDataTypesManager::_DeleteInstance();
  VornValueTypesManager::_DeleteInstance();
  VornMainThreadManager::_DeleteInstance();
}

void VornMainComponent::Destroy() { _Instance.Delete(); }

bool VornMainComponent::Register(const std::shared_ptr<VornContextInfo>& info) {
  VornMainComponent* instance = _GetInstance();
  if (!instance || !info || !info->context) return false;
  const std::shared_ptr<VornBaseContext> context = info->context;
  const std::string name = context->GetName();
  if (instance->m_contexts.contains(name)) {
    Vorn::RaiseError("[Vorn - Main Component] Register => a context named \"" + name +
                     "\" is already registered: the new one is refused!");
    return false;
  }
  // Only the context stored under the name may end it.
  const VornBaseContext* raw = context.get();
  context->SubscribeOnce(Vorn::kEventDestructionRequested,
                         [name, raw](const std::shared_ptr<VornEventData>&) { _UnregisterIfStored(name, raw); });
  instance->m_contexts.try_emplace(name, info);
  if (VornDataOptions* options = info->dataOptions) {
    const auto root = VornDataManager::InitializeDataTree(options, name);
    VornViewsManager::GenerateViews(info, name, root);
    if (!options->initialValues.empty()) VornDataManager::UpdateDataTree(name, options->initialValues);
  }
  instance->_TellListeners(name, true);
  return true;
}

void VornMainComponent::_TellListeners(const std::string& name, bool registered) {
  // A copy: listeners may come and go meanwhile; a removed one is skipped.
  const auto listeners = m_listeners;
  for (const auto& [id, listener] : listeners) {
    const bool present = std::any_of(m_listeners.begin(), m_listeners.end(),
                                     [id = id](const auto& entry) { return entry.first == id; });
    if (present) (*listener)(name, registered);
  }
}

std::uint64_t VornMainComponent::AddContextsListener(ContextsListener listener) {
  VornMainComponent* instance = _GetInstance();
  if (!instance || !listener) return 0;
  instance->m_listeners.emplace_back(++instance->m_lastListener, std::make_shared<ContextsListener>(std::move(listener)));
  return instance->m_lastListener;
}

void VornMainComponent::RemoveContextsListener(std::uint64_t id) {
  if (VornMainComponent* instance = _Instance.Peek())
    std::erase_if(instance->m_listeners, [id](const auto& entry) { return entry.first == id; });
}

void VornMainComponent::Unregister(const std::string& name) {
  VornMainComponent* instance = _Instance.Peek();
  if (!instance) return;
  VornViewsManager::OnContextEnd(name);
  VornDataManager::OnContextEnd(name);
  auto it = instance->m_contexts.find(name);
  if (it == instance->m_contexts.end()) return;
  // Released after the entry is gone: the context's destructor may come
  // back here.
  const std::shared_ptr<VornContextInfo> info = std::move(it->second);
  instance->m_contexts.erase(it);
  instance->_TellListeners(name, false);
}

void VornMainComponent::_UnregisterIfStored(const std::string& name, const VornBaseContext* context) {
  const auto info = GetContextInfo(name);
  if (info && info->context.get() == context) Unregister(name);
}

VornMainComponent::ContextsTable VornMainComponent::GetContexts() {
  VornMainComponent* instance = _Instance.Peek();
  return instance ? instance->m_contexts : ContextsTable();
}

std::shared_ptr<VornContextInfo> VornMainComponent::GetContextInfo(const std::string& name) {
  VornMainComponent* instance = _Instance.Peek();
  if (!instance) return nullptr;
  auto it = instance->m_contexts.find(name);
  return it == instance->m_contexts.end() ? nullptr : it->second;
}

bool VornMainComponent::IsEntityRegistered(const std::string& name) { return GetContextInfo(name) != nullptr; }

void VornMainComponent::UpdateDataTree(const std::string& name, const VornValuesByString& values) {
  if (_GetInstance()) VornDataManager::UpdateDataTree(name, values);
}

void VornMainComponent::RemoveModelObjects(const std::string& name, const std::vector<VornValuesByString>& criteria,
                                           const bool& requestDestruction) {
  if (_GetInstance()) VornDataManager::RemoveModelObjects(name, criteria, requestDestruction);
}

void VornMainComponent::RunCustomMainThreadLoop(const Vorn::Function<void()>& initial) {
  VornMainThreadManager::_RunCustomLoop(initial);
}

void VornMainComponent::EndCustomMainThreadLoop() { VornMainThreadManager::_Stop(); }
