#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/events/EventData.h"
#include "vorn/events/EventToken.h"

namespace Vorn {
// Published by a handler's RequestDestruction() and by its destructor; no
// one else publishes them.
inline constexpr const char* kEventDestructionRequested = "__Vorn__onDestructionRequested__";
inline constexpr const char* kEventDestruction = "__Vorn__onDestruction__";
}  // namespace Vorn

// Named publish/subscribe. Publishing is synchronous, on the publishing
// thread, in subscription order; no lock is taken, so a handler belongs to
// one thread at a time.
//
// A callback may subscribe (the new listener is reached by the same
// publish), unsubscribe itself or others, publish again, or drop the
// handler's last owner: every listener is called at most once per publish
// and none is skipped, whatever the list becomes. A handler whose last owner
// went during a publish is destroyed when that publish returns, after the
// walk stops.
//
// A handler nobody ever subscribed to holds no listener list: it is made at
// the first subscription, so the many handlers that are never listened to
// (model objects of large trees) cost a pointer, and publishing on them
// returns at once.
//
// The listeners of every event name share one list, in subscription order,
// and a publish walks it whole, skipping other names by a number the tokens
// of one name share. Handlers carry a few listeners (a model object shown
// in a view has one, for three names), and one list per name would cost
// more than the listeners themselves; a handler with thousands of
// listeners pays for all of them on each publish.
class VORN_API VornEventsHandler : public VornBaseClass {
public:
  using Callback = VornEventToken::Callback;
  static constexpr bool _IsVornShareable_ = true;
  static constexpr bool _IsVornBuildable_ = true;

  ~VornEventsHandler() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  std::shared_ptr<VornEventToken> Subscribe(const std::string& name, Callback callback);
  // The token expires after its first delivery.
  std::shared_ptr<VornEventToken> SubscribeOnce(const std::string& name, Callback callback);
  // One token for up to three distinct names: `callback` hears each of them
  // at the token's place in subscription order, and CurrentEventName() tells
  // which it is. For an owner that listens to several events of many
  // handlers (a view, to every object it shows): one token, not one a name.
  // Null, and nothing subscribed, when there are more than three names, a
  // name repeats, or one is longer than 64 bytes or finds no room among the
  // interned names (see VornEventToken): subscribe to each name then.
  std::shared_ptr<VornEventToken> SubscribeToEach(std::initializer_list<std::string_view> names, Callback callback);

  // The name of the event whose listener runs on this thread (the innermost
  // publish), or null outside any.
  static const std::string* CurrentEventName() noexcept;

  // Calls every live listener of `name` with `data` (a new VornEventData when
  // null; the publisher is set to this handler when not set). Except for
  // "__Vorn__onDestruction__", does nothing on a handler no std::shared_ptr
  // owns; the owners that publishes in progress hold do not count, so a
  // listener that dropped the last other owner cannot publish again on it.
  // A listener's failure ends the publish: host errors go to the host's
  // error handling, other exceptions to the abnormal-end log.
  void Publish(const std::string& name, const std::shared_ptr<VornEventData>& data);

  // True when `name` has a live listener; drops expired ones on the way.
  bool IsListened(const std::string& name);

  // Publishes "__Vorn__onDestructionRequested__" once; later calls do nothing.
  void RequestDestruction();
  bool IsDestructionRequested() const noexcept { return m_destructionRequested; }

protected:
  VornEventsHandler() = default;
  // Called once by RequestDestruction, before the request is published, so
  // a derived class can act before any listener hears of it.
  virtual void _OnDestructionRequested() {}
  // False while no token is subscribed, to any name: a publish would reach
  // no one, so its data need not be built.
  bool _MayHaveListeners() const noexcept { return m_lists && !m_lists->tokens.empty(); }
  // Publish, with `first` heard before every listener, as a listener
  // subscribed before them would be (same publisher, same owner held, same
  // handling of its failure, which ends the publish). For an owner that
  // must hear each of a handler's events: a listener without a token.
  void _Publish(const std::string& name, const std::shared_ptr<VornEventData>& data, const Callback* first);

private:
  using TokenList = std::vector<std::shared_ptr<VornEventToken>>;

  friend class VornEventToken;  // an unsubscribing token removes itself

  struct _Name {
    const std::string& text;
    const std::string* interned;
    unsigned int slot;  // the interned name's slot plus one, or 0
    unsigned int id;    // the number its tokens of one name share, or 0
  };
  // The first token of `name` alone in the list, of any state, or null; and
  // whether any token (of several names too) listens to it.
  const VornEventToken* _FirstNamed(const _Name& name, bool* any = nullptr) const noexcept;
  void _RemoveToken(unsigned int index);
  std::shared_ptr<VornEventToken> _Add(std::shared_ptr<VornEventToken> token);
  void _Walk(const _Name& name, const std::shared_ptr<VornEventData>& data, const std::shared_ptr<VornBaseClass>& self,
             bool destruction);
  void _EraseToken(const VornEventToken* token);
  void _Erase(TokenList::iterator it);
  void _EndWalk() noexcept;
  bool _OwnedOnlyByPublishes(const std::shared_ptr<VornBaseClass>& self) const noexcept;

  struct _Lists {
    // The index of the token whose callback runs; 0 outside a walk, so
    // indexes start at 1: a token unsubscribed outside a walk, the first
    // one included, leaves the list at once.
    unsigned int currentTokenIndex = 0;
    std::atomic<unsigned int> nextTokenIndex{1};
    // Every name's listeners, by increasing index.
    TokenList tokens;
    // Bumped by every insertion into or erasure from the list: a walk whose
    // step left it unchanged moves to the next slot without searching.
    unsigned long long listsVersion = 0;
    // Walks in progress, and the tokens erased from a list meanwhile. Those
    // are kept until the last walk ends, so a walk can hold the running
    // token by a plain pointer. Made when first needed: most handlers never
    // lose a token during a walk, and every shown object has a handler.
    unsigned int walks = 0;
    std::unique_ptr<TokenList> erasedWhileWalking;
  };
  _Lists& _GetLists();

  // Made at the first subscription, kept until the destructor.
  std::unique_ptr<_Lists> m_lists;
  // Publishes in progress that hold an owner of this handler.
  unsigned int m_publishOwners = 0;
  // Last, so a derived class may use the padding after it.
  bool m_destructionRequested = false;
};
