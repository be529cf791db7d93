#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/host/ChannelId.h"
#include "vorn/remote/RemoteObject.h"

// A client application as the library sees it: a separate program working
// with some contexts. It announces what happens to it as events on itself:
// "onLaunch", "onClose", "onShow", "onHide" (no data), "onConnectionChange"
// (the connection state as a bool) and "OnRemoteContextStatusChange/" +
// context name (the context's status on the client side, as a bool). The
// contexts it joins forward them to their hooks.
//
// Contexts named at construction are recorded (status false) but not
// joined: a context is joined when its name first appears in a connection
// or status report, or when the deriving class calls _AddToContext.
class VORN_API VornBaseClientApp : public VornRemoteObject {
public:
  ~VornBaseClientApp() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  virtual void Launch();
  virtual void Close();
  virtual void Show();
  virtual void Hide();
  virtual bool IsDisplayed() const { return m_displayed; }
  bool IsConnected() const noexcept { return m_connected; }
  // The context's status on the client side; false when unknown.
  bool GetContextStatus(const std::string& contextName) const;

protected:
  // The namespace is always "_vorn_objs_global_"; an empty identifier is
  // replaced by a generated one.
  VornBaseClientApp(const std::string& identifier, const std::vector<std::string>& contextNames);

  // Joins the registered context of that name, if any.
  void _AddToContext(const std::string& contextName);

private:
  friend class VornClientAppsManager;
  void _ChangeClientContextStatus(const std::string& contextName, const bool& status);
  void _ChangeConnectionStatus(const bool& connected, const std::vector<std::string>& contextNames);

  Vorn::HashTable<std::string, bool> m_contextStatuses;
  bool m_connected = false;
  bool m_displayed = false;
};

// The client apps by identifier, and the connection state the host reports
// for each identifier with the channel the client uses. Apps live in
// shared ownership; the manager holds each from Register until Unregister
// or its destruction request. Used on the main thread.
//
// Connection records are bounded by what is live: a record is dropped by
// Unregister of its identifier (or the app's destruction request), and by
// a disconnect report for an identifier with no app registered (such a
// record carries nothing anyone reads). So the manager holds at most one
// record per registered app plus one per identifier last reported
// connected, and a host that gives each connection a new identifier does
// not grow it without bound.
class VORN_API VornClientAppsManager {
public:
  virtual ~VornClientAppsManager();
  VornClientAppsManager(const VornClientAppsManager&) = delete;
  VornClientAppsManager& operator=(const VornClientAppsManager&) = delete;

  // Keeps `app` under its identifier; false (a null app is reported) when
  // nothing was stored. An app refused because its identifier is taken
  // leaves the stored one alone, even when it is destroyed.
  static bool Register(const std::shared_ptr<VornBaseClientApp>& app);
  // Forgets the app and its connection record, and requests the app's
  // destruction. The record goes even when no app is registered.
  static void Unregister(const std::string& identifier);

  // The host's report of a connection. An empty identifier is taken from
  // the record of `channel`; without one nothing happens. A connect report
  // is kept even before the app registers; a disconnect report for an
  // identifier with no app drops its record (and makes none).
  static void ChangeClientAppConnectionStatus(const OVK::ChannelId& channel, const bool& connected,
                                              const std::string& identifier,
                                              const std::vector<std::string>& contextNames);
  static void ChangeClientContextStatus(const std::string& identifier, const std::string& contextName,
                                        const bool& status);
  static void ShowClientApp(const std::string& identifier);
  static void HideClientApp(const std::string& identifier);
  static void CloseClientApp(const std::string& identifier);

  static std::shared_ptr<VornBaseClientApp> GetClientApp(const std::string& identifier);
  static std::shared_ptr<VornBaseClientApp> GetClientApp(const OVK::ChannelId& channel);
  static std::vector<std::string> GetClientAppIDs();
  static bool HasClientApp(const std::string& identifier);
  // From the host's connection record; false without one.
  static bool IsClientAppConnected(const std::string& identifier);
  static bool IsClientAppDisplayed(const std::string& identifier);
  // Subscribes `callback` to the app's event; empty when the app is unknown.
  static std::shared_ptr<VornEventToken> ListenToClientApp(
      const std::string& identifier, const std::string& eventName,
      const std::function<void(const std::shared_ptr<VornEventData>&)>& callback);
  // The connection records held: a diagnostic.
  static std::size_t ConnectionCount();

private:
  friend class VornMainComponent;
  friend class Vorn::SingletonSlot<VornClientAppsManager>;
  struct Connection {
    std::string identifier;
    bool connected = false;
    OVK::ChannelId channel;
  };

  VornClientAppsManager() = default;
  static VornClientAppsManager* _GetInstance();
  static void _DeleteInstance();

  static Vorn::SingletonSlot<VornClientAppsManager> _Instance;
  Vorn::HashTable<std::string, std::shared_ptr<VornBaseClientApp>> m_apps;
  Vorn::HashTable<std::string, Connection> m_connections;
};
