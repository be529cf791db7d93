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

Vorn::RemoteError::RemoteError(std::string reason, const std::string& message, VornJSONObject details)
    : std::runtime_error(message), m_reason(std::move(reason)), m_details(std::move(details)) {}

Vorn::RemoteError::RemoteError(const VornValueRefusal& refusal)
    : RemoteError(refusal.reason, refusal.message, refusal.details) {}

Vorn::RemoteError::~RemoteError() = default;

VornJSONValue Vorn::RemoteError::ToReply() const {
  VornJSONObject detail{{"message", what()}, {"reason", m_reason}};
  for (const auto& [key, value] : m_details)
    if (key != "message" && key != "reason") detail.Set(key, value);
  return VornJSONValue(VornJSONObject{{"error", VornJSONValue(std::move(detail))}});
}
