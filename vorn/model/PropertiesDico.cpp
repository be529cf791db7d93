#include "vorn/model/PropertiesDico.h"

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/Paths.h"
#include "vorn/model/ModelArena.h"
#include "vorn/model/ModelProperty.h"
#include "vorn/runtime/Resources.h"
#include "vorn/values/ValueTypesManager.h"

namespace {
constexpr const char* kTag = "[Vorn - Model Properties Dico Manager] ";

void ReportUnknownKey(const char* slot, const KRTUnicodeString& key) {
  std::string message(kTag);
  message.append("VornPropDefinitionVisitor for ").append(slot).append(" => error: Unknown key = \"");
  message.append(key.View()).append("\"!");
  Vorn::RaiseError(message);
}
}  // namespace

// The default dictionary is registered first, so its names can never be
// redefined.
constinit Vorn::SingletonSlot<VornModelPropertiesDicoManager> VornModelPropertiesDicoManager::_Instance{
    {.onCreated = [](VornModelPropertiesDicoManager& manager) {
      manager._RegisterDico("VornDefaultModelPropertiesDico", std::string(Vorn::kVornResourceFolder));
    }}};

VornModelPropertiesDicoManager::~VornModelPropertiesDicoManager() = default;

VornModelPropertiesDicoManager* VornModelPropertiesDicoManager::_GetInstance() { return _Instance.Get(); }

void VornModelPropertiesDicoManager::_DeleteInstance() { _Instance.Delete(); }

void VornModelPropertiesDicoManager::RegisterDico(const std::string& name, const std::string& folder) {
  if (VornModelPropertiesDicoManager* instance = _GetInstance()) instance->_RegisterDico(name, folder);
}

void VornModelPropertiesDicoManager::_RegisterDico(const std::string& name, const std::string& folder) {
  const std::string relative = folder + name + std::string(Vorn::kResourceFileSuffix);
  const std::string path = KRTFindPath(relative.c_str(), Vorn::GetInstallPath().c_str());
  if (path.empty()) return;
  JSON::JIStream reader;
  if (!reader.ParseFile(path, true)) return;
  VornModelPropsDicoVisitor visitor;
  reader.Apply(visitor);
  for (const auto& [propertyName, definition] : visitor.GetDefinitions())
    m_definitions.try_emplace(propertyName, _Entry{std::make_shared<const VornModelPropertyDefinition>(definition), {}});
}

VornModelPropertiesDicoManager::_Entry* VornModelPropertiesDicoManager::_Find(const std::string& name) {
  auto it = m_definitions.find(name);
  return it == m_definitions.end() ? nullptr : &it->second;
}

bool VornModelPropertiesDicoManager::_GetPropertyDefinition(const std::string& name,
                                                            VornModelPropertyDefinition& definition) {
  VornModelPropertiesDicoManager* instance = _GetInstance();
  const _Entry* found = instance ? instance->_Find(name) : nullptr;
  if (!found) return false;
  definition = *found->definition;
  return true;
}

void VornModelPropertiesDicoManager::_LogPropertyAbsenceException(const std::string& name) {
  Vorn::RaiseError(std::string(kTag) + "Property " + name + " does not exist!");
}

Vorn::_Internal_::ModelPropertyKindRef VornModelPropertiesDicoManager::_KindOf(const std::string& name, _Entry& entry) {
  const VornModelPropertyDefinition& definition = *entry.definition;
  auto valueType = VornValueTypesManager::GetRawValueTypeDefinition(definition.type, definition.isArray != 0);
  VornModelPropertiesDicoManager* instance = _GetInstance();
  std::unique_lock<std::mutex> lock;
  if (instance) lock = std::unique_lock<std::mutex>(instance->m_kindsLock);
  if (!entry.kind || entry.kind->valueType != valueType)
    entry.kind = Vorn::_Internal_::ModelPropertyKindRef(
        new Vorn::_Internal_::ModelPropertyKind(name, entry.definition, std::move(valueType)));
  return entry.kind;
}

std::shared_ptr<VornModelProperty> VornModelPropertiesDicoManager::_Create(const std::string& name,
                                                                         Vorn::_Internal_::ModelPropertyKindRef kind,
                                                                         bool compatible,
                                                                         std::string_view valueTypeName) {
  if (!compatible) {
    Vorn::_Internal_::ReportPropertyIncompatibility(name, valueTypeName, kind->definition->type);
    return nullptr;
  }
  return std::allocate_shared<VornModelProperty>(VornModelAllocator<VornModelProperty>(), VornModelProperty::_BuildKey(),
                                                std::move(kind));
}

std::shared_ptr<VornModelProperty> VornModelPropertiesDicoManager::_CreateProperty(
    const std::string& name, const VornModelPropertyDefinition& definition, bool compatible,
    const Vorn::TypeInfo& valueType) {
  // A definition of the caller's own: a kind of its own too.
  _Entry entry{std::make_shared<const VornModelPropertyDefinition>(definition), {}};
  return _Create(name, _KindOf(name, entry), compatible, valueType.name);
}

std::shared_ptr<VornModelProperty> VornModelPropertiesDicoManager::_CreatePropertyFromValue(const std::string& name,
                                                                                          const VornValue& value) {
  VornModelPropertiesDicoManager* instance = _GetInstance();
  _Entry* entry = instance ? instance->_Find(name) : nullptr;
  if (!entry) {
    _LogPropertyAbsenceException(name);
    return nullptr;
  }
  auto property = _Create(name, _KindOf(name, *entry), true, {});
  if (!property->Accepts(value, false)) {
    Vorn::_Internal_::ReportPropertyIncompatibility(name, value.GetTypeName(), entry->definition->type);
    return nullptr;
  }
  return property;
}

std::shared_ptr<VornModelProperty> VornModelPropertiesDicoManager::_CreatePropertyForType(const std::string& name,
                                                                                        const Vorn::TypeInfo& type) {
  VornModelPropertiesDicoManager* instance = _GetInstance();
  _Entry* entry = instance ? instance->_Find(name) : nullptr;
  if (!entry) {
    _LogPropertyAbsenceException(name);
    return nullptr;
  }
  auto kind = _KindOf(name, *entry);
  const auto& valueType = kind->valueType;
  const bool compatible = valueType && (valueType->typeName == "unknown" || valueType->typeInfo.key == type.key);
  return _Create(name, std::move(kind), compatible, type.name);
}

// --- visitors -----------------------------------------------------------------------

bool VornModelPropsDicoVisitor::Visit(const KRTUnicodeString& key, const JSON::JIStream& value) {
  VornPropDefinitionVisitor definitionVisitor;
  if (!value.Apply(definitionVisitor)) return false;  // that property only is dropped
  m_definitions.try_emplace(std::string(key.View()), definitionVisitor.GetDefinition());
  return true;
}

bool VornPropDefinitionVisitor::Visit(const KRTUnicodeString& key, const std::vector<KRTUnicodeString>& values) {
  if (key == "possibleValues") {
    m_definition.possibleValues.clear();
    for (const KRTUnicodeString& value : values) m_definition.possibleValues.emplace_back(value.View());
  } else {
    ReportUnknownKey("std::vector<KRTUnicodeString>", key);
  }
  return true;
}

bool VornPropDefinitionVisitor::Visit(const KRTUnicodeString& key, bool value) {
  if (key == "isID")
    m_definition.isID = value;
  else if (key == "readOnly")
    m_definition.readOnly = value;
  else if (key == "isExchangeable")
    m_definition.isExchangeable = value;
  else if (key == "mustBeDumped")
    m_definition.mustBeDumped = value;
  else
    ReportUnknownKey("boolean", key);
  return true;
}

bool VornPropDefinitionVisitor::Visit(const KRTUnicodeString& key, const KRTUnicodeString& value) {
  if (key == "type") {
    m_definition.type = std::string(value.View());
  } else if (key == "typeArray") {
    m_definition.type = std::string(value.View());
    m_definition.isArray = 1;
  } else if (key == "description") {
    m_definition.description = std::string(value.View());
  } else {
    ReportUnknownKey("string", key);
    return false;
  }
  return true;
}
