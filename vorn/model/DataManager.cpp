#include "vorn/model/DataManager.h"

#include "vorn/model/ModelObject.h"

VornDataOptions::~VornDataOptions() {
  // The callback goes first: it may hold what the values refer to.
  onDataTreeInitialized = nullptr;
}

constinit Vorn::SingletonSlot<VornDataManager> VornDataManager::_Instance;

VornDataManager::~VornDataManager() = default;

VornDataManager* VornDataManager::_GetInstance() { return _Instance.Get(); }

void VornDataManager::_DeleteInstance() { _Instance.Delete(); }

std::shared_ptr<VornModelObject> VornDataManager::_GetTree(const std::string& contextName) {
  VornDataManager* instance = _GetInstance();
  if (!instance) return nullptr;
  auto it = instance->m_trees.find(contextName);
  return it == instance->m_trees.end() ? nullptr : it->second;
}

std::shared_ptr<VornModelObject> VornDataManager::InitializeDataTree(const VornDataOptions* options,
                                                                     const std::string& contextName) {
  VornDataManager* instance = _GetInstance();
  VornModelObjectInitOptions rootOptions;
  rootOptions.isTrueRoot = true;
  auto root = VornModelObject::BuildSharedPtrFromOptions(rootOptions);
  // The root is addressed by its context's name, the same at every start.
  root->SetValue<std::string>("id", contextName, true);
  if (instance) instance->m_trees.try_emplace(contextName, root);
  if (options && options->onDataTreeInitialized) options->onDataTreeInitialized(root);
  return root;
}

void VornDataManager::AddRoot(const std::string& contextName, const std::shared_ptr<VornModelObject>& object) {
  if (!object) return;
  if (auto root = _GetTree(contextName)) root->AddChild(object);
}

bool VornDataManager::IsInTree(const std::string& contextName, const std::shared_ptr<VornModelObject>& object) {
  if (!object) return false;
  std::shared_ptr<VornModelObject> top = object;
  // Bounded: a chain of parent links set by hand could loop.
  for (std::size_t steps = 0; steps < 1'000'000; ++steps) {
    auto parent = top->GetParent();
    if (!parent) return top->IsTrueRoot() && top == _GetTree(contextName);
    top = std::move(parent);
  }
  return false;
}

void VornDataManager::UpdateDataTree(const std::string& contextName, const VornValuesByString& values) {
  if (values.empty()) return;
  if (auto root = _GetTree(contextName)) root->UpdateChildren(values, false);
}

void VornDataManager::RemoveModelObject(const std::string& contextName, const std::shared_ptr<VornModelObject>& object,
                                        const bool& requestDestruction) {
  if (!object) return;
  if (auto root = _GetTree(contextName)) root->RemoveChild(object->GetID(), requestDestruction);
}

void VornDataManager::RemoveModelObjects(const std::string& contextName,
                                         const std::vector<VornValuesByString>& criteria,
                                         const bool& requestDestruction) {
  if (auto root = _GetTree(contextName)) root->RemoveChildren(criteria, requestDestruction);
}

void VornDataManager::OnContextEnd(const std::string& contextName) {
  VornDataManager* instance = _GetInstance();
  if (!instance) return;
  auto it = instance->m_trees.find(contextName);
  if (it == instance->m_trees.end()) return;
  const auto root = std::move(it->second);  // released after the entry is gone
  instance->m_trees.erase(it);
}
