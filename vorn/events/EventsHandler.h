#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
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
// A handler nobody ever subscribed to holds no listener tables: they are
// made at the first subscription, so the many handlers that are never
// listened to (model objects of large trees) cost a pointer, and publishing
// on them returns at once.
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
  // False while nobody ever subscribed: a publish would reach no one, so
  // its data need not be built.
  bool _MayHaveListeners() const noexcept { return m_lists && !m_lists->listeners.empty(); }

private:
  using TokenList = std::vector<std::shared_ptr<VornEventToken>>;

  void _RemoveToken(const std::string& name, unsigned long index);
  void _Walk(TokenList& list, const std::shared_ptr<VornEventData>& data, const std::shared_ptr<VornBaseClass>& self,
             bool destruction);
  void _EraseToken(TokenList& list, const VornEventToken* token);
  void _Erase(TokenList& list, TokenList::iterator it);
  void _EndWalk() noexcept;
  bool _OwnedOnlyByPublishes(const std::shared_ptr<VornBaseClass>& self) const noexcept;

  struct _Lists {
    unsigned int currentTokenIndex = 0;
    std::atomic<unsigned int> nextTokenIndex{0};
    // Lists are never erased before the destructor, so a reference to one
    // stays valid while callbacks subscribe to other names.
    std::unordered_map<std::string, TokenList> listeners;
    // Bumped by every insertion into or erasure from a list: a walk whose
    // step left it unchanged moves to the next slot without searching.
    unsigned long long listsVersion = 0;
    // Walks in progress, and the tokens erased from a list meanwhile. Those
    // are kept until the last walk ends, so a walk can hold the running
    // token by a plain pointer.
    unsigned int walks = 0;
    TokenList erasedWhileWalking;
  };
  _Lists& _GetLists();

  // Made at the first subscription, kept until the destructor.
  std::unique_ptr<_Lists> m_lists;
  // Publishes in progress that hold an owner of this handler.
  unsigned int m_publishOwners = 0;
  // Last, so a derived class may use the padding after it.
  bool m_destructionRequested = false;
};
