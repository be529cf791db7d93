// The host's own methods: the contexts, discovery and the end.
#include "ServerSupport.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/json/Array.h"
#include "vorn/json/Parser.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/remote/RemoteFunction.h"
#include "vorn/remote/RemoteObject.h"
#include "vorn/views/BaseView.h"
#include "vorn/views/ViewsManager.h"

#ifndef ORVEL_VERSION
#define ORVEL_VERSION "0"
#endif

namespace orvel {
namespace {

VornJSONValue SchemaText(const char* text) { return VornJSONParser::ParseText(text, false); }

// An OpenRPC method object for a remote function, by its descriptors when
// it was bound from a native callable, by its argument names otherwise.
VornJSONObject FunctionMethod(const std::string& name, const std::string& summary, const VornRemoteFunction_V1& function) {
  VornJSONArray params;
  if (!function.GetParameterDescriptors().empty() || function.IsBound()) {
    for (const auto& parameter : function.GetParameterDescriptors())
      params.PushBack(VornJSONObject{{"name", parameter.name}, {"required", parameter.required}, {"schema", parameter.schema}});
  }
  if (params.size() == 0)
    for (const std::string& argument : function.GetArgumentNames())
      params.PushBack(VornJSONObject{{"name", argument}, {"schema", VornJSONObject()}});
  const VornJSONValue& result = function.GetResultSchema();
  return VornJSONObject{{"name", name},
                        {"summary", summary},
                        {"paramStructure", "either"},
                        {"params", std::move(params)},
                        {"result", VornJSONObject{{"name", "result"}, {"schema", result.IsObject() ? result : VornJSONValue(VornJSONObject())}}}};
}

VornJSONArray ParamsOf(const std::vector<ParamSpec>& specs) {
  VornJSONArray params;
  for (const ParamSpec& param : specs)
    params.PushBack(VornJSONObject{{"name", param.name},
                                   {"description", param.description},
                                   {"required", param.required},
                                   {"schema", ParamSchema(param.kind)}});
  return params;
}

}  // namespace

const std::vector<RpcServer::Method>& RpcServer::_HostMethods() {
  using K = ParamKind;
  static const std::vector<Method> methods = {
      {"vorn.listContexts", &RpcServer::_ListContexts,
       "The registered contexts, with their namespace, views and sequence number.", {},
       R"({"type":"array","items":{"type":"object","properties":{"name":{"type":"string"},"namespace":{"type":"string"},)"
       R"("views":{"type":"array","items":{"type":"string"}},"seq":{"type":"integer"}},"required":["name","namespace","views","seq"]}})"},
      {"vorn.contextStatus", &RpcServer::_ContextStatus, "Tells the context whether it is active on the client's side.",
       {{"context", K::String, true, "a context's name"}, {"active", K::Boolean, true, "whether it is active"}},
       R"({"const":true})"},
      {"rpc.discover", &RpcServer::_Discover,
       "This description (OpenRPC): the host's methods, every registered remote object's and namespace's functions "
       "by name, the notifications (x-notifications) and the errors.",
       {}, R"({"type":"object","required":["openrpc","info","methods"]})"},
      {"shutdown", &RpcServer::_Shutdown,
       "Ends the host once everything received before is answered; calls still waiting are answered -32004.", {},
       R"({"type":"null"})"},
  };
  return methods;
}

RpcServer::Outcome RpcServer::_ListContexts(const Request&) {
  VornJSONArray list;
  for (const auto& [name, info] : VornMainComponent::GetContexts()) {
    VornJSONArray views;
    for (const auto& view : VornViewsManager::GetViews(name))
      if (view) views.PushBack(view->GetName());
    list.PushBack(VornJSONObject{{"name", name},
                                 {"namespace", info && info->context ? info->context->GetNamespace() : ""},
                                 {"views", std::move(views)},
                                 {"seq", static_cast<std::int64_t>(Sequence(name))}});
  }
  return VornJSONValue(std::move(list));
}

RpcServer::Outcome RpcServer::_ContextStatus(const Request& request) {
  const std::string& context = request.String("context");
  if (!VornMainComponent::IsEntityRegistered(context))
    return MakeError("unknownContext", "No context named \"" + context + "\"", VornJSONObject{{"context", context}});
  VornClientAppsManager::ChangeClientContextStatus(request.channel->ClientId(), context,
                                                   *request.Named().Get("active").GetIfBool());
  return VornJSONValue(true);
}

RpcServer::Outcome RpcServer::_Shutdown(const Request&) {
  // Everything received before is answered first; what waits for a
  // function's answer is told the host is going.
  m_ending = true;
  _EndPendingCalls(0, true);
  if (m_onShutdown) m_onShutdown();
  return VornJSONValue(nullptr);
}

RpcServer::Outcome RpcServer::_Discover(const Request&) {
  VornJSONArray methods;
  for (const Method& method : Methods())
    methods.PushBack(VornJSONObject{{"name", method.name},
                                    {"summary", method.summary},
                                    {"paramStructure", "by-name"},
                                    {"params", ParamsOf(method.params)},
                                    {"result", VornJSONObject{{"name", "result"}, {"schema", SchemaText(method.resultSchema)}}}});
  for (const auto& object : VornCommunicationManager_V1::GetRemoteObjects()) {
    const std::string owner = object->GetNamespace() + "." + object->GetID();
    for (const auto& [name, function] : object->GetRemoteFunctions())
      if (function)
        methods.PushBack(FunctionMethod(owner + "." + name, "Function " + name + " of the remote object \"" +
                                                                object->GetID() + "\" in namespace \"" +
                                                                object->GetNamespace() + "\".",
                                        *function));
  }
  for (const auto& entry : VornCommunicationManager_V1::GetNamespaceFunctions())
    methods.PushBack(FunctionMethod(entry.nameSpace + "." + entry.name,
                                    "Function " + entry.name + " of the namespace \"" + entry.nameSpace + "\".",
                                    *entry.function));

  VornJSONArray notifications;
  for (const Notification& notification : Notifications())
    notifications.PushBack(VornJSONObject{{"name", notification.name},
                                          {"summary", notification.summary},
                                          {"params", SchemaText(notification.paramsSchema)}});
  VornJSONObject errors;
  for (const ReasonEntry& entry : Reasons())
    errors.Set(entry.reason, VornJSONObject{{"code", entry.code}, {"message", entry.reason}});
  return VornJSONValue(VornJSONObject{
      {"openrpc", "1.3.2"},
      {"info", VornJSONObject{{"title", "orvelnode"},
                              {"version", ORVEL_VERSION},
                              {"description", "The host's methods and the remote functions of its contexts, "
                                              "namespaces and remote objects. Errors: "
                                              "{code, message, data: {reason, message, ...}}."}}},
      {"methods", std::move(methods)},
      {"components", VornJSONObject{{"errors", std::move(errors)}}},
      {"x-notifications", std::move(notifications)}});
}

}  // namespace orvel
