#include "vorn/json/Array.h"

VornJSONArray::~VornJSONArray() = default;

const VornJSONValue& VornJSONArray::Get(std::size_t index) const {
  return index < m_elements.size() ? m_elements[index] : VornJSONValue::undefined;
}
