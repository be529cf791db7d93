#include "vorn/model/DataTypesManager.h"

#include "vorn/runtime/Resources.h"

namespace {
// True when linking `definition` to `super` would close a loop of types.
bool WouldCycle(const VornDataTypeDefinition* definition, const VornDataTypeDefinition* super) {
  for (const VornDataTypeDefinition* p = super; p; p = p->superType.get())
    if (p == definition) return true;
  return false;
}

void LinkSuperType(const std::shared_ptr<VornDataTypeDefinition>& definition,
                   const std::shared_ptr<VornDataTypeDefinition>& super) {
  if (super && !WouldCycle(definition.get(), super.get())) definition->superType = super;
}
}  // namespace

VornDataTypeDefinition::~VornDataTypeDefinition() = default;

bool VornDataTypeDefinition::IsA(const std::string& other) const {
  for (const VornDataTypeDefinition* p = this; p; p = p->superType.get())
    if (p->name == other) return true;
  return false;
}

constinit Vorn::SingletonSlot<VornDataTypesManager> VornDataTypesManager::_Instance;

VornDataTypesManager::~VornDataTypesManager() = default;

VornDataTypesManager* VornDataTypesManager::_GetInstance() { return _Instance.Get(); }

void VornDataTypesManager::_DeleteInstance() { _Instance.Delete(); }

void VornDataTypesManager::RegisterDataTypes(const std::string& name) {
  if (VornDataTypesManager* instance = _GetInstance()) instance->_RegisterDataTypes(name);
}

std::shared_ptr<VornDataTypeDefinition> VornDataTypesManager::GetDataTypeDefinition(const std::string& name) {
  VornDataTypesManager* instance = _GetInstance();
  if (!instance) return nullptr;
  auto it = instance->m_definitions.find(name);
  return it == instance->m_definitions.end() ? nullptr : it->second;
}

std::shared_ptr<VornDataTypeDefinition> VornDataTypesManager::_AddDataTypeDefinition(
    const std::shared_ptr<VornDataTypeDefinition>& definition) {
  VornDataTypesManager* instance = _GetInstance();
  if (!instance || !definition) return nullptr;
  return instance->m_definitions.try_emplace(definition->name, definition).first->second;
}

void VornDataTypesManager::_RegisterDataTypes(const std::string& name) {
  const VornJSONValue loaded = Vorn::LoadResourceJSON(std::string(Vorn::kVornFolderName), name);
  const VornJSONObject* object = loaded.GetIfObject();
  if (!object) return;
  VornDataTypesVisitor visitor;
  JSON::JIStream(*object).Apply(visitor);
}

bool VornDataTypesVisitor::Visit(const KRTUnicodeString& key, const JSON::JIStream& value) {
  auto definition = std::make_shared<VornDataTypeDefinition>();
  VornDataTypeVisitor typeVisitor(definition);
  if (!value.Apply(typeVisitor)) return false;  // this type only is dropped
  definition->name = std::string(key.View());

  // A name defined earlier keeps its definition: links go to that one.
  const std::shared_ptr<VornDataTypeDefinition> registered = VornDataTypesManager::_AddDataTypeDefinition(definition);
  if (!registered) return false;
  if (registered == definition && !definition->superType && !typeVisitor.GetSuperTypeName().empty())
    m_waiting[typeVisitor.GetSuperTypeName()].push_back(definition);

  auto waiting = m_waiting.find(definition->name);
  if (waiting != m_waiting.end()) {
    for (const auto& subtype : waiting->second) LinkSuperType(subtype, registered);
    m_waiting.erase(waiting);
  }
  return true;
}

bool VornDataTypeVisitor::Visit(const KRTUnicodeString& key, const std::vector<KRTUnicodeString>& values) {
  if (key != "writableAs") return false;
  m_definition->writableAs.clear();
  for (const KRTUnicodeString& value : values) m_definition->writableAs.emplace_back(value.View());
  return true;
}

bool VornDataTypeVisitor::Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) {
  if (key != "superType") return false;
  m_superTypeName = std::string(value.View());
  LinkSuperType(m_definition, VornDataTypesManager::GetDataTypeDefinition(m_superTypeName));
  return true;
}
