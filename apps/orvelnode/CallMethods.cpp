// Calls of remote functions: of remote objects (contexts are some), of
// namespaces and of plug-in libraries, by the vorn.call* methods or by name
// ("<namespace>.<object>.<function>"). The result of a call is the
// function's value itself; the binding layer's wrapper never reaches the
// wire.
#include <algorithm>

#include "ServerSupport.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Array.h"
#include "vorn/remote/Binding.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/remote/RemoteObject.h"
#include "vorn/runtime/LibrariesManager.h"
#include "vorn/runtime/MainThreadManager.h"

namespace orvel {
namespace {

constexpr const char* kLibraryReport = "[Vorn - Libraries Manager]";

VornJSONArray ReportList(const std::vector<std::string>& reports) {
  VornJSONArray list;
  for (const std::string& report : reports) list.PushBack(report);
  return list;
}

constexpr const char* kAnyResult = "{}";

// The request's own object, not a copy: calls are made while it lives.
const VornJSONObject& Arguments(const RpcServer::Request& request) {
  static const VornJSONObject none;
  const VornJSONObject* arguments = request.Named().Get("arguments").GetIfObject();
  return arguments ? *arguments : none;
}

}  // namespace

const std::vector<RpcServer::Method>& RpcServer::_CallMethods() {
  using K = ParamKind;
  static const std::vector<Method> methods = {
      {"vorn.callObject", &RpcServer::_CallObject,
       "Calls a function of a remote object (a context is one); the same as the method "
       "<namespace>.<object>.<function>. The result is the function's value.",
       {{"namespace", K::String, true, "the object's namespace"},
        {"object", K::String, true, "the object's identifier"},
        {"function", K::String, true, "the function's name"},
        {"arguments", K::Object, false, "the function's arguments by name"}},
       kAnyResult},
      {"vorn.callNamespace", &RpcServer::_CallNamespace,
       "Calls a namespace function; the same as the method <namespace>.<function>.",
       {{"namespace", K::String, true, "the namespace"},
        {"function", K::String, true, "the function's name"},
        {"arguments", K::Object, false, "the function's arguments by name"}},
       kAnyResult},
      {"vorn.callLibrary", &RpcServer::_CallLibrary,
       "Calls a function of a plug-in library the host declared; the same as the method <library>.<function>.",
       {{"library", K::String, true, "the library's bare name"},
        {"function", K::String, true, "the function's name"},
        {"arguments", K::Object, false, "the function's arguments by name"}},
       kAnyResult},
  };
  return methods;
}

RpcServer::Outcome RpcServer::_CallObject(const Request& request) {
  return _Call(request, Target::Object, request.String("namespace"), request.String("object"),
               request.String("function"), Arguments(request));
}

RpcServer::Outcome RpcServer::_CallNamespace(const Request& request) {
  return _Call(request, Target::Namespace, request.String("namespace"), {}, request.String("function"),
               Arguments(request));
}

RpcServer::Outcome RpcServer::_CallLibrary(const Request& request) {
  return _Call(request, Target::Library, request.String("library"), {}, request.String("function"),
               Arguments(request));
}

std::optional<RpcServer::Outcome> RpcServer::_CallByName(const Request& request) {
  const std::string& name = request.method;
  const std::size_t last = name.rfind('.');
  if (last == std::string::npos || last == 0 || last + 1 == name.size()) return std::nullopt;
  const std::string owner = name.substr(0, last), function = name.substr(last + 1);
  Target target = Target::Library;
  std::string nameSpace = owner, object;
  std::shared_ptr<VornRemoteFunction_V1> bound;
  // Identifiers may hold dots: every split of the owner is tried, objects first.
  for (std::size_t dot = owner.find('.'); dot != std::string::npos; dot = owner.find('.', dot + 1)) {
    if (auto remote = VornCommunicationManager_V1::GetRemoteObject(owner.substr(0, dot), owner.substr(dot + 1))) {
      target = Target::Object;
      nameSpace = owner.substr(0, dot);
      object = owner.substr(dot + 1);
      if (auto it = remote->GetRemoteFunctions().find(function); it != remote->GetRemoteFunctions().end()) bound = it->second;
      break;
    }
  }
  if (target == Target::Library && (bound = VornCommunicationManager_V1::GetNamespaceFunction(owner, function)))
    target = Target::Namespace;
  // A name that is no known library's addresses nothing: refused here,
  // without a refusal's report, since unknown names are every typo's path.
  if (target == Target::Library && !VornLibrariesManager::IsClientLibraryKnown(owner)) return std::nullopt;

  // Params by name, or by position in the order of the function's parameters.
  VornJSONObject arguments;
  if (const VornJSONArray* list = request.params.GetIfArray()) {
    const std::vector<std::string> names = bound ? bound->GetArgumentNames() : std::vector<std::string>();
    if (list->size() > names.size())
      return MakeError("params", "Invalid params: " + name + " takes " + std::to_string(names.size()) +
                                     " positional params, not " + std::to_string(list->size()) +
                                     (bound ? "" : " (pass named params)"),
                       VornJSONObject{{"param", static_cast<std::int64_t>(names.size())}});
    for (std::size_t i = 0; i < list->size(); ++i) arguments.Set(names[i], (*list)[i]);
  } else {
    arguments = request.Named();
  }
  Outcome outcome = _Call(request, target, nameSpace, object, function, arguments);
  // A name that is no declared library's addresses nothing at all.
  if (target == Target::Library && outcome.error && outcome.error->reason == "unknownLibrary") return std::nullopt;
  return outcome;
}

RpcServer::Outcome RpcServer::_Call(const Request& request, Target target, const std::string& owner,
                                    const std::string& object, const std::string& function,
                                    const VornJSONObject& arguments) {
  VornJSONObject concerned{{target == Target::Library ? "library" : "namespace", owner}};
  if (target == Target::Object) concerned.Set("object", object);
  concerned.Set("function", function);
  // Unknown names are refused before anything is called.
  if (target == Target::Object) {
    const auto remote = VornCommunicationManager_V1::GetRemoteObject(owner, object);
    if (!remote)
      return MakeError("unknownObject", "No remote object \"" + object + "\" in namespace \"" + owner + "\"", concerned);
    if (!remote->GetRemoteFunctions().contains(function))
      return MakeError("unknownFunction", "The remote object \"" + object + "\" has no function \"" + function + "\"",
                       concerned);
  } else if (target == Target::Namespace && !VornCommunicationManager_V1::GetNamespaceFunction(owner, function)) {
    return MakeError("unknownFunction", "The namespace \"" + owner + "\" has no function \"" + function + "\"", concerned);
  }

  const std::shared_ptr<Call>& call = request.call;
  call->concerned = std::move(concerned);
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
      if (auto self = weak.lock()) (*self)->_OnReply(id, ParseMessage(text, error));
    }, 0);
  };
  bool found = false;
  std::vector<std::string> reports;
  {
    m_running.push_back(call.get());
    struct Running {
      std::vector<Call*>& stack;
      ~Running() { stack.pop_back(); }
    } running{m_running};
    KRTAbendCapture capture(true);
    try {
      if (target == Target::Object)
        found = VornCommunicationManager_V1::TryCallRemoteObjectFunc(owner, object, function, reply, arguments);
      else if (target == Target::Library)
        found = VornCommunicationManager_V1::TryCallLibraryFunction(owner, function, reply, arguments);
      else
        found = VornCommunicationManager_V1::TryCallRemoteFunction(owner, function, reply, arguments);
    } catch (const std::exception& e) {
      reports.push_back(e.what());
    }
    for (std::string& message : capture.Messages()) reports.push_back(std::move(message));
  }
  if (!reports.empty()) call->concerned.Set("reports", ReportList(reports));
  // Reports that mean failure: the target was not found or refused, or the
  // function reported and did not answer. Reports from a call that
  // answered are not errors: the call took effect.
  if (!found || (!call->answered && !reports.empty())) {
    call->answered = true;
    if (found) return MakeError("callFailed", "The function failed without answering", std::move(call->concerned));
    const bool refused = std::any_of(reports.begin(), reports.end(),
                                     [](const std::string& r) { return r.rfind(kLibraryReport, 0) == 0; });
    if (target == Target::Library && refused)
      return MakeError("unknownLibrary", "The library \"" + owner + "\" is unknown or not declared by the host",
                       std::move(call->concerned));
    return MakeError("unknownFunction", "No function \"" + function + "\" in \"" + owner + "\"", std::move(call->concerned));
  }
  // A peer that closed while the function ran hears nothing: not filed.
  if (call->answered || !_PeerOf(call->message->peer)) return _AnswerOf(call->value, call->concerned);
  m_calls.emplace(call->id, call);
  return Outcome::Later();
}

RpcServer::Outcome RpcServer::_AnswerOf(const VornJSONValue& answer, const VornJSONObject& concerned) {
  const VornJSONObject* object = answer.GetIfObject();
  if (!object || object->size() != 1) return answer.IsUndefined() ? VornJSONValue(nullptr) : answer;
  if (object->HasKey(Vorn::kFuncReturnName)) return object->Get(Vorn::kFuncReturnName);
  const VornJSONObject* error = object->Get("error").GetIfObject();
  const std::string* message = error ? error->Get("message").GetIfString() : nullptr;
  if (!message) return answer;
  // The binding layer's error object: the function refused with a reason,
  // refused an argument, or failed. Its details name what it refused (a
  // model object's "object"...); the callee goes under "call", so that the
  // two never overwrite each other.
  VornJSONObject data;
  for (const auto& [key, value] : *error) data.Set(key, value);
  data.Set("call", concerned);
  const std::string* reason = error->Get("reason").GetIfString();
  if (reason && ReasonCode(*reason)) return RpcError{ReasonCode(*reason), *message, *reason, std::move(data)};
  if (error->Get("argument").IsString()) return MakeError("argument", *message, std::move(data));
  // A reason of the function's own comes with the code of failed calls.
  if (reason) return RpcError{ReasonCode("callFailed"), *message, *reason, std::move(data)};
  return MakeError("callFailed", "The function failed: " + *message, std::move(data));
}

}  // namespace orvel
