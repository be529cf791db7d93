#include "vorn/core/Any.h"

#include <mutex>
#include <utility>

#include "vorn/core/ErrorPolicy.h"

namespace Vorn::_Internal_ {

namespace {
struct HandleRules {
  std::mutex mutex;
  std::vector<std::pair<unsigned long long, HandleEqualityFn>> byKey;  // a handful: a scan is enough
};
HandleRules& Rules() {
  static HandleRules* const rules = new HandleRules;  // lives until unload: static destructors may compare
  return *rules;
}
}  // namespace

void SetHandleEquality(unsigned long long pointeeKey, HandleEqualityFn equal) {
  HandleRules& rules = Rules();
  const std::lock_guard lock(rules.mutex);
  for (auto& [key, rule] : rules.byKey)
    if (key == pointeeKey) {
      rule = equal;
      return;
    }
  rules.byKey.emplace_back(pointeeKey, equal);
}

HandleEqualityFn FindHandleEquality(unsigned long long pointeeKey) {
  HandleRules& rules = Rules();
  const std::lock_guard lock(rules.mutex);
  for (const auto& [key, rule] : rules.byKey)
    if (key == pointeeKey) return rule;
  return nullptr;
}

void ReportAnyTypeMismatch(std::string_view requested, std::string_view stored) {
  std::string message = "[VornAny] Type mismatch in GetRawValue<T>()!\nRequested type: '";
  message.append(requested).append("';Stored type: '").append(stored).append("'.\nReturning default value.");
  RaiseError(message);
}

}  // namespace Vorn::_Internal_

bool VornAny::IsEqualTo(const VornAny& other) const {
  if (!m_raw || !other.m_raw) return !m_raw && !other.m_raw;
  if (m_raw->GetTypeInfo().key != other.m_raw->GetTypeInfo().key) return false;
  return m_raw->IsEqualTo(*other.m_raw);
}

bool VornAny::IsOfSameType(const VornAny& other, bool reportError) const {
  if (m_raw && other.m_raw) {
    const bool same = GetTypeKey() == other.GetTypeKey();
    if (same || !reportError) return same;
    std::string message = "VornAny::IsOfSameType => Type ";
    message.append(other.GetTypeName()).append(" incorrect ! Excepted Type = ").append(GetTypeName());
    Vorn::RaiseError(message);
    return false;
  }
  if (reportError)
    Vorn::RaiseError(!m_raw ? "VornAny::IsOfSameType => This value is empty!"
                            : "VornAny::IsOfSameType => Other value is empty!");
  return false;
}

bool VornAny::IsOfSameType(const VornAny* other, bool reportError) const {
  if (!other) {
    if (reportError) Vorn::RaiseError("VornAny::IsOfSameType => Other value is null!");
    return false;
  }
  return IsOfSameType(*other, reportError);
}

bool VornAny::IsOfSameType(const std::shared_ptr<VornAny>& other, bool reportError) const {
  if (!other || !other->HasRawValue()) {
    if (reportError) Vorn::RaiseError("VornAny::IsOfSameType => Other value is null!");
    return false;
  }
  return IsOfSameType(*other, reportError);
}
