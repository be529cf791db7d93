#pragma once

// orvelnode with its WebSocket listener, and a blocking client of it, for
// the benchmark programs that talk to it over the network.

#include <utility>  // before Asio: its awaitable.hpp uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <sys/socket.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "OrvelnodeSupport.h"

namespace vorn_bench {

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

// Fixed, so that a run can be repeated by hand against the same address.
inline const std::string kWsToken = "benchToken0123456789abcdefXYZ";

inline net::io_context& ClientIo() {
  static net::io_context io;
  return io;
}

// orvelnode with the sample manifest, listening on a free loopback port;
// `port` is 0 when it did not start, and `error` tells why.
struct ListeningNode {
  ListeningNode()
      : error((IgnoreBrokenPipes(), MissingPieces())),
        node({ORVELNODE, "--listen", "0", "--token", kWsToken, SAMPLE_MANIFEST}, true) {
    static const std::string kBanner = "listening on http://127.0.0.1:";
    std::optional<std::string> banner;
    // Loading the manifest may report things first (a view without a
    // tweaker for some type): the banner is the first line that is one.
    if (error.empty())
      while ((banner = node.ReadLine(std::chrono::seconds(20))) && banner->find(kBanner) == std::string::npos) {
      }
    if (banner && banner->find(kBanner) != std::string::npos)
      port = static_cast<unsigned short>(std::stoi(banner->substr(banner->find(kBanner) + kBanner.size())));
    else if (error.empty())
      error = "orvelnode did not start listening" + (banner ? ": " + *banner : std::string());
    // The stdio client is not connected to any context, but hears what
    // goes to every client (contexts coming and going): read it away.
    drain = std::thread([this] {
      while (node.ReadLine(std::chrono::hours(1))) {
      }
    });
  }
  ~ListeningNode() {
    node.WriteLine(R"({"jsonrpc":"2.0","id":0,"method":"shutdown"})");
    node.Wait();
    drain.join();
  }
  ListeningNode(const ListeningNode&) = delete;
  ListeningNode& operator=(const ListeningNode&) = delete;

  std::string error;  // before the node: set first
  orvel::ChildProcess node;
  std::thread drain;
  unsigned short port = 0;
};

// One WebSocket connection to /rpc with the token; throws on failure.
struct WsClient {
  explicit WsClient(unsigned short port) : ws(ClientIo()) {
    ws.next_layer().connect({net::ip::make_address("127.0.0.1"), port});
    ws.next_layer().set_option(tcp::no_delay(true));
    timeval timeout{10, 0};  // a lost message fails the run instead of hanging it
    setsockopt(ws.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ws.handshake("127.0.0.1", "/rpc?token=" + kWsToken);
  }
  void Send(const std::string& text) { ws.write(net::buffer(text)); }
  std::string Next() {
    buffer.consume(buffer.size());
    ws.read(buffer);
    return beast::buffers_to_string(buffer.data());
  }
  // The close handshake, waiting for the server's close frame and its end
  // of the connection.
  void Close() { ws.close(beast::websocket::close_code::normal); }

  beast::websocket::stream<tcp::socket> ws;
  beast::flat_buffer buffer;
};

}  // namespace vorn_bench
