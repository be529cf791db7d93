#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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

namespace Vorn::_Internal_ {
// What every property of one name shares: the name, the definition and the
// value type that definition resolves to. The dictionary manager keeps one
// per registered name and hands it to each property it builds, so a
// property carries one pointer instead of its own copies (a million-node
// tree holds millions of properties). Counted by hand: the count lives in
// the kind and a property holds a plain pointer, half a std::shared_ptr.
class VORN_API ModelPropertyKind {
public:
  ModelPropertyKind(std::string name, std::shared_ptr<const VornModelPropertyDefinition> definition,
                    std::shared_ptr<VornRawValueTypeDefinition> valueType)
      : name(std::move(name)), definition(std::move(definition)), valueType(std::move(valueType)) {}
  ModelPropertyKind(const ModelPropertyKind&) = delete;
  ModelPropertyKind& operator=(const ModelPropertyKind&) = delete;

  const std::string name;
  const std::shared_ptr<const VornModelPropertyDefinition> definition;
  const std::shared_ptr<VornRawValueTypeDefinition> valueType;  // empty: nothing fits

  void Hold() const noexcept { m_holders.fetch_add(1, std::memory_order_relaxed); }
  void Release() const noexcept {
    if (m_holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

private:
  ~ModelPropertyKind() = default;
  mutable std::atomic<std::size_t> m_holders{0};
};

// An owning handle to a kind.
class ModelPropertyKindRef {
public:
  ModelPropertyKindRef() noexcept = default;
  explicit ModelPropertyKindRef(const ModelPropertyKind* kind) noexcept : m_kind(kind) {
    if (m_kind) m_kind->Hold();
  }
  ModelPropertyKindRef(const ModelPropertyKindRef& other) noexcept : ModelPropertyKindRef(other.m_kind) {}
  ModelPropertyKindRef(ModelPropertyKindRef&& other) noexcept : m_kind(std::exchange(other.m_kind, nullptr)) {}
  ModelPropertyKindRef& operator=(ModelPropertyKindRef other) noexcept {
    std::swap(m_kind, other.m_kind);
    return *this;
  }
  ~ModelPropertyKindRef() {
    if (m_kind) m_kind->Release();
  }
  const ModelPropertyKind* operator->() const noexcept { return m_kind; }
  const ModelPropertyKind* get() const noexcept { return m_kind; }
  explicit operator bool() const noexcept { return m_kind != nullptr; }

private:
  const ModelPropertyKind* m_kind = nullptr;
};
}  // namespace Vorn::_Internal_

// One typed value of a model object, declared by a property dictionary.
// Built only by VornModelPropertiesDicoManager.
//
// Size. A property is its value and one pointer to the kind it shares with
// every property of its name (name, definition, value type): 56 bytes, 80
// with its control block in glibc's heap, where it took 144 with copies of
// its own.
class VORN_API VornModelProperty : public VornBaseClass {
public:
  static constexpr bool _IsVornShareable_ = true;

  ~VornModelProperty() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  const std::string& GetName() const noexcept { return m_kind->name; }
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
  bool IsID() const noexcept { return m_kind->definition->isID; }
  const VornModelPropertyDefinition& GetDefinition() const noexcept { return *m_kind->definition; }

  // The value as T: T's default, with a report, when there is no value or
  // it holds another type.
  template <class T>
  T GetRawValue() const {
    if (!m_hasValue) {
      Vorn::_Internal_::ReportPropertyHasNoValue(GetName());
      return T{};
    }
    if (!m_value.Holds<T>()) {
      Vorn::_Internal_::ReportPropertyTypeMismatch(GetName());
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
  VornModelProperty(_BuildKey, Vorn::_Internal_::ModelPropertyKindRef kind);

private:
  Vorn::_Internal_::ModelPropertyKindRef m_kind;
  VornValue m_value;
  bool m_hasValue = false;
};
