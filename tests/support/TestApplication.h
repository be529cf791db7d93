#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vorn/host/Application.h"

// An interactive application whose timer is driven by hand, for tests. It
// lives in the tests' support library, not in the library: it is built only
// on the public application interface, like any host's application.
//
// Time is virtual: it starts at 0 and moves only with Advance. A
// registration made at virtual time t with delay d is due at t + d. Nothing
// fires by itself; the test fires registrations from its own thread, which
// plays the host's thread. Each registration is taken out of the pending
// set before its callback runs, so a callback may add or remove timeouts
// (its own included) freely. Registering and removing are thread-safe; the
// firing operations are meant for one driving thread.
class KRTTestInteractiveApplication : public KRTInteractiveApplication {
public:
  struct Registration {
    unsigned long hostId;
    unsigned long delayMs;
    unsigned long long dueMs;  // virtual time at which it is due
    void* command;
    void* clientData;
  };

  KRTTestInteractiveApplication();
  ~KRTTestInteractiveApplication() override;  // pending registrations are dropped, not fired

  // Host ids are 1, 2, ... per application. A null callback or host id
  // address is refused with KRT_E_INVALID_ARGUMENT.
  std::int32_t AddTimeOut(unsigned long delayMs, void* command, void* clientData, TimeOutCallback callback,
                          unsigned long* hostId) override;
  // KRT_E_NOT_FOUND unless a pending registration has both this host id and
  // this delay.
  std::int32_t RemoveTimeOut(unsigned long delayMs, unsigned long hostId, int flags) override;

  // Moves virtual time forward by `ms`, firing every registration that
  // falls due on the way, in due order (ties in registration order), with
  // the clock set to each one's due time while it runs; timeouts added by
  // those callbacks are served too when they fall due within the span.
  // Returns the number fired.
  std::size_t Advance(unsigned long long ms);
  // Fires the registrations pending at the call, in due order, whatever
  // their due times (the clock does not move); those added meanwhile wait.
  std::size_t FireAllPending();
  std::size_t PendingCount() const;

private:
  struct State;
  bool _FireOne(unsigned long hostId, bool requireDueBy, unsigned long long limit, bool moveClock);
  std::unique_ptr<State> m_state;
};
