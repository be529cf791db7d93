// orvelnode's network side, from real clients. The access checks themselves
// are tested in process (ServerTests.cpp); here, that the handshake applies them.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ChildProcess.h"
#include "WsServer.h"

namespace {
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

net::io_context g_io;
const std::string kToken = "test-token-0123456789abcdef";

tcp::socket Connect(unsigned short port) {
  tcp::socket socket(g_io);
  socket.connect({net::ip::make_address("127.0.0.1"), port});
  timeval timeout{10, 0};  // no read waits forever
  setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return socket;
}

// orvelnode listening on a free port, with the test's token.
struct Node {
  explicit Node(std::vector<std::string> options = {}) : process(Args(std::move(options)), true) {
    // Warnings of the library may come first.
    auto banner = process.ReadLine();
    while (banner && banner->find("orvelnode: ") != 0) banner = process.ReadLine();
    if (!banner) return;
    const std::string expected = "listening on http://127.0.0.1:";
    const std::size_t at = banner->find(expected);
    EXPECT_NE(at, std::string::npos) << *banner;
    EXPECT_NE(banner->find("/?token=" + kToken), std::string::npos) << *banner;
    if (at != std::string::npos) port = static_cast<unsigned short>(std::stoi(banner->substr(at + expected.size())));
  }
  static std::vector<std::string> Args(std::vector<std::string> options) {
    std::vector<std::string> args{ORVELNODE, "--listen", "0", "--token", kToken};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(SAMPLE_MANIFEST);
    return args;
  }
  // Shut down (unless it has ended already), it exits cleanly.
  ~Node() {
    if (process.Wait(std::chrono::milliseconds(0)) < 0)
      process.WriteLine(R"({"jsonrpc":"2.0","id":99,"method":"shutdown"})");
    EXPECT_EQ(process.Wait(), 0);
  }
  orvel::ChildProcess process;
  unsigned short port = 0;
};

struct Client {
  explicit Client(unsigned short port) : ws(Connect(port)) {
    ws.handshake("127.0.0.1:" + std::to_string(port), "/rpc?token=" + kToken);
  }
  void Send(const std::string& text, bool binary = false) {
    ws.binary(binary);
    ws.write(net::buffer(text));
  }
  // The next message; empty once the connection is gone, or after 10 s
  // without one (a synchronous read would wait forever: Asio polls again
  // when the socket's own receive timeout expires).
  std::string Next() {
    beast::flat_buffer buffer;
    std::optional<beast::error_code> result;
    ws.async_read(buffer, [&result](beast::error_code ec, std::size_t) { result = ec; });
    g_io.restart();
    g_io.run_for(std::chrono::seconds(10));
    if (!result) {
      beast::error_code ignored;
      ws.next_layer().cancel(ignored);
      g_io.restart();
      g_io.run();
      return {};
    }
    return *result ? std::string() : beast::buffers_to_string(buffer.data());
  }
  websocket::stream<tcp::socket> ws;
};

http::response<http::string_body> Get(unsigned short port, const std::string& target,
                                      std::vector<std::pair<http::field, std::string>> fields = {},
                                      http::verb verb = http::verb::get) {
  beast::tcp_stream stream(Connect(port));
  http::request<http::empty_body> request(verb, target, 11);
  request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  for (const auto& [field, value] : fields) request.set(field, value);
  http::write(stream, request);
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.skip(verb == http::verb::head);  // its answer announces a body it does not send
  beast::error_code ec;
  http::read(stream, buffer, parser, ec);
  return parser.release();
}

}  // namespace

// A binary and an oversized frame are answered in their place (bad JSON in
// a text frame is the server's own answer, tested in process); then far
// more requests than may be in flight: the client's reads pause and resume,
// and every request is answered once, in order, on the same connection.
TEST(OrvelnodeWebSocket, EveryFrameIsAnsweredInOrderAlsoPastTheInFlightBound) {
  Node node({"--max-message", "4096"});
  Client eager(node.port);
  eager.Send(R"({"jsonrpc":"2.0","id":3,"method":"vorn.listContexts"})", true);
  EXPECT_NE(eager.Next().find("binary frames are not accepted"), std::string::npos);
  eager.Send(std::string(100000, ' '));
  EXPECT_NE(eager.Next().find("\"reason\":\"tooLarge\""), std::string::npos);
  for (int i = 0; i < 300; ++i) eager.Send(R"({"jsonrpc":"2.0","id":)" + std::to_string(1000 + i) + R"(,"method":"vorn.listContexts"})");
  int answered = 0;
  for (std::string message; answered < 300 && !(message = eager.Next()).empty();)
    if (message.find("\"id\":" + std::to_string(1000 + answered) + ",") != std::string::npos) ++answered;
  EXPECT_EQ(answered, 300);
}

// Changes reach every connected client, also a change of one that left.
TEST(OrvelnodeWebSocket, ClientsLeavingAbruptlyLeaveTheOthersServed) {
  Node node;
  Client b(node.port), c(node.port);
  for (Client* each : {&b, &c}) {
    each->Send(R"({"jsonrpc":"2.0","id":1,"method":"vorn.connect"})");
    EXPECT_NE(each->Next().find(R"("client":"ws-)"), std::string::npos);
  }
  for (int i = 0; i < 20; ++i) Connect(node.port).close();
  {  // one leaves in the middle of its call
    Client leaving(node.port);
    leaving.Send(R"({"jsonrpc":"2.0","id":4,"method":"vorn.setValue","params":{"context":"demo","object":"width","value":400}})");
    leaving.ws.next_layer().shutdown(tcp::socket::shutdown_send);
    while (!leaving.Next().empty()) {
    }
  }
  // Heard without asking: every listener's notifications are written.
  for (Client* each : {&b, &c}) EXPECT_NE(each->Next().find("vorn.modelChanged"), std::string::npos);
  b.Send(R"({"jsonrpc":"2.0","id":5,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"getTree"}})");
  const std::string answer = b.Next();
  EXPECT_NE(answer.find("\"value\":400"), std::string::npos) << answer;
}

TEST(OrvelnodeWebSocket, ShutdownSendsEveryClientACloseFrame) {
  Node node;
  Client a(node.port), b(node.port);
  node.process.WriteLine(R"({"jsonrpc":"2.0","id":9,"method":"shutdown"})");
  for (Client* client : {&a, &b}) {
    while (!client->Next().empty()) {
    }
    EXPECT_EQ(client->ws.reason().code, websocket::close_code::going_away);
  }
  EXPECT_EQ(node.process.Wait(), 0);
}

// With the token, the page comes with its headers and a cookie that opens
// the rest of its files; the WebSocket needs the token itself, from this
// host and origin.
TEST(OrvelnodeWebSocket, ServesThePageAndTheWebSocketToTheTokenFromThisHostAndOrigin) {
  Node node;
  const auto page = Get(node.port, "/?token=" + kToken);
  EXPECT_EQ(page.result_int(), 200);
  EXPECT_EQ(page["Content-Security-Policy"], "default-src 'self'");
  EXPECT_EQ(page["X-Content-Type-Options"], "nosniff");
  const std::string cookie = std::string(page[http::field::set_cookie]);
  EXPECT_NE(cookie.find("HttpOnly; SameSite=Strict"), std::string::npos) << cookie;
  EXPECT_EQ(Get(node.port, "/app.js", {{http::field::cookie, cookie.substr(0, cookie.find(';'))}}).result_int(), 200);
  EXPECT_EQ(Get(node.port, "/app.js").result_int(), 401);
  EXPECT_EQ(Get(node.port, "/app.js", {{http::field::authorization, "Bearer " + kToken}}, http::verb::head).result_int(), 200);
  EXPECT_EQ(Get(node.port, "/?token=" + kToken, {}, http::verb::post).result_int(), 405);
  const std::string port = std::to_string(node.port);
  const std::tuple<std::string, std::string, std::string, int> handshakes[] = {  // target, host, origin, status
      {"/rpc?token=" + kToken, "localhost:" + port, "http://localhost:" + port, 101},
      {"/rpc?token=wrong-token-0123456789ab", "127.0.0.1:" + port, "", 401},
      {"/rpc?token=" + kToken, "127.0.0.1:" + port, "http://evil.example", 403},
      {"/rpc?token=" + kToken, "rebind.evil.example:" + port, "", 403},
      {"/elsewhere?token=" + kToken, "127.0.0.1:" + port, "", 404},
  };
  for (const auto& [target, host, origin, status] : handshakes) {
    std::vector<std::pair<http::field, std::string>> fields{
        {http::field::host, host}, {http::field::upgrade, "websocket"}, {http::field::connection, "Upgrade"},
        {http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ=="}, {http::field::sec_websocket_version, "13"}};
    if (!origin.empty()) fields.emplace_back(http::field::origin, origin);
    EXPECT_EQ(Get(node.port, target, fields).result_int(), status) << target << " " << host << " " << origin;
  }
}

TEST(OrvelnodeWebSocket, ClosesConnectionsPastItsBound) {
  Node node({"--max-connections", "3"});
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<Client>(node.port));
  EXPECT_EQ(Get(node.port, "/?token=" + kToken).result_int(), 503);
  clients.pop_back();  // a place comes free
  int status = 503;  // until the server sees the close, a moment later
  for (int tries = 0; tries < 100 && status == 503; ++tries) {
    usleep(10000);
    status = Get(node.port, "/?token=" + kToken).result_int();
  }
  EXPECT_EQ(status, 200);
}

// The frames after the handshake are the server's own: a ping gets its
// pong before the answer sent after it, and a frame breaking the rules
// closes the connection with the code saying why.
TEST(OrvelnodeWebSocket, AnswersPingsAndClosesOnFramingFaultsWithTheirCode) {
  Node node;
  Client pinging(node.port);
  std::string pong;
  pinging.ws.control_callback([&pong](websocket::frame_type kind, beast::string_view payload) {
    if (kind == websocket::frame_type::pong) pong = std::string(payload);
  });
  pinging.ws.ping("hello");
  pinging.Send(R"({"jsonrpc":"2.0","id":1,"method":"vorn.listContexts"})");
  EXPECT_NE(pinging.Next().find("\"id\":1,\"result\""), std::string::npos);
  EXPECT_EQ(pong, "hello");
  // Which fault gives which code is the frame reader's (WsFramesTests.cpp).
  Client faulty(node.port);
  net::write(faulty.ws.next_layer(), net::buffer(std::string("\x81\x01{", 3)));  // not masked
  EXPECT_EQ(faulty.Next(), "");
  EXPECT_EQ(faulty.ws.reason().code, 1002);
}

// A client that sends and never reads: once its unread answers pass the
// backlog bound it is disconnected, having had fewer answers than it asked
// for, and the next client is served. The connection bound of one tells
// when it is gone without reading it.
TEST(OrvelnodeWebSocket, DisconnectsAClientThatLetsItsAnswersPileUp) {
  Node node({"--max-connections", "1"});
  Client deaf(node.port);
  // Its id comes back in the answer: large answers, cheap to make.
  const std::string request = R"({"jsonrpc":"2.0","id":")" + std::string(60000, 'x') + R"(","method":"nope"})";
  // Four times the bound in answers, more than it and the sockets' buffers.
  const std::size_t requests = 4 * orvel::WsServer::kMaxBacklog / request.size();
  beast::error_code ec;
  for (std::size_t i = 0; i < requests && !ec; ++i) deaf.ws.write(net::buffer(request), ec);
  int status = 503;
  for (int tries = 0; tries < 3000 && status == 503; ++tries) {
    usleep(10000);
    status = Get(node.port, "/?token=" + kToken).result_int();
  }
  EXPECT_EQ(status, 200);
  std::size_t answered = 0;
  while (answered < requests && !deaf.Next().empty()) ++answered;
  EXPECT_LT(answered, requests);
  std::unique_ptr<Client> next;  // once the server has seen the last check's connection go
  for (int tries = 0; tries < 100 && !next; ++tries) try {
      next = std::make_unique<Client>(node.port);
    } catch (const std::exception&) {
      usleep(10000);
    }
  ASSERT_TRUE(next);
  next->Send(R"({"jsonrpc":"2.0","id":2,"method":"vorn.listContexts"})");
  EXPECT_NE(next->Next().find("\"id\":2,\"result\""), std::string::npos);
}
