#pragma once

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
class VORN_API VornEventToken : public VornBaseClass {
public:
  using Callback = std::function<void(const std::shared_ptr<VornEventData>&)>;
  static constexpr bool _IsVornShareable_ = true;
  static constexpr bool _IsVornBuildable_ = true;

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
  using Remover = std::function<void(const std::string&, unsigned long)>;

  VornEventToken(std::string name, unsigned int index, Callback callback, Remover remover);
  void _SetIsOnce(bool once) noexcept { m_once = once; }
  void _Expire() noexcept;
  // Destroys the callable, or sets it aside while a call of it is running.
  void _DropCallback() noexcept;
  // Brackets one call of the callable by a publish; the end of the last
  // running call destroys a callable dropped meanwhile.
  void _BeginCall() noexcept { ++m_running; }
  void _EndCall() noexcept {
    if (--m_running == 0) m_droppedCallback.reset();
  }

  std::string m_eventName;
  unsigned int m_index;
  bool m_once = false;
  // Held through a pointer so that dropping it while it runs (the token
  // unsubscribed from inside its own callback) only moves the pointer: the
  // callable stays where it is until the call returns.
  std::unique_ptr<const Callback> m_callback;
  Remover m_remover;
  bool m_expired = false;
  unsigned int m_running = 0;
  std::unique_ptr<const Callback> m_droppedCallback;
};
