#pragma once

// Helpers shared by the bridging suites.

#include <string>
#include <vector>

#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"
#include "vorn/json/Value.h"

namespace bridge_test {

// A value from JSON text (strict).
inline VornJSONValue J(const std::string& text) { return VornJSONParser::ParseText(text, false); }

// Compact text of a value, for comparisons that read well in failures.
inline std::string S(const VornJSONValue& value) { return value.Stringify(); }

using Path = std::vector<std::string>;

}  // namespace bridge_test
