#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/json/Value.h"
#include "vorn/values/Value.h"

struct VornRawValueTypeDefinition;
class VornModelPropertiesDicoManager;

// What a property dictionary says of one property name.
struct VORN_API VornModelPropertyDefinition {
  std::string type;  // a value type word ("string", "number", "unknown", ...)
  bool isID = false;
  std::int32_t isArray = 0;  // non-zero: the array form of `type`
  bool readOnly = false;
  bool isExchangeable = false;
  bool mustBeDumped = false;
  std::vector<std::string> possibleValues;
  std::string description;
};

namespace Vorn::_Internal_ {
VORN_API void ReportPropertyHasNoValue(const std::string& name);
VORN_API void ReportPropertyTypeMismatch(const std::string& name);
// Reports that a value of type `valueType` does not fit the property `name`
// of type `type`, whether at its creation or at a set.
VORN_API void ReportPropertyIncompatibility(const std::string& name, std::string_view valueType,
                                            const std::string& type);
}  // namespace Vorn::_Internal_

// One typed value of a model object, declared by a property dictionary.
// Built only by VornModelPropertiesDicoManager.
class VORN_API VornModelProperty : public VornBaseClass {
public:
  static constexpr bool _IsVornShareable_ = true;

  ~VornModelProperty() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  const std::string& GetName() const noexcept { return m_name; }
  // The held value, or null before the first set.
  const VornValue* GetValue() const noexcept { return m_hasValue ? &m_value : nullptr; }
  // Stores a copy of `value`; true when the held value changed. Every set is
  // checked against the declared type ("unknown" accepts anything): a value
  // that does not fit is reported with the dictionary's incompatibility
  // message and changes nothing. An int (or a vector of ints) given to a
  // property of a floating type is stored as double, since JSON clients do
  // not tell 5 from 5.0.
  bool SetValue(const VornValue& value);
  // True when `value` fits the declared type, possibly once widened as
  // SetValue does; with `reportError` a misfit is reported.
  bool Accepts(const VornValue& value, bool reportError) const;
  // The value as JSON; null without a value.
  VornJSONValue GetAsJSONValue() const;
  bool IsID() const noexcept { return m_definition->isID; }
  const VornModelPropertyDefinition& GetDefinition() const noexcept { return *m_definition; }

  // The value as T: T's default, with a report, when there is no value or
  // it holds another type.
  template <class T>
  T GetRawValue() const {
    if (!m_hasValue) {
      Vorn::_Internal_::ReportPropertyHasNoValue(m_name);
      return T{};
    }
    if (!m_value.Holds<T>()) {
      Vorn::_Internal_::ReportPropertyTypeMismatch(m_name);
      return T{};
    }
    return m_value.GetRawValue<T>();
  }

  // Only the dictionary manager can make the key: properties are built
  // there, in one allocation with their control block.
  class _BuildKey {
    friend class VornModelPropertiesDicoManager;
    explicit _BuildKey() = default;
  };
  VornModelProperty(_BuildKey, std::string name, std::shared_ptr<const VornModelPropertyDefinition> definition,
                    std::shared_ptr<VornRawValueTypeDefinition> valueType);

private:

  std::shared_ptr<const VornModelPropertyDefinition> m_definition;
  std::shared_ptr<VornRawValueTypeDefinition> m_valueType;  // empty: nothing fits
  std::string m_name;
  VornValue m_value;
  bool m_hasValue = false;
};
