#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/json/Value.h"

namespace OVK {
class Binary;
}

// Elements of a JSON array. Copying an array copies its elements; nested
// containers stay shared.
class VORN_API VornJSONArray {
public:
  using Elements = std::vector<VornJSONValue>;
  using const_iterator = Elements::const_iterator;

  VornJSONArray() = default;
  VornJSONArray(std::initializer_list<VornJSONValue> elements) : m_elements(elements) {}
  explicit VornJSONArray(Elements elements) noexcept : m_elements(std::move(elements)) {}
  VornJSONArray(const VornJSONArray&) = default;
  VornJSONArray(VornJSONArray&&) noexcept = default;
  VornJSONArray& operator=(const VornJSONArray&) = default;
  VornJSONArray& operator=(VornJSONArray&&) noexcept = default;
  virtual ~VornJSONArray();

  // Same size and pairwise equal elements (value equality).
  bool operator==(const VornJSONArray& other) const { return m_elements == other.m_elements; }
  bool operator!=(const VornJSONArray& other) const { return !(*this == other); }

  void PushBack(const VornJSONValue& value) { m_elements.push_back(value); }
  void PushBack(VornJSONValue&& value) { m_elements.push_back(std::move(value)); }
  std::size_t GetSize() const noexcept { return m_elements.size(); }
  std::size_t Size() const noexcept { return m_elements.size(); }
  std::size_t size() const noexcept { return m_elements.size(); }
  bool IsEmpty() const noexcept { return m_elements.empty(); }
  void Reserve(std::size_t count) { m_elements.reserve(count); }
  // The element, or VornJSONValue::undefined when out of range.
  const VornJSONValue& Get(std::size_t index) const;
  const VornJSONValue& operator[](std::size_t index) const { return Get(index); }

  const_iterator begin() const { return m_elements.begin(); }
  const_iterator end() const { return m_elements.end(); }
  const Elements& GetElements() const noexcept { return m_elements; }

  VornJSONValue GetFromPath(const std::vector<std::string>& path) const;
  void SetFromPath(const std::vector<std::string>& path, const VornJSONValue& value);

  std::string Stringify() const;
  void AppendJSON(std::string& out) const;

  operator OVK::Binary() const;

private:
  friend class VornJSONValue;
  friend struct VornJSONBridge;
  // The host writer takes homogeneous arrays: the first element's kind picks
  // the sequence written, and the other elements are read as that kind
  // (a mismatch is reported and takes the kind's default). Integers and
  // doubles are one kind, numbers: a sequence of double when any element is
  // a double, so none is truncated, else of int (low 32 bits). The null and
  // object builders stop at the first element of another kind (reported)
  // and pass on the elements gathered before it.
  void _FillJOStream(const std::string& key, JSON::JOStream& writer) const;
  std::vector<std::string> _BuildNullsVectorWithString() const;
  std::vector<JSON::JOStream> _BuildObjectsVectorForJOStream() const;

  Elements m_elements;
};
