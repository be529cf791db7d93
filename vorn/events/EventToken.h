#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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
  // `interned` is the name's interned copy, or null when the table of
  // interned names had no room for it (the token then keeps a copy).
  VornEventToken(_Key, const std::string& name, const std::string* interned, unsigned int nameId, unsigned int index,
                 Callback callback, VornEventsHandler* handler);
  // A token of several interned names (VornEventsHandler::SubscribeToEach):
  // `slots` says which (see kSlotBits), `first` is the first of them.
  VornEventToken(_Key, const std::string* first, unsigned int slots, unsigned int index, Callback callback,
                 VornEventsHandler* handler);
  ~VornEventToken() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  // Safe from inside this token's own callback: the running callback stays
  // alive until it returns. A second call does nothing further.
  void Unsubscribe();
  unsigned int GetIndex() const noexcept { return m_index; }
  bool IsOnce() const noexcept { return m_once; }
  bool IsExpired() const noexcept { return m_expired; }
  // The event's name; the first one for a token of several names.
  const std::string& GetEventName() const noexcept { return *m_eventName; }

private:
  friend class VornEventsHandler;

  // Event names are interned, process-wide: the handful of names a program
  // uses are stored once rather than in each of the many tokens, and two
  // interned names are the same name exactly when they are the same
  // pointer. The table is bounded (names up to 64 bytes, a fixed number of
  // slots, never emptied), so names made up at run time cannot grow it
  // without end: a name that finds no room is not interned, and its tokens
  // keep copies. Safe from any thread.
  // `slot`, when given, gets the name's place in the table plus one (0 when
  // it is not interned).
  static const std::string* _Intern(std::string_view name, unsigned int* slot = nullptr);
  // The interned copy of `name`, or null when it is not interned; never adds.
  static const std::string* _FindInterned(std::string_view name, unsigned int* slot = nullptr) noexcept;
  // A token of several names keeps their places in the table of interned
  // names (plus one, 10 bits each) in m_nameId: no storage of its own.
  static constexpr unsigned int kSlotBits = 10;
  static constexpr unsigned int kMaxNames = 3;
  // Whether this token's event is `name`, given `name`'s interned copy (or
  // null) and its slot (as _FindInterned gives it): an interned name is
  // never kept as a copy, and the other way round.
  bool _IsNamed(const std::string& name, const std::string* interned, unsigned int slot) const noexcept {
    if (m_multi) return _Holds(m_nameId, slot);
    return interned ? m_eventName == interned : m_ownsName && *m_eventName == name;
  }
  // Whether the slots packed in `slots` include `slot` (never 0).
  static bool _Holds(unsigned int slots, unsigned int slot) noexcept {
    for (unsigned int i = 0; i < kMaxNames; ++i)
      if (slot != 0 && ((slots >> (i * kSlotBits)) & ((1u << kSlotBits) - 1)) == slot) return true;
    return false;
  }
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

  // Interned, or a copy this token owns (m_ownsName).
  const std::string* m_eventName;
  Callback m_callback;
  // The handler whose list holds this token; null once expired (the handler
  // expires every token it holds as it goes).
  VornEventsHandler* m_handler;
  unsigned int m_index;
  // Shared by the handler's tokens of the same name (the index of the first
  // of them), so that a publish tells its listeners by a number; the names'
  // slots for a token of several names.
  unsigned int m_nameId;
  unsigned int m_running = 0;
  // Bits, so that a token stays within its allocation size class.
  bool m_once : 1 = false;
  bool m_expired : 1 = false;
  bool m_dropPending : 1 = false;
  bool m_ownsName : 1;
  bool m_multi : 1 = false;
};
