#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/core/SingletonSlot.h"
#include "vorn/events/EventToken.h"
#include "vorn/host/Binary.h"
#include "vorn/host/Message.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"
#include "vorn/remote/RemoteFunction.h"
#include "vorn/runtime/LibBasedFactory.h"

class VornRemoteObject;

// The switchboard between client applications and the library: remote
// objects by namespace and identifier, remote functions by namespace or by
// plug-in library, and remote events emitted on the host's message-channel
// node. A process-wide singleton; everything here is meant for the main
// thread and takes no lock.
//
// A host serves a request by calling one TryCall operation with a reply
// callback; false means no target was found (and the reply will not be
// called), true that the target was called and answers through the reply.
class VORN_API VornCommunicationManager_V1 : public VornLibBasedFactory_V1<VornRemoteFunction_V1> {
public:
  using Reply = VornRemoteFunction_V1::Reply;
  using FunctionsTable = Vorn::HashTable<std::string, std::shared_ptr<VornRemoteFunction_V1>>;

  static constexpr const char* RemoteEventSplitter = "$VORN$";
  static constexpr const char* NamespaceObjectIDSplitter = "/";

  ~VornCommunicationManager_V1() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  static void Init();
  static bool IsInitialized();
  // The node events are emitted on (not owned; null stops emissions).
  static void SetMBXNode(MBX::Node* node);

  // A new function object of class `function` from plug-in `library`, kept
  // in the cache when `cache` is set (a pair already cached keeps its
  // object; the new one is still returned). Empty, reported, when the
  // library or class is not found or the class is not a remote function
  // (such an instance is released at once). An instance the plug-in already
  // keeps in shared ownership is returned in that ownership.
  static std::shared_ptr<VornRemoteFunction_V1> LoadLibraryFunction(const std::string& library,
                                                                    const std::string& function, bool cache);

  // Each holds its target (and the function) for the length of the call, so
  // the call may drop the manager's reference to it.
  //
  // TryCallLibraryFunction is a client's entry point: both names are the
  // client's. A function name that is empty, over kMaxFunctionNameLength
  // bytes or holds a NUL byte is refused (reported, false) before anything
  // else. The library then comes from VornLibrariesManager::GetClientLibrary
  // (a name the host loaded or declared, from the plug-in folders only);
  // when it refuses, false after its report. Only functions found are
  // cached (here and in the factory's class table), so made-up function
  // names on a declared library grow no table.
  static constexpr std::size_t kMaxFunctionNameLength = 255;
  static bool TryCallLibraryFunction(const std::string& library, const std::string& function, const Reply& reply,
                                     const VornJSONObject& arguments);
  static bool TryCallRemoteFunction(const std::string& nameSpace, const std::string& function, const Reply& reply,
                                    const VornJSONObject& arguments);
  static bool TryCallRemoteObjectFunc(const std::string& nameSpace, const std::string& identifier,
                                      const std::string& function, const Reply& reply,
                                      const VornJSONObject& arguments);

  // Fills the namespace functions that TryCallRemoteFunction reads (the
  // manager is created if needed). The first registration of a name wins:
  // false for a name already present, a null function or an empty namespace.
  static bool AddNamespaceFunction(const std::string& nameSpace, const std::string& name,
                                   std::shared_ptr<VornRemoteFunction_V1> function);
  static bool RemoveNamespaceFunction(const std::string& nameSpace, const std::string& name);

  // What clients can call, for discovery and for hosts that resolve names
  // themselves; nothing is created or loaded. Lookups give empty when absent.
  struct NamespaceFunction {
    std::string nameSpace;
    std::string name;
    std::shared_ptr<VornRemoteFunction_V1> function;
  };
  static std::vector<std::shared_ptr<VornRemoteObject>> GetRemoteObjects();
  static std::shared_ptr<VornRemoteObject> GetRemoteObject(const std::string& nameSpace, const std::string& identifier);
  static std::vector<NamespaceFunction> GetNamespaceFunctions();
  static std::shared_ptr<VornRemoteFunction_V1> GetNamespaceFunction(const std::string& nameSpace,
                                                                     const std::string& name);

protected:
  friend class VornRemoteObject;
  friend class VornMainComponent;
  friend struct VornCommunicationManagerTestAccess;
  friend class Vorn::SingletonSlot<VornCommunicationManager_V1>;

  VornCommunicationManager_V1() = default;

  static VornCommunicationManager_V1* _GetInstance();
  // Destroys the instance: see the destructor.
  static void _DeleteInstance();

  // Registers `object` under its namespace and identifier, keeping it alive
  // until its destruction is requested. False, reported, for a null object
  // or a pair already registered (the first object stays).
  static bool _AddRemoteObject(const std::shared_ptr<VornRemoteObject>& object);
  static void _RemoveRemoteObject(const std::string& identifier, const std::string& nameSpace);

  // Events from `sender`: without data, with bytes ("eventDataBinary"), or
  // with JSON (the text of {"data": value} as "eventData"). Each returns
  // false, emitting nothing, for an empty event name or when there is no
  // manager or no node.
  static bool _PublishRemoteEvent(const std::string& sender, const std::string& eventName);
  static bool _PublishRemoteEvent(const std::string& sender, const std::string& eventName, const OVK::Binary& data);
  static bool _PublishRemoteEvent(const std::string& sender, const std::string& eventName, const VornJSONValue& data);
  static bool _PublishRemoteEventInternal(const std::string& sender, const std::string& eventName,
                                          const MBX::Parameters& parameters);
  bool _EmitMBXEvent(const std::string& channelEvent, const MBX::Parameters& parameters,
                     std::vector<std::string> targets);

  // Before plug-in libraries unload at process end: every cached function
  // and registered object goes (see _ReleaseAll).
  void _ReleaseLibraryObjects() override;

  static Vorn::SingletonSlot<VornCommunicationManager_V1> _Instance;

private:
  template <class V>
  using ByNamespace = Vorn::HashTable<std::string, Vorn::HashTable<std::string, V>>;

  // Drops the node, unsubscribes from every registered object, requests
  // each one's destruction and releases all tables. The tables are emptied
  // before any object is told, so calls made meanwhile find nothing.
  void _ReleaseAll();
  // A pointer found under outer and inner keys; empty when absent.
  template <class V>
  static V _Find(const ByNamespace<V>& table, const std::string& outer, const std::string& inner) {
    auto it = table.find(outer);
    if (it == table.end()) return V();
    auto found = it->second.find(inner);
    return found == it->second.end() ? V() : found->second;
  }

  MBX::Node* m_node = nullptr;
  ByNamespace<std::shared_ptr<VornRemoteFunction_V1>> m_namespaceFunctions;
  ByNamespace<std::shared_ptr<VornRemoteFunction_V1>> m_libraryFunctions;
  ByNamespace<std::shared_ptr<VornRemoteObject>> m_remoteObjects;
  // Keyed by namespace, then identifier: no two pairs share a key.
  ByNamespace<std::shared_ptr<VornEventToken>> m_destructionTokens;
};
