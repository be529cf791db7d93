// Connections to contexts and what the host tells clients: one notification
// per model change (vorn.modelChanged, vorn.childAdded, vorn.childRemoved)
// to the clients connected to the context, each with the context's
// sequence number; contexts coming and going to every client; the
// contexts' own remote events as vorn.event.
#include <algorithm>

#include "ServerSupport.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/host/CodePage.h"
#include "vorn/json/Array.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/TreeSchema.h"
#include "vorn/remote/CommunicationManager.h"

namespace orvel {
namespace {

std::string Base64(const OVK::Binary& bytes) {
  char* text = nullptr;
  if (KRTCodePage::ConvertToBase64(bytes.data(), bytes.size(), &text) != 0 || !text) return {};
  std::string out(text);
  KRTCodePage::FreeText(text);
  return out;
}

// The target as the library writes it: sender + "$VORN$" + event name.
std::pair<std::string, std::string> SplitTarget(const std::string& target) {
  const std::string splitter = VornCommunicationManager_V1::RemoteEventSplitter;
  const std::size_t at = target.find(splitter);
  if (at == std::string::npos) return {target, {}};
  return {target.substr(0, at), target.substr(at + splitter.size())};
}

std::string Notice(const char* method, VornJSONObject params) {
  return VornJSONObject{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.Stringify();
}

constexpr const char* kConnectResult =
    R"({"type":"object","properties":{"client":{"type":"string"},)"
    R"("contexts":{"type":"object","additionalProperties":{"type":"integer"}}},"required":["client","contexts"]})";

}  // namespace

const std::vector<RpcServer::Method>& RpcServer::_NotificationMethods() {
  using K = ParamKind;
  static const std::vector<Method> methods = {
      {"vorn.connect", &RpcServer::_Connect,
       "Starts the notifications of these contexts (all of them, present and future, without a list); answers the "
       "contexts heard with their sequence numbers.",
       {{"contexts", K::Strings, false, "context names (default: all)"}}, kConnectResult},
      {"vorn.disconnect", &RpcServer::_Disconnect,
       "Stops the notifications of these contexts (all, without a list); answers the contexts still heard.",
       {{"contexts", K::Strings, false, "context names (default: all)"}}, kConnectResult},
  };
  return methods;
}

const std::vector<RpcServer::Notification>& RpcServer::Notifications() {
  static const std::vector<Notification> notifications = {
      {"vorn.modelChanged", "Values of an object changed (one notification per change).",
       R"({"type":"object","properties":{"context":{"type":"string"},"seq":{"type":"integer"},"object":{"type":"string"},)"
       R"("values":{"type":"object"}},"required":["context","seq","object","values"]})"},
      {"vorn.childAdded", "An object was added under a parent; child is its record as vorn.getTree shows it.",
       R"({"type":"object","properties":{"context":{"type":"string"},"seq":{"type":"integer"},"parent":{"type":"string"},)"
       R"("child":{"type":"object"}},"required":["context","seq","parent","child"]})"},
      {"vorn.childRemoved", "An object (and its subtree) left its parent; child is its id.",
       R"({"type":"object","properties":{"context":{"type":"string"},"seq":{"type":"integer"},"parent":{"type":"string"},)"
       R"("child":{"type":"string"}},"required":["context","seq","parent","child"]})"},
      {"vorn.contextAdded", "A context was registered (sent to every client).",
       R"({"type":"object","properties":{"context":{"type":"string"},"namespace":{"type":"string"},"seq":{"type":"integer"}},)"
       R"("required":["context","namespace","seq"]})"},
      {"vorn.contextRemoved", "A context ended (sent to every client).",
       R"({"type":"object","properties":{"context":{"type":"string"},"seq":{"type":"integer"}},"required":["context","seq"]})"},
      {"vorn.event", "A remote event a context (or another remote object) published itself; not a model change.",
       R"({"type":"object","properties":{"sender":{"type":"string"},"event":{"type":"string"},"data":{},)"
       R"("dataBase64":{"type":"string"},"seq":{"type":"integer"}},"required":["sender","event"]})"},
  };
  return notifications;
}

// Connecting and disconnecting share their reading of "contexts" (absent:
// all; every name must be registered) and their answer.
RpcServer::Outcome RpcServer::_ChangeConnection(const Request& request, bool connect) {
  PeerState& state = m_peers.at(request.peer);
  const VornJSONArray* list = request.Named().Get("contexts").GetIfArray();
  std::vector<std::string> names;
  for (const VornJSONValue& name : list ? *list : VornJSONArray()) {
    const std::string& text = *name.GetIfString();
    if (!VornMainComponent::IsEntityRegistered(text))
      return MakeError("unknownContext", "No context named \"" + text + "\"", VornJSONObject{{"context", text}});
    names.push_back(text);
  }
  if (!list) {
    state.allContexts = connect;
    state.contexts.clear();
  } else if (connect) {
    state.contexts.insert(names.begin(), names.end());
  } else {
    // "All but these": the present contexts, named.
    if (state.allContexts)
      for (const auto& [name, info] : VornMainComponent::GetContexts()) state.contexts.insert(name);
    state.allContexts = false;
    for (const std::string& name : names) state.contexts.erase(name);
  }
  VornClientAppsManager::ChangeClientAppConnectionStatus(request.channel->Channel(), connect, request.channel->ClientId(), names);
  VornJSONObject heard;
  for (const auto& [name, info] : VornMainComponent::GetContexts())
    if (state.Hears(name)) heard.Set(name, static_cast<std::int64_t>(Sequence(name)));
  return VornJSONValue(VornJSONObject{{"client", request.channel->ClientId()}, {"contexts", std::move(heard)}});
}

RpcServer::Outcome RpcServer::_Connect(const Request& request) { return _ChangeConnection(request, true); }

RpcServer::Outcome RpcServer::_Disconnect(const Request& request) { return _ChangeConnection(request, false); }

void RpcServer::_SendTo(const std::function<bool(const PeerState&)>& hears, const std::string& text) {
  std::shared_ptr<const std::string> shared;
  std::vector<Peer*> peers;
  for (const auto& [serial, state] : m_peers)
    if (hears(state)) peers.push_back(state.peer);
  if (peers.empty()) return;
  shared = std::make_shared<const std::string>(text);
  for (Peer* peer : peers) peer->Send(shared);
}

void RpcServer::_Publish(const std::string& context, const char* method, VornJSONObject params) {
  const std::uint64_t seq = ++m_sequences[context];
  if (std::none_of(m_peers.begin(), m_peers.end(), [&](const auto& entry) { return entry.second.Hears(context); })) return;
  VornJSONObject full{{"context", context}, {"seq", static_cast<std::int64_t>(seq)}};
  for (auto& [key, value] : params) full.Set(key, value);
  _SendTo([&](const PeerState& state) { return state.Hears(context); }, Notice(method, std::move(full)));
}

void RpcServer::WatchContexts() {
  if (!m_contextsListener)
    m_contextsListener = VornMainComponent::AddContextsListener(
        [this](const std::string& name, bool registered) { _OnContext(name, registered); });
  for (const auto& [name, info] : VornMainComponent::GetContexts())
    if (const auto root = VornDataManager::GetTree(name)) _Watch(name, root);
}

void RpcServer::_OnContext(const std::string& name, bool registered) {
  if (registered) {
    if (const auto root = VornDataManager::GetTree(name)) _Watch(name, root);
    const auto info = VornMainComponent::GetContextInfo(name);
    const std::string nameSpace = info && info->context ? info->context->GetNamespace() : std::string();
    _SendTo([](const PeerState&) { return true; },
            Notice("vorn.contextAdded", VornJSONObject{{"context", name}, {"namespace", nameSpace}, {"seq", Seq(name)}}));
    return;
  }
  // A context of the same name later starts where this one's numbers end.
  for (auto& [serial, state] : m_peers) state.contexts.erase(name);
  _SendTo([](const PeerState&) { return true; }, Notice("vorn.contextRemoved", VornJSONObject{{"context", name}, {"seq", Seq(name)}}));
}

void RpcServer::_Watch(const std::string& context, const std::shared_ptr<VornModelObject>& object) {
  if (!object) return;
  VornModelObject* raw = object.get();
  auto [entry, added] = m_watched.try_emplace(raw);
  if (!added) return;
  Watched& watched = entry->second;
  watched.context = &m_sequences.try_emplace(context).first->first;  // a context not yet numbered counts 0
  const auto heard = [this, raw](const std::shared_ptr<VornEventData>& data) { _OnWatchedEvent(raw, data); };
  watched.tokens.reserve(2);
  if (auto all = object->SubscribeToEach({"onChange", "onAddChild", "onRemoveChild"}, heard)) {
    watched.tokens.push_back(std::move(all));
  } else {
    for (const char* name : {"onChange", "onAddChild", "onRemoveChild"}) watched.tokens.push_back(object->Subscribe(name, heard));
  }
  // An object on its way out is let go, so the table follows the model.
  watched.tokens.push_back(object->SubscribeOnce(Vorn::kEventDestructionRequested,
                                                 [this, raw](const std::shared_ptr<VornEventData>&) { _Unwatch(raw); }));
  for (const auto& child : object->GetChildren()) _Watch(context, child);
}

void RpcServer::_OnWatchedEvent(VornModelObject* raw, const std::shared_ptr<VornEventData>& data) {
  const std::string* name = VornEventsHandler::CurrentEventName();
  const auto watched = m_watched.find(raw);
  if (!name || !data || watched == m_watched.end()) return;
  const std::string& context = *watched->second.context;
  if (*name == "onChange") {
    VornJSONObject values;
    for (const auto& [key, value] : data->GetValuesByString())
      if (key != "children" && value) values.Set(key, value->ToJSON());
    if (values.size() > 0) _Publish(context, "vorn.modelChanged", VornJSONObject{{"object", raw->GetID()}, {"values", std::move(values)}});
  } else if (*name == "onAddChild") {
    auto added = std::dynamic_pointer_cast<VornMOAddChildEventData>(data);
    if (!added || !added->GetNewChild()) return;
    _Watch(context, added->GetNewChild());
    _Publish(context, "vorn.childAdded",
             VornJSONObject{{"parent", raw->GetID()}, {"child", Vorn::DescribeTree(*added->GetNewChild())}});
  } else if (*name == "onRemoveChild") {
    auto removed = std::dynamic_pointer_cast<VornMORemoveChildEventData>(data);
    if (!removed || !removed->GetRemovedChild()) return;
    // What left the tree is no longer followed (it is again if it comes back).
    std::vector<VornModelObject*> stack{removed->GetRemovedChild().get()};
    while (!stack.empty()) {
      VornModelObject* node = stack.back();
      stack.pop_back();
      _Unwatch(node);
      for (const auto& child : node->GetChildren()) stack.push_back(child.get());
    }
    _Publish(context, "vorn.childRemoved", VornJSONObject{{"parent", raw->GetID()}, {"child", removed->GetRemovedChild()->GetID()}});
  }
}

void RpcServer::_Unwatch(const VornModelObject* object) {
  auto it = m_watched.find(object);
  if (it == m_watched.end()) return;
  for (const auto& token : it->second.tokens)
    if (token) token->Unsubscribe();
  m_watched.erase(it);
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
    const VornJSONValue parsed = ParseMessage(data->View(), error);
    const VornJSONObject* wrapped = parsed.GetIfObject();
    params.Set("data", wrapped && wrapped->HasKey("data") ? wrapped->Get("data") : parsed);
  } else if (const OVK::Binary* bytes = parameters.FindBuffer("eventDataBinary")) {
    params.Set("dataBase64", Base64(*bytes));
  }
  // A context's events go to the clients connected to it, with the number
  // of the state they follow; other remote objects' to every client.
  const bool fromContext = VornMainComponent::IsEntityRegistered(sender);
  if (fromContext) params.Set("seq", Seq(sender));
  _SendTo([&](const PeerState& state) { return !fromContext || state.Hears(sender); },
          Notice("vorn.event", std::move(params)));
  return 0;
}

}  // namespace orvel
