// Compact JSON text for values, objects and arrays.
//
// Everything is appended to one growing string: a container asks each child
// to append itself, so no intermediate text is built per child.

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/StringScan.h"
#include "vorn/json/Value.h"

namespace {

using Vorn::_Internal_::FindEscape;
using Vorn::_Internal_::NeedsEscape;

void AppendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    const char* special = FindEscape(p, end);
    out.append(p, static_cast<std::size_t>(special - p));
    if (special == end) break;
    const unsigned char c = static_cast<unsigned char>(*special);
    switch (c) {
      case '"': out.append("\\\"", 2); break;
      case '\\': out.append("\\\\", 2); break;
      case '\b': out.append("\\b", 2); break;
      case '\f': out.append("\\f", 2); break;
      case '\n': out.append("\\n", 2); break;
      case '\r': out.append("\\r", 2); break;
      case '\t': out.append("\\t", 2); break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, 6);
        break;
      }
    }
    p = special + 1;
  }
  out.push_back('"');
}

void AppendInteger(std::string& out, std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) {
    Vorn::RaiseError("[Vorn - NumberToString] => Error converting integral number to string.");
    return;
  }
  out.append(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

void AppendDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    Vorn::RaiseError("[Vorn - NumberToString] => NaN or Infinity values are not allowed in JSON.");
    // Written as null rather than left empty, so a container holding the
    // value still gives valid JSON.
    out.append("null", 4);
    return;
  }
  char buffer[32];
  char* first = buffer;
  // The sign is written from the sign bit, so negative zero keeps it.
  if (std::signbit(value)) {
    *first++ = '-';
    value = -value;
  }
  const auto result = std::to_chars(first, buffer + sizeof buffer, value, std::chars_format::general);
  if (result.ec != std::errc()) {
    Vorn::RaiseError("[Vorn - NumberToString] => Error converting floating point number to string.");
    return;
  }
  out.append(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

// The writers below call one another directly: the exported member functions
// are entry points only, so the recursion stays inside this file and can be
// inlined.
void AppendValue(std::string& out, const VornJSONValue& value);

// The held object or array, read inline from the storage.
const VornJSONObject* ObjectIn(const VornJSONValue& value) {
  const VornJSONValue::ObjectPtr* p = std::get_if<VornJSONValue::ObjectPtr>(&value.GetStorage());
  return p ? p->get() : nullptr;
}
const VornJSONArray* ArrayIn(const VornJSONValue& value) {
  const VornJSONValue::ArrayPtr* p = std::get_if<VornJSONValue::ArrayPtr>(&value.GetStorage());
  return p ? p->get() : nullptr;
}

// Nested containers live in blocks of their own, so writing a large document
// is bound by memory latency. Before a container's children are written, the
// headers of the nested containers among them are fetched ahead, and the
// storage a header points to is fetched one child ahead of its turn.
void PrefetchHeader(const VornJSONValue& value) {
  if (const VornJSONObject* object = ObjectIn(value))
    __builtin_prefetch(object);
  else if (const VornJSONArray* array = ArrayIn(value))
    __builtin_prefetch(array);
}

void PrefetchStorage(const VornJSONValue& value) {
  if (const VornJSONObject* object = ObjectIn(value)) {
    if (!object->IsEmpty()) __builtin_prefetch(&*object->begin());
  } else if (const VornJSONArray* array = ArrayIn(value)) {
    if (!array->IsEmpty()) __builtin_prefetch(&*array->begin());
  }
}

// `,"key":` in one append for the usual short key that needs no escaping.
void AppendMemberHead(std::string& out, const std::string& key, bool first) {
  constexpr std::size_t kShortKey = 32;
  const char* const data = key.data();
  const std::size_t size = key.size();
  if (size <= kShortKey && FindEscape(data, data + size) == data + size) {
    char head[kShortKey + 4];
    char* p = head;
    if (!first) *p++ = ',';
    *p++ = '"';
    for (std::size_t i = 0; i < size; ++i) *p++ = data[i];
    *p++ = '"';
    *p++ = ':';
    out.append(head, static_cast<std::size_t>(p - head));
    return;
  }
  if (!first) out.push_back(',');
  AppendEscaped(out, key);
  out.push_back(':');
}

void AppendObject(std::string& out, const VornJSONObject& object) {
  for (const auto& member : object) PrefetchHeader(member.second);
  out.push_back('{');
  bool first = true;
  const auto end = object.end();
  for (auto it = object.begin(); it != end; ++it) {
    const VornJSONValue& value = it->second;
    if (value.IsUndefined()) continue;
    if (it + 1 != end) PrefetchStorage((it + 1)->second);
    AppendMemberHead(out, it->first, first);
    first = false;
    AppendValue(out, value);
  }
  out.push_back('}');
}

void AppendArray(std::string& out, const VornJSONArray& array) {
  for (const VornJSONValue& element : array) PrefetchHeader(element);
  out.push_back('[');
  bool first = true;
  const auto end = array.end();
  for (auto it = array.begin(); it != end; ++it) {
    if (it->IsUndefined()) continue;
    if (it + 1 != end) PrefetchStorage(*(it + 1));
    if (!first) out.push_back(',');
    first = false;
    AppendValue(out, *it);
  }
  out.push_back(']');
}

void AppendValue(std::string& out, const VornJSONValue& value) {
  const VornJSONValue::Storage& storage = value.GetStorage();
  switch (value.GetKind()) {
    case VornJSONValue::Kind::Undefined: out.append("undefined", 9); break;
    case VornJSONValue::Kind::Null: out.append("null", 4); break;
    case VornJSONValue::Kind::Bool:
      if (*std::get_if<bool>(&storage))
        out.append("true", 4);
      else
        out.append("false", 5);
      break;
    case VornJSONValue::Kind::Double: AppendDouble(out, *std::get_if<double>(&storage)); break;
    case VornJSONValue::Kind::Int: AppendInteger(out, *std::get_if<std::int64_t>(&storage)); break;
    case VornJSONValue::Kind::String: AppendEscaped(out, *std::get_if<std::string>(&storage)); break;
    case VornJSONValue::Kind::Object: AppendObject(out, *ObjectIn(value)); break;
    case VornJSONValue::Kind::Array: AppendArray(out, *ArrayIn(value)); break;
  }
}

}  // namespace

void VornJSONValue::AppendJSON(std::string& out) const { AppendValue(out, *this); }

std::string VornJSONValue::Stringify() const {
  std::string out;
  AppendValue(out, *this);
  return out;
}

std::string VornJSONValue::ToString() const {
  if (const std::string* s = GetIfString()) return *s;
  return Stringify();
}

void VornJSONObject::AppendJSON(std::string& out) const { AppendObject(out, *this); }

std::string VornJSONObject::Stringify() const {
  std::string out;
  AppendObject(out, *this);
  return out;
}

void VornJSONArray::AppendJSON(std::string& out) const { AppendArray(out, *this); }

std::string VornJSONArray::Stringify() const {
  std::string out;
  AppendArray(out, *this);
  return out;
}
