// Reading and writing JSON values by path.
//
// A path is a list of segments; each operation classifies its first segment
// with the parser's segment reader and hands the remaining segments to the
// value it reaches. A numeric segment is an array index (its absolute value,
// fractions truncated), never an object key; "*" visits every member or
// element; any other text is a key, taken verbatim. Path operations report
// nothing themselves: a miss reads as undefined and writes nothing.
//
// An index addresses an element only when it is below the array's size. It
// is compared whole: reducing it to 32 bits first would let 4294967297 reach
// element 1.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"
#include "vorn/json/Value.h"

namespace {

struct Segment {
  enum class Kind { Invalid, Index, Key, Wildcard };
  Kind kind = Kind::Invalid;
  std::uint64_t index = 0;
  std::string key;
};

Segment Classify(const std::string& text) {
  const VornJSONValue read = VornJSONParser::ParseSegment(text);
  Segment segment;
  if (const std::int64_t* i = read.GetIfInt()) {
    segment.kind = Segment::Kind::Index;
    // The reader already gives the absolute value; the unsigned negation
    // keeps a negative answer well defined all the same.
    segment.index = *i < 0 ? 0 - static_cast<std::uint64_t>(*i) : static_cast<std::uint64_t>(*i);
  } else if (const std::string* s = read.GetIfString()) {
    segment.kind = *s == "*" ? Segment::Kind::Wildcard : Segment::Kind::Key;
    segment.key = *s;
  }
  // Anything else (a number the reader could not turn into an integer)
  // addresses nothing.
  return segment;
}

std::vector<std::string> Rest(const std::vector<std::string>& path) { return {path.begin() + 1, path.end()}; }

// Wildcard reads: with no further segment, every value as it is (undefined
// included); otherwise the values the rest of the path reaches.
template <class Range, class Project>
VornJSONValue CollectAll(const Range& range, Project valueOf, const std::vector<std::string>& rest) {
  VornJSONArray collected;
  for (const auto& entry : range) {
    const VornJSONValue& v = valueOf(entry);
    if (rest.empty()) {
      collected.PushBack(v);
    } else {
      VornJSONValue reached = v.GetFromPath(rest);
      if (!reached.IsUndefined()) collected.PushBack(std::move(reached));
    }
  }
  if (collected.IsEmpty()) return VornJSONValue::undefined;
  return VornJSONValue(std::move(collected));
}

// Writes into one member or element: replaced with no further segment,
// written through otherwise.
void WriteInto(VornJSONValue& target, const std::vector<std::string>& rest, const VornJSONValue& value) {
  if (rest.empty())
    target = value;
  else
    target.SetFromPath(rest, value);
}

}  // namespace

// --- values -----------------------------------------------------------------------

VornJSONValue VornJSONValue::GetFromPath(const std::vector<std::string>& path) const {
  if (path.empty()) return undefined;
  if (const VornJSONObject* object = GetIfObject()) return object->GetFromPath(path);
  if (const VornJSONArray* array = GetIfArray()) return array->GetFromPath(path);
  return undefined;
}

void VornJSONValue::SetFromPath(const std::vector<std::string>& path, const VornJSONValue& value) {
  if (path.empty()) return;
  if (VornJSONObject* object = GetIfObject()) return object->SetFromPath(path, value);
  if (VornJSONArray* array = GetIfArray()) return array->SetFromPath(path, value);
  // A scalar becomes an object first. `value` may be this very value, so it
  // is copied before this one is replaced.
  const VornJSONValue copy(value);
  *this = VornJSONValue(VornJSONObject());
  GetIfObject()->SetFromPath(path, copy);
}

// --- objects ----------------------------------------------------------------------

VornJSONValue VornJSONObject::GetFromPath(const std::vector<std::string>& path) const {
  if (path.empty()) return VornJSONValue::undefined;
  const Segment segment = Classify(path.front());
  switch (segment.kind) {
    case Segment::Kind::Wildcard:
      return CollectAll(m_members, [](const auto& member) -> const VornJSONValue& { return member.second; },
                        Rest(path));
    case Segment::Kind::Key: {
      auto it = m_members.find(segment.key);
      if (it == m_members.end()) return VornJSONValue::undefined;
      if (path.size() == 1) return it->second;
      return it->second.GetFromPath(Rest(path));
    }
    case Segment::Kind::Index:
    case Segment::Kind::Invalid: break;
  }
  return VornJSONValue::undefined;
}

void VornJSONObject::SetFromPath(const std::vector<std::string>& path, const VornJSONValue& value) {
  if (path.empty()) return;
  const Segment segment = Classify(path.front());
  if (segment.kind != Segment::Kind::Wildcard && segment.kind != Segment::Kind::Key) return;
  // `value` may live in this object; inserting a member can move every
  // member, so work from a copy.
  const VornJSONValue copy(value);
  const std::vector<std::string> rest = Rest(path);
  if (segment.kind == Segment::Kind::Wildcard) {
    for (auto& member : m_members) WriteInto(member.second, rest, copy);
    return;
  }
  auto it = m_members.find(segment.key);
  if (it != m_members.end()) {
    WriteInto(it->second, rest, copy);
  } else if (rest.empty()) {
    m_members.try_emplace(segment.key, copy);
  } else {
    VornJSONValue fresh{VornJSONObject()};
    fresh.SetFromPath(rest, copy);
    m_members.try_emplace(segment.key, std::move(fresh));
  }
}

// --- arrays -----------------------------------------------------------------------

VornJSONValue VornJSONArray::GetFromPath(const std::vector<std::string>& path) const {
  if (path.empty()) return VornJSONValue::undefined;
  const Segment segment = Classify(path.front());
  switch (segment.kind) {
    case Segment::Kind::Index:
      if (segment.index >= m_elements.size()) return VornJSONValue::undefined;
      if (path.size() == 1) return m_elements[segment.index];
      return m_elements[segment.index].GetFromPath(Rest(path));
    case Segment::Kind::Wildcard:
      return CollectAll(m_elements, [](const VornJSONValue& element) -> const VornJSONValue& { return element; },
                        Rest(path));
    case Segment::Kind::Key:
    case Segment::Kind::Invalid: break;
  }
  return VornJSONValue::undefined;
}

void VornJSONArray::SetFromPath(const std::vector<std::string>& path, const VornJSONValue& value) {
  if (path.empty()) return;
  const Segment segment = Classify(path.front());
  // Arrays never grow through a path, so elements stay where they are and
  // `value` (even if it is one of them) stays valid.
  switch (segment.kind) {
    case Segment::Kind::Index:
      if (segment.index < m_elements.size()) WriteInto(m_elements[segment.index], Rest(path), value);
      break;
    case Segment::Kind::Wildcard: {
      const VornJSONValue copy(value);  // the first element written may be `value` itself
      const std::vector<std::string> rest = Rest(path);
      for (VornJSONValue& element : m_elements) WriteInto(element, rest, copy);
      break;
    }
    case Segment::Kind::Key:
    case Segment::Kind::Invalid: break;
  }
}
