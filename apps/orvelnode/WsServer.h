#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Access.h"
#include "RpcServer.h"
#include "WsConnection.h"

namespace orvel {

struct WebOptions {
  AccessPolicy access;             // port and loopback are filled in by Start
  std::size_t maxConnections = 128;  // HTTP and WebSocket together (--max-connections)
};

// The browser side of orvelnode: HTTP for the page's files and WebSocket at
// "/rpc" for the same JSON-RPC messages as the stdio channel, one message
// per text frame, several clients at once. Each connection is a client app
// ("ws-1", "ws-2"...) from open to close.
//
// Every request passes the Host check, then the token check; a WebSocket
// handshake also the Origin check (see Access.h); refusals are 403 or 401
// before anything else happens. Files come only from the web root and are
// streamed from disk.
//
// The listener, HTTP and the WebSocket handshake run on a network thread
// of their own; an open WebSocket is then served by the main thread itself,
// its socket watched by the main loop (WsConnection.h), so that a request
// to an idle host costs one thread wake-up. The server therefore needs the
// library's own main loop (a non-interactive host, as orvelnode is) and
// lives for one run of it. Sockets send at once (no Nagle delay). An open
// WebSocket has no idle limit: the connection bound below is what limits
// open connections. Bounds: a message over the server's maxMessage is
// answered -32600 and the rest of it skipped without being kept; a
// connection's reads pause while maxInFlight of its messages wait for
// answers; a client that lets kMaxBacklog bytes of answers pile up unread
// is disconnected; past maxConnections a new connection is closed at once;
// failed accepts (out of descriptors) are retried after kAcceptBackOff.
// Other clients are never affected.
class WsServer {
public:
  static constexpr std::size_t kMaxBacklog = WsConnection::kMaxBacklog;
  static constexpr int kAcceptBackOffMs = 100;
  static constexpr int kStopGraceMs = 500;

  // `webRoot`: the folder whose files are served ("/" is index.html).
  WsServer(RpcServer& server, std::string webRoot, WebOptions options = {});
  ~WsServer();
  WsServer(const WsServer&) = delete;
  WsServer& operator=(const WsServer&) = delete;

  // Binds and starts serving (main thread). Throws std::runtime_error with
  // the reason when the address cannot be bound.
  void Start(const std::string& host, std::uint16_t port);
  // Closes the listener and what the network thread serves, joins that
  // thread, then sends every WebSocket client a close frame after what is
  // queued for it and waits kStopGraceMs at most for the clients' answers
  // (main thread, after the main loop has ended). Peers still open are
  // closed on the server.
  void Stop();
  std::uint16_t Port() const { return m_port; }
  // Connections open now, HTTP and WebSocket (for tests).
  std::size_t Connections() const;

  struct Impl;

private:
  std::unique_ptr<Impl> m_impl;
  std::uint16_t m_port = 0;
};

// "HOST:PORT", ":PORT" or "PORT" (host 127.0.0.1); false when malformed.
bool ParseListenAddress(const std::string& text, std::string& host, std::uint16_t& port);

}  // namespace orvel
