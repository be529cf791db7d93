#pragma once

#include <cstdint>

#include "vorn/host/HostExport.h"

// The host application object (Linux stand-in).
//
// A process has at most one main application, installed by whoever runs the
// host; by default there is none, which is how a non-interactive (node-style)
// host presents itself. The application is not owned by this registry.
class KRT_API KRTApplication {
public:
  // Timer callback: (command given to AddTimeOut, reason, client data). The
  // stand-ins pass 0 as the reason.
  using TimeOutCallback = void (*)(void* command, int reason, void* clientData);

  KRTApplication() = default;
  virtual ~KRTApplication();
  KRTApplication(const KRTApplication&) = delete;
  KRTApplication& operator=(const KRTApplication&) = delete;

  // The installed main application, or null.
  static KRTApplication* MainApplication() noexcept;
  // Installs `application` (null uninstalls) and returns the one it
  // replaces. The caller keeps ownership and must uninstall an application
  // before destroying it.
  static KRTApplication* SetMainApplication(KRTApplication* application) noexcept;

  // Class-kind test by class name: non-zero when this object is of the
  // named class or derives from it ("KRTApplication" for every application,
  // "KRTInteractiveApplication" for interactive ones). Null gives 0.
  virtual int IsKindOf(const char* className) const;

  // Asks the host to call `callback(command, reason, clientData)` once,
  // on the host's thread, after `delayMs` milliseconds; the host's id for
  // the registration is written to *hostId. A plain application has no
  // timer and answers KRT_E_UNSUPPORTED.
  virtual std::int32_t AddTimeOut(unsigned long delayMs, void* command, void* clientData, TimeOutCallback callback,
                                  unsigned long* hostId);
  // Cancels the registration made with this delay and host id. `flags` is
  // reserved (callers pass 0). KRT_E_UNSUPPORTED on a plain application.
  virtual std::int32_t RemoveTimeOut(unsigned long delayMs, unsigned long hostId, int flags);
};

// Base of the applications that run their own event loop. It only answers
// the class-kind test; timers come from the concrete application.
class KRT_API KRTInteractiveApplication : public KRTApplication {
public:
  int IsKindOf(const char* className) const override;
};

// Installs an application for the lifetime of the scope and restores the
// previous one at its end.
class KRT_API KRTScopedMainApplication {
public:
  explicit KRTScopedMainApplication(KRTApplication* application) noexcept
      : m_previous(KRTApplication::SetMainApplication(application)) {}
  ~KRTScopedMainApplication() { KRTApplication::SetMainApplication(m_previous); }
  KRTScopedMainApplication(const KRTScopedMainApplication&) = delete;
  KRTScopedMainApplication& operator=(const KRTScopedMainApplication&) = delete;

private:
  KRTApplication* m_previous;
};
