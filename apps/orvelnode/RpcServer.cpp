#include "RpcServer.h"

#include <algorithm>
#include <unordered_map>

#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/host/CodePage.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/views/ViewsManager.h"
#include "vorn/remote/CommunicationManager.h"

namespace orvel {
namespace {

constexpr const char* kUnknownFunctionReport = "VornRemoteObject::Call => Remote Function";

VornJSONValue Response(const VornJSONValue& id, const char* member, VornJSONValue value) {
  VornJSONObject response{{"jsonrpc", "2.0"}, {"id", id}};
  response.Set(member, std::move(value));
  return response;
}

std::string Base64(const OVK::Binary& bytes) {
  char* text = nullptr;
  if (KRTCodePage::ConvertToBase64(bytes.data(), bytes.size(), &text) != 0 || !text) return {};
  std::string out(text);
  KRTCodePage::FreeText(text);
  return out;
}

// Parses one message; undefined (with the parser's report) when it is not JSON.
VornJSONValue Parse(const std::string& text, std::string& error) {
  KRTAbendCapture capture(true);
  VornJSONValue value;
  try {
    value = VornJSONParser::ParseText(text, false);
  } catch (const std::exception& e) {
    error = e.what();
    return {};
  }
  if (capture.Count() > 0) {
    error = capture.Messages().front();
    return {};
  }
  return value;
}

// The target as the library writes it: sender + "$VORN$" + event name.
std::pair<std::string, std::string> SplitTarget(const std::string& target) {
  const std::string splitter = VornCommunicationManager_V1::RemoteEventSplitter;
  const std::size_t at = target.find(splitter);
  if (at == std::string::npos) return {target, {}};
  return {target.substr(0, at), target.substr(at + splitter.size())};
}

}  // namespace

VornJSONValue ErrorResponse(const VornJSONValue& id, int code, const std::string& message, const VornJSONValue& data) {
  VornJSONObject error{{"code", code}, {"message", message}};
  if (!data.IsUndefined()) error.Set("data", data);
  return Response(id, "error", std::move(error));
}

// The state of one request whose answer may come later.
struct RpcServer::Reply {
  VornJSONValue id;
  std::function<void(VornJSONValue)> done;
  std::shared_ptr<bool> peerOpen;
  bool answered = false;
  bool synchronous = true;  // the call has not returned yet
  VornJSONValue value;      // the reply received during the call

  // The response a reply value makes: a bound function's error object
  // becomes a JSON-RPC error.
  VornJSONValue ResponseFor(const VornJSONValue& reply) const {
    const VornJSONObject* object = reply.GetIfObject();
    if (object && object->size() == 1) {
      const VornJSONObject* error = object->Get("error").GetIfObject();
      if (error && error->Get("message").IsString()) {
        const bool badArgument = error->Get("argument").IsString();
        return ErrorResponse(id, badArgument ? -32602 : kCallFailed, *error->Get("message").GetIfString(),
                             VornJSONValue(*error));
      }
    }
    return Response(id, "result", reply);
  }
};

RpcServer::RpcServer(std::function<void()> onShutdown)
    : m_onShutdown(std::move(onShutdown)), m_alive(std::make_shared<bool>(true)) {}

RpcServer::~RpcServer() {
  *m_alive = false;
  for (const auto& token : m_watchTokens)
    if (token) token->Unsubscribe();
}

void RpcServer::Notify(const std::string& method, VornJSONValue params) {
  if (m_peers.empty()) return;
  _Broadcast(VornJSONObject{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.Stringify());
}

void RpcServer::WatchContexts() {
  for (const auto& [name, info] : VornMainComponent::GetContexts())
    if (const auto root = VornDataManager::GetTree(name)) _Watch(name, root);
}

void RpcServer::_Watch(const std::string& context, const std::shared_ptr<VornModelObject>& object) {
  if (!object) return;
  VornModelObject* raw = object.get();
  m_watchTokens.push_back(object->Subscribe("onChange", [this, context, raw](const std::shared_ptr<VornEventData>& data) {
    if (raw->IsTrueRoot()) return;
    VornJSONObject values;
    for (const auto& [key, value] : data->GetValuesByString())
      if (key != "children" && value) values.Set(key, value->ToJSON());
    Notify("vorn.modelChanged", VornJSONObject{{"context", context}, {"object", raw->GetID()}, {"values", std::move(values)}});
  }));
  m_watchTokens.push_back(object->Subscribe("onAddChild", [this, context](const std::shared_ptr<VornEventData>& data) {
    if (auto added = std::dynamic_pointer_cast<VornMOAddChildEventData>(data)) _Watch(context, added->GetNewChild());
  }));
  for (const auto& child : object->GetChildren()) _Watch(context, child);
}

namespace {
std::shared_ptr<VornBaseView> FindView(const std::string& context, const std::string& view) {
  if (!view.empty()) return VornViewsManager::GetView(context, view);
  const auto views = VornViewsManager::GetViews(context);
  return views.empty() ? nullptr : views.front();
}
}  // namespace

void RpcServer::Open(Peer* peer) {
  m_peers.push_back(peer);
  VornClientAppsManager::Register(std::make_shared<PeerClientApp>(peer->ClientId()));
}

void RpcServer::Close(Peer* peer) {
  auto it = std::find(m_peers.begin(), m_peers.end(), peer);
  if (it == m_peers.end()) return;
  m_peers.erase(it);
  VornClientAppsManager::ChangeClientAppConnectionStatus(peer->Channel(), false, peer->ClientId(), {});
  VornClientAppsManager::Unregister(peer->ClientId());
}

void RpcServer::_Broadcast(const std::string& message) {
  const auto shared = std::make_shared<const std::string>(message);
  const std::vector<Peer*> peers = m_peers;
  for (Peer* peer : peers) peer->SendShared(shared);
}

void RpcServer::Handle(Peer* peer, const std::string& message) {
  // Answers go only to a peer that is still open.
  auto open = std::make_shared<Peer*>(peer);
  auto send = [this, open, alive = m_alive](const VornJSONValue& response) {
    if (!*alive || std::find(m_peers.begin(), m_peers.end(), *open) == m_peers.end()) return;
    (*open)->Send(response.Stringify());
  };
  std::string error;
  const VornJSONValue parsed = Parse(message, error);
  if (parsed.IsUndefined()) return send(ErrorResponse(nullptr, -32700, "Parse error", VornJSONValue(error)));
  if (!parsed.IsArray()) {
    _HandleOne(peer, parsed, [send](VornJSONValue response) {
      if (!response.IsUndefined()) send(response);
    });
    return;
  }
  const VornJSONArray& requests = *parsed.GetIfArray();
  if (requests.size() == 0) return send(ErrorResponse(nullptr, -32600, "Invalid Request", "empty batch"));
  // A batch is answered as one array once every member is, in request
  // order; notifications take no place in it.
  struct Batch {
    std::vector<VornJSONValue> responses;
    std::size_t pending;
  };
  auto batch = std::make_shared<Batch>(Batch{std::vector<VornJSONValue>(requests.size()), requests.size()});
  for (std::size_t i = 0; i < requests.size(); ++i)
    _HandleOne(peer, requests[i], [batch, i, send](VornJSONValue response) {
      batch->responses[i] = std::move(response);
      if (--batch->pending > 0) return;
      VornJSONArray all;
      for (VornJSONValue& r : batch->responses)
        if (!r.IsUndefined()) all.PushBack(std::move(r));
      if (all.size() > 0) send(VornJSONValue(std::move(all)));
    });
}

void RpcServer::_HandleOne(Peer* peer, const VornJSONValue& request, std::function<void(VornJSONValue)> done) {
  const VornJSONObject* object = request.GetIfObject();
  if (!object) return done(ErrorResponse(nullptr, -32600, "Invalid Request", "a request is an object"));
  const VornJSONValue& idValue = object->Get("id");
  const bool notification = idValue.IsUndefined();
  const VornJSONValue id = notification ? VornJSONValue(nullptr) : idValue;
  if (!id.IsNull() && !id.IsString() && !id.IsInt() && !id.IsDouble())
    return done(ErrorResponse(nullptr, -32600, "Invalid Request", "\"id\" must be a string, a number or null"));
  if (object->Get("jsonrpc") != VornJSONValue("2.0"))
    return done(ErrorResponse(id, -32600, "Invalid Request", "\"jsonrpc\" must be \"2.0\""));
  const VornJSONValue& method = object->Get("method");
  if (!method.IsString()) return done(ErrorResponse(id, -32600, "Invalid Request", "\"method\" must be a string"));
  const VornJSONValue& params = object->Get("params");
  if (!params.IsUndefined() && !params.IsObject() && !params.IsArray())
    return done(ErrorResponse(id, -32600, "Invalid Request", "\"params\" must be an object or an array"));
  if (params.IsArray())
    return done(notification ? VornJSONValue()
                             : ErrorResponse(id, -32602, "Invalid params", "params are named: pass an object"));

  auto reply = std::make_shared<Reply>();
  reply->id = id;
  reply->done = notification ? [](VornJSONValue) {} : done;
  const VornJSONValue immediate =
      _Dispatch(peer, *method.GetIfString(), params.IsObject() ? *params.GetIfObject() : VornJSONObject(), reply);
  if (notification) return done(VornJSONValue());
  if (!immediate.IsUndefined()) return done(immediate);
  // Otherwise the answer comes through the reply, later.
}

VornJSONValue RpcServer::_Dispatch(Peer* peer, const std::string& method, const VornJSONObject& params,
                                   const std::shared_ptr<Reply>& reply) {
  const VornJSONValue& id = reply->id;
  // Named, typed members of params.
  std::string missing;
  auto text = [&](const char* key) -> std::string {
    const VornJSONValue& value = params.Get(key);
    if (!value.IsString() && missing.empty()) missing = std::string("\"") + key + "\" must be a string";
    return value.IsString() ? *value.GetIfString() : std::string();
  };
  auto arguments = [&]() -> VornJSONObject {
    const VornJSONValue& value = params.Get("arguments");
    if (value.IsUndefined()) return {};
    if (!value.IsObject() && missing.empty()) missing = "\"arguments\" must be an object";
    return value.IsObject() ? *value.GetIfObject() : VornJSONObject();
  };
  auto invalid = [&] { return ErrorResponse(id, -32602, "Invalid params", VornJSONValue(missing)); };

  if (method == "vorn.callObject" || method == "vorn.callNamespace" || method == "vorn.callLibrary") {
    const bool onObject = method == "vorn.callObject";
    const std::string target = text(method == "vorn.callLibrary" ? "library" : "namespace");
    const std::string object = onObject ? text("object") : std::string();
    const std::string function = text("function");
    const VornJSONObject args = arguments();
    if (!missing.empty()) return invalid();

    auto replyFn = [reply, alive = m_alive](const VornJSONValue& value) {
      if (reply->answered || !*alive) return;
      reply->answered = true;
      if (reply->synchronous) reply->value = value;
      else reply->done(reply->ResponseFor(value));
    };
    bool found = false;
    std::vector<std::string> reports;
    {
      KRTAbendCapture capture(true);
      try {
        if (onObject) found = VornCommunicationManager_V1::TryCallRemoteObjectFunc(target, object, function, replyFn, args);
        else if (method == "vorn.callNamespace")
          found = VornCommunicationManager_V1::TryCallRemoteFunction(target, function, replyFn, args);
        else found = VornCommunicationManager_V1::TryCallLibraryFunction(target, function, replyFn, args);
      } catch (const std::exception& e) {
        reports.push_back(e.what());
      }
      for (std::string& message : capture.Messages()) reports.push_back(std::move(message));
    }
    reply->synchronous = false;
    if (!reports.empty()) {
      reply->answered = true;  // a late reply is not sent after the error
      const bool unknown = reports.front().rfind(kUnknownFunctionReport, 0) == 0;
      std::string message = reports.front();
      for (std::size_t i = 1; i < reports.size(); ++i) message += "\n" + reports[i];
      return ErrorResponse(id, unknown ? kUnknownFunction : kCallFailed,
                           unknown ? "Unknown function" : "Call failed", VornJSONValue(message));
    }
    if (!found) {
      reply->answered = true;
      return onObject ? ErrorResponse(id, kUnknownObject, "Unknown namespace or object",
                                      VornJSONValue(target + "/" + object))
                      : ErrorResponse(id, kUnknownFunction, "Unknown function", VornJSONValue(target + "/" + function));
    }
    if (reply->answered) return reply->ResponseFor(reply->value);
    return VornJSONValue();  // answered later through the reply
  }

  if (method == "vorn.connect" || method == "vorn.disconnect") {
    std::vector<std::string> contexts;
    if (const VornJSONValue& list = params.Get("contexts"); !list.IsUndefined()) {
      const VornJSONArray* array = list.GetIfArray();
      if (!array) return ErrorResponse(id, -32602, "Invalid params", "\"contexts\" must be an array of strings");
      for (const VornJSONValue& name : *array) {
        if (!name.IsString()) return ErrorResponse(id, -32602, "Invalid params", "\"contexts\" must be an array of strings");
        contexts.push_back(*name.GetIfString());
      }
    }
    VornClientAppsManager::ChangeClientAppConnectionStatus(peer->Channel(), method == "vorn.connect",
                                                           peer->ClientId(), contexts);
    return Response(id, "result", VornJSONObject{{"client", peer->ClientId()}});
  }
  if (method == "vorn.contextStatus") {
    const std::string context = text("context");
    const VornJSONValue& active = params.Get("active");
    if (!active.IsBool() && missing.empty()) missing = "\"active\" must be a boolean";
    if (!missing.empty()) return invalid();
    VornClientAppsManager::ChangeClientContextStatus(peer->ClientId(), context, *active.GetIfBool());
    return Response(id, "result", true);
  }
  if (method == "vorn.describeView" || method == "vorn.editTweaker") {
    const std::string context = text("context");
    const VornJSONValue& viewName = params.Get("view");
    if (!viewName.IsUndefined() && !viewName.IsString() && missing.empty()) missing = "\"view\" must be a string";
    const bool edit = method == "vorn.editTweaker";
    const std::string tweakerId = edit ? text("tweaker") : std::string();
    if (edit && params.Get("value").IsUndefined() && missing.empty()) missing = "\"value\" is missing";
    if (!missing.empty()) return invalid();
    const auto view = FindView(context, viewName.IsString() ? *viewName.GetIfString() : std::string());
    const auto root = VornDataManager::GetTree(context);
    if (!view || !root) return ErrorResponse(id, kUnknownObject, "Unknown context or view", VornJSONValue(context));
    if (!edit)
      return Response(id, "result",
                       VornJSONObject{{"context", context}, {"view", view->GetName()}, {"tree", view->DescribeLayout(root)}});
    std::shared_ptr<VornBaseTweaker> target;
    for (const auto& info : view->GetTweakers())
      if (info->tweakerId == tweakerId) target = info->tweaker;
    if (!target) return ErrorResponse(id, kUnknownObject, "Unknown tweaker", VornJSONValue(tweakerId));
    KRTAbendCapture capture(true);
    if (!target->EditValue(Vorn::ConvertJSONValueToValue(params.Get("value"))))
      return ErrorResponse(id, kCallFailed, "The tweaker refused the value", params.Get("value"));
    if (capture.Count() > 0) return ErrorResponse(id, kCallFailed, "Call failed", VornJSONValue(capture.Messages().front()));
    return Response(id, "result", target->Describe());
  }
  if (method == "vorn.listContexts") {
    VornJSONArray list;
    for (const auto& [name, info] : VornMainComponent::GetContexts())
      list.PushBack(VornJSONObject{{"name", name}, {"namespace", info && info->context ? info->context->GetNamespace() : ""}});
    return Response(id, "result", std::move(list));
  }
  if (method == "shutdown") {
    if (m_onShutdown) m_onShutdown();
    return Response(id, "result", nullptr);
  }
  return ErrorResponse(id, -32601, "Method not found", VornJSONValue(method));
}

std::int32_t RpcServer::Emit(const KRTUnicodeString& event, const MBX::Parameters& parameters) {
  return Emit(event, KRTUnicodeString(), parameters);
}

std::int32_t RpcServer::Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                             const MBX::Parameters& parameters) {
  if (event != "VornRemoteEvent") return 0;
  const auto [sender, name] = SplitTarget(std::string(target.View()));
  VornJSONObject params{{"sender", sender}, {"event", name}};
  if (const KRTUnicodeString* data = parameters.FindString("eventData")) {
    std::string error;
    const VornJSONValue parsed = Parse(std::string(data->View()), error);
    const VornJSONObject* wrapped = parsed.GetIfObject();
    params.Set("data", wrapped && wrapped->HasKey("data") ? wrapped->Get("data") : parsed);
  } else if (const OVK::Binary* bytes = parameters.FindBuffer("eventDataBinary")) {
    params.Set("dataBase64", Base64(*bytes));
  }
  _Broadcast(VornJSONObject{{"jsonrpc", "2.0"}, {"method", "vorn.event"}, {"params", std::move(params)}}.Stringify());
  return 0;
}

}  // namespace orvel
