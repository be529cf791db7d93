#include "vorn/json/Object.h"

VornJSONObject::VornJSONObject(std::initializer_list<std::pair<std::string, VornJSONValue>> members) {
  m_members.reserve(members.size());
  for (const auto& [key, value] : members) m_members.try_emplace(key, value);
}

VornJSONObject::~VornJSONObject() = default;

bool VornJSONObject::operator==(const VornJSONObject& other) const {
  if (m_members.size() != other.m_members.size()) return false;
  for (const auto& [key, value] : m_members) {
    auto it = other.m_members.find(key);
    if (it == other.m_members.end() || !(value == it->second)) return false;
  }
  return true;
}

std::vector<std::string> VornJSONObject::GetKeys(bool withUndefined) const {
  std::vector<std::string> keys;
  keys.reserve(m_members.size());
  for (const auto& [key, value] : m_members)
    if (withUndefined || !value.IsUndefined()) keys.push_back(key);
  return keys;
}

std::size_t VornJSONObject::GetSize(bool withUndefined) const {
  if (withUndefined) return m_members.size();
  std::size_t count = 0;
  for (const auto& member : m_members) count += member.second.IsUndefined() ? 0 : 1;
  return count;
}

bool VornJSONObject::HasKey(const std::string& key, bool withUndefined) const {
  auto it = m_members.find(key);
  return it != m_members.end() && (withUndefined || !it->second.IsUndefined());
}

const VornJSONValue& VornJSONObject::Get(const std::string& key) const {
  auto it = m_members.find(key);
  return it == m_members.end() ? VornJSONValue::undefined : it->second;
}

bool VornJSONObject::Insert(const std::string& key, VornJSONValue value) {
  auto [it, inserted] = m_members.try_emplace(key, std::move(value));
  return inserted;
}

bool VornJSONObject::Insert(std::string&& key, VornJSONValue value) {
  auto [it, inserted] = m_members.try_emplace(std::move(key), std::move(value));
  return inserted;
}

void VornJSONObject::Set(const std::string& key, VornJSONValue value) {
  auto [it, inserted] = m_members.try_emplace(key);
  if (it != m_members.end()) it->second = std::move(value);
}

bool VornJSONObject::Erase(const std::string& key) { return m_members.erase(key); }
