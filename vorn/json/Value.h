#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "vorn/core/Export.h"

class VornJSONObject;
class VornJSONArray;
class VornJSONParser;
namespace JSON {
class JOStream;
}

// A JSON value of eight kinds, in this index order: undefined, null,
// boolean, double, integer (signed 64-bit), string, object, array.
//
// Undefined means absent: lookups that miss give it, and containers treat
// members or elements holding it as absent when they count or write text.
// Objects and arrays are held through shared ownership: copying a value is
// cheap and the copy shares the nested container with its source.
//
// Not synchronised: a value must not change while another thread reads it,
// and values that share a container share its state.
class VORN_API VornJSONValue {
public:
  struct Undefined {
    bool operator==(const Undefined&) const { return true; }
  };
  using ObjectPtr = std::shared_ptr<VornJSONObject>;
  using ArrayPtr = std::shared_ptr<VornJSONArray>;
  using Storage = std::variant<Undefined, std::nullptr_t, bool, double, std::int64_t, std::string, ObjectPtr, ArrayPtr>;

  enum class Kind : unsigned char { Undefined, Null, Bool, Double, Int, String, Object, Array };

  // The undefined value, returned (as a copy or a reference) by operations
  // that have nothing to return.
  static const VornJSONValue undefined;

  VornJSONValue() noexcept = default;
  VornJSONValue(std::nullptr_t) noexcept : m_value(nullptr) {}
  VornJSONValue(bool b) noexcept : m_value(b) {}
  VornJSONValue(double d) noexcept : m_value(d) {}
  // Every integer type but bool and char is held as a 64-bit integer.
  template <class I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool> &&
                                          !std::is_same_v<I, char>,
                                      int> = 0>
  VornJSONValue(I i) noexcept : m_value(static_cast<std::int64_t>(i)) {}
  VornJSONValue(std::string s) noexcept : m_value(std::move(s)) {}
  VornJSONValue(std::string_view s) : m_value(std::string(s)) {}
  // A C string is held as a string (null gives the empty string), never as
  // a boolean.
  VornJSONValue(const char* s) : m_value(std::string(s ? s : "")) {}
  // An object or array given by value is moved into a new shared instance.
  VornJSONValue(VornJSONObject object);
  VornJSONValue(VornJSONArray array);
  // Shares an existing instance (null gives null).
  explicit VornJSONValue(ObjectPtr object);
  explicit VornJSONValue(ArrayPtr array);

  VornJSONValue(const VornJSONValue&) = default;
  VornJSONValue(VornJSONValue&&) noexcept = default;
  VornJSONValue& operator=(const VornJSONValue&) = default;
  VornJSONValue& operator=(VornJSONValue&&) noexcept = default;
  virtual ~VornJSONValue();

  Kind GetKind() const noexcept { return static_cast<Kind>(m_value.index()); }
  bool IsUndefined() const noexcept { return m_value.index() == 0; }
  bool IsNull() const noexcept { return m_value.index() == 1; }
  bool IsNullOrUndefined() const noexcept { return m_value.index() <= 1; }
  bool IsBool() const noexcept { return m_value.index() == 2; }
  bool IsDouble() const noexcept { return m_value.index() == 3; }
  bool IsInt() const noexcept { return m_value.index() == 4; }
  bool IsString() const noexcept { return m_value.index() == 5; }
  bool IsObject() const noexcept { return m_value.index() == 6; }
  bool IsArray() const noexcept { return m_value.index() == 7; }
  // "Undefined", "std::nullptr_t", "bool", "double", "int", "std::string",
  // "VornJSONObject" or "VornJSONArray".
  const char* GetType() const noexcept;

  // Kinds must match (1 never equals 1.0); NaN equals nothing; objects and
  // arrays compare by identity of the shared instance (compare the
  // containers themselves for content).
  bool operator==(const VornJSONValue& other) const noexcept;
  bool operator!=(const VornJSONValue& other) const noexcept { return !(*this == other); }

  // A string's characters (valid while the value lives unchanged), else null.
  const char* ToCharPtr() const noexcept;

  // Compact JSON text; strings quoted and escaped. A top-level undefined
  // value gives the bare word "undefined". A NaN or infinite double is
  // reported and written as null, so the text stays valid JSON. So is a
  // container nested deeper than the parser's limit (1000 levels), which
  // also stops a container that holds itself from recursing without end.
  std::string Stringify() const;
  // As Stringify, but a string value comes back as it is held.
  std::string ToString() const;
  // Appends the Stringify text to `out`.
  void AppendJSON(std::string& out) const;
  // Appends `text` as a JSON string (quoted and escaped), as a string value
  // would be written, without building the value.
  static void AppendJSONString(std::string& out, std::string_view text);

  // The held object or array. On another kind the mismatch is reported and a
  // shared empty instance is returned (undefined gives it silently); never
  // modify that instance.
  operator VornJSONObject&() const;
  operator VornJSONArray&() const;

  // Typed reads. A value of the wrong kind is reported and gives the
  // type's default; undefined gives the default silently. `int` takes an
  // integer (its low 32 bits) or a double (truncated); `double` takes a
  // double or an integer. Explicit, so comparisons with plain numbers never
  // become ambiguous: write static_cast<int>(v) or v.Get<int>().
  explicit operator bool() const;
  explicit operator int() const;
  explicit operator double() const;
  explicit operator std::string() const;
  explicit operator std::string_view() const;
  explicit operator std::nullptr_t() const;
  explicit operator std::vector<std::nullptr_t>() const;
  explicit operator std::vector<int>() const;
  explicit operator std::vector<double>() const;
  explicit operator std::vector<std::string>() const;
  explicit operator std::vector<bool>() const;
  template <class T>
  T Get() const {
    return static_cast<T>(*this);
  }

  // Direct access without conversion or report: null when the kind differs.
  const bool* GetIfBool() const noexcept { return std::get_if<bool>(&m_value); }
  const double* GetIfDouble() const noexcept { return std::get_if<double>(&m_value); }
  const std::int64_t* GetIfInt() const noexcept { return std::get_if<std::int64_t>(&m_value); }
  const std::string* GetIfString() const noexcept { return std::get_if<std::string>(&m_value); }
  VornJSONObject* GetIfObject() const noexcept;
  VornJSONArray* GetIfArray() const noexcept;
  const Storage& GetStorage() const noexcept { return m_value; }

  // Reading and writing by path of keys, array indexes and the wildcard "*".
  VornJSONValue GetFromPath(const std::vector<std::string>& path) const;
  void SetFromPath(const std::vector<std::string>& path, const VornJSONValue& value);

  // Iterates an object's members (insertion order), an array's elements or
  // a string's characters; any other kind gives an empty range. Dereference
  // yields the member value, the element, or a one-character string value;
  // Key() gives a member's key (empty otherwise).
  class VORN_API const_iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = VornJSONValue;
    using difference_type = std::ptrdiff_t;
    using pointer = const VornJSONValue*;
    using reference = const VornJSONValue&;

    const_iterator() = default;
    reference operator*() const;
    pointer operator->() const { return &**this; }
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator copy = *this;
      ++*this;
      return copy;
    }
    bool operator==(const const_iterator& other) const noexcept {
      return m_kind == other.m_kind && m_pos == other.m_pos;
    }
    std::string_view Key() const;

  private:
    friend class VornJSONValue;
    const void* m_pos = nullptr;  // member entry, element or character
    int m_kind = 0;               // 0 none, 1 member, 2 element, 3 character
    mutable std::shared_ptr<VornJSONValue> m_char;  // the current character as a value
  };
  const_iterator begin() const;
  const_iterator end() const;

private:
  friend class VornJSONObject;
  friend class VornJSONArray;
  friend class VornJSONParser;
  friend struct VornJSONBridge;

  bool _CompareObjects(const VornJSONObject& other) const;
  bool _CompareArrays(const VornJSONArray& other) const;
  VornJSONValue& _GetSubValue(const std::string& key);
  VornJSONValue& _GetSubValue(std::size_t index);
  void _FillJOStream(const std::string& key, JSON::JOStream& writer) const;

  Storage m_value;
};
