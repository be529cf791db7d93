#include "vorn/events/EventsHandler.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <string_view>

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

VornEventsHandler::_Lists& VornEventsHandler::_GetLists() {
  // Room for one token at first: a model object a view shows has one (for
  // all the events the view hears).
  if (!m_lists) m_lists = std::make_unique<_Lists>();
  return *m_lists;
}

const VornEventToken* VornEventsHandler::_FirstNamed(const _Name& name, bool* any) const noexcept {
  if (any) *any = false;
  for (const auto& token : m_lists->tokens) {
    if (!token || !token->_IsNamed(name.text, name.interned, name.slot)) continue;
    if (any) *any = true;
    if (!token->m_multi) return token.get();
  }
  return nullptr;
}

namespace {
// The name whose listeners run on this thread, innermost publish first.
thread_local const std::string* t_currentEventName = nullptr;
}  // namespace

const std::string* VornEventsHandler::CurrentEventName() noexcept { return t_currentEventName; }

VornEventsHandler::~VornEventsHandler() {
  if (!m_lists) return;
  Publish(Vorn::kEventDestruction, nullptr);
  for (auto& token : m_lists->tokens)
    if (token) token->_Expire();
}

std::shared_ptr<VornEventToken> VornEventsHandler::Subscribe(const std::string& name, Callback callback) {
  _Lists& lists = _GetLists();
  const unsigned int index = lists.nextTokenIndex.fetch_add(1);
  unsigned int slot = 0;
  const std::string* interned = VornEventToken::_Intern(name, &slot);
  const VornEventToken* same = _FirstNamed({name, interned, slot, 0});
  return _Add(std::make_shared<VornEventToken>(VornEventToken::_Key{}, name, interned, same ? same->m_nameId : index,
                                               index, std::move(callback), this));
}

std::shared_ptr<VornEventToken> VornEventsHandler::SubscribeToEach(std::initializer_list<std::string_view> names,
                                                                   Callback callback) {
  if (names.size() == 0 || names.size() > VornEventToken::kMaxNames) return nullptr;
  const std::string* first = nullptr;
  unsigned int slots = 0;
  unsigned int shift = 0;
  for (std::string_view name : names) {
    unsigned int slot = 0;
    const std::string* interned = VornEventToken::_Intern(name, &slot);
    if (!interned || VornEventToken::_Holds(slots, slot)) return nullptr;  // not interned, or repeated
    if (!first) first = interned;
    slots |= slot << shift;
    shift += VornEventToken::kSlotBits;
  }
  _Lists& lists = _GetLists();
  const unsigned int index = lists.nextTokenIndex.fetch_add(1);
  return _Add(std::make_shared<VornEventToken>(VornEventToken::_Key{}, first, slots, index, std::move(callback), this));
}

std::shared_ptr<VornEventToken> VornEventsHandler::_Add(std::shared_ptr<VornEventToken> token) {
  m_lists->tokens.push_back(token);
  ++m_lists->listsVersion;
  return token;
}

std::shared_ptr<VornEventToken> VornEventsHandler::SubscribeOnce(const std::string& name, Callback callback) {
  std::shared_ptr<VornEventToken> token = Subscribe(name, std::move(callback));
  token->_SetIsOnce(true);
  return token;
}

void VornEventsHandler::_EraseToken(const VornEventToken* token) {
  TokenList& list = m_lists->tokens;
  auto it = FindIndex(list, token->GetIndex());
  if (it != list.end()) _Erase(it);
}

void VornEventsHandler::_Erase(TokenList::iterator it) {
  if (m_lists->walks > 0) {
    if (!m_lists->erasedWhileWalking) m_lists->erasedWhileWalking = std::make_unique<TokenList>();
    m_lists->erasedWhileWalking->push_back(std::move(*it));
  }
  m_lists->tokens.erase(it);
  ++m_lists->listsVersion;
}

void VornEventsHandler::_EndWalk() noexcept {
  if (--m_lists->walks > 0 || !m_lists->erasedWhileWalking) return;
  // Moved out first: a token's callable may do anything as it is destroyed,
  // publishing included.
  const std::unique_ptr<TokenList> erased = std::move(m_lists->erasedWhileWalking);
}

bool VornEventsHandler::_OwnedOnlyByPublishes(const std::shared_ptr<VornBaseClass>& self) const noexcept {
  // Each publish in progress holds one owner (an outer publish of a nested
  // one too): no more owners than that means every other owner has gone.
  return self.use_count() <= static_cast<long>(m_publishOwners);
}

void VornEventsHandler::_RemoveToken(unsigned int index) {
  if (!m_lists) return;
  TokenList& list = m_lists->tokens;
  auto it = FindIndex(list, index);
  if (it == list.end()) return;
  if (!(*it)->m_expired) (*it)->_Expire();
  // The token whose callback runs stays in place; its walk erases it.
  if (m_lists->currentTokenIndex != index) _Erase(it);
}

void VornEventsHandler::Publish(const std::string& name, const std::shared_ptr<VornEventData>& data) {
  _Publish(name, data, nullptr);
}

void VornEventsHandler::_Publish(const std::string& name, const std::shared_ptr<VornEventData>& data,
                                 const Callback* first) {
  if (!m_lists && !first) return;  // never subscribed to: no one to reach
  TolvTkCompatCtx errorScope;
  const bool destruction = name == Vorn::kEventDestruction;
  // Holding an owner for the whole publish keeps the handler and its lists
  // alive even when a listener drops the last other owner; the handler then
  // goes when `self` does, after the walk.
  std::shared_ptr<VornBaseClass> self = weak_from_this().lock();
  struct OwnerCount {
    unsigned int& count;
    bool held;
    ~OwnerCount() {
      if (held) --count;
    }
  } ownerCount{m_publishOwners, self != nullptr};
  if (self) ++m_publishOwners;
  if (!destruction && (!self || _OwnedOnlyByPublishes(self))) return;

  _Name named{name, nullptr, 0, 0};
  bool listened = false;
  const auto findListeners = [&] {
    if (!m_lists) return;
    named.interned = VornEventToken::_FindInterned(name, &named.slot);
    const VornEventToken* firstToken = _FirstNamed(named, &listened);
    named.id = firstToken ? firstToken->m_nameId : 0;  // 0: no token of this name alone
  };
  findListeners();
  if (!listened && !first) return;

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

  struct WalkScope {
    VornEventsHandler& handler;
    bool walking = false;
    void Begin() {
      if (walking || !handler.m_lists) return;
      walking = true;
      ++handler.m_lists->walks;
    }
    ~WalkScope() {
      if (walking) handler._EndWalk();
    }
  } walkScope{*this};
  walkScope.Begin();
  struct NameScope {
    const std::string* outer = t_currentEventName;
    ~NameScope() { t_currentEventName = outer; }
  } nameScope;
  t_currentEventName = &name;

  try {
    if (first) {
      (*first)(payload);
      // Listeners it subscribed are reached, as tokens appended during a
      // walk are.
      walkScope.Begin();
      if (!listened) findListeners();
    }
    if (listened) _Walk(named, payload, self, destruction);
  } catch (const KRTErrorPtr& error) {
    if (m_lists) m_lists->currentTokenIndex = 0;
    try {
      KRTXHContextCxx::CatchBlockProlog(error);
      KRTXHContextCxx::Flush();
    } catch (const KRTErrorPtr&) {
      TolvTkCompatCtx::Rethrow();
    }
  } catch (const std::exception& error) {
    if (m_lists) m_lists->currentTokenIndex = 0;
    KRTSysLogAbend(error.what());
  } catch (...) {
    if (m_lists) m_lists->currentTokenIndex = 0;
    KRTSysLogAbend("UNEXPECTED ERROR!");
  }
}

void VornEventsHandler::_Walk(const _Name& name, const std::shared_ptr<VornEventData>& data,
                              const std::shared_ptr<VornBaseClass>& self, bool destruction) {
  // The walk goes by token index rather than by position: the next listener
  // is the first one subscribed after the last one visited. Callbacks may
  // erase tokens anywhere in the list (a nested publish resets the current
  // index, so even the running token can go) without making the walk skip
  // or repeat anyone; tokens they append come later and are reached.
  // The running token stays alive without an owner of our own: tokens erased
  // during a walk are kept until the last walk ends, and a callable dropped
  // while it runs is kept by its token until the call returns.
  TokenList& list = m_lists->tokens;
  std::size_t pos = 0;
  while (pos < list.size()) {
    VornEventToken* token = list[pos].get();
    // Other names' listeners and null slots are skipped. A token of this name
    // subscribed after every earlier one went has a number of its own.
    if (!token || ((token->m_multi || token->m_nameId != name.id) &&
                   !token->_IsNamed(name.text, name.interned, name.slot))) {
      ++pos;
      continue;
    }
    const unsigned int index = token->GetIndex();
    const unsigned long long version = m_lists->listsVersion;
    m_lists->currentTokenIndex = index;

    // A once-token is delivered once, even to a nested publish of the same
    // event that runs while its first call is still going on.
    const bool onceInProgress = token->m_once && token->m_running > 0;
    if (token->_IsCallable() && !onceInProgress) {
      {
        struct Call {
          VornEventToken& token;
          ~Call() { token._EndCall(); }
        } call{*token};
        token->_BeginCall();
        token->m_callback(data);
      }  // a callable dropped while it ran goes here, with any owner it captured
      if (!destruction && _OwnedOnlyByPublishes(self)) {
        m_lists->currentTokenIndex = 0;
        return;
      }
    }
    if (!onceInProgress && (!token->_IsCallable() || token->m_expired || token->m_once)) {
      if (!token->m_expired) token->_Expire();
      _EraseToken(token);
    }
    m_lists->currentTokenIndex = 0;

    if (m_lists->listsVersion == version) {
      ++pos;  // nothing moved: the next token is in the next slot
    } else {
      pos = static_cast<std::size_t>(
          std::upper_bound(list.begin(), list.end(), index,
                           [](unsigned int i, const std::shared_ptr<VornEventToken>& t) {
                             return !t || i < t->GetIndex();
                           }) -
          list.begin());
    }
  }
}

bool VornEventsHandler::IsListened(const std::string& name) {
  if (!m_lists) return false;
  bool live = false;
  unsigned int slot = 0;
  const std::string* interned = VornEventToken::_FindInterned(name, &slot);
  // Copy first: removing expired tokens edits the list.
  const TokenList tokens = m_lists->tokens;
  for (const auto& token : tokens) {
    if (!token || !token->_IsNamed(name, interned, slot)) continue;
    if (!token->m_expired)
      live = true;
    else
      _RemoveToken(token->GetIndex());
  }
  return live;
}

void VornEventsHandler::RequestDestruction() {
  if (m_destructionRequested) return;
  m_destructionRequested = true;
  // Held across the hook and the publish: either may drop the last other
  // owner (a parent letting go of its child).
  const std::shared_ptr<VornBaseClass> self = _GetSharedPtrFromBase();
  _OnDestructionRequested();
  Publish(Vorn::kEventDestructionRequested, VornEventData::Create());
}

void VornEventToken::Unsubscribe() {
  // The handler's list may hold the last reference: keep this token alive
  // for the call.
  std::shared_ptr<VornBaseClass> keepAlive = weak_from_this().lock();
  VornEventsHandler* handler = m_handler;
  m_handler = nullptr;
  _DropCallback();
  if (handler) handler->_RemoveToken(m_index);
  if (!m_expired) _Expire();
}
