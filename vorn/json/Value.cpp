#include "vorn/json/Value.h"

#include <cmath>
#include <exception>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"

const VornJSONValue VornJSONValue::undefined;

namespace {

constexpr const char* kTypeNames[] = {"Undefined", "std::nullptr_t", "bool",           "double",
                                      "int",       "std::string",    "VornJSONObject", "VornJSONArray"};

// Shared empty containers handed out by failed reference conversions.
VornJSONObject& EmptyObject() {
  static VornJSONObject* instance = new VornJSONObject;  // lives until unload
  return *instance;
}
VornJSONArray& EmptyArray() {
  static VornJSONArray* instance = new VornJSONArray;
  return *instance;
}

template <class T>
void ReportInvalidCast(const VornJSONValue& value) {
  std::string message = "[Vorn - JSON Value] Invalid cast to ";
  message.append(Vorn::RawTypeName<T>()).append("! Current type: ").append(value.GetType());
  Vorn::RaiseError(message);
}

template <class T>
void ReportCastFailure(const std::exception& error) {
  std::string message = "[Vorn - JSON Value] Error during cast to ";
  message.append(Vorn::RawTypeName<T>()).append(": ").append(error.what());
  Vorn::RaiseError(message);
}

// Reads a scalar of kind S as T; undefined gives T{} silently.
template <class T, class S>
T ReadScalar(const VornJSONValue& value) {
  if (value.IsUndefined()) return T{};
  if (const S* held = std::get_if<S>(&value.GetStorage())) return static_cast<T>(*held);
  ReportInvalidCast<T>(value);
  return T{};
}

template <class E>
std::vector<E> ReadVector(const VornJSONValue& value) {
  std::vector<E> result;
  if (value.IsUndefined()) return result;
  try {
    const VornJSONArray& array = value;
    result.reserve(array.size());
    for (const VornJSONValue& element : array) result.push_back(static_cast<E>(element));
  } catch (const std::exception& error) {
    ReportCastFailure<std::vector<E>>(error);
    result.clear();
  }
  return result;
}

}  // namespace

VornJSONValue::VornJSONValue(VornJSONObject object)
    : m_value(std::make_shared<VornJSONObject>(std::move(object))) {}
VornJSONValue::VornJSONValue(VornJSONArray array) : m_value(std::make_shared<VornJSONArray>(std::move(array))) {}
VornJSONValue::VornJSONValue(ObjectPtr object) {
  if (object)
    m_value = std::move(object);
  else
    m_value = nullptr;
}
VornJSONValue::VornJSONValue(ArrayPtr array) {
  if (array)
    m_value = std::move(array);
  else
    m_value = nullptr;
}

VornJSONValue::~VornJSONValue() = default;

const char* VornJSONValue::GetType() const noexcept { return kTypeNames[m_value.index()]; }

bool VornJSONValue::operator==(const VornJSONValue& other) const noexcept {
  if (IsUndefined()) return other.IsUndefined();
  if (m_value.index() != other.m_value.index()) return false;
  switch (GetKind()) {
    case Kind::Null: return true;
    case Kind::Bool: return std::get<bool>(m_value) == std::get<bool>(other.m_value);
    case Kind::Double: return std::get<double>(m_value) == std::get<double>(other.m_value);
    case Kind::Int: return std::get<std::int64_t>(m_value) == std::get<std::int64_t>(other.m_value);
    case Kind::String: return std::get<std::string>(m_value) == std::get<std::string>(other.m_value);
    case Kind::Object: return std::get<ObjectPtr>(m_value) == std::get<ObjectPtr>(other.m_value);
    case Kind::Array: return std::get<ArrayPtr>(m_value) == std::get<ArrayPtr>(other.m_value);
    case Kind::Undefined: break;
  }
  return false;
}

bool VornJSONValue::_CompareObjects(const VornJSONObject& other) const {
  const VornJSONObject* object = GetIfObject();
  return object && *object == other;
}

bool VornJSONValue::_CompareArrays(const VornJSONArray& other) const {
  const VornJSONArray* array = GetIfArray();
  return array && *array == other;
}

const char* VornJSONValue::ToCharPtr() const noexcept {
  const std::string* s = GetIfString();
  return s ? s->c_str() : nullptr;
}

VornJSONObject* VornJSONValue::GetIfObject() const noexcept {
  const ObjectPtr* p = std::get_if<ObjectPtr>(&m_value);
  return p ? p->get() : nullptr;
}

VornJSONArray* VornJSONValue::GetIfArray() const noexcept {
  const ArrayPtr* p = std::get_if<ArrayPtr>(&m_value);
  return p ? p->get() : nullptr;
}

// Both reference conversions report with the same text.
VornJSONValue::operator VornJSONObject&() const {
  if (VornJSONObject* object = GetIfObject()) return *object;
  if (!IsUndefined())
    Vorn::RaiseError(std::string("[Vorn - JSON Value] Invalid cast to VornJSONObject&! Current type: ") + GetType());
  return EmptyObject();
}

VornJSONValue::operator VornJSONArray&() const {
  if (VornJSONArray* array = GetIfArray()) return *array;
  if (!IsUndefined())
    Vorn::RaiseError(std::string("[Vorn - JSON Value] Invalid cast to VornJSONObject&! Current type: ") + GetType());
  return EmptyArray();
}

VornJSONValue::operator bool() const { return ReadScalar<bool, bool>(*this); }

VornJSONValue::operator int() const {
  if (const std::int64_t* i = GetIfInt()) return static_cast<int>(static_cast<std::uint32_t>(*i));  // low 32 bits
  if (const double* d = GetIfDouble()) {
    // Truncation toward zero; out-of-range doubles saturate instead of
    // being undefined behaviour.
    if (std::isnan(*d)) return 0;
    if (*d >= 2147483647.0) return 2147483647;
    if (*d <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(*d);
  }
  if (!IsUndefined()) ReportInvalidCast<int>(*this);
  return 0;
}

VornJSONValue::operator double() const {
  if (const std::int64_t* i = GetIfInt()) return static_cast<double>(*i);
  return ReadScalar<double, double>(*this);
}

VornJSONValue::operator std::string() const { return ReadScalar<std::string, std::string>(*this); }

VornJSONValue::operator std::string_view() const {
  if (const std::string* s = GetIfString()) return *s;
  if (!IsUndefined()) ReportInvalidCast<std::string_view>(*this);
  return {};
}

VornJSONValue::operator std::nullptr_t() const { return ReadScalar<std::nullptr_t, std::nullptr_t>(*this); }

VornJSONValue::operator std::vector<std::nullptr_t>() const { return ReadVector<std::nullptr_t>(*this); }
VornJSONValue::operator std::vector<int>() const { return ReadVector<int>(*this); }
VornJSONValue::operator std::vector<double>() const { return ReadVector<double>(*this); }
VornJSONValue::operator std::vector<std::string>() const { return ReadVector<std::string>(*this); }
VornJSONValue::operator std::vector<bool>() const { return ReadVector<bool>(*this); }

VornJSONValue& VornJSONValue::_GetSubValue(const std::string& key) {
  if (VornJSONObject* object = GetIfObject()) return object->m_members.try_emplace(key).first->second;
  // Writes through this reference must not reach the shared undefined value.
  thread_local VornJSONValue scratch;
  scratch = VornJSONValue();
  return scratch;
}

VornJSONValue& VornJSONValue::_GetSubValue(std::size_t index) {
  if (VornJSONArray* array = GetIfArray()) {
    if (index >= array->m_elements.size()) array->m_elements.resize(index + 1);
    return array->m_elements[index];
  }
  thread_local VornJSONValue scratch;
  scratch = VornJSONValue();
  return scratch;
}

// --- iteration ------------------------------------------------------------------

VornJSONValue::const_iterator VornJSONValue::begin() const {
  const_iterator it;
  if (const VornJSONObject* object = GetIfObject()) {
    if (!object->m_members.empty()) {
      it.m_kind = 1;
      it.m_pos = &*object->m_members.begin();
    }
  } else if (const VornJSONArray* array = GetIfArray()) {
    if (!array->m_elements.empty()) {
      it.m_kind = 2;
      it.m_pos = array->m_elements.data();
    }
  } else if (const std::string* s = GetIfString()) {
    if (!s->empty()) {
      it.m_kind = 3;
      it.m_pos = s->data();
    }
  }
  return it;
}

VornJSONValue::const_iterator VornJSONValue::end() const {
  const_iterator it;
  if (const VornJSONObject* object = GetIfObject()) {
    if (!object->m_members.empty()) {
      it.m_kind = 1;
      it.m_pos = &*object->m_members.begin() + object->m_members.size();
    }
  } else if (const VornJSONArray* array = GetIfArray()) {
    if (!array->m_elements.empty()) {
      it.m_kind = 2;
      it.m_pos = array->m_elements.data() + array->m_elements.size();
    }
  } else if (const std::string* s = GetIfString()) {
    if (!s->empty()) {
      it.m_kind = 3;
      it.m_pos = s->data() + s->size();
    }
  }
  return it;
}

namespace {
using MemberEntry = VornJSONObject::Members::value_type;
}

VornJSONValue::const_iterator::reference VornJSONValue::const_iterator::operator*() const {
  switch (m_kind) {
    case 1: return static_cast<const MemberEntry*>(m_pos)->second;
    case 2: return *static_cast<const VornJSONValue*>(m_pos);
    case 3:
      m_char = std::make_shared<VornJSONValue>(std::string(1, *static_cast<const char*>(m_pos)));
      return *m_char;
    default: return VornJSONValue::undefined;
  }
}

VornJSONValue::const_iterator& VornJSONValue::const_iterator::operator++() {
  switch (m_kind) {
    case 1: m_pos = static_cast<const MemberEntry*>(m_pos) + 1; break;
    case 2: m_pos = static_cast<const VornJSONValue*>(m_pos) + 1; break;
    case 3: m_pos = static_cast<const char*>(m_pos) + 1; break;
    default: break;
  }
  return *this;
}

std::string_view VornJSONValue::const_iterator::Key() const {
  return m_kind == 1 ? std::string_view(static_cast<const MemberEntry*>(m_pos)->first) : std::string_view();
}
