#include "support/TestApplication.h"

#include <algorithm>
#include <mutex>

#include "vorn/host/Status.h"

namespace {

struct Entry {
  KRTTestInteractiveApplication::Registration reg;
  KRTApplication::TimeOutCallback callback;
};

}  // namespace

struct KRTTestInteractiveApplication::State {
  mutable std::mutex mutex;
  std::vector<Entry> pending;  // registration order
  unsigned long long now = 0;
  unsigned long nextId = 1;

  // Earliest due entry (ties: earliest registered), or end.
  std::vector<Entry>::iterator Earliest() {
    return std::min_element(pending.begin(), pending.end(),
                            [](const Entry& a, const Entry& b) { return a.reg.dueMs < b.reg.dueMs; });
  }
  std::vector<Entry>::iterator Find(unsigned long hostId) {
    return std::find_if(pending.begin(), pending.end(), [&](const Entry& e) { return e.reg.hostId == hostId; });
  }
};

KRTTestInteractiveApplication::KRTTestInteractiveApplication() : m_state(std::make_unique<State>()) {}

KRTTestInteractiveApplication::~KRTTestInteractiveApplication() = default;

std::int32_t KRTTestInteractiveApplication::AddTimeOut(unsigned long delayMs, void* command, void* clientData,
                                                       TimeOutCallback callback, unsigned long* hostId) {
  if (!callback || !hostId) return KRT_E_INVALID_ARGUMENT;
  std::lock_guard lock(m_state->mutex);
  const unsigned long id = m_state->nextId++;
  m_state->pending.push_back({{id, delayMs, m_state->now + delayMs, command, clientData}, callback});
  *hostId = id;
  return KRT_OK;
}

std::int32_t KRTTestInteractiveApplication::RemoveTimeOut(unsigned long delayMs, unsigned long hostId, int) {
  std::lock_guard lock(m_state->mutex);
  auto it = m_state->Find(hostId);
  if (it == m_state->pending.end() || it->reg.delayMs != delayMs) return KRT_E_NOT_FOUND;
  m_state->pending.erase(it);
  return KRT_OK;
}

// Takes the registration out under the lock and calls it without the lock.
bool KRTTestInteractiveApplication::_FireOne(unsigned long hostId, bool requireDueBy, unsigned long long limit,
                                             bool moveClock) {
  Entry entry;
  {
    std::lock_guard lock(m_state->mutex);
    auto it = m_state->Find(hostId);
    if (it == m_state->pending.end() || (requireDueBy && it->reg.dueMs > limit)) return false;
    entry = *it;
    m_state->pending.erase(it);
    if (moveClock) m_state->now = std::max(m_state->now, entry.reg.dueMs);
  }
  entry.callback(entry.reg.command, 0, entry.reg.clientData);
  return true;
}

std::size_t KRTTestInteractiveApplication::Advance(unsigned long long ms) {
  unsigned long long target;
  {
    std::lock_guard lock(m_state->mutex);
    target = m_state->now + ms;
  }
  std::size_t fired = 0;
  while (true) {
    unsigned long id;
    {
      std::lock_guard lock(m_state->mutex);
      auto it = m_state->Earliest();
      if (it == m_state->pending.end() || it->reg.dueMs > target) {
        m_state->now = std::max(m_state->now, target);
        return fired;
      }
      id = it->reg.hostId;
    }
    if (_FireOne(id, true, target, true)) ++fired;
  }
}

std::size_t KRTTestInteractiveApplication::FireAllPending() {
  std::vector<Entry> sorted;
  {
    std::lock_guard lock(m_state->mutex);
    sorted = m_state->pending;
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Entry& a, const Entry& b) { return a.reg.dueMs < b.reg.dueMs; });
  std::size_t fired = 0;
  // A callback may have removed a later one; _FireOne skips it then.
  for (const Entry& entry : sorted)
    if (_FireOne(entry.reg.hostId, false, 0, false)) ++fired;
  return fired;
}

std::size_t KRTTestInteractiveApplication::PendingCount() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->pending.size();
}
