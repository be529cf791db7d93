#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vorn/contexts/ClientApps.h"
#include "vorn/host/ChannelId.h"
#include "vorn/host/Message.h"
#include "vorn/json/Value.h"

class VornModelObject;
class VornEventToken;

namespace orvel {

// One connected client: where its messages go. Send is called on the main
// thread with one whole message (no line break).
class Peer {
public:
  virtual ~Peer() = default;
  virtual void Send(const std::string& message) = 0;
  // The same message shared by many peers (notifications).
  virtual void SendShared(const std::shared_ptr<const std::string>& message) { Send(*message); }
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
// docs/protocol.md). Everything here runs on the library's main thread.
class RpcServer : public MBX::Node {
public:
  // Error codes of our own.
  static constexpr int kUnknownObject = -32001;
  static constexpr int kUnknownFunction = -32002;
  static constexpr int kCallFailed = -32003;

  explicit RpcServer(std::function<void()> onShutdown);
  ~RpcServer() override;

  // A peer's lifetime: its client app is registered on open and reported
  // disconnected and unregistered on close.
  void Open(Peer* peer);
  void Close(Peer* peer);

  // One message from `peer`: a request, a notification or a batch.
  // Responses go back to the peer (possibly later, for functions that
  // answer asynchronously, and never after the peer closed).
  void Handle(Peer* peer, const std::string& message);

  // A notification to every peer.
  void Notify(const std::string& method, VornJSONValue params);

  // Model changes in every registered context's tree become "vorn.modelChanged"
  // notifications; objects added later are followed too. Called once the
  // contexts exist.
  void WatchContexts();

  // Remote events of the library become notifications to every peer.
  std::int32_t Emit(const KRTUnicodeString& event, const MBX::Parameters& parameters) override;
  std::int32_t Emit(const KRTUnicodeString& event, const KRTUnicodeString& target,
                    const MBX::Parameters& parameters) override;

private:
  struct Reply;

  // The response to one request object, or nothing for a notification.
  // `done` receives the response when it is known (at once or later).
  void _HandleOne(Peer* peer, const VornJSONValue& request, std::function<void(VornJSONValue)> done);
  VornJSONValue _Dispatch(Peer* peer, const std::string& method, const VornJSONObject& params,
                          const std::shared_ptr<Reply>& reply);
  void _Broadcast(const std::string& message);

  void _Watch(const std::string& context, const std::shared_ptr<VornModelObject>& object);

  std::function<void()> m_onShutdown;
  std::vector<std::shared_ptr<VornEventToken>> m_watchTokens;
  std::vector<Peer*> m_peers;
  std::shared_ptr<bool> m_alive;
};

// The standard error response for `id`.
VornJSONValue ErrorResponse(const VornJSONValue& id, int code, const std::string& message,
                            const VornJSONValue& data = VornJSONValue());

}  // namespace orvel
