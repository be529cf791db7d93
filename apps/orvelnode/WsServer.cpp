#include "WsServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {
constexpr std::size_t kMaxFrame = 1 << 20;
constexpr std::size_t kMaxBacklog = 16 << 20;
constexpr std::uint64_t kChannelBase = 1000;

const char* ContentType(const std::filesystem::path& file) {
  const std::string ext = file.extension().string();
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".js") return "text/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".png") return "image/png";
  if (ext == ".svg") return "image/svg+xml";
  if (ext == ".json") return "application/json";
  return "application/octet-stream";
}
}  // namespace

class WsSession;

// The connection's stand-in on the main thread.
class WsPeer final : public Peer {
public:
  WsPeer(WsServer::Impl& impl, std::uint64_t id, std::weak_ptr<WsSession> session)
      : m_impl(impl), m_id("ws-" + std::to_string(id)), m_channel(kChannelBase + id), m_session(std::move(session)) {}
  void Send(const std::string& message) override { SendShared(std::make_shared<const std::string>(message)); }
  void SendShared(const std::shared_ptr<const std::string>& message) override;
  const std::string& ClientId() const override { return m_id; }
  OVK::ChannelId Channel() const override { return m_channel; }

private:
  WsServer::Impl& m_impl;
  std::string m_id;
  OVK::ChannelId m_channel;
  std::weak_ptr<WsSession> m_session;
};

struct WsServer::Impl {
  Impl(RpcServer& rpc, std::string root) : server(rpc), webRoot(std::move(root)) {}

  RpcServer& server;
  std::string webRoot;
  net::io_context ioc;
  std::optional<tcp::acceptor> acceptor;
  std::thread thread;
  // Network thread only.
  std::uint64_t lastId = 0;
  std::map<std::uint64_t, std::weak_ptr<WsSession>> sessions;
  // Main thread only.
  std::map<std::uint64_t, std::unique_ptr<WsPeer>> peers;
  bool stopped = false;

  // Runs `work` on the main thread, unless the server has stopped by then.
  void ToMain(std::function<void()> work) {
    Vorn::SetTimeout([this, work = std::move(work)] {
      if (!stopped) work();
    }, 0);
  }
  void Accept();
};

class WsSession : public std::enable_shared_from_this<WsSession> {
public:
  WsSession(WsServer::Impl& impl, tcp::socket socket, std::uint64_t id)
      : m_impl(impl), m_ws(std::move(socket)), m_id(id) {}

  void Run(http::request<http::string_body> request) {
    m_ws.read_message_max(kMaxFrame);
    m_ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    m_ws.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (!ec) self->_Opened();
    });
  }

  // Network thread: queue one outgoing message.
  void Queue(const std::shared_ptr<const std::string>& message) {
    if (m_closed) return;
    m_backlog += message->size();
    if (m_backlog > kMaxBacklog) return Close();  // a client that does not read
    m_queue.push_back(message);
    if (m_queue.size() == 1) _Write();
  }

  void Close() {
    if (m_closed) return;
    m_closed = true;
    m_impl.sessions.erase(m_id);
    beast::error_code ignored;
    beast::get_lowest_layer(m_ws).socket().close(ignored);
    m_impl.ToMain([&impl = m_impl, id = m_id] {
      auto peer = impl.peers.find(id);
      if (peer == impl.peers.end()) return;
      impl.server.Close(peer->second.get());
      impl.peers.erase(peer);
    });
  }

private:
  void _Opened() {
    m_impl.sessions[m_id] = weak_from_this();
    m_impl.ToMain([&impl = m_impl, id = m_id, weak = weak_from_this()] {
      auto peer = std::make_unique<WsPeer>(impl, id, weak);
      impl.server.Open(peer.get());
      impl.peers.emplace(id, std::move(peer));
    });
    _Read();
  }
  void _Read() {
    m_ws.async_read(m_buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->_OnRead(ec); });
  }
  void _OnRead(beast::error_code ec) {
    if (ec) return Close();
    if (!m_ws.got_text()) {
      m_buffer.consume(m_buffer.size());
      Queue(std::make_shared<const std::string>(
          ErrorResponse(nullptr, -32600, "Invalid Request", "binary frames are not accepted").Stringify()));
      return _Read();
    }
    std::string text = beast::buffers_to_string(m_buffer.data());
    m_buffer.consume(m_buffer.size());
    m_impl.ToMain([&impl = m_impl, id = m_id, text = std::move(text)] {
      auto peer = impl.peers.find(id);
      if (peer != impl.peers.end()) impl.server.Handle(peer->second.get(), text);
    });
    _Read();
  }
  void _Write() {
    m_ws.text(true);
    m_ws.async_write(net::buffer(*m_queue.front()), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      self->m_backlog -= self->m_queue.front()->size();
      self->m_queue.pop_front();
      if (ec) return self->Close();
      if (!self->m_queue.empty()) self->_Write();
    });
  }

  WsServer::Impl& m_impl;
  websocket::stream<beast::tcp_stream> m_ws;
  std::uint64_t m_id;
  beast::flat_buffer m_buffer;
  std::deque<std::shared_ptr<const std::string>> m_queue;
  std::size_t m_backlog = 0;
  bool m_closed = false;
};

void WsPeer::SendShared(const std::shared_ptr<const std::string>& message) {
  net::post(m_impl.ioc, [session = m_session, message] {
    if (auto open = session.lock()) open->Queue(message);
  });
}

// Plain HTTP: the page's files, and the upgrade to WebSocket at "/rpc".
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
  HttpSession(WsServer::Impl& impl, tcp::socket socket) : m_impl(impl), m_stream(std::move(socket)) {}

  void Run() {
    m_parser.emplace();
    m_parser->body_limit(64 * 1024);
    m_stream.expires_after(std::chrono::seconds(30));
    http::async_read(m_stream, m_buffer, *m_parser,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->_OnRead(ec); });
  }

private:
  void _OnRead(beast::error_code ec) {
    if (ec) return _Shutdown();
    http::request<http::string_body> request = m_parser->release();
    const std::string target(request.target());
    if (websocket::is_upgrade(request)) {
      if (target != "/rpc") return _Respond(request, http::status::not_found, "text/plain", "no WebSocket here\n");
      m_stream.expires_never();
      std::make_shared<WsSession>(m_impl, m_stream.release_socket(), ++m_impl.lastId)->Run(std::move(request));
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head)
      return _Respond(request, http::status::method_not_allowed, "text/plain", "method not allowed\n");
    std::string path = target.substr(0, target.find('?'));
    if (path == "/") path = "/index.html";
    const std::filesystem::path file = std::filesystem::path(m_impl.webRoot) / path.substr(1);
    std::error_code fsError;
    if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos ||
        !std::filesystem::is_regular_file(file, fsError))
      return _Respond(request, http::status::not_found, "text/plain", "not found\n");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    _Respond(request, http::status::ok, ContentType(file), body.str());
  }

  void _Respond(const http::request<http::string_body>& request, http::status status, const char* type,
                std::string body) {
    auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
    response->set(http::field::server, "orvelnode");
    response->set(http::field::content_type, type);
    response->set(http::field::cache_control, "no-store");
    response->keep_alive(request.keep_alive());
    if (request.method() != http::verb::head) response->body() = std::move(body);
    response->prepare_payload();
    http::async_write(m_stream, *response, [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
      if (ec || !response->keep_alive()) return self->_Shutdown();
      self->Run();
    });
  }

  void _Shutdown() {
    beast::error_code ignored;
    m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  WsServer::Impl& m_impl;
  beast::tcp_stream m_stream;
  beast::flat_buffer m_buffer;
  std::optional<http::request_parser<http::string_body>> m_parser;
};

void WsServer::Impl::Accept() {
  acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor->is_open()) return;
    if (!ec) std::make_shared<HttpSession>(*this, std::move(socket))->Run();
    Accept();
  });
}

WsServer::WsServer(RpcServer& server, std::string webRoot) : m_impl(std::make_unique<Impl>(server, std::move(webRoot))) {}

WsServer::~WsServer() { Stop(); }

void WsServer::Start(const std::string& host, std::uint16_t port) {
  beast::error_code ec;
  const auto address = net::ip::make_address(host, ec);
  if (ec) throw std::runtime_error("cannot listen on '" + host + "': not an IP address");
  tcp::endpoint endpoint(address, port);
  m_impl->acceptor.emplace(m_impl->ioc);
  m_impl->acceptor->open(endpoint.protocol(), ec);
  if (!ec) m_impl->acceptor->set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) m_impl->acceptor->bind(endpoint, ec);
  if (!ec) m_impl->acceptor->listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message());
  m_port = m_impl->acceptor->local_endpoint().port();
  m_impl->Accept();
  m_impl->thread = std::thread([impl = m_impl.get()] { impl->ioc.run(); });
}

void WsServer::Stop() {
  if (!m_impl->thread.joinable()) return;
  net::post(m_impl->ioc, [impl = m_impl.get()] {
    beast::error_code ignored;
    impl->acceptor->close(ignored);
    for (auto& [id, weak] : std::map<std::uint64_t, std::weak_ptr<WsSession>>(impl->sessions))
      if (auto session = weak.lock()) session->Close();
    impl->ioc.stop();
  });
  m_impl->thread.join();
  m_impl->stopped = true;
  for (auto& [id, peer] : m_impl->peers) m_impl->server.Close(peer.get());
  m_impl->peers.clear();
}

bool ParseListenAddress(const std::string& text, std::string& host, std::uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  host = colon == std::string::npos || colon == 0 ? "127.0.0.1" : text.substr(0, colon);
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::stoul(digits);
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace orvel
