// orvelnode's WebSocket side, from real clients: several at once, events to
// all of them, bad frames, abrupt disconnects, and the page's files.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "vorn/json/Parser.h"

namespace {
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

net::io_context g_io;

tcp::socket Connect(unsigned short port) {
  tcp::socket socket(g_io);
  socket.connect({net::ip::make_address("127.0.0.1"), port});
  timeval timeout{10, 0};  // no read waits forever
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return socket;
}

struct Client {
  explicit Client(unsigned short port) : ws(Connect(port)) { ws.handshake("127.0.0.1", "/rpc"); }
  void Send(const std::string& text, bool binary = false) {
    ws.binary(binary);
    ws.write(net::buffer(text));
  }
  // The next message; empty once the connection is gone.
  std::string Next() {
    beast::flat_buffer buffer;
    beast::error_code ec;
    ws.read(buffer, ec);
    return ec ? std::string() : beast::buffers_to_string(buffer.data());
  }
  // Messages up to the answer to request `id` (included).
  std::vector<std::string> UntilAnswer(int id) {
    std::vector<std::string> seen;
    for (std::string message; !(message = Next()).empty();) {
      seen.push_back(message);
      if (message.find("\"id\":" + std::to_string(id) + ",") != std::string::npos) break;
    }
    return seen;
  }
  beast::websocket::stream<tcp::socket> ws;
};

std::string SetWidth(int id, double value) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"setValue","arguments":{"id":"width","value":)" +
         std::to_string(value) + "}}}";
}

int Count(const std::vector<std::string>& messages, const std::string& part) {
  int n = 0;
  for (const auto& m : messages) n += m.find(part) != std::string::npos;
  return n;
}

}  // namespace

TEST(OrvelnodeWebSocket, ServesSeveralClientsAndSurvivesBadOnes) {
  orvel::ChildProcess node({ORVELNODE, "--listen", "0", SAMPLE_MANIFEST}, true);
  const auto banner = node.ReadLine();
  ASSERT_TRUE(banner.has_value());
  const std::size_t at = banner->rfind(':');
  ASSERT_NE(banner->find("listening on http://127.0.0.1:"), std::string::npos) << *banner;
  const auto port = static_cast<unsigned short>(std::stoi(banner->substr(at + 1)));

  Client a(port), b(port);
  a.Send(R"({"jsonrpc":"2.0","id":1,"method":"vorn.connect","params":{"contexts":["demo"]}})");
  EXPECT_NE(a.Next().find(R"("client":"ws-)"), std::string::npos);
  // A call from one client: its answer to it, the resulting events to both.
  a.Send(SetWidth(2, 300));
  const auto seenByA = a.UntilAnswer(2);
  EXPECT_EQ(Count(seenByA, "\"id\":2,\"result\""), 1);
  EXPECT_EQ(Count(seenByA, "vorn.modelChanged"), 1);
  b.Send(R"({"jsonrpc":"2.0","id":3,"method":"vorn.listContexts"})");
  const auto seenByB = b.UntilAnswer(3);
  EXPECT_EQ(Count(seenByB, "vorn.modelChanged"), 1);
  EXPECT_EQ(Count(seenByB, "\"event\":\"onModelChange\""), 1);

  // Bad frames are answered, too large ones cost their client its connection.
  b.Send("{not json");
  EXPECT_NE(b.Next().find("-32700"), std::string::npos);
  b.Send("{}", true);
  EXPECT_NE(b.Next().find("-32600"), std::string::npos);
  {
    Client huge(port);
    beast::error_code ec;
    huge.ws.write(net::buffer(std::string(2 << 20, ' ')), ec);
    EXPECT_TRUE(huge.Next().empty());
  }
  // Clients that leave abruptly, one in the middle of its call.
  for (int i = 0; i < 20; ++i) Connect(port).close();
  {
    Client leaving(port);
    leaving.Send(SetWidth(4, 400));
    leaving.ws.next_layer().close();
  }
  b.Send(R"({"jsonrpc":"2.0","id":5,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"getTree"}})");
  const auto after = b.UntilAnswer(5);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(Count(after, "vorn.modelChanged"), 1);  // the leaver's change reached the others
  EXPECT_NE(after.back().find("\"value\":400"), std::string::npos) << after.back();

  // The page's files over plain HTTP, and nothing outside them.
  for (const auto& [target, status] : std::vector<std::pair<std::string, int>>{{"/", 200}, {"/../CMakeLists.txt", 404}}) {
    beast::tcp_stream stream(Connect(port));
    http::request<http::empty_body> request(http::verb::get, target, 11);
    request.set(http::field::host, "127.0.0.1");
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    EXPECT_EQ(response.result_int(), status) << target;
  }

  node.WriteLine(R"({"jsonrpc":"2.0","id":9,"method":"shutdown"})");
  EXPECT_EQ(node.Wait(), 0);
}
