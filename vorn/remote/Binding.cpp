#include "vorn/remote/Binding.h"

VornBoundRemoteFunction::~VornBoundRemoteFunction() = default;

VornJSONValue Vorn::MakeRemoteError(const std::string& message, const std::string& argument) {
  VornJSONObject detail{{"message", message}};
  if (!argument.empty()) detail.Insert("argument", argument);
  return VornJSONValue(VornJSONObject{{"error", VornJSONValue(std::move(detail))}});
}

const char* Vorn::JSONKindName(const VornJSONValue& value) noexcept {
  static const char* const names[] = {"undefined", "null", "boolean", "number", "integer", "string", "object", "array"};
  return names[static_cast<int>(value.GetKind())];
}
