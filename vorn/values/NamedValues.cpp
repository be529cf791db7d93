#include "vorn/values/NamedValues.h"

VornNamedValues::~VornNamedValues() = default;

const VornValue* VornNamedValues::Get(const std::string& name) const {
  auto it = m_values.find(name);
  return it == m_values.end() ? nullptr : &it->second;
}

void VornNamedValues::Set(const std::string& name, const VornValue& value) {
  auto [it, inserted] = m_values.try_emplace(name);
  if (it != m_values.end()) it->second = value;  // end: the table could not grow (reported)
}
