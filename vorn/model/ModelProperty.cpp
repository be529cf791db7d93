#include "vorn/model/ModelProperty.h"

#include <vector>

#include "vorn/values/ValueTypesManager.h"

namespace Vorn::_Internal_ {
void ReportPropertyHasNoValue(const std::string& name) {
  Vorn::RaiseError("[Vorn - Model Property] Property '" + name + "' has no value!");
}
void ReportPropertyTypeMismatch(const std::string& name) {
  Vorn::RaiseError("[Vorn - Model Property] Type mismatch for '" + name + "' raw value!");
}
// The dictionary manager's tag: the same misfit is refused at creation and at a set.
void ReportPropertyIncompatibility(const std::string& name, std::string_view valueType, const std::string& type) {
  std::string message("[Vorn - Model Properties Dico Manager] ");
  message.append("Property \"").append(name).append("\" creation error: value type \"").append(valueType);
  message.append("\" not compatible with proprety type \"").append(type).append("\"!");
  Vorn::RaiseError(message);
}
}  // namespace Vorn::_Internal_

namespace {
// The value widened to the declared floating type, when it holds ints;
// nullopt-like empty value otherwise.
bool Widen(const VornRawValueTypeDefinition& type, const VornValue& value, VornValue* widened) {
  if (type.typeInfo.key == Vorn::TypeKey<double>() && value.Holds<int>()) {
    if (widened) *widened = VornValue(static_cast<double>(value.GetRawValue<int>()));
    return true;
  }
  if (type.typeInfo.key == Vorn::TypeKey<std::vector<double>>() && value.Holds<std::vector<int>>()) {
    if (widened) {
      const auto& ints = value.GetRawValue<std::vector<int>>();
      *widened = VornValue(std::vector<double>(ints.begin(), ints.end()));
    }
    return true;
  }
  return false;
}
}  // namespace

VornModelProperty::VornModelProperty(_BuildKey, Vorn::_Internal_::ModelPropertyKindRef kind) : m_kind(std::move(kind)) {}

VornModelProperty::~VornModelProperty() = default;

bool VornModelProperty::Accepts(const VornValue& value, bool reportError) const {
  const VornRawValueTypeDefinition* type = m_kind->valueType.get();
  const bool fits = type && (type->CheckType(value, false) || Widen(*type, value, nullptr));
  if (!fits && reportError)
    Vorn::_Internal_::ReportPropertyIncompatibility(GetName(), value.GetTypeName(), m_kind->definition->type);
  return fits;
}

bool VornModelProperty::SetValue(const VornValue& value) {
  if (!Accepts(value, true)) return false;
  VornValue widened;
  const VornValue& stored = Widen(*m_kind->valueType, value, &widened) ? widened : value;
  if (m_hasValue && m_value == stored) return false;
  m_value = stored;
  m_hasValue = true;
  return true;
}

VornJSONValue VornModelProperty::GetAsJSONValue() const {
  return m_hasValue ? m_value.ToJSON() : VornJSONValue(nullptr);
}
