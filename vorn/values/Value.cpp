#include "vorn/values/Value.h"

#include "vorn/core/ErrorPolicy.h"

VornValue::~VornValue() = default;

bool VornValue::IsOfSameType(const VornValue* other, bool reportError) const {
  if (!other) {
    if (reportError) Vorn::RaiseError("VornValue::IsOfSameType => Other value is null!");
    return false;
  }
  return VornAny::IsOfSameType(*other, reportError);
}
