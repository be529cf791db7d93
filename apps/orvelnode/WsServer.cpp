#include "WsServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "WsConnection.h"
#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {
const char* ContentType(const std::filesystem::path& file) {
  const std::string ext = file.extension().string();
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".png") return "image/png";
  if (ext == ".svg") return "image/svg+xml";
  if (ext == ".json") return "application/json";
  return "application/octet-stream";
}

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

template <class Response>
void SetCommonHeaders(Response& response) {
  response.set(http::field::server, "orvelnode");
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("Referrer-Policy", "no-referrer");
  response.set("Content-Security-Policy", "default-src 'self'");
}
}  // namespace

class HttpSession;
class WsHandshake;

// Counts a connection from accept to its end, wherever it went on (the
// network thread, then the main thread for an open WebSocket).
struct ConnectionSlot {
  explicit ConnectionSlot(std::shared_ptr<std::atomic<std::size_t>> open) : count(std::move(open)) { ++*count; }
  ~ConnectionSlot() { --*count; }
  std::shared_ptr<std::atomic<std::size_t>> count;
};

// A descriptor on its way to the main thread, closed if it never gets there.
struct HandedFd {
  explicit HandedFd(int descriptor) : fd(descriptor) {}
  ~HandedFd() {
    if (fd >= 0) ::close(fd);
  }
  int Take() { return std::exchange(fd, -1); }
  int fd;
};

// Counts what the network thread serves, so that a stop waits for it.
struct NetworkLife {
  explicit NetworkLife(WsServer::Impl& impl);
  ~NetworkLife();
  WsServer::Impl& impl;
};

struct WsServer::Impl {
  Impl(RpcServer& rpc, std::filesystem::path root, WebOptions web)
      : server(rpc), webRoot(std::move(root)), options(std::move(web)), backOff(ioc), stopTimer(ioc) {}
  // Handlers still queued are destroyed with the io_context, after the
  // timers: what they end must not touch those any more.
  ~Impl() { timersGone = true; }

  RpcServer& server;
  std::filesystem::path webRoot;
  WebOptions options;
  std::shared_ptr<std::atomic<std::size_t>> connections = std::make_shared<std::atomic<std::size_t>>(0);
  // Network thread only (declared before the io_context, which outlives
  // none of them: sessions its handlers hold end with it).
  std::uint64_t lastId = 0;
  std::size_t networkOpen = 0;
  std::map<const void*, std::weak_ptr<HttpSession>> httpSessions;
  std::map<const void*, std::weak_ptr<WsHandshake>> handshakes;
  bool stopping = false;
  bool timersGone = false;
  // Handshaken connections on their way to the main thread: taken by a
  // queued callback, or by Stop when the main loop ended first.
  struct Arrival {
    std::shared_ptr<HandedFd> fd;
    std::uint64_t id;
    std::shared_ptr<ConnectionSlot> slot;
  };
  std::mutex arrivalsMutex;
  std::vector<Arrival> arrivals;
  // Main thread only.
  std::map<std::uint64_t, std::shared_ptr<WsConnection>> open;
  std::shared_ptr<WsFlushes> flushes = std::make_shared<WsFlushes>();
  bool stopped = false;

  net::io_context ioc;
  std::optional<tcp::acceptor> acceptor;
  net::steady_timer backOff;
  net::steady_timer stopTimer;
  std::thread thread;

  // Runs `work` on the main thread, unless the server has stopped by then.
  void ToMain(std::function<void()> work) {
    Vorn::SetTimeout([this, work = std::move(work)] {
      if (!stopped) work();
    }, 0);
  }
  // Network thread: hands a handshaken connection to the main thread.
  void Arrive(Arrival arrival) {
    std::lock_guard lock(arrivalsMutex);
    arrivals.push_back(std::move(arrival));
    if (arrivals.size() == 1) ToMain([this] { AdoptArrivals(); });
  }
  // Main thread: serves the connections that arrived.
  void AdoptArrivals() {
    std::vector<Arrival> taken;
    {
      std::lock_guard lock(arrivalsMutex);
      taken.swap(arrivals);
    }
    for (Arrival& arrival : taken) Adopt(arrival.fd->Take(), arrival.id, std::move(arrival.slot));
  }
  void Adopt(int fd, std::uint64_t id, std::shared_ptr<ConnectionSlot> slot) {
    auto connection = std::make_shared<WsConnection>(server, fd, id, std::move(slot), [this](std::uint64_t ended) {
      ToMain([this, ended] {
        auto found = open.find(ended);
        if (found == open.end()) return;
        server.Close(found->second.get());
        open.erase(found);
      });
    }, flushes);
    open.emplace(id, connection);
    connection->Start();
  }
  void Accept();
  void StopNetwork();
};

NetworkLife::NetworkLife(WsServer::Impl& owner) : impl(owner) { ++impl.networkOpen; }
NetworkLife::~NetworkLife() {
  if (--impl.networkOpen == 0 && impl.stopping && !impl.timersGone) impl.stopTimer.cancel();  // nothing left to wait for
}

// The WebSocket opening handshake (Beast answers it); the open connection
// then goes to the main thread, which serves it (WsConnection.h).
class WsHandshake : public std::enable_shared_from_this<WsHandshake> {
public:
  WsHandshake(WsServer::Impl& impl, tcp::socket socket, std::shared_ptr<ConnectionSlot> slot)
      : m_impl(impl), m_life(impl), m_ws(std::move(socket)), m_slot(std::move(slot)) {}
  ~WsHandshake() { m_impl.handshakes.erase(this); }

  void Run(http::request<http::string_body> request) {
    m_impl.handshakes[this] = weak_from_this();
    m_ws.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "orvelnode"); }));
    m_ws.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (!ec) self->_HandOver();
    });
  }
  void Close() {
    beast::error_code ignored;
    beast::get_lowest_layer(m_ws).socket().close(ignored);
  }

private:
  void _HandOver() {
    tcp::socket& socket = beast::get_lowest_layer(m_ws).socket();
    // A descriptor of its own: Asio's socket is closed here, on its thread.
    const int fd = ::fcntl(socket.native_handle(), F_DUPFD_CLOEXEC, 0);
    Close();
    if (fd < 0) return;
    auto handed = std::make_shared<HandedFd>(fd);
    if (!m_impl.stopping) m_impl.Arrive({std::move(handed), ++m_impl.lastId, std::move(m_slot)});
  }

  WsServer::Impl& m_impl;
  NetworkLife m_life;
  websocket::stream<beast::tcp_stream> m_ws;
  std::shared_ptr<ConnectionSlot> m_slot;
};

// Plain HTTP: the page's files, and the upgrade to WebSocket at "/rpc".
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
  HttpSession(WsServer::Impl& impl, tcp::socket socket)
      : m_impl(impl), m_life(impl), m_stream(std::move(socket)), m_slot(std::make_shared<ConnectionSlot>(impl.connections)) {}

  void Run() {
    m_impl.httpSessions[this] = weak_from_this();
    m_parser.emplace();
    m_parser->header_limit(16 * 1024);
    m_parser->body_limit(64 * 1024);
    m_stream.expires_after(std::chrono::seconds(30));
    http::async_read(m_stream, m_buffer, *m_parser,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->_OnRead(ec); });
  }

  void Close() {
    beast::error_code ignored;
    m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    m_stream.socket().close(ignored);
  }

  ~HttpSession() { m_impl.httpSessions.erase(this); }

private:
  void _OnRead(beast::error_code ec) {
    if (ec) return _Shutdown();
    http::request<http::string_body> request = m_parser->release();
    const AccessPolicy& access = m_impl.options.access;
    const std::string target(request.target());
    const std::string host(request[http::field::host]);
    const bool upgrade = websocket::is_upgrade(request);
    if (!HostAllowed(access, host)) return _Error(request, http::status::forbidden, "this host name is not served\n");
    // The page's cookie serves its files; the WebSocket needs the token itself.
    if (!TokenAccepted(access, target, View(request[http::field::authorization]), View(request[http::field::cookie]), !upgrade))
      return _Error(request, http::status::unauthorized, "a valid token is needed: open the address orvelnode printed\n");
    const std::string path = target.substr(0, target.find('?'));
    if (upgrade) {
      if (path != "/rpc") return _Error(request, http::status::not_found, "no WebSocket here\n");
      const auto origin = request.find(http::field::origin);
      if (!OriginAllowed(access, host,
                         origin == request.end() ? std::nullopt : std::optional<std::string_view>(View(origin->value()))))
        return _Error(request, http::status::forbidden, "pages of other origins may not connect\n");
      if (m_impl.stopping) return _Error(request, http::status::service_unavailable, "the host is ending\n");
      m_stream.expires_never();
      std::make_shared<WsHandshake>(m_impl, m_stream.release_socket(), std::move(m_slot))->Run(std::move(request));
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head)
      return _Error(request, http::status::method_not_allowed, "method not allowed\n");
    const auto file = ResolveWebFile(m_impl.webRoot, target);
    if (!file) return _Error(request, http::status::not_found, "not found\n");
    http::file_body::value_type body;
    body.open(file->c_str(), beast::file_mode::scan, ec);
    if (ec) return _Error(request, http::status::not_found, "not found\n");
    const std::uint64_t size = body.size();
    auto response = std::make_shared<http::response<http::file_body>>(http::status::ok, request.version());
    SetCommonHeaders(*response);
    response->set(http::field::content_type, ContentType(*file));
    // The page's own scripts and style sheets are fetched without the
    // query: the token opened the page, a cookie of this port serves the rest.
    if (!access.token.empty() && target.find("token=") != std::string::npos)
      response->set(http::field::set_cookie,
                    TokenCookieName(access.port) + "=" + access.token + "; Path=/; HttpOnly; SameSite=Strict");
    response->keep_alive(request.keep_alive());
    if (request.method() == http::verb::head) {
      response->content_length(size);
      auto head = std::make_shared<http::response<http::empty_body>>(http::status::ok, request.version());
      for (const auto& field : *response) head->set(field.name_string(), field.value());
      head->keep_alive(request.keep_alive());
      head->content_length(size);
      return _Send(head);
    }
    response->body() = std::move(body);
    response->prepare_payload();
    _Send(response);
  }

  void _Error(const http::request<http::string_body>& request, http::status status, const char* text) {
    auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
    SetCommonHeaders(*response);
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    if (status == http::status::unauthorized) response->set(http::field::www_authenticate, "Bearer");
    if (status == http::status::method_not_allowed) response->set(http::field::allow, "GET, HEAD");
    response->keep_alive(false);
    if (request.method() != http::verb::head) response->body() = text;
    response->prepare_payload();
    _Send(response);
  }

  template <class Response>
  void _Send(const std::shared_ptr<Response>& response) {
    http::async_write(m_stream, *response, [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
      if (ec || !response->keep_alive() || self->m_impl.stopping) return self->_Shutdown();
      self->Run();
    });
  }

  void _Shutdown() {
    beast::error_code ignored;
    m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  WsServer::Impl& m_impl;
  NetworkLife m_life;
  beast::tcp_stream m_stream;
  std::shared_ptr<ConnectionSlot> m_slot;
  beast::flat_buffer m_buffer;
  std::optional<http::request_parser<http::string_body>> m_parser;
};

void WsServer::Impl::Accept() {
  acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor->is_open() || stopping) return;
    if (ec) {
      // Out of descriptors (or another passing fault): try again later
      // instead of spinning on an error that will not clear at once.
      backOff.expires_after(std::chrono::milliseconds(kAcceptBackOffMs));
      backOff.async_wait([this](beast::error_code waited) {
        if (!waited && !stopping) Accept();
      });
      return;
    }
    if (*connections >= options.maxConnections) {
      static constexpr char kBusy[] =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      beast::error_code ignored;
      socket.non_blocking(true, ignored);
      socket.write_some(net::buffer(kBusy, sizeof kBusy - 1), ignored);
      socket.close(ignored);
    } else {
      // Answers and notifications are small and go out at once: Nagle's
      // algorithm would hold one back until the client's delayed ACK.
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<HttpSession>(*this, std::move(socket))->Run();
    }
    Accept();
  });
}

void WsServer::Impl::StopNetwork() {
  stopping = true;
  beast::error_code ignored;
  acceptor->close(ignored);
  backOff.cancel();
  for (auto& [key, weak] : std::map<const void*, std::weak_ptr<WsHandshake>>(handshakes))
    if (auto handshake = weak.lock()) handshake->Close();
  for (auto& [key, weak] : std::map<const void*, std::weak_ptr<HttpSession>>(httpSessions))
    if (auto session = weak.lock()) session->Close();
  if (networkOpen == 0) return;
  stopTimer.expires_after(std::chrono::milliseconds(kStopGraceMs));
  stopTimer.async_wait([this](beast::error_code) { ioc.stop(); });
}

WsServer::WsServer(RpcServer& server, std::string webRoot, WebOptions options) {
  std::error_code ec;
  std::filesystem::path root = std::filesystem::canonical(webRoot, ec);
  m_impl = std::make_unique<Impl>(server, ec ? std::filesystem::path(webRoot) : root, std::move(options));
}

WsServer::~WsServer() { Stop(); }

std::size_t WsServer::Connections() const { return m_impl->connections->load(); }

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
  m_impl->options.access.port = m_port;
  m_impl->options.access.loopback = address.is_loopback();
  m_impl->Accept();
  m_impl->thread = std::thread([impl = m_impl.get()] { impl->ioc.run(); });
}

void WsServer::Stop() {
  if (!m_impl->thread.joinable()) return;
  net::post(m_impl->ioc, [impl = m_impl.get()] { impl->StopNetwork(); });
  m_impl->thread.join();
  // The open WebSockets are the main thread's: each gets a close frame
  // after what is queued for it, and the clients' answers are awaited here
  // (the main loop has ended) for kStopGraceMs at most.
  Impl& impl = *m_impl;
  impl.AdoptArrivals();  // handshakes completed while the main loop was ending
  for (auto& [id, connection] : impl.open) connection->CloseGracefully();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
  std::vector<pollfd> polled;
  std::vector<WsConnection*> served;
  for (;;) {
    polled.clear();
    served.clear();
    for (auto& [id, connection] : impl.open)
      if (const short wanted = connection->Wanted()) {
        polled.push_back({connection->Fd(), wanted, 0});
        served.push_back(connection.get());
      }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (polled.empty() || left <= 0) break;
    if (::poll(polled.data(), polled.size(), static_cast<int>(left)) < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < polled.size(); ++i)
      if (polled[i].revents) served[i]->Serve(polled[i].revents);
  }
  impl.stopped = true;
  for (auto& [id, connection] : impl.open) {
    connection->End();
    impl.server.Close(connection.get());
  }
  impl.open.clear();
}

bool ParseListenAddress(const std::string& text, std::string& host, std::uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  host = colon == std::string::npos || colon == 0 ? "127.0.0.1" : text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::stoul(digits);
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace orvel
