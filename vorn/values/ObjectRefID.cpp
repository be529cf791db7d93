#include "vorn/values/ObjectRefID.h"

#include <sstream>

VornObjectRefID::VornObjectRefID(const std::string& text) {
  std::istringstream in(text);
  unsigned long long raw = 0;
  if (in >> std::hex >> raw) m_raw = raw;
}

std::string VornObjectRefID::ToString() const {
  std::ostringstream out;
  out << std::hex << m_raw;
  return out.str();
}
