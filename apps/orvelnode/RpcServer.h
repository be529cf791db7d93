#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "vorn/contexts/ClientApps.h"
#include "vorn/host/ChannelId.h"
#include "vorn/host/Message.h"
#include "vorn/json/Value.h"

class VornModelObject;
class VornEventToken;

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
  // A call whose function has not answered by then is answered -32003
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
class RpcServer : public MBX::Node {
public:
  // Error codes of our own.
  static constexpr int kUnknownObject = -32001;
  static constexpr int kUnknownFunction = -32002;
  static constexpr int kCallFailed = -32003;
  static constexpr int kShuttingDown = -32004;

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

  // A notification to every peer.
  void Notify(const std::string& method, VornJSONValue params);

  // Model changes in every registered context's tree become "vorn.modelChanged"
  // notifications; objects added later are followed too, and objects whose
  // destruction is requested are let go. Called once the contexts exist.
  void WatchContexts();
  std::size_t WatchedObjects() const { return m_watched.size(); }
  // Calls waiting for their function's answer (diagnostics and tests).
  std::size_t PendingCalls() const { return m_calls.size(); }

  // Remote events of the library become notifications to every peer.
  std::int32_t Emit(const KRTUnicodeString& event, const MBX::Parameters& parameters) override;
  std::int32_t Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                    const MBX::Parameters& parameters) override;

  struct Message;
  struct Call;

private:
  void _HandleOne(const std::shared_ptr<Message>& message, std::size_t slot, const VornJSONValue& request,
                  const std::optional<std::string>& rawId);
  // The response text for a request handled at once; empty when the answer
  // comes later through a pending call.
  std::string _Dispatch(Peer* peer, const std::string& method, const VornJSONObject& params,
                        const std::shared_ptr<Call>& call);
  std::string _CallFunction(const std::string& method, const VornJSONObject& params, const std::shared_ptr<Call>& call);
  void _Answer(const std::shared_ptr<Call>& call, std::string response);
  void _OnReply(std::uint64_t callId, const VornJSONValue& value);
  void _OnTimeout(std::uint64_t callId);
  void _Complete(const std::shared_ptr<Message>& message, std::size_t slot, std::string response);
  void _Broadcast(const std::string& message);
  void _Watch(const std::string& context, const std::shared_ptr<VornModelObject>& object);
  void _Unwatch(const VornModelObject* object);
  void _EndPendingCalls(std::uint64_t peer, bool all);
  Peer* _PeerOf(std::uint64_t serial) const;

  std::function<void()> m_onShutdown;
  Limits m_limits;
  std::thread::id m_mainThread;
  std::unordered_map<const VornModelObject*, std::vector<std::shared_ptr<VornEventToken>>> m_watched;
  std::unordered_map<std::uint64_t, Peer*> m_peers;
  std::unordered_map<const Peer*, std::uint64_t> m_serials;
  std::uint64_t m_lastSerial = 0;
  std::unordered_map<std::uint64_t, std::shared_ptr<Call>> m_calls;
  std::uint64_t m_lastCall = 0;
  bool m_ending = false;
  // What answers from other threads reach: reset when the server goes.
  std::shared_ptr<RpcServer*> m_self;
};

// An error message that answers no particular request (id null), in the
// server's one error shape; for channels that refuse a message themselves.
std::string ErrorMessage(int code, const std::string& message, const char* reason);

}  // namespace orvel
