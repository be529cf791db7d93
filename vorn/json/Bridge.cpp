// The JSON model meets the host's JSON writer and byte buffers, and the
// library's own values.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vorn/core/Any.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/Binary.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/json/JSONStreams.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"

// --- host writer ------------------------------------------------------------------

VornJSONObject::operator JSON::JOStream() const {
  JSON::JOStream writer;
  for (const auto& [key, value] : m_members) value._FillJOStream(key, writer);
  return writer;
}

void VornJSONValue::_FillJOStream(const std::string& key, JSON::JOStream& writer) const {
  const char* k = key.c_str();
  switch (GetKind()) {
    case Kind::Undefined: break;  // absent: the member is left out
    case Kind::Null: writer.AddNullValue(k); break;
    case Kind::Bool: writer.Add(k, std::get<bool>(m_value)); break;
    case Kind::Double: writer.Add(k, std::get<double>(m_value)); break;
    case Kind::Int: writer.Add(k, std::get<std::int64_t>(m_value)); break;
    case Kind::String: writer.Add(k, std::get<std::string>(m_value).c_str()); break;
    case Kind::Object: writer.Add(k, static_cast<JSON::JOStream>(*std::get<ObjectPtr>(m_value))); break;
    case Kind::Array: std::get<ArrayPtr>(m_value)->_FillJOStream(key, writer); break;
  }
}

namespace {
// Every element read as T by the model's typed conversion; a mismatch is
// reported there and contributes T's default.
template <class T>
std::vector<T> ConvertElements(const VornJSONArray& array) {
  std::vector<T> out;
  out.reserve(array.size());
  for (const VornJSONValue& element : array) out.push_back(static_cast<T>(element));
  return out;
}

bool IsNumber(VornJSONValue::Kind kind) {
  return kind == VornJSONValue::Kind::Int || kind == VornJSONValue::Kind::Double;
}

bool HoldsDouble(const VornJSONArray& array) {
  for (const VornJSONValue& element : array)
    if (element.IsDouble()) return true;
  return false;
}
}  // namespace

void VornJSONArray::_FillJOStream(const std::string& key, JSON::JOStream& writer) const {
  const char* k = key.c_str();
  // The host writer takes homogeneous arrays only: the first element decides
  // the family, numbers counting as one.
  if (m_elements.empty()) {
    writer.Add(k, std::vector<bool>());
    return;
  }
  const VornJSONValue& first = m_elements.front();
  switch (first.GetKind()) {
    case VornJSONValue::Kind::Null: writer.Add(k, _BuildNullsVectorWithString()); break;
    case VornJSONValue::Kind::Bool: writer.Add(k, ConvertElements<bool>(*this)); break;
    // Numbers: any double makes the whole array doubles, so none is truncated.
    case VornJSONValue::Kind::Int:
    case VornJSONValue::Kind::Double:
      if (HoldsDouble(*this))
        writer.Add(k, ConvertElements<double>(*this));
      else
        writer.Add(k, ConvertElements<int>(*this));
      break;
    case VornJSONValue::Kind::String: writer.Add(k, ConvertElements<std::string>(*this)); break;
    case VornJSONValue::Kind::Object: writer.Add(k, _BuildObjectsVectorForJOStream()); break;
    case VornJSONValue::Kind::Array:
      Vorn::RaiseError("VornJSONArray::_FillJOStream => Imbricated arrays are not supported!");
      break;
    case VornJSONValue::Kind::Undefined:
      Vorn::RaiseError(std::string("VornJSONArray::_FillJOStream => Unsupported type: ") + first.GetType());
      break;
  }
}

// Both builders stop at the first element of another kind and pass on what
// they gathered before it.
std::vector<std::string> VornJSONArray::_BuildNullsVectorWithString() const {
  std::vector<std::string> out;
  out.reserve(m_elements.size());
  for (const VornJSONValue& element : m_elements) {
    if (!element.IsNull()) {
      Vorn::RaiseError(
          std::string("VornJSONArray::_BuildNullsVectorWithString => All elements must be of type null! Found type: ") +
          element.GetType());
      break;
    }
    out.emplace_back("null");
  }
  return out;
}

std::vector<JSON::JOStream> VornJSONArray::_BuildObjectsVectorForJOStream() const {
  std::vector<JSON::JOStream> out;
  out.reserve(m_elements.size());
  for (const VornJSONValue& element : m_elements) {
    const VornJSONObject* object = element.GetIfObject();
    if (!object) {
      Vorn::RaiseError(
          std::string("VornJSONArray::_BuildObjectsVectorForJOStream => All elements must be objects! Found type: ") +
          element.GetType());
      break;
    }
    out.push_back(static_cast<JSON::JOStream>(*object));
  }
  return out;
}

// --- byte buffers -----------------------------------------------------------------

namespace {
OVK::Binary TextToBinary(const std::string& text) {
  KRTUnicodeString hostText;
  if (!text.empty()) hostText.BuildFromUTF8(text.data(), text.size());
  return OVK::BinaryWriter::FromString(hostText);
}
}  // namespace

VornJSONObject::operator OVK::Binary() const { return TextToBinary(Stringify()); }
VornJSONArray::operator OVK::Binary() const { return TextToBinary(Stringify()); }

// --- library values ---------------------------------------------------------------

namespace Vorn {

namespace {
// An element's kind as the bridge's reports name it.
const char* KindName(const VornJSONValue& element) {
  switch (element.GetKind()) {
    case VornJSONValue::Kind::Undefined: return "undefined";
    case VornJSONValue::Kind::Null: return "null";
    case VornJSONValue::Kind::Bool: return "a boolean";
    case VornJSONValue::Kind::Int:
    case VornJSONValue::Kind::Double: return "a number";
    case VornJSONValue::Kind::String: return "a string";
    case VornJSONValue::Kind::Object: return "an object";
    case VornJSONValue::Kind::Array: return "an array";
  }
  return "unknown";
}
}  // namespace

VornValue ConvertJSONValueToValue(const VornJSONValue& value) {
  switch (value.GetKind()) {
    case VornJSONValue::Kind::Undefined: return VornValue();
    case VornJSONValue::Kind::Null: return VornValue(nullptr);
    case VornJSONValue::Kind::Bool: return VornValue(*value.GetIfBool());
    case VornJSONValue::Kind::Int: return VornValue(static_cast<int>(value));  // low 32 bits
    case VornJSONValue::Kind::Double: return VornValue(*value.GetIfDouble());
    case VornJSONValue::Kind::String: return VornValue(*value.GetIfString());
    case VornJSONValue::Kind::Object: return VornValue(ConvertJSONObjectToValuesByString(*value.GetIfObject()));
    case VornJSONValue::Kind::Array: break;
  }
  const VornJSONArray& array = *value.GetIfArray();
  const VornJSONValue::Kind first = array.IsEmpty() ? VornJSONValue::Kind::Undefined : array[0].GetKind();
  if (first != VornJSONValue::Kind::Undefined && first != VornJSONValue::Kind::Object &&
      first != VornJSONValue::Kind::Array) {
    // One vector type for the whole array: every element of the first one's
    // kind, integers and doubles counting as numbers.
    const auto fits = [first](VornJSONValue::Kind kind) {
      return kind == first || (IsNumber(kind) && IsNumber(first));
    };
    for (std::size_t i = 1; i < array.size(); ++i) {
      if (fits(array[i].GetKind())) continue;
      RaiseError("[Vorn - JSON Bridge] Array refused: element " + std::to_string(i) + " is " + KindName(array[i]) +
                 " but element 0 is " + KindName(array[0]) + "; no single vector type holds both");
      return VornValue();
    }
    switch (first) {
      case VornJSONValue::Kind::Null: return VornValue(std::vector<std::nullptr_t>(array.size(), nullptr));
      case VornJSONValue::Kind::Bool: return VornValue(value.Get<std::vector<bool>>());
      case VornJSONValue::Kind::String: return VornValue(value.Get<std::vector<std::string>>());
      default:
        if (HoldsDouble(array)) return VornValue(value.Get<std::vector<double>>());
        return VornValue(value.Get<std::vector<int>>());
    }
  }
  std::vector<VornValue> values;
  values.reserve(array.size());
  for (const VornJSONValue& element : array) values.push_back(ConvertJSONValueToValue(element));
  return VornValue(std::move(values));
}

VornValuesByString ConvertJSONObjectToValuesByString(const VornJSONObject& object) {
  VornValuesByString values;
  values.reserve(object.size());
  for (const auto& [key, member] : object) values.try_emplace(key, ConvertJSONValueToValue(member));
  return values;
}

}  // namespace Vorn

// --- back to JSON -----------------------------------------------------------------

namespace {

template <class T>
const T& Stored(const VornAny& any) {
  return *static_cast<const T*>(any.GetRawVoidPtr());
}

template <class T>
VornJSONValue ArrayFrom(const std::vector<T>& values) {
  VornJSONArray::Elements elements;
  elements.reserve(values.size());
  for (const auto& v : values) elements.emplace_back(static_cast<T>(v));
  return VornJSONValue(VornJSONArray(std::move(elements)));
}

}  // namespace

VornJSONValue VornAny::ToJSON() const {
  if (!HasRawValue()) return VornJSONValue::undefined;
  if (Holds<std::string>()) return VornJSONValue(Stored<std::string>(*this));
  if (Holds<bool>()) return VornJSONValue(Stored<bool>(*this));
  if (Holds<double>()) return VornJSONValue(Stored<double>(*this));
  if (Holds<int>()) return VornJSONValue(Stored<int>(*this));
  if (Holds<std::nullptr_t>()) return VornJSONValue(nullptr);
  if (Holds<std::vector<std::string>>()) return ArrayFrom(Stored<std::vector<std::string>>(*this));
  if (Holds<std::vector<bool>>()) return ArrayFrom(Stored<std::vector<bool>>(*this));
  if (Holds<std::vector<double>>()) return ArrayFrom(Stored<std::vector<double>>(*this));
  if (Holds<std::vector<int>>()) return ArrayFrom(Stored<std::vector<int>>(*this));
  if (Holds<std::vector<std::nullptr_t>>()) return ArrayFrom(Stored<std::vector<std::nullptr_t>>(*this));
  // Values-by-string maps, vectors of values, pointers and every other type
  // have no JSON form.
  return VornJSONValue::undefined;
}
