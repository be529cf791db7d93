#include "vorn/json/JSONStreams.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "vorn/host/Paths.h"
#include "vorn/json/Array.h"
#include "vorn/json/Parser.h"

namespace JSON {

// --- writer -----------------------------------------------------------------------

JOStream::JOStream() = default;
JOStream::JOStream(const JOStream&) = default;
JOStream::JOStream(JOStream&&) noexcept = default;
JOStream& JOStream::operator=(const JOStream&) = default;
JOStream& JOStream::operator=(JOStream&&) noexcept = default;
JOStream::~JOStream() = default;

void JOStream::_Add(const char* key, VornJSONValue value) {
  if (key) m_object.Insert(std::string(key), std::move(value));
}

void JOStream::Add(const char* key, const char* value) {
  _Add(key, value ? VornJSONValue(value) : VornJSONValue(nullptr));
}
void JOStream::Add(const char* key, bool value) { _Add(key, VornJSONValue(value)); }
void JOStream::Add(const char* key, double value) { _Add(key, VornJSONValue(value)); }
void JOStream::Add(const char* key, std::int64_t value) { _Add(key, VornJSONValue(value)); }
void JOStream::Add(const char* key, const JOStream& value) { _Add(key, VornJSONValue(value.m_object)); }
void JOStream::AddNullValue(const char* key) { _Add(key, VornJSONValue(nullptr)); }

namespace {
template <class T>
VornJSONArray ArrayOf(const std::vector<T>& values) {
  VornJSONArray::Elements elements;
  elements.reserve(values.size());
  for (const auto& v : values) elements.emplace_back(static_cast<T>(v));
  return VornJSONArray(std::move(elements));
}
}  // namespace

void JOStream::Add(const char* key, const std::vector<std::string>& values) { _Add(key, ArrayOf(values)); }
void JOStream::Add(const char* key, const std::vector<bool>& values) { _Add(key, ArrayOf(values)); }
void JOStream::Add(const char* key, const std::vector<double>& values) { _Add(key, ArrayOf(values)); }
void JOStream::Add(const char* key, const std::vector<int>& values) { _Add(key, ArrayOf(values)); }
void JOStream::Add(const char* key, const std::vector<JOStream>& values) {
  VornJSONArray array;
  array.Reserve(values.size());
  for (const JOStream& v : values) array.PushBack(VornJSONValue(v.m_object));
  _Add(key, std::move(array));
}

std::string JOStream::ToString() const { return m_object.Stringify(); }

// --- strict syntax check ----------------------------------------------------------

namespace {

// Says whether a text is one well-formed JSON object under the library's
// strict file grammar, without reporting anything: the library's parser
// reports every error it meets, and a reader that only asks "is this a JSON
// object?" must stay silent. Mirrors the parser's rules: C-locale white
// space, no raw control bytes in strings, paired surrogate escapes, numbers
// followed by a delimiter, doubles within their range (integers of any
// length are read).
class SyntaxCheck {
public:
  explicit SyntaxCheck(std::string_view text) : m_text(text) {}

  bool IsObjectDocument() {
    SkipSpace();
    if (Peek() != '{' || !Value(0)) return false;
    SkipSpace();
    return m_pos == m_text.size();
  }

private:
  // The parser's nesting limit: a deeper document is not one it reads whole.
  static constexpr std::uint32_t kMaxDepth = VornJSONParser::kMaxDepth;

  int Peek() const { return m_pos < m_text.size() ? static_cast<unsigned char>(m_text[m_pos]) : -1; }
  int Get() { return m_pos < m_text.size() ? static_cast<unsigned char>(m_text[m_pos++]) : -1; }
  static bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  static bool IsDigit(int c) { return c >= '0' && c <= '9'; }
  static bool IsDelimiter(int c) { return c == ',' || c == '}' || c == ']' || c == -1 || IsSpace(c); }
  void SkipSpace() {
    while (IsSpace(Peek())) ++m_pos;
  }
  bool Word(std::string_view word) {
    if (m_text.substr(m_pos, word.size()) != word) return false;
    m_pos += word.size();
    return IsDelimiter(Peek());
  }

  bool Value(std::uint32_t depth) {
    SkipSpace();
    const int c = Peek();
    if (c == '{' || c == '[') return depth < kMaxDepth && Container(depth + 1);
    if (c == '"') return String();
    if (c == '-' || IsDigit(c)) return Number();
    if (c == 't') return Word("true");
    if (c == 'f') return Word("false");
    if (c == 'n') return Word("null");
    return false;
  }

  bool Container(std::uint32_t depth) {
    const bool isObject = Get() == '{';
    const int close = isObject ? '}' : ']';
    SkipSpace();
    if (Peek() == close) {
      ++m_pos;
      return true;
    }
    while (true) {
      if (isObject) {
        SkipSpace();
        if (Peek() != '"' || !String()) return false;
        SkipSpace();
        if (Get() != ':') return false;
      }
      if (!Value(depth)) return false;
      SkipSpace();
      const int c = Get();
      if (c == close) return true;
      if (c != ',') return false;
    }
  }

  int Hex4() {
    int unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int c = Get();
      int digit;
      if (IsDigit(c))
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return -1;
      unit = unit * 16 + digit;
    }
    return unit;
  }

  bool String() {
    if (Get() != '"') return false;
    while (true) {
      const int c = Get();
      if (c == -1 || c < 32) return false;
      if (c == '"') return true;
      if (c != '\\') continue;
      const int e = Get();
      if (e == 'u') {
        const int unit = Hex4();
        if (unit < 0) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          if (Get() != '\\' || Get() != 'u') return false;
          const int low = Hex4();
          if (low < 0xDC00 || low > 0xDFFF) return false;
        }
      } else if (e == -1 || std::string_view("\"/\\bfnrt").find(static_cast<char>(e)) == std::string_view::npos) {
        return false;
      }
    }
  }

  bool Number() {
    const std::size_t start = m_pos;
    bool integer = true;
    if (Peek() == '-') ++m_pos;
    if (Peek() == '0') {
      ++m_pos;
      if (IsDigit(Peek())) return false;
    } else if (!Digits()) {
      return false;
    }
    if (Peek() == '.') {
      ++m_pos;
      integer = false;
      if (!Digits()) return false;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++m_pos;
      integer = false;
      if (Peek() == '+' || Peek() == '-') ++m_pos;
      if (!Digits()) return false;
    }
    if (!IsDelimiter(Peek())) return false;
    if (integer) return true;  // of any length: the parser keeps long ones as text
    const std::string text(m_text.substr(start, m_pos - start));
    errno = 0;
    (void)std::strtod(text.c_str(), nullptr);
    return errno != ERANGE;
  }

  bool Digits() {
    const std::size_t start = m_pos;
    while (IsDigit(Peek())) ++m_pos;
    return m_pos > start;
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
};

}  // namespace

// --- reader -----------------------------------------------------------------------

JIStream::JIStream() noexcept = default;
JIStream::JIStream(const JOStream& writer) : m_object(std::make_shared<const VornJSONObject>(writer.GetObject())) {}
JIStream::JIStream(const VornJSONObject& object) : m_object(std::make_shared<const VornJSONObject>(object)) {}
JIStream::JIStream(std::shared_ptr<const VornJSONObject> object) noexcept : m_object(std::move(object)) {}
JIStream::JIStream(const JIStream&) noexcept = default;
JIStream::JIStream(JIStream&&) noexcept = default;
JIStream& JIStream::operator=(const JIStream&) noexcept = default;
JIStream& JIStream::operator=(JIStream&&) noexcept = default;
JIStream::~JIStream() = default;

const VornJSONObject& JIStream::GetObject() const noexcept {
  static const VornJSONObject* const empty = new VornJSONObject;  // lives until unload
  return m_object ? *m_object : *empty;
}

bool JIStream::ParseFile(const char* path, bool strict) {
  m_object.reset();
  if (!path || !*path) return false;
  const std::string native = KRTNativePath(path);
  std::error_code ec;
  if (std::filesystem::is_directory(native, ec)) return false;  // opens on Linux, then every read fails
  std::string text;
  try {
    std::ifstream file(native, std::ios::in | std::ios::binary);
    if (!file.is_open()) return false;
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) return false;
  } catch (const std::exception&) {  // a read error surfaces as an exception from the stream buffer
    return false;
  }
  if (strict && !SyntaxCheck(text).IsObjectDocument()) return false;
  VornJSONValue value;
  try {
    value = VornJSONParser::ParseText(text, false);
  } catch (const std::exception&) {  // the parse exception, with the exceptions switch on
    return false;
  }
  const VornJSONValue::ObjectPtr* object = std::get_if<VornJSONValue::ObjectPtr>(&value.GetStorage());
  if (!object) return false;
  m_object = *object;
  return true;
}

namespace {

// The key handed to the slots of the family the visitor selected.
class KeyDispatch {
public:
  KeyDispatch(JVisitor& visitor, const std::string& key) : m_visitor(visitor), m_key(key) {}

  template <class T>
  bool Visit(const T& value) {
    if (m_visitor.UsesStringViewKeys()) return m_visitor.Visit(std::string_view(m_key), value);
    return m_visitor.Visit(KRTUnicodeString(std::string_view(m_key)), value);
  }
  bool VisitNull() {
    if (m_visitor.UsesStringViewKeys()) return m_visitor.VisitNullValue(std::string_view(m_key));
    return m_visitor.VisitNullValue(KRTUnicodeString(std::string_view(m_key)));
  }

private:
  JVisitor& m_visitor;
  const std::string& m_key;
};

KRTUnicodeString HostString(const std::string& text) { return KRTUnicodeString(std::string_view(text)); }

bool VisitArray(KeyDispatch& dispatch, const VornJSONArray& array) {
  std::vector<const VornJSONValue*> elements;  // undefined elements are absent, as in JSON text
  elements.reserve(array.size());
  for (const VornJSONValue& element : array)
    if (!element.IsUndefined()) elements.push_back(&element);
  if (elements.empty()) return dispatch.Visit(std::vector<KRTUnicodeString>());

  const auto all = [&elements](auto test) {
    for (const VornJSONValue* e : elements)
      if (!test(*e)) return false;
    return true;
  };
  if (all([](const VornJSONValue& e) { return e.IsInt() || e.IsDouble(); })) {
    std::vector<double> values;
    values.reserve(elements.size());
    for (const VornJSONValue* e : elements) values.push_back(static_cast<double>(*e));
    return dispatch.Visit(values);
  }
  if (all([](const VornJSONValue& e) { return e.IsBool(); })) {
    std::vector<bool> values;
    values.reserve(elements.size());
    for (const VornJSONValue* e : elements) values.push_back(*e->GetIfBool());
    return dispatch.Visit(values);
  }
  if (all([](const VornJSONValue& e) { return e.IsObject(); })) {
    std::vector<JIStream> values;
    values.reserve(elements.size());
    for (const VornJSONValue* e : elements) values.emplace_back(std::get<VornJSONValue::ObjectPtr>(e->GetStorage()));
    return dispatch.Visit(values);
  }
  // Strings, and every array no other slot can take.
  std::vector<KRTUnicodeString> values;
  values.reserve(elements.size());
  for (const VornJSONValue* e : elements)
    values.push_back(HostString(e->IsString() ? *e->GetIfString() : e->Stringify()));
  return dispatch.Visit(values);
}

}  // namespace

bool JIStream::Apply(JVisitor& visitor, void* /*context*/) const {
  if (!m_object) return false;
  // A member whose visit fails does not hide the ones after it: a bad entry
  // in a dictionary or a data-types file costs that entry only.
  bool allVisited = true;
  for (const auto& [key, value] : *m_object) {
    KeyDispatch dispatch(visitor, key);
    bool keepGoing = true;
    switch (value.GetKind()) {
      case VornJSONValue::Kind::Undefined: break;  // absent
      case VornJSONValue::Kind::Null: keepGoing = dispatch.VisitNull(); break;
      case VornJSONValue::Kind::Bool: keepGoing = dispatch.Visit(*value.GetIfBool()); break;
      case VornJSONValue::Kind::Double:
      case VornJSONValue::Kind::Int: keepGoing = dispatch.Visit(static_cast<double>(value)); break;
      case VornJSONValue::Kind::String: keepGoing = dispatch.Visit(HostString(*value.GetIfString())); break;
      case VornJSONValue::Kind::Object:
        keepGoing = dispatch.Visit(JIStream(std::get<VornJSONValue::ObjectPtr>(value.GetStorage())));
        break;
      case VornJSONValue::Kind::Array: keepGoing = VisitArray(dispatch, *value.GetIfArray()); break;
    }
    allVisited = keepGoing && allVisited;
  }
  const bool ended = visitor.EndOfFile();
  return allVisited && ended;
}

// --- visitor ----------------------------------------------------------------------

JVisitor::~JVisitor() = default;

bool JVisitor::VisitNullValue(const KRTUnicodeString&) { return true; }
bool JVisitor::VisitNullValue(std::string_view) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, const std::vector<double>&) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, const std::vector<JIStream>&) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, const std::vector<bool>&) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, const std::vector<KRTUnicodeString>&) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, double) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, const JIStream&) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, bool) { return true; }
bool JVisitor::Visit(const KRTUnicodeString&, const KRTUnicodeString&) { return true; }
bool JVisitor::Visit(std::string_view, const std::vector<double>&) { return true; }
bool JVisitor::Visit(std::string_view, const std::vector<JIStream>&) { return true; }
bool JVisitor::Visit(std::string_view, const std::vector<bool>&) { return true; }
bool JVisitor::Visit(std::string_view, const std::vector<KRTUnicodeString>&) { return true; }
bool JVisitor::Visit(std::string_view, double) { return true; }
bool JVisitor::Visit(std::string_view, const JIStream&) { return true; }
bool JVisitor::Visit(std::string_view, bool) { return true; }
bool JVisitor::Visit(std::string_view, const KRTUnicodeString&) { return true; }
bool JVisitor::EndOfFile() { return true; }

}  // namespace JSON
