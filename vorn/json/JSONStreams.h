#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/json/Object.h"

// The host's JSON streams (Linux stand-in): a writer of one JSON object, a
// reader that presents one JSON object member by member to a visitor, and
// the visitor. The writer is built on the library's JSON object and the
// reader on its parser, so they live here rather than with the other host
// stand-ins, which include nothing of the library.
namespace JSON {

// Writer of one JSON object. Members keep the order of their first Add; a
// key added again keeps its first value (as a JSON reader keeps the first
// of repeated keys). A null key is ignored; a null C-string value is
// written as null.
class VORN_API JOStream {
public:
  JOStream();
  JOStream(const JOStream&);
  JOStream(JOStream&&) noexcept;
  JOStream& operator=(const JOStream&);
  JOStream& operator=(JOStream&&) noexcept;
  virtual ~JOStream();

  void Add(const char* key, const char* value);
  void Add(const char* key, bool value);
  void Add(const char* key, double value);
  void Add(const char* key, std::int64_t value);
  void Add(const char* key, int value) { Add(key, static_cast<std::int64_t>(value)); }
  void Add(const char* key, const JOStream& value);
  void Add(const char* key, const std::vector<std::string>& values);
  void Add(const char* key, const std::vector<JOStream>& values);
  void Add(const char* key, const std::vector<bool>& values);
  void Add(const char* key, const std::vector<double>& values);
  void Add(const char* key, const std::vector<int>& values);
  void AddNullValue(const char* key);

  // What has been written, as an object and as compact JSON text.
  const VornJSONObject& GetObject() const noexcept { return m_object; }
  std::string ToString() const;

private:
  void _Add(const char* key, VornJSONValue value);
  VornJSONObject m_object;
};

class JVisitor;

// Reader of one JSON object. A reader is empty until ParseFile succeeds or
// it is built from a writer or an object; copies share the object read,
// which never changes.
class VORN_API JIStream {
public:
  JIStream() noexcept;
  // Reads back what the writer holds (a snapshot: later writes are not seen).
  explicit JIStream(const JOStream& writer);
  explicit JIStream(const VornJSONObject& object);
  // Shares `object` (null gives an empty reader); it must not change while
  // the reader lives.
  explicit JIStream(std::shared_ptr<const VornJSONObject> object) noexcept;
  JIStream(const JIStream&) noexcept;
  JIStream(JIStream&&) noexcept;
  JIStream& operator=(const JIStream&) noexcept;
  JIStream& operator=(JIStream&&) noexcept;
  virtual ~JIStream();

  // Reads the file `path` (backslashes read as "/"). True when it holds one
  // JSON object; the reader then holds it. Otherwise the reader is left
  // empty and false is returned, with no report of its own:
  // - `strict` true: the file must be well-formed JSON as a whole (the
  //   library's strict file grammar, doubles within their range, integers
  //   of any length as the parser reads them);
  //   anything else fails silently, whatever the error policy.
  // - `strict` false: the library's parser reads what it can, reporting
  //   each syntax error through the error policy, and the read succeeds when
  //   an object comes out.
  // A missing, unreadable or empty file fails either way.
  bool ParseFile(const char* path, bool strict);
  bool ParseFile(const std::string& path, bool strict) { return ParseFile(path.c_str(), strict); }

  // Presents every member of the object, in its order, to `visitor`, with
  // the kinds of key the visitor selected at construction. Each member goes
  // to one slot by the kind of its value:
  // - null: VisitNullValue; a boolean, a string, an object: their slots;
  //   every number (integer or not): the double slot;
  // - an array whose elements are all numbers: the double sequence; all
  //   booleans: the boolean sequence; all strings: the string sequence; all
  //   objects: the reader sequence; an empty array: an empty string
  //   sequence;
  // - any other array (kinds mixed, nulls or nested arrays inside): the
  //   string sequence, in which each string element is its own text and
  //   every other element is its compact JSON text ("null", "1", "[2]"...).
  // Every member is visited, even after a slot returned false, and the
  // visitor's EndOfFile is called once after the last member. Returns true
  // when every slot and EndOfFile returned true; false when any of them
  // returned false, and for an empty reader. `context` is reserved: pass
  // null.
  bool Apply(JVisitor& visitor, void* context = nullptr) const;

  bool HasObject() const noexcept { return m_object != nullptr; }
  // The object read; an empty object for an empty reader.
  const VornJSONObject& GetObject() const noexcept;

private:
  std::shared_ptr<const VornJSONObject> m_object;
};

// Base of the visitors given to JIStream::Apply. Every slot answers true
// (keep reading) unless a visitor overrides it. The visitor is constructed
// with `false` to receive host-string keys (the slots taking
// KRTUnicodeString) and with `true` to receive string-view keys instead;
// Apply calls only the selected family. A string-view key is valid during
// the call only.
class VORN_API JVisitor {
public:
  explicit JVisitor(bool stringViewKeys) noexcept : m_stringViewKeys(stringViewKeys) {}
  JVisitor(const JVisitor&) = default;
  JVisitor& operator=(const JVisitor&) = default;
  virtual ~JVisitor();

  virtual bool VisitNullValue(const KRTUnicodeString& key);
  virtual bool VisitNullValue(std::string_view key);

  virtual bool Visit(const KRTUnicodeString& key, const std::vector<double>& values);
  virtual bool Visit(const KRTUnicodeString& key, const std::vector<JIStream>& values);
  virtual bool Visit(const KRTUnicodeString& key, const std::vector<bool>& values);
  virtual bool Visit(const KRTUnicodeString& key, const std::vector<KRTUnicodeString>& values);
  virtual bool Visit(const KRTUnicodeString& key, double value);
  virtual bool Visit(const KRTUnicodeString& key, const JIStream& value);
  virtual bool Visit(const KRTUnicodeString& key, bool value);
  virtual bool Visit(const KRTUnicodeString& key, const KRTUnicodeString& value);

  virtual bool Visit(std::string_view key, const std::vector<double>& values);
  virtual bool Visit(std::string_view key, const std::vector<JIStream>& values);
  virtual bool Visit(std::string_view key, const std::vector<bool>& values);
  virtual bool Visit(std::string_view key, const std::vector<KRTUnicodeString>& values);
  virtual bool Visit(std::string_view key, double value);
  virtual bool Visit(std::string_view key, const JIStream& value);
  virtual bool Visit(std::string_view key, bool value);
  virtual bool Visit(std::string_view key, const KRTUnicodeString& value);

  virtual bool EndOfFile();

  bool UsesStringViewKeys() const noexcept { return m_stringViewKeys; }

private:
  bool m_stringViewKeys;
};

}  // namespace JSON
