#pragma once

#include <memory>
#include <string>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/values/ValuesByString.h"

// A values-by-string table in an object of the shared hierarchy. It does not
// hand out shared ownership of itself.
class VORN_API VornNamedValues : public VornBaseClass {
public:
  static constexpr bool _IsVornShareable_ = false;
  static constexpr bool _IsVornBuildable_ = true;

  VornNamedValues() = default;
  explicit VornNamedValues(const VornValuesByString& values) : m_values(values) {}
  ~VornNamedValues() override;

  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  // The value stored under `name`, or null.
  const VornValue* Get(const std::string& name) const;
  // Stores a copy of `value` under `name`: an existing value is replaced in
  // place (its position in iteration order is kept), a new name is appended.
  void Set(const std::string& name, const VornValue& value);

  const VornValuesByString& GetValues() const noexcept { return m_values; }

private:
  VornValuesByString m_values;
};
