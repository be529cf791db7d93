#include "vorn/events/EventsHandler.h"

#include <algorithm>
#include <exception>

#include "vorn/host/Errors.h"
#include "vorn/host/SysLog.h"

namespace {

bool IndexBelow(const std::shared_ptr<VornEventToken>& token, unsigned long index) {
  return token && token->GetIndex() < index;
}

// Position of the token with this index. Tokens are appended with
// increasing indexes and erasing keeps the order, so a list is sorted.
std::vector<std::shared_ptr<VornEventToken>>::iterator FindIndex(std::vector<std::shared_ptr<VornEventToken>>& list,
                                                                 unsigned long index) {
  auto it = std::lower_bound(list.begin(), list.end(), index, IndexBelow);
  return (it != list.end() && *it && (*it)->GetIndex() == index) ? it : list.end();
}

}  // namespace

VornEventsHandler::~VornEventsHandler() {
  Publish(Vorn::kEventDestruction, nullptr);
  for (auto& [name, list] : m_listeners)
    for (auto& token : list)
      if (token) token->_Expire();
}

std::shared_ptr<VornEventToken> VornEventsHandler::Subscribe(const std::string& name, Callback callback) {
  const unsigned int index = m_nextTokenIndex.fetch_add(1);
  std::shared_ptr<VornEventToken> token(new VornEventToken(
      name, index, std::move(callback),
      [this](const std::string& tokenName, unsigned long tokenIndex) { _RemoveToken(tokenName, tokenIndex); }));
  m_listeners[name].push_back(token);
  return token;
}

std::shared_ptr<VornEventToken> VornEventsHandler::SubscribeOnce(const std::string& name, Callback callback) {
  std::shared_ptr<VornEventToken> token = Subscribe(name, std::move(callback));
  token->_SetIsOnce(true);
  return token;
}

void VornEventsHandler::_EraseToken(TokenList& list, const VornEventToken* token) {
  auto it = std::find_if(list.begin(), list.end(), [token](const auto& t) { return t.get() == token; });
  if (it != list.end()) list.erase(it);
}

void VornEventsHandler::_RemoveToken(const std::string& name, unsigned long index) {
  auto found = m_listeners.find(name);
  if (found == m_listeners.end()) return;
  TokenList& list = found->second;
  auto it = FindIndex(list, index);
  if (it == list.end()) return;
  if (!(*it)->m_expired) (*it)->_Expire();
  // The token whose callback runs stays in place; its walk erases it.
  if (m_currentTokenIndex != index) list.erase(it);
}

void VornEventsHandler::Publish(const std::string& name, const std::shared_ptr<VornEventData>& data) {
  TolvTkCompatCtx errorScope;
  const bool destruction = name == Vorn::kEventDestruction;
  // Holding an owner for the whole publish keeps the handler, its lists and
  // the running callbacks alive even when a listener drops the last other
  // owner; the handler then goes when `self` does, after the walk.
  std::shared_ptr<VornBaseClass> self = weak_from_this().lock();
  if (!self && !destruction) return;
  struct OwnerCount {
    unsigned int& count;
    bool held;
    ~OwnerCount() {
      if (held) --count;
    }
  } ownerCount{m_publishOwners, self != nullptr};
  if (self) ++m_publishOwners;

  auto found = m_listeners.find(name);
  if (found == m_listeners.end()) return;

  std::shared_ptr<VornEventData> payload;
  if (destruction) {
    payload = VornEventData::Create();
  } else if (data) {
    payload = data;
    if (!payload->GetEventPublisher()) payload->_SetEventPublisher(this);
  } else {
    payload = VornEventData::Create();
    payload->_SetEventPublisher(this);
  }

  try {
    _Walk(found->second, payload, self, destruction);
  } catch (const KRTErrorPtr& error) {
    m_currentTokenIndex = 0;
    try {
      KRTXHContextCxx::CatchBlockProlog(error);
      KRTXHContextCxx::Flush();
    } catch (const KRTErrorPtr&) {
      TolvTkCompatCtx::Rethrow();
    }
  } catch (const std::exception& error) {
    m_currentTokenIndex = 0;
    KRTSysLogAbend(error.what());
  } catch (...) {
    m_currentTokenIndex = 0;
    KRTSysLogAbend("UNEXPECTED ERROR!");
  }
}

void VornEventsHandler::_Walk(TokenList& list, const std::shared_ptr<VornEventData>& data,
                              const std::shared_ptr<VornBaseClass>& self, bool destruction) {
  // The walk goes by token index rather than by position: the next listener
  // is the first one subscribed after the last one visited. Callbacks may
  // erase tokens anywhere in the list (a nested publish resets the current
  // index, so even the running token can go) without making the walk skip
  // or repeat anyone; tokens they append come later and are reached.
  bool started = false;
  unsigned long last = 0;
  for (;;) {
    auto it = started ? std::upper_bound(list.begin(), list.end(), last,
                                         [](unsigned long index, const std::shared_ptr<VornEventToken>& token) {
                                           return !token || index < token->GetIndex();
                                         })
                      : list.begin();
    while (it != list.end() && !*it) ++it;  // null slots are skipped
    if (it == list.end()) break;

    std::shared_ptr<VornEventToken> token = *it;
    started = true;
    last = token->GetIndex();
    m_currentTokenIndex = token->GetIndex();

    bool called = false;
    if (std::shared_ptr<const Callback> callback = token->m_callback; callback && *callback) {
      (*callback)(data);
      called = true;
    }  // a callable that unsubscribed itself goes here, with any owner it captured
    // Only publishes in progress still own the handler (an outer publish of
    // a nested one holds an owner too): stop here.
    if (called && !destruction && self.use_count() <= static_cast<long>(m_publishOwners)) {
      m_currentTokenIndex = 0;
      return;
    }
    if (!token->m_callback || token->m_expired || token->m_once) {
      if (!token->m_expired) token->_Expire();
      _EraseToken(list, token.get());
    }
    m_currentTokenIndex = 0;
  }
}

bool VornEventsHandler::IsListened(const std::string& name) {
  auto found = m_listeners.find(name);
  if (found == m_listeners.end()) return false;
  TokenList& list = found->second;
  bool live = false;
  // Copy first: removing expired tokens edits the list.
  const TokenList tokens = list;
  for (const auto& token : tokens) {
    if (!token) continue;
    if (!token->m_expired)
      live = true;
    else
      _RemoveToken(name, token->GetIndex());
  }
  return live;
}

void VornEventsHandler::RequestDestruction() {
  if (m_destructionRequested) return;
  m_destructionRequested = true;
  Publish(Vorn::kEventDestructionRequested, VornEventData::Create());
}
