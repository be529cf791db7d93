#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "RpcServer.h"

namespace orvel {

// The browser side of orvelnode: HTTP for the page's static files and
// WebSocket at "/rpc" for the same JSON-RPC messages as the stdio channel,
// one message per text frame, several clients at once. Each connection is a
// client app ("ws-1", "ws-2"...) from open to close.
//
// The network runs on a thread of its own; messages are handed to the main
// thread, and answers and notifications come back to the network thread to
// be written in order. A frame over 1 MiB, or a client that lets 16 MiB of
// answers pile up unread, is disconnected; a binary frame is answered with
// an Invalid Request error. Other clients are never affected.
class WsServer {
public:
  // `webRoot`: the folder whose files are served ("/" is index.html).
  WsServer(RpcServer& server, std::string webRoot);
  ~WsServer();
  WsServer(const WsServer&) = delete;
  WsServer& operator=(const WsServer&) = delete;

  // Binds and starts serving (main thread). Throws std::runtime_error with
  // the reason when the address cannot be bound.
  void Start(const std::string& host, std::uint16_t port);
  // Closes every connection and the listener, and joins the network thread
  // (main thread). Peers still open are closed on the server.
  void Stop();
  std::uint16_t Port() const { return m_port; }

  struct Impl;

private:
  std::unique_ptr<Impl> m_impl;
  std::uint16_t m_port = 0;
};

// "HOST:PORT", ":PORT" or "PORT" (host 127.0.0.1); false when malformed.
bool ParseListenAddress(const std::string& text, std::string& host, std::uint16_t& port);

}  // namespace orvel
