#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vorn/containers/HashTable.h"
#include "vorn/core/Export.h"
#include "vorn/host/Binary.h"
#include "vorn/json/Object.h"
#include "vorn/remote/RemoteObject.h"
#include "vorn/values/ValuesByString.h"

class VornModelObject;
class VornBaseClientApp;
class VornKRTRemoteFuncConverters_V1;
struct VornContextInfo;

// A request to update a context's data, defined by the code that sends it;
// the library passes it through.
struct VORN_API VornContextsDataUpdateRequest {
  virtual ~VornContextsDataUpdateRequest();
};

struct VORN_API VornDataSerializationResult {
  VornJSONObject json;
  OVK::Binary binary;
};

// The unit in which a host uses the library: a remote object (named by its
// identifier, in its namespace) with its own data tree, views and client
// apps. A derived context registers once (RegisterInVorn); from then on it
// listens to every model object of its tree and hears of them through the
// protected hooks, which do nothing here:
//   _OnNewModelObject          an object entered the tree (after its children)
//   _OnModelObjectDataChange   an object's "onChange"
//   _OnModelObjectDestructionRequested
//   _ManageClientApp...        events of the client apps that joined it.
// Objects are known by identity, so objects that share an id are each
// listened to.
class VORN_API VornBaseContext : public VornRemoteObject {
public:
  using ModelObjectPtr = std::shared_ptr<VornModelObject>;
  using ClientAppPtr = std::shared_ptr<VornBaseClientApp>;

  ~VornBaseContext() override;

  bool MustProcessRequestsInMainThread() const override { return true; }
  // The record to register with; empty by default (a record holding only
  // the context is made).
  virtual std::shared_ptr<VornContextInfo> BuildRegistrationInfo() { return nullptr; }
  // Hooks for data updates that code outside the library defines; nothing
  // in the library calls them.
  virtual void PreprocessDataUpdate(std::shared_ptr<VornContextsDataUpdateRequest> request,
                                    const VornJSONObject& input, VornJSONObject& output, bool& handled,
                                    const std::function<void(const std::string&, const bool)>& progress) {
    (void)request, (void)input, (void)output, (void)handled, (void)progress;
  }
  virtual void ProcessDataUpdate(std::shared_ptr<VornContextsDataUpdateRequest> request, const VornJSONObject& input,
                                 VornJSONObject& output, bool handled,
                                 const std::function<void(const std::string&, const bool)>& progress) {
    (void)request, (void)input, (void)output, (void)handled, (void)progress;
  }
  virtual VornDataSerializationResult SerializeData(std::shared_ptr<VornContextsDataUpdateRequest> request,
                                                    const VornJSONObject& input, std::vector<std::string>& names,
                                                    bool full) {
    (void)request, (void)input, (void)names, (void)full;
    return {};
  }

  std::string GetName() const { return GetID(); }
  void UpdateDataTree(const VornValuesByString& values);
  void RemoveModelObjects(const std::vector<VornValuesByString>& criteria, bool requestDestruction);

  // Registers the context with the main component (`info`, or
  // BuildRegistrationInfo(), or a record holding only the context): its data
  // tree, views and initial values are created. Then makes it reachable by
  // client requests (a remote object of the communication manager). False
  // when the main component refused it (its name is taken): nothing else is
  // done.
  //
  // Ownership: a context already in shared ownership keeps it. One that is
  // not (made with `new`) is placed in a new shared ownership that deletes
  // it only once the registration succeeded; from then on the library owns
  // it and deletes it when the last owner goes (after its destruction
  // request, say). On refusal nothing deletes it: the caller still owns it,
  // its weak self-reference is expired again (it may be put in shared
  // ownership later), and the record is left as it was given (its context
  // and the data-tree callback set here are taken back out). With reports
  // thrown, a throw out of the registration counts as a refusal unless the
  // main component had stored the record by then.
  bool RegisterInVorn(const std::shared_ptr<VornContextInfo>& info = nullptr);

  // The client apps that joined this context.
  std::vector<ClientAppPtr> GetClientApps() const;

protected:
  VornBaseContext(const std::string& name, const std::string& nameSpace);

  void _AddClientApp(const ClientAppPtr& app);
  // Listens to `object` and its subtree, announcing each object after its
  // children.
  void _ManageNewModelObject(const ModelObjectPtr& object);

  virtual void _OnNewModelObject(const ModelObjectPtr& object) { (void)object; }
  virtual void _OnModelObjectDataChange(const std::shared_ptr<VornEventData>& data) { (void)data; }
  virtual void _OnModelObjectDestructionRequested(VornModelObject* object) { (void)object; }
  virtual void _ManageClientAppConnectionChange(const ClientAppPtr& app, bool connected) { (void)app, (void)connected; }
  virtual void _ManageClientAppLaunch(const ClientAppPtr& app) { (void)app; }
  virtual void _ManageClientAppClose(const ClientAppPtr& app) { (void)app; }
  virtual void _ManageClientAppHide(const ClientAppPtr& app) { (void)app; }
  virtual void _ManageClientAppShow(const ClientAppPtr& app) { (void)app; }
  virtual void _ManageRemoteContextStatusChange(const ClientAppPtr& app, bool active) { (void)app, (void)active; }

private:
  friend class VornBaseClientApp;

  // The main component's part of RegisterInVorn, with its ownership rule.
  bool _RegisterInVorn(const std::shared_ptr<VornContextInfo>& info);
  void _ListenModelObject(const ModelObjectPtr& object);
  void _UnsubscribeToModelObject(VornModelObject* object);

  struct Listened {
    std::weak_ptr<VornModelObject> object;  // an expired entry is stale
    std::vector<std::shared_ptr<VornEventToken>> tokens;
  };
  Vorn::HashTable<std::string, ClientAppPtr> m_clientApps;
  Vorn::HashTable<std::string, std::vector<std::shared_ptr<VornEventToken>>> m_clientAppTokens;
  std::unordered_map<const VornModelObject*, Listened> m_modelObjectTokens;
};

// A context whose host objects travel as JSON or as references in a named
// registry.
class VORN_API VornKRTBaseContext : public VornBaseContext {
public:
  ~VornKRTBaseContext() override;
  std::string GetRefsRegistryName() const;
  bool MustConvertKRTObjectsToJSON() const;

protected:
  VornKRTBaseContext(const std::string& name, const std::string& refsRegistryName, bool mustConvertToJSON,
                     const std::string& nameSpace);

private:
  std::shared_ptr<VornKRTRemoteFuncConverters_V1> m_converters;
};
