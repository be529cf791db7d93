#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/json/Value.h"

class KRTUnicodeString;
namespace OVK {
class Binary;
}

// Members of a JSON object, in the order their keys were first inserted.
// Inserting a key that is present keeps the first value (construction from a
// list and parsing both insert this way); paths and _GetSubValue overwrite.
// Copying an object copies its members; nested containers stay shared.
class VORN_API VornJSONObject {
public:
  using Members = Vorn::HashTable<std::string, VornJSONValue, Vorn::Hash<std::string>, std::equal_to<std::string>, 80>;
  using const_iterator = Members::const_iterator;

  VornJSONObject() = default;
  VornJSONObject(std::initializer_list<std::pair<std::string, VornJSONValue>> members);
  VornJSONObject(const VornJSONObject&) = default;
  VornJSONObject(VornJSONObject&&) noexcept = default;
  VornJSONObject& operator=(const VornJSONObject&) = default;
  VornJSONObject& operator=(VornJSONObject&&) noexcept = default;
  virtual ~VornJSONObject();

  // Same member count (undefined members included) and every key present in
  // the other with an equal value; order is not compared.
  bool operator==(const VornJSONObject& other) const;
  bool operator!=(const VornJSONObject& other) const { return !(*this == other); }

  // With `withUndefined` false, members holding undefined are left out.
  std::vector<std::string> GetKeys(bool withUndefined = false) const;
  std::size_t GetSize(bool withUndefined = false) const;
  bool HasKey(const std::string& key, bool withUndefined = false) const;
  std::size_t size() const noexcept { return m_members.size(); }
  bool IsEmpty() const noexcept { return m_members.empty(); }
  void Reserve(std::size_t count) { m_members.reserve(count); }

  // The member's value, or VornJSONValue::undefined.
  const VornJSONValue& Get(const std::string& key) const;
  // Inserts the member unless the key is present; true when inserted.
  bool Insert(const std::string& key, VornJSONValue value);
  bool Insert(std::string&& key, VornJSONValue value);
  // Inserts or overwrites the member (a new key goes to the end).
  void Set(const std::string& key, VornJSONValue value);
  // Removes the member; the last member takes its place in the order.
  bool Erase(const std::string& key);

  const_iterator begin() const { return m_members.begin(); }
  const_iterator end() const { return m_members.end(); }
  const Members& GetMembers() const noexcept { return m_members; }

  VornJSONValue GetFromPath(const std::vector<std::string>& path) const;
  void SetFromPath(const std::vector<std::string>& path, const VornJSONValue& value);

  // Parses `text` leniently; reports and returns an empty object when it is
  // not a JSON object.
  static VornJSONObject BuildFromString(const std::string& text);

  std::string Stringify() const;
  void AppendJSON(std::string& out) const;

  operator JSON::JOStream() const;
  operator OVK::Binary() const;

private:
  friend class VornJSONValue;
  friend class VornJSONParser;
  friend struct VornJSONBridge;
  Members m_members;
};
