#pragma once

#include <memory>
#include <string>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/host/Binary.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"
#include "vorn/remote/Converters.h"
#include "vorn/remote/RemoteFunction.h"

// The base of every object client applications can address: a table of
// named remote functions, and events published to clients under the
// object's identifier. Lives in shared ownership; derived classes register
// themselves with the communication manager (_RegisterRemoteObject), which
// keeps them until their destruction is requested. Used on the main thread.
class VORN_API VornRemoteObject : public VornEventsHandler {
public:
  using Reply = VornRemoteFunction_V1::Reply;
  using FunctionsTable = Vorn::HashTable<std::string, std::shared_ptr<VornRemoteFunction_V1>>;

  ~VornRemoteObject() override;
  // Empty here; derived classes that hand out ownership of themselves
  // override it.
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return {}; }
  // Whether the host must bring requests to the main thread before calling.
  virtual bool MustProcessRequestsInMainThread() const { return true; }
  virtual void ManageInterruption() {}
  virtual void StopUpdate() {}

  std::string GetID() const { return m_id; }
  std::string GetNamespace() const { return m_namespace; }
  // The functions clients can call, by name (for discovery).
  const FunctionsTable& GetRemoteFunctions() const noexcept { return m_remoteFunctions; }

  // Calls the function `name` with `reply` and `arguments`. The function is
  // held for the length of the call, so it may remove itself or request
  // this object's destruction. An unknown name (or a null entry) is answered
  // with the null value and then reported as "VornRemoteObject::Call =>
  // Remote Function <name> not found!"; the reply comes first so that the
  // client is answered even when the report throws. An empty reply is
  // skipped: nothing is called in its place.
  void Call(const std::string& name, const Reply& reply, const VornJSONObject& arguments) const;

  // Publishes the event without data to clients; false when it cannot be
  // sent (empty name, no manager or no node set, failed emission).
  bool PublishRemoteEvent(const std::string& eventName);

protected:
  // An empty identifier is replaced by a generated one.
  VornRemoteObject(const std::string& identifier, const std::string& nameSpace);

  // Events with data, for derived objects (the data of a JSON event travels
  // as the text of {"data": value}). Same results as PublishRemoteEvent.
  bool _PublishRemoteEvent(const std::string& eventName, const OVK::Binary& data);
  bool _PublishRemoteEvent(const std::string& eventName, const VornJSONValue& data);

  // The function table, filled by derived classes. Adding a name that is
  // present (or a null function) is refused and returns false.
  bool _AddRemoteFunction(const std::string& name, std::shared_ptr<VornRemoteFunction_V1> function);
  bool _RemoveRemoteFunction(const std::string& name);
  const FunctionsTable& _GetRemoteFunctions() const noexcept { return m_remoteFunctions; }

  // Registers this object (which must already be in shared ownership) with
  // the communication manager; false, reported, when it is not owned.
  bool _RegisterRemoteObject();

private:
  std::string m_id;
  std::string m_namespace;
  FunctionsTable m_remoteFunctions;
  std::shared_ptr<VornRemoteFuncBaseConverters_V1> m_converters;
};

// A remote object whose host objects travel as JSON or as references kept
// in a named registry, as its converters say.
class VORN_API VornKRTRemoteObject : public VornRemoteObject {
public:
  static constexpr const char* kDefaultNamespace = "_vorn_objs_global_";

  ~VornKRTRemoteObject() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  std::string GetRefsRegistryName() const;
  bool MustConvertKRTObjectsToJSON() const;

protected:
  VornKRTRemoteObject();
  VornKRTRemoteObject(const std::string& identifier, const std::string& refsRegistryName, bool mustConvertToJSON,
                      const std::string& nameSpace);

private:
  std::shared_ptr<VornKRTRemoteFuncConverters_V1> m_krtConverters;
};
