#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"

class VornEventData;
class VornEventsHandler;

// One subscription. The handler's list and the subscriber both hold the
// token; dropping the subscriber's handle does not unsubscribe. Once expired
// (unsubscribed, delivered once, removed, or its handler destroyed) it is
// never called again.
//
// A view keeps several tokens per control it shows, so a token is one
// allocation: no separate callable, no remover closure.
class VORN_API VornEventToken : public VornBaseClass {
  struct _Key {};

public:
  using Callback = std::function<void(const std::shared_ptr<VornEventData>&)>;
  static constexpr bool _IsVornShareable_ = true;
  static constexpr bool _IsVornBuildable_ = true;

  // Only a handler can make one (the key is private to it).
  VornEventToken(_Key, std::string name, std::uint32_t nameHash, unsigned int nameId, unsigned int index,
                 Callback callback, VornEventsHandler* handler);
  ~VornEventToken() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  // Safe from inside this token's own callback: the running callback stays
  // alive until it returns. A second call does nothing further.
  void Unsubscribe();
  unsigned int GetIndex() const noexcept { return m_index; }
  bool IsOnce() const noexcept { return m_once; }
  bool IsExpired() const noexcept { return m_expired; }
  const std::string& GetEventName() const noexcept { return m_eventName; }

private:
  friend class VornEventsHandler;

  void _SetIsOnce(bool once) noexcept { m_once = once; }
  void _Expire() noexcept;
  // Whether a publish may call the callable.
  bool _IsCallable() const noexcept { return m_callback && !m_dropPending; }
  // Destroys the callable, or marks it to be destroyed when the call of it
  // that is running returns: a callable cannot be moved or destroyed while
  // it runs (the token unsubscribed from inside its own callback).
  void _DropCallback() noexcept;
  // Brackets one call of the callable by a publish; the end of the last
  // running call destroys a callable dropped meanwhile.
  void _BeginCall() noexcept { ++m_running; }
  void _EndCall() noexcept {
    if (--m_running == 0 && m_dropPending) _DropCallback();
  }

  std::string m_eventName;
  Callback m_callback;
  // The handler whose list holds this token; null once expired (the handler
  // expires every token it holds as it goes).
  VornEventsHandler* m_handler;
  unsigned int m_index;
  // Of the name, for finding the first token of a name.
  std::uint32_t m_nameHash;
  // Shared by the handler's tokens of the same name (the index of the first
  // of them), so that a publish tells its listeners by a number.
  unsigned int m_nameId;
  unsigned int m_running = 0;
  bool m_once = false;
  bool m_expired = false;
  bool m_dropPending = false;
};
