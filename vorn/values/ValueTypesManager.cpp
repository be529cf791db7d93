#include "vorn/values/ValueTypesManager.h"

#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;

namespace {
std::string KeyOf(const std::string& name, bool isArray) { return isArray ? name + Vorn::TypeWord::kArraySuffix : name; }
}  // namespace

VornRawValueTypeDefinition::~VornRawValueTypeDefinition() = default;

bool VornRawValueTypeDefinition::CheckType(const VornValue& value, bool reportError) const {
  if (typeName == "unknown") return true;
  if (value.HasRawValue() && value.GetTypeKey() == typeInfo.key) return true;
  if (reportError) {
    std::string message = "VornRawValueTypeDefinition::CheckType => type mismatch! Expected=";
    message.append(typeInfo.name).append(", got=").append(value.GetTypeName());
    Vorn::RaiseError(message);
  }
  return false;
}

constinit Vorn::SingletonSlot<VornValueTypesManager> VornValueTypesManager::_Instance;

VornValueTypesManager::VornValueTypesManager() {
  // The plain form of a name first, then its array form.
  auto add = [this](const char* name, VornValue sample) { _AddRawValueTypeDefinitionFromValue(name, sample, false); };
  auto addWithArray = [this](const char* name, VornValue sample, VornValue arraySample) {
    _AddRawValueTypeDefinitionFromValue(name, sample, false);
    _AddRawValueTypeDefinitionFromValue(name, arraySample, true);
  };
  using ModelObjectPtr = std::shared_ptr<VornModelObject>;

  add("unknown", static_cast<void*>(nullptr));
  add("object", static_cast<void*>(nullptr));
  add("objectArray", std::vector<void*>());
  addWithArray("std::string", std::string(), std::vector<std::string>());
  addWithArray("string", std::string(), std::vector<std::string>());
  add("stringArray", std::vector<std::string>());
  addWithArray("bool", false, std::vector<bool>());
  add("boolArray", std::vector<bool>());
  addWithArray("boolean", false, std::vector<bool>());
  add("booleanArray", std::vector<bool>());
  addWithArray("number", 0.0, std::vector<double>());
  add("numberArray", std::vector<double>());
  addWithArray("double", 0.0, std::vector<double>());
  add("doubleArray", std::vector<double>());
  addWithArray("real", 0.0, std::vector<double>());
  add("realArray", std::vector<double>());
  addWithArray("int", 0, std::vector<int>());
  add("intArray", std::vector<int>());
  addWithArray("integer", 0, std::vector<int>());
  add("integerArray", std::vector<int>());
  addWithArray("VornValuesByString", VornValuesByString(), std::vector<VornValuesByString>());
  addWithArray("VornModelObjectSharedPtr", ModelObjectPtr(), std::vector<ModelObjectPtr>());
}

VornValueTypesManager::~VornValueTypesManager() = default;

VornValueTypesManager* VornValueTypesManager::_GetInstance() { return _Instance.Get(); }

void VornValueTypesManager::_DeleteInstance() { _Instance.Delete(); }

std::shared_ptr<VornRawValueTypeDefinition> VornValueTypesManager::GetRawValueTypeDefinition(const std::string& name,
                                                                                             bool isArray) {
  VornValueTypesManager* instance = _GetInstance();
  return instance ? instance->_GetRawValueTypeDefinition(name, isArray) : nullptr;
}

std::shared_ptr<VornRawValueTypeDefinition> VornValueTypesManager::_GetRawValueTypeDefinition(const std::string& name,
                                                                                              bool isArray) const {
  auto it = m_definitions.find(KeyOf(name, isArray));
  return it == m_definitions.end() ? nullptr : it->second;
}

void VornValueTypesManager::_AddRawValueTypeDefinitionFromValue(const std::string& name, const VornValue& sample,
                                                                bool isArray) {
  std::string key = KeyOf(name, isArray);
  if (m_definitions.count(key)) {
    Vorn::RaiseError("[Vorn - Value Types Manager] Type " + name + (isArray ? " (array)" : "") + " already defined!");
    return;
  }
  m_definitions.emplace(std::move(key),
                        std::make_shared<VornRawValueTypeDefinition>(name, isArray, sample.GetTypeInfo(), sample));
}
