#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/core/Function.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/values/ValuesByString.h"

struct VornContextInfo;
class VornBaseContext;

// The library's entry points for the host: the registry of contexts, the
// custom main-thread loop of a non-interactive host, and the end of every
// process-wide service.
//
// Contexts register by name (their remote identifier). The first context
// registered under a name keeps it: a later one is refused (reported), gets
// no tree and no views, and its destruction never touches the first. A
// registered context is unregistered, its views and data tree ended, when
// its destruction is requested or it is destroyed.
//
// Destroy() ends everything: every context's destruction is requested, then
// the client apps manager, the tweaker factory, the views manager, the data
// manager, the property dictionaries, the data types, the value types and
// the main-thread manager are deleted, in that order. After it the main
// component is never created again and its operations do nothing. It also
// runs at process end, before plug-in libraries unload, when the host did
// not call it.
class VORN_API VornMainComponent {
public:
  using ContextsTable = Vorn::HashTable<std::string, std::shared_ptr<VornContextInfo>>;

  virtual ~VornMainComponent();
  VornMainComponent(const VornMainComponent&) = delete;
  VornMainComponent& operator=(const VornMainComponent&) = delete;

  // Stores the record under its context's name, then creates the context's
  // data tree, its views, and applies its initial values, in that order.
  // False when nothing was registered (no main component, no record or
  // context, or the name is taken).
  static bool Register(const std::shared_ptr<VornContextInfo>& info);
  // Ends the views and the data tree of `name` and forgets it.
  static void Unregister(const std::string& name);
  static ContextsTable GetContexts();
  static std::shared_ptr<VornContextInfo> GetContextInfo(const std::string& name);
  static bool IsEntityRegistered(const std::string& name);
  // Told of each context registered (true, once its tree, views and initial
  // values exist) and unregistered (false), on the main thread. A listener
  // may add or remove listeners; one removed while others are told is not
  // called afterwards. Returns the id to remove it with (0: no component).
  using ContextsListener = std::function<void(const std::string& name, bool registered)>;
  static std::uint64_t AddContextsListener(ContextsListener listener);
  static void RemoveContextsListener(std::uint64_t id);
  static void UpdateDataTree(const std::string& name, const VornValuesByString& values);
  static void RemoveModelObjects(const std::string& name, const std::vector<VornValuesByString>& criteria,
                                 const bool& requestDestruction);
  // See above; safe to call more than once.
  static void Destroy();
  static bool IsDestroyed() noexcept { return _Instance.IsClosed(); }

  // Makes the calling thread the library's main thread and runs queued
  // callbacks, `initial` first, until EndCustomMainThreadLoop. Refused (a log
  // line, immediate return) in an interactive host and while another custom
  // loop runs. Callbacks still queued when the loop is stopped run before
  // it returns. An exception thrown by a callback (with reports thrown, any
  // report) ends the run cleanly and propagates out of this call; pending
  // timeouts and queued callbacks are kept, and a later call runs them.
  static void RunCustomMainThreadLoop(const Vorn::Function<void()>& initial);
  // Stops the custom loop; callable from a callback or from any thread.
  static void EndCustomMainThreadLoop();

private:
  friend class VornBaseContext;
  friend class Vorn::SingletonSlot<VornMainComponent>;

  VornMainComponent();
  static VornMainComponent* _GetInstance();
  // Unregisters `name` only when `context` is the one stored under it.
  static void _UnregisterIfStored(const std::string& name, const VornBaseContext* context);

  static Vorn::SingletonSlot<VornMainComponent> _Instance;
  void _TellListeners(const std::string& name, bool registered);

  ContextsTable m_contexts;
  std::vector<std::pair<std::uint64_t, std::shared_ptr<ContextsListener>>> m_listeners;
  std::uint64_t m_lastListener = 0;
};
