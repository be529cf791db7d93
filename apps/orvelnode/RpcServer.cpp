#include "RpcServer.h"

#include <algorithm>

#include "RawJson.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/host/CodePage.h"
#include "vorn/host/SysLog.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/runtime/MainThreadManager.h"
#include "vorn/views/ViewsManager.h"

namespace orvel {
namespace {

constexpr const char* kUnknownFunctionReport = "VornRemoteObject::Call => Remote Function";
constexpr const char* kLibraryReport = "[Vorn - Libraries Manager]";

std::string Response(const std::string& idText, const char* member, const VornJSONValue& value) {
  std::string out = "{\"jsonrpc\":\"2.0\",\"id\":";
  out += idText;
  out += ",\"";
  out += member;
  out += "\":";
  value.AppendJSON(out);
  out += '}';
  return out;
}

// The one error shape: {"code", "message", "data": {"reason", "message", ...}}.
std::string Error(const std::string& idText, int code, const std::string& message, const char* reason,
                  VornJSONObject data = {}) {
  VornJSONObject details{{"reason", reason}, {"message", message}};
  for (const auto& [key, value] : data) details.Set(key, value);
  return Response(idText, "error", VornJSONObject{{"code", code}, {"message", message}, {"data", std::move(details)}});
}

}  // namespace

std::string ErrorMessage(int code, const std::string& message, const char* reason) {
  return Error("null", code, message, reason);
}

namespace {

std::string Base64(const OVK::Binary& bytes) {
  char* text = nullptr;
  if (KRTCodePage::ConvertToBase64(bytes.data(), bytes.size(), &text) != 0 || !text) return {};
  std::string out(text);
  KRTCodePage::FreeText(text);
  return out;
}

// Parses one message; undefined (with the parser's report) when it is not JSON.
VornJSONValue Parse(std::string_view text, std::string& error) {
  KRTAbendCapture capture(true);
  VornJSONValue value;
  try {
    value = VornJSONParser::ParseText(std::string(text), false);
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

VornJSONArray ReportList(const std::vector<std::string>& reports) {
  VornJSONArray list;
  for (const std::string& report : reports) list.PushBack(report);
  return list;
}

std::shared_ptr<VornBaseView> FindView(const std::string& context, const std::string& view) {
  if (!view.empty()) return VornViewsManager::GetView(context, view);
  const auto views = VornViewsManager::GetViews(context);
  return views.empty() ? nullptr : views.front();
}

}  // namespace

// One message as received: its responses are sent together once every
// request in it is answered.
struct RpcServer::Message {
  std::uint64_t peer = 0;
  bool batch = false;
  std::vector<std::string> responses;  // empty text: no response (a notification)
  std::size_t pending = 0;
};

// One request, from dispatch to its answer.
struct RpcServer::Call {
  std::uint64_t id = 0;
  std::shared_ptr<Message> message;
  std::size_t slot = 0;
  std::string idText;
  bool notification = false;
  bool synchronous = true;  // the function has not returned yet
  bool answered = false;
  VornJSONValue value;  // the answer received while the function ran
  std::uint32_t timeout = 0;
};

namespace {
// The response an answer makes: a bound function's error object becomes a
// JSON-RPC error, an answer JSON cannot write is null.
std::string ResponseFor(const std::string& idText, const VornJSONValue& answer) {
  if (answer.IsUndefined()) return Response(idText, "result", nullptr);
  const VornJSONObject* object = answer.GetIfObject();
  if (object && object->size() == 1) {
    const VornJSONObject* error = object->Get("error").GetIfObject();
    if (error && error->Get("message").IsString()) {
      const bool badArgument = error->Get("argument").IsString();
      VornJSONObject data;
      if (badArgument) data.Set("argument", error->Get("argument"));
      return Error(idText, badArgument ? -32602 : RpcServer::kCallFailed, *error->Get("message").GetIfString(),
                   badArgument ? "argument" : "callFailed", std::move(data));
    }
  }
  return Response(idText, "result", answer);
}
}  // namespace

RpcServer::RpcServer(std::function<void()> onShutdown, Limits limits)
    : m_onShutdown(std::move(onShutdown)),
      m_limits(limits),
      m_mainThread(std::this_thread::get_id()),
      m_self(std::make_shared<RpcServer*>(this)) {}

RpcServer::~RpcServer() {
  m_self.reset();
  for (auto& [id, call] : m_calls)
    if (call->timeout) Vorn::RemoveTimeout(call->timeout);
  for (auto& [object, tokens] : m_watched)
    for (const auto& token : tokens)
      if (token) token->Unsubscribe();
}

Peer* RpcServer::_PeerOf(std::uint64_t serial) const {
  auto it = m_peers.find(serial);
  return it == m_peers.end() ? nullptr : it->second;
}

void RpcServer::Open(Peer* peer) {
  if (!peer || m_serials.count(peer)) return;
  const std::uint64_t serial = ++m_lastSerial;
  m_peers.emplace(serial, peer);
  m_serials.emplace(peer, serial);
  VornClientAppsManager::Register(std::make_shared<PeerClientApp>(peer->ClientId()));
}

void RpcServer::Close(Peer* peer) {
  auto it = m_serials.find(peer);
  if (it == m_serials.end()) return;
  const std::uint64_t serial = it->second;
  m_serials.erase(it);
  m_peers.erase(serial);
  _EndPendingCalls(serial, false);
  VornClientAppsManager::ChangeClientAppConnectionStatus(peer->Channel(), false, peer->ClientId(), {});
  VornClientAppsManager::Unregister(peer->ClientId());
}

// Calls of a closed peer are forgotten (their answers have nowhere to go);
// at shutdown every waiting call is answered.
void RpcServer::_EndPendingCalls(std::uint64_t peer, bool all) {
  std::vector<std::shared_ptr<Call>> ended;
  for (auto it = m_calls.begin(); it != m_calls.end();) {
    if (all || it->second->message->peer == peer) {
      ended.push_back(it->second);
      it = m_calls.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& call : ended) {
    if (call->timeout) Vorn::RemoveTimeout(call->timeout);
    call->answered = true;
    if (all) _Complete(call->message, call->slot, Error(call->idText, kShuttingDown, "The host is shutting down", "shuttingDown"));
  }
}

void RpcServer::Notify(const std::string& method, VornJSONValue params) {
  if (m_peers.empty()) return;
  _Broadcast(VornJSONObject{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.Stringify());
}

void RpcServer::_Broadcast(const std::string& message) {
  const auto shared = std::make_shared<const std::string>(message);
  std::vector<Peer*> peers;
  for (const auto& [serial, peer] : m_peers) peers.push_back(peer);
  for (Peer* peer : peers) peer->Send(shared);
}

void RpcServer::WatchContexts() {
  for (const auto& [name, info] : VornMainComponent::GetContexts())
    if (const auto root = VornDataManager::GetTree(name)) _Watch(name, root);
}

void RpcServer::_Watch(const std::string& context, const std::shared_ptr<VornModelObject>& object) {
  if (!object) return;
  VornModelObject* raw = object.get();
  auto [entry, added] = m_watched.try_emplace(raw);
  if (!added) return;
  auto& tokens = entry->second;
  tokens.push_back(object->Subscribe("onChange", [this, context, raw](const std::shared_ptr<VornEventData>& data) {
    if (raw->IsTrueRoot()) return;
    VornJSONObject values;
    for (const auto& [key, value] : data->GetValuesByString())
      if (key != "children" && value) values.Set(key, value->ToJSON());
    Notify("vorn.modelChanged", VornJSONObject{{"context", context}, {"object", raw->GetID()}, {"values", std::move(values)}});
  }));
  tokens.push_back(object->Subscribe("onAddChild", [this, context](const std::shared_ptr<VornEventData>& data) {
    if (auto child = std::dynamic_pointer_cast<VornMOAddChildEventData>(data)) _Watch(context, child->GetNewChild());
  }));
  // An object on its way out is let go, so the table follows the model.
  tokens.push_back(object->SubscribeOnce(Vorn::kEventDestructionRequested,
                                         [this, raw](const std::shared_ptr<VornEventData>&) { _Unwatch(raw); }));
  for (const auto& child : object->GetChildren()) _Watch(context, child);
}

void RpcServer::_Unwatch(const VornModelObject* object) {
  auto it = m_watched.find(object);
  if (it == m_watched.end()) return;
  for (const auto& token : it->second)
    if (token) token->Unsubscribe();
  m_watched.erase(it);
}

void RpcServer::RefuseOversized(Peer* peer) {
  auto it = m_serials.find(peer);
  if (it == m_serials.end()) return;
  auto message = std::make_shared<Message>();
  message->peer = it->second;
  message->responses.resize(1);
  message->pending = 1;
  _Complete(message, 0,
            Error("null", -32600, "Invalid Request: the message is larger than the host reads", "tooLarge",
                  VornJSONObject{{"limit", static_cast<std::int64_t>(m_limits.maxMessage)}}));
}

void RpcServer::Handle(Peer* peer, std::string_view text) {
  auto serial = m_serials.find(peer);
  if (serial == m_serials.end()) return;
  auto message = std::make_shared<Message>();
  message->peer = serial->second;
  auto single = [&](std::string response) {
    message->responses.resize(1);
    message->pending = 1;
    _Complete(message, 0, std::move(response));
  };
  if (text.size() > m_limits.maxMessage) return RefuseOversized(peer);
  // A browser drops a text frame that is not UTF-8: none may be sent on.
  if (const std::size_t bad = KRTUnicodeString::FindIllFormedUTF8(text); bad != std::string_view::npos)
    return single(Error("null", -32700, "Parse error: the message is not valid UTF-8", "encoding",
                        VornJSONObject{{"offset", static_cast<std::int64_t>(bad)}}));
  std::string error;
  const VornJSONValue parsed = Parse(text, error);
  if (parsed.IsUndefined()) return single(Error("null", -32700, "Parse error", "parse", VornJSONObject{{"reports", ReportList({error})}}));
  const std::vector<std::optional<std::string>> ids = RawIds(text);
  auto rawId = [&ids](std::size_t i) { return i < ids.size() ? ids[i] : std::nullopt; };
  if (!parsed.IsArray()) {
    message->responses.resize(1);
    message->pending = 1;
    return _HandleOne(message, 0, parsed, rawId(0));
  }
  const VornJSONArray& requests = *parsed.GetIfArray();
  if (requests.size() == 0) return single(Error("null", -32600, "Invalid Request: an empty batch", "invalidRequest"));
  if (requests.size() > m_limits.maxBatch)
    return single(Error("null", -32600, "Invalid Request: the batch holds more requests than the host takes",
                        "tooLarge", VornJSONObject{{"limit", static_cast<std::int64_t>(m_limits.maxBatch)}}));
  // One array once every member is answered, in request order;
  // notifications take no place in it.
  message->batch = true;
  message->responses.resize(requests.size());
  message->pending = requests.size();
  for (std::size_t i = 0; i < requests.size(); ++i) _HandleOne(message, i, requests[i], rawId(i));
}

void RpcServer::_Complete(const std::shared_ptr<Message>& message, std::size_t slot, std::string response) {
  message->responses[slot] = std::move(response);
  if (--message->pending > 0) return;
  Peer* peer = _PeerOf(message->peer);
  if (!peer) return;  // closed meanwhile: nothing to send, nothing to count
  std::string out;
  if (!message->batch) {
    out = std::move(message->responses.front());
  } else {
    for (std::string& r : message->responses) {
      if (r.empty()) continue;
      out += out.empty() ? '[' : ',';
      out += r;
    }
    if (!out.empty()) out += ']';
  }
  if (!out.empty()) peer->Send(std::make_shared<const std::string>(std::move(out)));
  peer->Finished();
}

void RpcServer::_HandleOne(const std::shared_ptr<Message>& message, std::size_t slot, const VornJSONValue& request,
                           const std::optional<std::string>& rawId) {
  auto done = [&](std::string response) { _Complete(message, slot, std::move(response)); };
  auto invalid = [&](const std::string& idText, const std::string& what) {
    done(Error(idText, -32600, "Invalid Request: " + what, "invalidRequest"));
  };
  const VornJSONObject* object = request.GetIfObject();
  if (!object) return invalid("null", "a request is an object");
  const VornJSONValue& idValue = object->Get("id");
  const bool notification = idValue.IsUndefined();
  if (!notification && !idValue.IsNull() && !idValue.IsString() && !idValue.IsInt() && !idValue.IsDouble())
    return invalid("null", "\"id\" must be a string, a number or null");
  const std::string idText = notification ? "null" : rawId ? *rawId : idValue.Stringify();
  // Nothing is said to a notification, even when it fails.
  auto answer = [&](std::string response) { done(notification ? std::string() : std::move(response)); };
  if (object->Get("jsonrpc") != VornJSONValue("2.0")) return answer(Error(idText, -32600, "Invalid Request: \"jsonrpc\" must be \"2.0\"", "invalidRequest"));
  const VornJSONValue& method = object->Get("method");
  if (!method.IsString()) return answer(Error(idText, -32600, "Invalid Request: \"method\" must be a string", "invalidRequest"));
  const VornJSONValue& params = object->Get("params");
  if (!params.IsUndefined() && !params.IsObject() && !params.IsArray())
    return answer(Error(idText, -32600, "Invalid Request: \"params\" must be an object or an array", "invalidRequest"));
  if (params.IsArray()) return answer(Error(idText, -32602, "Invalid params: params are named, pass an object", "params"));
  // Requests after "shutdown" are not run.
  if (m_ending) return answer(Error(idText, kShuttingDown, "The host is shutting down", "shuttingDown"));

  auto call = std::make_shared<Call>();
  call->id = ++m_lastCall;
  call->message = message;
  call->slot = slot;
  call->idText = idText;
  call->notification = notification;
  std::string response = _Dispatch(_PeerOf(message->peer), *method.GetIfString(),
                                    params.IsObject() ? *params.GetIfObject() : VornJSONObject(), call);
  if (!response.empty()) return answer(std::move(response));
  // The answer comes later. A notification's slot is done now: its answer,
  // when it comes, has nowhere to go.
  if (notification) {
    m_calls.erase(call->id);
    return done(std::string());
  }
  std::weak_ptr<RpcServer*> weak = m_self;
  const std::uint64_t id = call->id;
  call->timeout = Vorn::SetTimeout([weak, id] {
    if (auto self = weak.lock()) (*self)->_OnTimeout(id);
  }, static_cast<std::int32_t>(std::min<std::int64_t>(m_limits.callTimeout.count(), INT32_MAX)));
}

void RpcServer::_OnReply(std::uint64_t callId, const VornJSONValue& value) {
  auto it = m_calls.find(callId);
  if (it == m_calls.end()) return;  // answered, timed out, or its peer closed
  const std::shared_ptr<Call> call = it->second;
  if (call->answered) return;
  call->answered = true;
  if (call->synchronous) {
    call->value = value;  // the dispatcher answers once the function returns
    return;
  }
  m_calls.erase(it);
  if (call->timeout) Vorn::RemoveTimeout(call->timeout);
  _Complete(call->message, call->slot, ResponseFor(call->idText, value));
}

void RpcServer::_OnTimeout(std::uint64_t callId) {
  auto it = m_calls.find(callId);
  if (it == m_calls.end()) return;
  const std::shared_ptr<Call> call = it->second;
  m_calls.erase(it);
  call->answered = true;
  _Complete(call->message, call->slot,
            Error(call->idText, kCallFailed, "Call failed: the function did not answer in time", "timeout",
                  VornJSONObject{{"timeoutMs", static_cast<std::int64_t>(m_limits.callTimeout.count())}}));
}

std::string RpcServer::_CallFunction(const std::string& method, const VornJSONObject& params,
                                     const std::shared_ptr<Call>& call) {
  const std::string& idText = call->idText;
  const bool onObject = method == "vorn.callObject";
  const bool onLibrary = method == "vorn.callLibrary";
  const char* targetKey = onLibrary ? "library" : "namespace";
  std::vector<const char*> keys{targetKey, "function"};
  if (onObject) keys.insert(keys.begin() + 1, "object");
  for (const char* key : keys)
    if (!params.Get(key).IsString())
      return Error(idText, -32602, std::string("Invalid params: \"") + key + "\" must be a string", "params",
                   VornJSONObject{{"param", key}});
  const VornJSONValue& argumentsValue = params.Get("arguments");
  if (!argumentsValue.IsUndefined() && !argumentsValue.IsObject())
    return Error(idText, -32602, "Invalid params: \"arguments\" must be an object", "params",
                 VornJSONObject{{"param", "arguments"}});
  const std::string target = *params.Get(targetKey).GetIfString();
  const std::string object = onObject ? *params.Get("object").GetIfString() : std::string();
  const std::string function = *params.Get("function").GetIfString();
  const VornJSONObject args = argumentsValue.IsObject() ? *argumentsValue.GetIfObject() : VornJSONObject();

  m_calls.emplace(call->id, call);
  std::weak_ptr<RpcServer*> weak = m_self;
  const std::thread::id mainThread = m_mainThread;
  const std::uint64_t id = call->id;
  // An answer from another thread travels as text: the function may go on
  // using the value it answered, and nothing of it is shared then.
  auto reply = [weak, mainThread, id](const VornJSONValue& value) {
    if (std::this_thread::get_id() == mainThread) {
      if (auto self = weak.lock()) (*self)->_OnReply(id, value);
      return;
    }
    std::string text = value.IsUndefined() ? std::string("null") : value.Stringify();
    Vorn::SetTimeout([weak, id, text = std::move(text)] {
      std::string error;
      if (auto self = weak.lock()) (*self)->_OnReply(id, Parse(text, error));
    }, 0);
  };
  bool found = false;
  std::vector<std::string> reports;
  {
    KRTAbendCapture capture(true);
    try {
      if (onObject) found = VornCommunicationManager_V1::TryCallRemoteObjectFunc(target, object, function, reply, args);
      else if (onLibrary) found = VornCommunicationManager_V1::TryCallLibraryFunction(target, function, reply, args);
      else found = VornCommunicationManager_V1::TryCallRemoteFunction(target, function, reply, args);
    } catch (const std::exception& e) {
      reports.push_back(e.what());
    }
    for (std::string& message : capture.Messages()) reports.push_back(std::move(message));
  }
  call->synchronous = false;
  // Reports that mean failure: the object has no such function (it then
  // answers null), the target was not found or refused, or the function
  // reported and did not answer. Reports from a call that answered are
  // not errors: the call took effect.
  const bool unknownFunction =
      std::any_of(reports.begin(), reports.end(), [](const std::string& r) { return r.rfind(kUnknownFunctionReport, 0) == 0; });
  VornJSONObject concerned{{onLibrary ? "library" : "namespace", target}, {"function", function}};
  if (onObject) concerned.Set("object", object);
  if (!reports.empty()) concerned.Set("reports", ReportList(reports));
  if (unknownFunction || !found || (!call->answered && !reports.empty())) {
    m_calls.erase(call->id);
    call->answered = true;
    if (unknownFunction)
      return Error(idText, kUnknownFunction, "Unknown function", "unknownFunction", std::move(concerned));
    if (!found && onObject) return Error(idText, kUnknownObject, "Unknown namespace or object", "unknownObject", std::move(concerned));
    if (!found) {
      const bool refused = std::any_of(reports.begin(), reports.end(),
                                       [](const std::string& r) { return r.rfind(kLibraryReport, 0) == 0; });
      return refused ? Error(idText, kUnknownObject, "Unknown or refused library", "unknownLibrary", std::move(concerned))
                     : Error(idText, kUnknownFunction, "Unknown function", "unknownFunction", std::move(concerned));
    }
    return Error(idText, kCallFailed, "Call failed", "callFailed", std::move(concerned));
  }
  if (call->answered) {
    m_calls.erase(call->id);
    return ResponseFor(idText, call->value);
  }
  return std::string();  // answered later through the reply
}

std::string RpcServer::_Dispatch(Peer* peer, const std::string& method, const VornJSONObject& params,
                                 const std::shared_ptr<Call>& call) {
  const std::string& id = call->idText;
  auto badParam = [&](const char* key, const std::string& what) {
    return Error(id, -32602, std::string("Invalid params: \"") + key + "\" " + what, "params",
                 VornJSONObject{{"param", key}});
  };
  auto unknownContext = [&](const std::string& name) {
    return Error(id, kUnknownObject, "Unknown context", "unknownContext", VornJSONObject{{"context", name}});
  };

  if (method == "vorn.callObject" || method == "vorn.callNamespace" || method == "vorn.callLibrary")
    return _CallFunction(method, params, call);

  if (method == "vorn.connect" || method == "vorn.disconnect") {
    std::vector<std::string> contexts;
    if (const VornJSONValue& list = params.Get("contexts"); !list.IsUndefined()) {
      const VornJSONArray* array = list.GetIfArray();
      if (!array) return badParam("contexts", "must be an array of strings");
      for (const VornJSONValue& name : *array) {
        if (!name.IsString()) return badParam("contexts", "must be an array of strings");
        if (!VornMainComponent::IsEntityRegistered(*name.GetIfString())) return unknownContext(*name.GetIfString());
        contexts.push_back(*name.GetIfString());
      }
    }
    VornClientAppsManager::ChangeClientAppConnectionStatus(peer->Channel(), method == "vorn.connect",
                                                           peer->ClientId(), contexts);
    return Response(id, "result", VornJSONObject{{"client", peer->ClientId()}});
  }
  if (method == "vorn.contextStatus") {
    if (!params.Get("context").IsString()) return badParam("context", "must be a string");
    if (!params.Get("active").IsBool()) return badParam("active", "must be a boolean");
    const std::string context = *params.Get("context").GetIfString();
    if (!VornMainComponent::IsEntityRegistered(context)) return unknownContext(context);
    VornClientAppsManager::ChangeClientContextStatus(peer->ClientId(), context, *params.Get("active").GetIfBool());
    return Response(id, "result", true);
  }
  if (method == "vorn.describeView" || method == "vorn.editTweaker") {
    const bool edit = method == "vorn.editTweaker";
    if (!params.Get("context").IsString()) return badParam("context", "must be a string");
    const VornJSONValue& viewName = params.Get("view");
    if (!viewName.IsUndefined() && !viewName.IsString()) return badParam("view", "must be a string");
    if (edit && !params.Get("tweaker").IsString()) return badParam("tweaker", "must be a string");
    const VornJSONValue& value = params.Get("value");
    if (edit && value.IsUndefined()) return badParam("value", "is missing");
    const std::string context = *params.Get("context").GetIfString();
    const auto view = FindView(context, viewName.IsString() ? *viewName.GetIfString() : std::string());
    const auto root = VornDataManager::GetTree(context);
    if (!root) return unknownContext(context);
    if (!view)
      return Error(id, kUnknownObject, "Unknown view", "unknownView",
                   VornJSONObject{{"context", context}, {"view", viewName.IsString() ? viewName : VornJSONValue(nullptr)}});
    if (!edit)
      return Response(id, "result",
                      VornJSONObject{{"context", context}, {"view", view->GetName()}, {"tree", view->DescribeLayout(root)}});
    const std::string tweakerId = *params.Get("tweaker").GetIfString();
    std::shared_ptr<VornBaseTweaker> target;
    for (const auto& info : view->GetTweakers())
      if (info->tweakerId == tweakerId) target = info->tweaker;
    if (!target) return Error(id, kUnknownObject, "Unknown tweaker", "unknownTweaker", VornJSONObject{{"tweaker", tweakerId}});
    // A value no control takes (an object, an array of mixed kinds) is
    // refused before it reaches the tweaker.
    KRTAbendCapture capture(true);
    const VornValue converted = value.IsObject() ? VornValue() : Vorn::ConvertJSONValueToValue(value);
    if (!converted.HasRawValue() && !value.IsNull())
      return Error(id, -32602, "Invalid params: the value has no type a control holds", "type",
                   VornJSONObject{{"tweaker", tweakerId}, {"value", value}, {"reports", ReportList(capture.Messages())}});
    if (!target->EditValue(converted))
      return Error(id, -32602, "The tweaker refused the value", "refused",
                   VornJSONObject{{"tweaker", tweakerId}, {"value", value}, {"reports", ReportList(capture.Messages())}});
    return Response(id, "result", target->Describe());
  }
  if (method == "vorn.listContexts") {
    VornJSONArray list;
    for (const auto& [name, info] : VornMainComponent::GetContexts())
      list.PushBack(VornJSONObject{{"name", name}, {"namespace", info && info->context ? info->context->GetNamespace() : ""}});
    return Response(id, "result", std::move(list));
  }
  if (method == "shutdown") {
    // Everything received before is answered first; what waits for a
    // function's answer is told the host is going.
    m_ending = true;
    _EndPendingCalls(0, true);
    if (m_onShutdown) m_onShutdown();
    return Response(id, "result", nullptr);
  }
  return Error(id, -32601, "Method not found", "unknownMethod", VornJSONObject{{"method", method}});
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
    const VornJSONValue parsed = Parse(data->View(), error);
    const VornJSONObject* wrapped = parsed.GetIfObject();
    params.Set("data", wrapped && wrapped->HasKey("data") ? wrapped->Get("data") : parsed);
  } else if (const OVK::Binary* bytes = parameters.FindBuffer("eventDataBinary")) {
    params.Set("dataBase64", Base64(*bytes));
  }
  _Broadcast(VornJSONObject{{"jsonrpc", "2.0"}, {"method", "vorn.event"}, {"params", std::move(params)}}.Stringify());
  return 0;
}

}  // namespace orvel
