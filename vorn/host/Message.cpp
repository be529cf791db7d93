#include "vorn/host/Message.h"

#include <utility>

#include "vorn/host/Status.h"

namespace MBX {

Parameters::Member* Parameters::_Find(const KRTUnicodeString& key) noexcept {
  for (Member& m : m_members)
    if (m.key == key) return &m;
  return nullptr;
}

const Parameters::Member* Parameters::_Find(const KRTUnicodeString& key) const noexcept {
  return const_cast<Parameters*>(this)->_Find(key);
}

std::int32_t Parameters::WriteString(const KRTUnicodeString& key, const KRTUnicodeString& text) {
  if (key.IsEmpty()) return KRT_E_INVALID_ARGUMENT;
  if (Member* m = _Find(key)) m->value = text;
  else m_members.push_back({key, text});
  return KRT_OK;
}

std::int32_t Parameters::WriteBuffer(const KRTUnicodeString& key, const OVK::Binary& buffer) {
  if (key.IsEmpty()) return KRT_E_INVALID_ARGUMENT;
  if (Member* m = _Find(key)) m->value = buffer;
  else m_members.push_back({key, buffer});
  return KRT_OK;
}

const KRTUnicodeString* Parameters::FindString(const KRTUnicodeString& key) const noexcept {
  const Member* m = _Find(key);
  return m ? std::get_if<KRTUnicodeString>(&m->value) : nullptr;
}

const OVK::Binary* Parameters::FindBuffer(const KRTUnicodeString& key) const noexcept {
  const Member* m = _Find(key);
  return m ? std::get_if<OVK::Binary>(&m->value) : nullptr;
}

bool Parameters::Has(const KRTUnicodeString& key) const noexcept { return _Find(key) != nullptr; }

bool Parameters::operator==(const Parameters& other) const {
  if (m_members.size() != other.m_members.size()) return false;
  for (std::size_t i = 0; i < m_members.size(); ++i)
    if (!(m_members[i].key == other.m_members[i].key) || m_members[i].value != other.m_members[i].value) return false;
  return true;
}

Node::~Node() = default;

Parameters Node::CreateParameters() { return Parameters(); }

std::int32_t RecordingNode::_Record(Emission emission) {
  std::lock_guard lock(m_mutex);
  m_emissions.push_back(std::move(emission));
  return m_status;
}

std::int32_t RecordingNode::Emit(const KRTUnicodeString& event, const Parameters& parameters) {
  return _Record({event, false, KRTUnicodeString(), parameters});
}

std::int32_t RecordingNode::Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                                 const Parameters& parameters) {
  return _Record({event, true, target, parameters});
}

void RecordingNode::SetStatus(std::int32_t status) {
  std::lock_guard lock(m_mutex);
  m_status = status;
}

std::vector<RecordingNode::Emission> RecordingNode::Emissions() const {
  std::lock_guard lock(m_mutex);
  return m_emissions;
}

std::size_t RecordingNode::Count() const {
  std::lock_guard lock(m_mutex);
  return m_emissions.size();
}

RecordingNode::Emission RecordingNode::Last() const {
  std::lock_guard lock(m_mutex);
  return m_emissions.empty() ? Emission() : m_emissions.back();
}

void RecordingNode::Clear() {
  std::lock_guard lock(m_mutex);
  m_emissions.clear();
}

}  // namespace MBX
