// The server's core: messages, batches, peers, the method table and the
// calls that answer later.
#include "RpcServer.h"

#include <algorithm>

#include "RawJson.h"
#include "ServerSupport.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/events/EventToken.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/json/Array.h"
#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

std::string ErrorMessage(const char* reason, const std::string& message) {
  return ErrorText("null", MakeError(reason, message));
}

RpcServer::RpcServer(std::function<void()> onShutdown, Limits limits)
    : m_onShutdown(std::move(onShutdown)),
      m_limits(limits),
      m_mainThread(std::this_thread::get_id()),
      m_self(std::make_shared<RpcServer*>(this)) {}

RpcServer::~RpcServer() {
  m_self.reset();
  if (m_contextsListener) VornMainComponent::RemoveContextsListener(m_contextsListener);
  for (auto& [id, call] : m_calls)
    if (call->timeout) Vorn::RemoveTimeout(call->timeout);
  for (auto& [object, watched] : m_watched)
    for (const auto& token : watched.tokens)
      if (token) token->Unsubscribe();
}

const std::vector<RpcServer::Method>& RpcServer::Methods() {
  static const std::vector<Method> methods = [] {
    std::vector<Method> all;
    for (const auto* group : {&_CallMethods(), &_NotificationMethods(), &_ViewMethods(), &_HostMethods()})
      all.insert(all.end(), group->begin(), group->end());
    return all;
  }();
  return methods;
}

Peer* RpcServer::_PeerOf(std::uint64_t serial) const {
  auto it = m_peers.find(serial);
  return it == m_peers.end() ? nullptr : it->second.peer;
}

std::uint64_t RpcServer::Sequence(const std::string& context) const {
  auto it = m_sequences.find(context);
  return it == m_sequences.end() ? 0 : it->second;
}

void RpcServer::Open(Peer* peer) {
  if (!peer || m_serials.count(peer)) return;
  const std::uint64_t serial = ++m_lastSerial;
  m_peers.emplace(serial, PeerState{peer, false, {}});
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
    if (all) _Complete(call->message, call->slot, ErrorText(call->idText, MakeError("shuttingDown", "The host is shutting down")));
  }
}

void RpcServer::RefuseOversized(Peer* peer) {
  auto it = m_serials.find(peer);
  if (it == m_serials.end()) return;
  auto message = std::make_shared<Message>();
  message->peer = it->second;
  message->responses.resize(1);
  message->pending = 1;
  _Complete(message, 0,
            ErrorText("null", MakeError("tooLarge", "Invalid Request: the message is larger than the host reads",
                                        VornJSONObject{{"limit", static_cast<std::int64_t>(m_limits.maxMessage)}})));
}

void RpcServer::Handle(Peer* peer, std::string_view text) {
  auto serial = m_serials.find(peer);
  if (serial == m_serials.end()) return;
  auto message = std::make_shared<Message>();
  message->peer = serial->second;
  auto single = [&](const RpcError& error) {
    message->responses.resize(1);
    message->pending = 1;
    _Complete(message, 0, ErrorText("null", error));
  };
  if (text.size() > m_limits.maxMessage) return RefuseOversized(peer);
  // A browser drops a text frame that is not UTF-8: none may be sent on.
  if (const std::size_t bad = KRTUnicodeString::FindIllFormedUTF8(text); bad != std::string_view::npos)
    return single(MakeError("encoding", "Parse error: the message is not valid UTF-8",
                            VornJSONObject{{"offset", static_cast<std::int64_t>(bad)}}));
  std::string error;
  const VornJSONValue parsed = ParseMessage(text, error);
  if (parsed.IsUndefined())
    return single(MakeError("parse", "Parse error: the message is not JSON", VornJSONObject{{"reports", VornJSONArray{error}}}));
  const std::vector<std::optional<std::string>> ids = RawIds(text);
  auto rawId = [&ids](std::size_t i) { return i < ids.size() ? ids[i] : std::nullopt; };
  if (!parsed.IsArray()) {
    message->responses.resize(1);
    message->pending = 1;
    return _HandleOne(message, 0, parsed, rawId(0));
  }
  const VornJSONArray& requests = *parsed.GetIfArray();
  if (requests.size() == 0) return single(MakeError("invalidRequest", "Invalid Request: an empty batch"));
  if (requests.size() > m_limits.maxBatch)
    return single(MakeError("tooLarge", "Invalid Request: the batch holds more requests than the host takes",
                            VornJSONObject{{"limit", static_cast<std::int64_t>(m_limits.maxBatch)}}));
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
    done(ErrorText(idText, MakeError("invalidRequest", "Invalid Request: " + what)));
  };
  const VornJSONObject* object = request.GetIfObject();
  if (!object) return invalid("null", "a request is an object");
  const VornJSONValue& idValue = object->Get("id");
  const bool notification = idValue.IsUndefined();
  if (!notification && !idValue.IsNull() && !idValue.IsString() && !idValue.IsInt() && !idValue.IsDouble())
    return invalid("null", "\"id\" must be a string, a number or null");
  const std::string idText = notification ? "null" : rawId ? *rawId : idValue.Stringify();
  // Only a valid request without an id is a notification: what is not a
  // request at all is answered, with a null id when it has none.
  if (object->Get("jsonrpc") != VornJSONValue("2.0")) return invalid(idText, "\"jsonrpc\" must be \"2.0\"");
  const VornJSONValue& method = object->Get("method");
  if (!method.IsString()) return invalid(idText, "\"method\" must be a string");
  const VornJSONValue& params = object->Get("params");
  if (!params.IsUndefined() && !params.IsObject() && !params.IsArray())
    return invalid(idText, "\"params\" must be an object or an array");
  // Nothing is said to a notification, even when it fails.
  auto answer = [&](const Outcome& outcome) {
    if (notification) return done(std::string());
    done(outcome.error ? ErrorText(idText, *outcome.error) : ResultText(idText, outcome.result));
  };
  // Requests after "shutdown" are not run.
  if (m_ending) return answer(MakeError("shuttingDown", "The host is shutting down"));

  auto call = std::make_shared<Call>();
  call->id = ++m_lastCall;
  call->message = message;
  call->slot = slot;
  call->idText = idText;
  const Request dispatched{message->peer, _PeerOf(message->peer), *method.GetIfString(), params, call};
  Outcome outcome = _Dispatch(dispatched);
  if (!outcome.later) return answer(outcome);
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

RpcServer::Outcome RpcServer::_Dispatch(const Request& request) {
  const auto& methods = Methods();
  auto it = std::find_if(methods.begin(), methods.end(), [&](const Method& m) { return request.method == m.name; });
  if (it != methods.end()) {
    if (auto error = CheckParams(it->name, it->params, request.params)) return *error;
    return (this->*(it->run))(request);
  }
  // The host's own prefixes name only the table's methods.
  const bool reserved = request.method.rfind("vorn.", 0) == 0 || request.method.rfind("rpc.", 0) == 0;
  if (!reserved)
    if (std::optional<Outcome> outcome = _CallByName(request)) return *outcome;
  // The name is in data only: it may be as long as a message.
  return MakeError("unknownMethod", "Method not found (rpc.discover lists the methods)",
                   VornJSONObject{{"method", request.method}});
}

void RpcServer::_OnReply(std::uint64_t callId, const VornJSONValue& value) {
  // An answer while the function runs: the dispatcher answers once it returns.
  for (Call* running : m_running) {
    if (running->id != callId) continue;
    if (!running->answered) {
      running->answered = true;
      running->value = value;
    }
    return;
  }
  auto it = m_calls.find(callId);
  if (it == m_calls.end()) return;  // answered, timed out, or its peer closed
  const std::shared_ptr<Call> call = it->second;
  call->answered = true;
  m_calls.erase(it);
  if (call->timeout) Vorn::RemoveTimeout(call->timeout);
  const Outcome outcome = _AnswerOf(value, call->concerned);
  _Complete(call->message, call->slot,
            outcome.error ? ErrorText(call->idText, *outcome.error) : ResultText(call->idText, outcome.result));
}

void RpcServer::_OnTimeout(std::uint64_t callId) {
  auto it = m_calls.find(callId);
  if (it == m_calls.end()) return;
  const std::shared_ptr<Call> call = it->second;
  m_calls.erase(it);
  call->answered = true;
  VornJSONObject data = call->concerned;
  data.Set("timeoutMs", static_cast<std::int64_t>(m_limits.callTimeout.count()));
  _Complete(call->message, call->slot,
            ErrorText(call->idText, MakeError("timeout", "The function did not answer in time", std::move(data))));
}

}  // namespace orvel
