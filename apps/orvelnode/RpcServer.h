#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Protocol.h"
#include "vorn/contexts/ClientApps.h"
#include "vorn/host/ChannelId.h"
#include "vorn/host/Message.h"
#include "vorn/json/Value.h"

class VornModelObject;
class VornEventToken;
class VornRemoteFunction_V1;

namespace orvel {

// The bounds every channel applies, each documented in docs/protocol.md
// and settable from the command line where it says so.
struct Limits {
  // The largest message (stdio line or WebSocket message) read; a larger
  // one is answered -32600 and its rest discarded unread (--max-message).
  std::size_t maxMessage = 16u << 20;
  // Messages of one connection handed to the main thread and not yet
  // answered; at the limit the connection's reads pause until one is.
  std::size_t maxInFlight = 64;
  // Requests in one batch.
  std::size_t maxBatch = 1024;
  // A call whose function has not answered by then is answered -32009
  // (--call-timeout).
  std::chrono::milliseconds callTimeout{30000};
};

// One connected client: where its messages go. Everything here is called
// on the main thread.
class Peer {
public:
  virtual ~Peer() = default;
  // One whole message (no line break), possibly shared with other peers.
  virtual void Send(const std::shared_ptr<const std::string>& message) = 0;
  // A message given to RpcServer::Handle is done with: answered, or needing
  // no answer. Called once per Handle while the peer is open; channels
  // count messages in flight with it.
  virtual void Finished() {}
  // The identifier of the client app that stands for this peer.
  virtual const std::string& ClientId() const = 0;
  virtual OVK::ChannelId Channel() const = 0;
};

// The client app the library sees for each peer.
class PeerClientApp : public VornBaseClientApp {
public:
  explicit PeerClientApp(const std::string& identifier) : VornBaseClientApp(identifier, {}) {}
};

// JSON-RPC 2.0 over any channel that carries whole messages (see
// docs/protocol.md). Everything here runs on the library's main thread, the
// thread that constructs the server; a function may answer from any
// thread, and its answer is brought to the main thread before it touches
// anything.
//
// The server is a table of methods (Methods()), one small member function
// each, grouped by concern: host methods (HostMethods.cpp), calls of remote
// functions (CallMethods.cpp), views, tweakers and the model
// (ViewMethods.cpp), connections and notifications (Notifications.cpp).
// Every method's params are checked against its table entry before it runs.
class RpcServer : public MBX::Node {
public:
  // The most nodes one vorn.describeView describes: each answer costs the
  // main thread a bounded time however large the model (about 10 ms here).
  static constexpr std::int64_t kMaxLayoutNodes = 2000;

  explicit RpcServer(std::function<void()> onShutdown, Limits limits = {});
  ~RpcServer() override;
  RpcServer(const RpcServer&) = delete;
  RpcServer& operator=(const RpcServer&) = delete;

  const Limits& GetLimits() const { return m_limits; }

  // A peer's lifetime: its client app is registered on open, reported
  // disconnected and unregistered on close. Each open peer gets a number
  // never used again: answers that come after its close are dropped, never
  // sent to a later peer that reuses its address.
  void Open(Peer* peer);
  void Close(Peer* peer);

  // One message from an open `peer`: a request, a notification or a batch.
  // Responses go back to the peer (possibly later, for functions that
  // answer asynchronously, and never after the peer closed); Finished()
  // follows the last of them.
  void Handle(Peer* peer, std::string_view message);
  // A message the channel could not take whole (over maxMessage): answered
  // with an Invalid Request error, then Finished().
  void RefuseOversized(Peer* peer);

  // Follows the registered contexts: their model changes become
  // notifications to the peers connected to them, and contexts that come
  // and go are announced to every peer. Called once the contexts exist;
  // contexts registered later are followed from their registration.
  void WatchContexts();
  std::size_t WatchedObjects() const { return m_watched.size(); }
  // Calls waiting for their function's answer (diagnostics and tests).
  std::size_t PendingCalls() const { return m_calls.size(); }
  // The context's sequence number: how many notifications of its state
  // were sent; answers that show the state carry it too.
  std::uint64_t Sequence(const std::string& context) const;
  VornJSONValue Seq(const std::string& context) const { return static_cast<std::int64_t>(Sequence(context)); }

  // Remote events of the library become "vorn.event" notifications.
  std::int32_t Emit(const KRTUnicodeString& event, const MBX::Parameters& parameters) override;
  std::int32_t Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                    const MBX::Parameters& parameters) override;

  struct Message;
  struct Call;
  struct Request;

  // What a method gives: a result or an error now, or an answer later (a
  // function answering through its reply).
  struct Outcome {
    Outcome(VornJSONValue value) : result(std::move(value)) {}
    Outcome(RpcError failure) : error(std::move(failure)) {}
    static Outcome Later() {
      Outcome outcome(VornJSONValue{});
      outcome.later = true;
      return outcome;
    }
    VornJSONValue result;
    std::optional<RpcError> error;
    bool later = false;
  };

  // One entry of the method table: what rpc.discover and docs/protocol.md
  // list for it, and the member function that serves it.
  struct Method {
    const char* name;
    Outcome (RpcServer::*run)(const Request&);
    const char* summary;
    std::vector<ParamSpec> params;
    const char* resultSchema;  // JSON text
  };
  // Every method of the host, in the order the docs list them.
  static const std::vector<Method>& Methods();
  // The notifications the host sends: name, summary, params (JSON Schema text).
  struct Notification {
    const char* name;
    const char* summary;
    const char* paramsSchema;
  };
  static const std::vector<Notification>& Notifications();

private:
  struct PeerState {
    Peer* peer = nullptr;
    bool allContexts = false;          // vorn.connect without a list
    std::set<std::string> contexts;    // or these
    bool Hears(const std::string& context) const { return allContexts || contexts.count(context) > 0; }
  };

  static const std::vector<Method>& _HostMethods();
  static const std::vector<Method>& _CallMethods();
  static const std::vector<Method>& _ViewMethods();
  static const std::vector<Method>& _NotificationMethods();

  // --- dispatch (RpcServer.cpp)
  void _HandleOne(const std::shared_ptr<Message>& message, std::size_t slot, const VornJSONValue& request,
                  const std::optional<std::string>& rawId);
  Outcome _Dispatch(const Request& request);
  void _Complete(const std::shared_ptr<Message>& message, std::size_t slot, std::string response);
  void _OnReply(std::uint64_t callId, const VornJSONValue& value);
  void _OnTimeout(std::uint64_t callId);
  void _EndPendingCalls(std::uint64_t peer, bool all);
  Peer* _PeerOf(std::uint64_t serial) const;

  // --- host methods (HostMethods.cpp)
  Outcome _ListContexts(const Request& request);
  Outcome _ContextStatus(const Request& request);
  Outcome _Discover(const Request& request);
  Outcome _Shutdown(const Request& request);

  // --- calls (CallMethods.cpp)
  Outcome _CallObject(const Request& request);
  Outcome _CallNamespace(const Request& request);
  Outcome _CallLibrary(const Request& request);
  // "<namespace>.<object>.<function>", "<namespace>.<function>",
  // "<library>.<function>"; nullopt when the name addresses nothing.
  std::optional<Outcome> _CallByName(const Request& request);
  enum class Target { Object, Namespace, Library };
  Outcome _Call(const Request& request, Target target, const std::string& owner, const std::string& object,
                const std::string& function, const VornJSONObject& arguments);
  // What a function's answer becomes: its value unwrapped, or an error.
  static Outcome _AnswerOf(const VornJSONValue& answer, const VornJSONObject& concerned);

  // --- views, tweakers and the model (ViewMethods.cpp)
  Outcome _GetTree(const Request& request);
  Outcome _DescribeSchema(const Request& request);
  Outcome _DescribeView(const Request& request);
  Outcome _EditTweaker(const Request& request);
  Outcome _SetValue(const Request& request);

  // --- connections and notifications (Notifications.cpp)
  Outcome _Connect(const Request& request);
  Outcome _Disconnect(const Request& request);
  Outcome _ChangeConnection(const Request& request, bool connect);
  // Sends `method` with `params` ("context" and "seq" added) to the peers
  // connected to `context`, serialized once.
  void _Publish(const std::string& context, const char* method, VornJSONObject params);
  void _SendTo(const std::function<bool(const PeerState&)>& hears, const std::string& text);
  void _OnContext(const std::string& name, bool registered);
  void _Watch(const std::string& context, const std::shared_ptr<VornModelObject>& object);
  void _Unwatch(const VornModelObject* object);
  // A change, new child or removed child of a watched object, told apart by
  // the event's name.
  void _OnWatchedEvent(VornModelObject* object, const std::shared_ptr<VornEventData>& data);

  // What follows one object of a context's tree: mostly one token for its
  // changes and children and one for its destruction (a token each when
  // the names cannot share one), and its context's name, held once in
  // m_sequences. A host may watch a million objects: no copy of the name,
  // and callbacks small enough to need no allocation of their own.
  struct Watched {
    std::vector<std::shared_ptr<VornEventToken>> tokens;
    const std::string* context = nullptr;
  };

  std::function<void()> m_onShutdown;
  Limits m_limits;
  std::thread::id m_mainThread;
  std::unordered_map<const VornModelObject*, Watched> m_watched;
  // Never erased: a context of the same name later goes on from its numbers.
  std::unordered_map<std::string, std::uint64_t> m_sequences;
  std::uint64_t m_contextsListener = 0;
  std::unordered_map<std::uint64_t, PeerState> m_peers;
  std::unordered_map<const Peer*, std::uint64_t> m_serials;
  std::uint64_t m_lastSerial = 0;
  // Calls waiting for a later answer. A call is filed only once its
  // function returned without answering; while it runs it is in m_running
  // (a stack: a function may run the main loop, and calls nest).
  std::unordered_map<std::uint64_t, std::shared_ptr<Call>> m_calls;
  std::vector<Call*> m_running;
  std::uint64_t m_lastCall = 0;
  bool m_ending = false;
  // What answers from other threads reach: reset when the server goes.
  std::shared_ptr<RpcServer*> m_self;
};

// An error message that answers no particular request (id null), in the
// server's one error shape; for channels that refuse a message themselves.
std::string ErrorMessage(const char* reason, const std::string& message);

}  // namespace orvel
