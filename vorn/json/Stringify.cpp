// Compact JSON text for values, objects and arrays.
//
// Everything is appended to one growing string: a container asks each child
// to append itself, so no intermediate text is built per child.

#include <algorithm>
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
#include "vorn/json/Parser.h"
#include "vorn/json/StringScan.h"
#include "vorn/json/Value.h"

namespace {

using Vorn::_Internal_::FindEscape;

// Appends to a string through a raw cursor: the string is grown ahead in
// large steps and cut back to the written length when the sink closes, so
// each write is one bounds check and a copy rather than a call into
// std::string. Writing a document is mostly small pieces; this halves the
// cost of a compact, string-heavy one.
class Sink {
 public:
  explicit Sink(std::string& out) : m_out(out), m_p(out.data() + out.size()), m_end(m_p) {}
  ~Sink() { m_out.resize(static_cast<std::size_t>(m_p - m_out.data())); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Room for n more bytes; the cursor may move.
  void Reserve(std::size_t n) {
    if (static_cast<std::size_t>(m_end - m_p) < n) [[unlikely]]
      _Grow(n);
  }
  void Put(char c) {
    Reserve(1);
    *m_p++ = c;
  }
  void Write(const char* data, std::size_t n) {
    Reserve(n);
    PutUnchecked(data, n);
  }
  // Only after a Reserve covering n.
  void PutUnchecked(const char* data, std::size_t n) {
    // Keys and most strings are short: two overlapping fixed-size copies
    // beat a call to memcpy.
    if (n >= 8 && n <= 16) {
      std::memcpy(m_p, data, 8);
      std::memcpy(m_p + n - 8, data + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(m_p, data, 4);
      std::memcpy(m_p + n - 4, data + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i) m_p[i] = data[i];
    } else {
      std::memcpy(m_p, data, n);
    }
    m_p += n;
  }
  void PutUnchecked(char c) { *m_p++ = c; }

  // Nesting: containers deeper than the parser reads (or a container that
  // holds itself, which would recurse forever) are not written.
  bool Enter() { return ++m_depth <= VornJSONParser::kMaxDepth; }
  void Leave() { --m_depth; }

 private:
  void _Grow(std::size_t n) {
    const std::size_t used = static_cast<std::size_t>(m_p - m_out.data());
    // The capacity the string already has first (a short result stays in
    // place), then doubling.
    const std::size_t want = std::max(used + n, std::max(2 * m_out.size(), m_out.capacity()));
    m_out.resize(want);
    m_p = m_out.data() + used;
    m_end = m_out.data() + m_out.size();
  }

  std::string& m_out;
  char* m_p;
  char* m_end;
  std::uint32_t m_depth = 0;
};

// Reported once per container cut off; the place is written as null so the
// text stays valid JSON.
bool EnterContainer(Sink& out) {
  if (out.Enter()) [[likely]]
    return true;
  out.Leave();
  Vorn::RaiseError("[Vorn - Stringify] => Containers nested deeper than 1000 levels (or holding themselves) "
                   "cannot be written as JSON.");
  out.Write("null", 4);
  return false;
}

void WriteEscaped(Sink& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char* p = text.data();
  const char* const end = p + text.size();
  // The usual string needs no escaping: quotes and body in one reservation.
  out.Reserve(text.size() + 2);
  out.PutUnchecked('"');
  for (;;) {
    const char* special = FindEscape(p, end);
    out.Reserve(static_cast<std::size_t>(special - p) + 7);
    out.PutUnchecked(p, static_cast<std::size_t>(special - p));
    if (special == end) break;
    const unsigned char c = static_cast<unsigned char>(*special);
    switch (c) {
      case '"': out.PutUnchecked("\\\"", 2); break;
      case '\\': out.PutUnchecked("\\\\", 2); break;
      case '\b': out.PutUnchecked("\\b", 2); break;
      case '\f': out.PutUnchecked("\\f", 2); break;
      case '\n': out.PutUnchecked("\\n", 2); break;
      case '\r': out.PutUnchecked("\\r", 2); break;
      case '\t': out.PutUnchecked("\\t", 2); break;
      default: {
        const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.PutUnchecked(escape, 6);
        break;
      }
    }
    p = special + 1;
  }
  out.Put('"');
}

void WriteInteger(Sink& out, std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) {
    Vorn::RaiseError("[Vorn - NumberToString] => Error converting integral number to string.");
    return;
  }
  out.Write(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

void WriteDouble(Sink& out, double value) {
  if (!std::isfinite(value)) {
    Vorn::RaiseError("[Vorn - NumberToString] => NaN or Infinity values are not allowed in JSON.");
    // Written as null rather than left empty, so a container holding the
    // value still gives valid JSON.
    out.Write("null", 4);
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
  out.Write(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

// The writers below call one another directly: the exported member functions
// are entry points only, so the recursion stays inside this file and can be
// inlined.
void WriteValue(Sink& out, const VornJSONValue& value);

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

// `,"key":` in one reservation for the usual key that needs no escaping.
void WriteMemberHead(Sink& out, const std::string& key, bool first) {
  const char* const data = key.data();
  const std::size_t size = key.size();
  if (FindEscape(data, data + size) == data + size) {
    out.Reserve(size + 4);
    if (!first) out.PutUnchecked(',');
    out.PutUnchecked('"');
    out.PutUnchecked(data, size);
    out.PutUnchecked('"');
    out.PutUnchecked(':');
    return;
  }
  if (!first) out.Put(',');
  WriteEscaped(out, key);
  out.Put(':');
}

void WriteObject(Sink& out, const VornJSONObject& object) {
  if (!EnterContainer(out)) return;
  for (const auto& member : object) PrefetchHeader(member.second);
  out.Put('{');
  bool first = true;
  const auto end = object.end();
  for (auto it = object.begin(); it != end; ++it) {
    const VornJSONValue& value = it->second;
    if (value.IsUndefined()) continue;
    if (it + 1 != end) PrefetchStorage((it + 1)->second);
    WriteMemberHead(out, it->first, first);
    first = false;
    WriteValue(out, value);
  }
  out.Put('}');
  out.Leave();
}

void WriteArray(Sink& out, const VornJSONArray& array) {
  if (!EnterContainer(out)) return;
  for (const VornJSONValue& element : array) PrefetchHeader(element);
  out.Put('[');
  bool first = true;
  const auto end = array.end();
  for (auto it = array.begin(); it != end; ++it) {
    if (it->IsUndefined()) continue;
    if (it + 1 != end) PrefetchStorage(*(it + 1));
    if (!first) out.Put(',');
    first = false;
    WriteValue(out, *it);
  }
  out.Put(']');
  out.Leave();
}

void WriteValue(Sink& out, const VornJSONValue& value) {
  const VornJSONValue::Storage& storage = value.GetStorage();
  switch (value.GetKind()) {
    case VornJSONValue::Kind::Undefined: out.Write("undefined", 9); break;
    case VornJSONValue::Kind::Null: out.Write("null", 4); break;
    case VornJSONValue::Kind::Bool:
      if (*std::get_if<bool>(&storage))
        out.Write("true", 4);
      else
        out.Write("false", 5);
      break;
    case VornJSONValue::Kind::Double: WriteDouble(out, *std::get_if<double>(&storage)); break;
    case VornJSONValue::Kind::Int: WriteInteger(out, *std::get_if<std::int64_t>(&storage)); break;
    case VornJSONValue::Kind::String: WriteEscaped(out, *std::get_if<std::string>(&storage)); break;
    case VornJSONValue::Kind::Object: WriteObject(out, *ObjectIn(value)); break;
    case VornJSONValue::Kind::Array: WriteArray(out, *ArrayIn(value)); break;
  }
}

// Entry points: each opens one sink over the caller's string.
template <class T, void (*Writer)(Sink&, const T&)>
void AppendTo(std::string& out, const T& what) {
  Sink sink(out);
  Writer(sink, what);
}

}  // namespace

void VornJSONValue::AppendJSON(std::string& out) const { AppendTo<VornJSONValue, WriteValue>(out, *this); }

void VornJSONValue::AppendJSONString(std::string& out, std::string_view text) {
  // One short piece: a plain append beats opening a sink, which grows the
  // string to its capacity and cuts it back.
  if (FindEscape(text.data(), text.data() + text.size()) == text.data() + text.size()) {
    out.reserve(out.size() + text.size() + 2);
    out += '"';
    out.append(text);
    out += '"';
    return;
  }
  Sink sink(out);
  WriteEscaped(sink, text);
}

std::string VornJSONValue::Stringify() const {
  std::string out;
  AppendTo<VornJSONValue, WriteValue>(out, *this);
  return out;
}

std::string VornJSONValue::ToString() const {
  if (const std::string* s = GetIfString()) return *s;
  return Stringify();
}

void VornJSONObject::AppendJSON(std::string& out) const { AppendTo<VornJSONObject, WriteObject>(out, *this); }

std::string VornJSONObject::Stringify() const {
  std::string out;
  AppendTo<VornJSONObject, WriteObject>(out, *this);
  return out;
}

void VornJSONArray::AppendJSON(std::string& out) const { AppendTo<VornJSONArray, WriteArray>(out, *this); }

std::string VornJSONArray::Stringify() const {
  std::string out;
  AppendTo<VornJSONArray, WriteArray>(out, *this);
  return out;
}
