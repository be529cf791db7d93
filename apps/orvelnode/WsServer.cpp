#include "WsServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "WsFrames.h"
#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {
constexpr std::uint64_t kChannelBase = 1000;
constexpr std::size_t kReadChunk = 16u << 10;

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

class WsSession;
class HttpSession;

// Counts a connection from accept to its end, wherever it went on.
struct ConnectionSlot {
  explicit ConnectionSlot(WsServer::Impl& impl);
  ~ConnectionSlot();
  WsServer::Impl& impl;
};

// The connection's stand-in on the main thread.
class WsPeer final : public Peer {
public:
  WsPeer(WsServer::Impl& impl, std::uint64_t id, std::weak_ptr<WsSession> session)
      : m_impl(impl), m_id("ws-" + std::to_string(id)), m_channel(kChannelBase + id), m_session(std::move(session)) {}
  void Send(const std::shared_ptr<const std::string>& message) override;
  void Finished() override;
  const std::string& ClientId() const override { return m_id; }
  OVK::ChannelId Channel() const override { return m_channel; }

private:
  WsServer::Impl& m_impl;
  std::string m_id;
  OVK::ChannelId m_channel;
  std::weak_ptr<WsSession> m_session;
  // What the main thread has for the network thread: answers and finished
  // messages gathered while one post is on its way, so that an answer and
  // its Finished (and the answers of a busy pass) wake that thread once.
  struct Outbox {
    std::mutex mutex;
    std::vector<std::shared_ptr<const std::string>> messages;
    std::size_t finished = 0;
    bool posted = false;
  };
  std::shared_ptr<Outbox> m_outbox = std::make_shared<Outbox>();
  void _Post();
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
  // Network thread only (declared before the io_context, which outlives
  // none of them: sessions its handlers hold end with it).
  std::uint64_t lastId = 0;
  std::map<std::uint64_t, std::weak_ptr<WsSession>> sessions;
  std::map<const void*, std::weak_ptr<HttpSession>> httpSessions;
  std::atomic<std::size_t> connections{0};
  bool stopping = false;
  bool timersGone = false;
  // Main thread only.
  std::map<std::uint64_t, std::unique_ptr<WsPeer>> peers;
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
  void Accept();
  void StopNetwork();
};

ConnectionSlot::ConnectionSlot(WsServer::Impl& owner) : impl(owner) { ++impl.connections; }
ConnectionSlot::~ConnectionSlot() {
  if (--impl.connections == 0 && impl.stopping && !impl.timersGone) impl.stopTimer.cancel();  // nothing left to wait for
}

class WsSession : public std::enable_shared_from_this<WsSession> {
public:
  WsSession(WsServer::Impl& impl, tcp::socket socket, std::uint64_t id, std::shared_ptr<ConnectionSlot> slot)
      : m_impl(impl),
        m_ws(std::move(socket)),
        m_id(id),
        m_slot(std::move(slot)),
        m_reader(impl.server.GetLimits().maxMessage),
        m_in(kReadChunk) {}

  // Beast answers the handshake; the frames after it are read and written
  // here (WsFrames.h says why).
  void Run(http::request<http::string_body> request) {
    m_ws.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "orvelnode"); }));
    m_ws.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (!ec) self->_Opened();
    });
  }

  // Network thread: queue one outgoing text message. Unless `write` is
  // false, writing starts at once; otherwise the caller queues more and
  // then calls Write, so that they go out together.
  void Queue(const std::shared_ptr<const std::string>& message, bool write = true) {
    if (!m_closing) _QueueFrame(WsOpcode::text, message, write);
  }
  void Write() {
    if (m_writing == 0 && !m_queue.empty() && !m_closed) _Write();
  }

  // A message of this connection was answered on the main thread.
  void OnFinished() {
    if (m_inFlight > 0) --m_inFlight;
    if (m_paused && m_inFlight < m_impl.server.GetLimits().maxInFlight && !m_closed) {
      m_paused = false;
      const auto held = std::move(m_keepAlive);  // _Parse may pause again and take it back
      _Parse();
    }
  }

  // A close frame once what is queued is written; the connection ends
  // when the client answers it (or when the server stops waiting).
  void CloseGracefully() { _SendClose(ws_close::goingAway, false); }

  void Close() {
    if (m_closed) return;
    m_closed = true;
    const auto self = shared_from_this();  // the last owner may be the one reset here
    m_keepAlive.reset();
    m_impl.sessions.erase(m_id);
    beast::error_code ignored;
    _Socket().close(ignored);
    m_impl.ToMain([&impl = m_impl, id = m_id] {
      auto peer = impl.peers.find(id);
      if (peer == impl.peers.end()) return;
      impl.server.Close(peer->second.get());
      impl.peers.erase(peer);
    });
  }

private:
  struct Frame {
    WsOpcode opcode;
    std::shared_ptr<const std::string> payload;
  };
  // One write takes the frames queued, up to about kWriteBytes: small
  // ones copied together, larger payloads sent from where they are, in at
  // most the 64 buffers Asio hands to one system call.
  static constexpr std::size_t kWriteBytes = 64u << 10;
  static constexpr std::size_t kCopiedPayload = 4u << 10;
  static constexpr std::size_t kMaxBuffers = 64;

  tcp::socket& _Socket() { return beast::get_lowest_layer(m_ws).socket(); }

  void _Opened() {
    m_impl.sessions[m_id] = weak_from_this();
    m_impl.ToMain([&impl = m_impl, id = m_id, weak = weak_from_this()] {
      auto peer = std::make_unique<WsPeer>(impl, id, weak);
      impl.server.Open(peer.get());
      impl.peers.emplace(id, std::move(peer));
    });
    if (m_impl.stopping) return CloseGracefully();
    _Read();
  }
  void _Read() {
    _Socket().async_read_some(net::buffer(m_in), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
      if (ec) return self->Close();
      self->m_inBegin = 0;
      self->m_inEnd = n;
      self->_Parse();
    });
  }
  // Takes the frames of what was read, one event at a time, until it is
  // all used (then reads on) or too many messages wait for answers.
  void _Parse() {
    const Limits& limits = m_impl.server.GetLimits();
    while (m_inBegin < m_inEnd) {
      m_inBegin += m_reader.Feed(m_in.data() + m_inBegin, m_inEnd - m_inBegin);
      switch (m_reader.Take()) {
        case WsFrameReader::Event::none:
        case WsFrameReader::Event::pong:
          break;
        case WsFrameReader::Event::message:
          if (!m_reader.IsText()) {
            Queue(std::make_shared<const std::string>(
                ErrorMessage("invalidRequest", "Invalid Request: binary frames are not accepted")));
            break;
          }
          ++m_inFlight;
          m_impl.ToMain([&impl = m_impl, id = m_id, text = std::move(m_reader.Message())] {
            if (auto peer = impl.peers.find(id); peer != impl.peers.end()) impl.server.Handle(peer->second.get(), text);
          });
          break;
        case WsFrameReader::Event::oversized:
          ++m_inFlight;
          m_impl.ToMain([&impl = m_impl, id = m_id] {
            if (auto peer = impl.peers.find(id); peer != impl.peers.end()) impl.server.RefuseOversized(peer->second.get());
          });
          break;
        case WsFrameReader::Event::ping:
          _QueueFrame(WsOpcode::pong, std::make_shared<const std::string>(m_reader.Control()));
          break;
        case WsFrameReader::Event::close:
          // The client's answer to ours ends the connection; its own close
          // is answered first.
          if (m_closing) return Close();
          return _SendClose(m_reader.CloseCode(), true);
        case WsFrameReader::Event::failed:
          return _SendClose(m_reader.CloseCode(), true);
      }
      if (m_closed) return;
      if (m_inFlight >= limits.maxInFlight) {
        m_paused = true;  // back-pressure: the client's writes wait in its own socket
        m_keepAlive = shared_from_this();  // no read is pending to hold the session meanwhile
        return;
      }
    }
    _Read();
  }
  void _QueueFrame(WsOpcode opcode, std::shared_ptr<const std::string> payload, bool write = true) {
    if (m_closed) return;
    m_backlog += payload->size();
    if (m_backlog > WsServer::kMaxBacklog) return Close();  // a client that does not read
    m_queue.push_back({opcode, std::move(payload)});
    if (write) Write();
  }
  // Writes what is queued, up to kWriteBytes, in one system call.
  void _Write() {
    struct Piece {
      const std::string* payload;  // null: bytes of m_out from `offset`
      std::size_t offset, size;
    };
    std::vector<Piece> pieces;
    m_out.clear();
    std::size_t run = 0;  // where the bytes of m_out not yet in a piece begin
    const auto endRun = [&] {
      if (m_out.size() > run) pieces.push_back({nullptr, run, m_out.size() - run});
      run = m_out.size();
    };
    for (m_writing = 0; m_writing < m_queue.size() && m_out.size() < kWriteBytes && pieces.size() + 3 <= kMaxBuffers;
         ++m_writing) {
      const Frame& frame = m_queue[m_writing];
      unsigned char header[10];
      m_out.append(reinterpret_cast<const char*>(header), WriteFrameHeader(frame.opcode, frame.payload->size(), header));
      if (frame.payload->size() <= kCopiedPayload) {
        m_out.append(*frame.payload);
      } else {
        endRun();
        pieces.push_back({frame.payload.get(), 0, frame.payload->size()});
      }
    }
    endRun();
    m_buffers.clear();
    for (const Piece& piece : pieces)
      m_buffers.emplace_back(piece.payload ? piece.payload->data() : m_out.data() + piece.offset, piece.size);
    net::async_write(_Socket(), m_buffers, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      self->_Written(ec);
    });
  }
  void _Written(beast::error_code ec) {
    bool closeSent = false;
    for (; m_writing > 0; --m_writing) {
      m_backlog -= m_queue.front().payload->size();
      closeSent = closeSent || m_queue.front().opcode == WsOpcode::close;
      m_queue.pop_front();
    }
    if (ec) return Close();
    if (closeSent) {
      // Answering the client's close (or a fault of its frames): the
      // server ends the connection. Its own close: the client answers.
      if (m_closeWhenSent) return Close();
      beast::error_code ignored;
      _Socket().shutdown(tcp::socket::shutdown_send, ignored);
      return;
    }
    if (!m_queue.empty()) _Write();
  }
  // Queues a close frame after what is queued; nothing is queued after it.
  void _SendClose(std::uint16_t code, bool closeWhenSent) {
    if (m_closed || m_closing) return;
    m_closing = true;
    m_closeWhenSent = closeWhenSent;
    const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    _QueueFrame(WsOpcode::close, std::make_shared<const std::string>(payload, 2));
  }

  WsServer::Impl& m_impl;
  websocket::stream<beast::tcp_stream> m_ws;  // for the handshake only
  std::uint64_t m_id;
  std::shared_ptr<ConnectionSlot> m_slot;
  WsFrameReader m_reader;
  std::vector<char> m_in;  // what the last read brought, used from m_inBegin
  std::size_t m_inBegin = 0;
  std::size_t m_inEnd = 0;
  std::size_t m_inFlight = 0;
  bool m_paused = false;
  std::shared_ptr<WsSession> m_keepAlive;  // set while paused
  std::deque<Frame> m_queue;
  std::size_t m_writing = 0;  // frames at the queue's front being written
  std::string m_out;  // the frames of the write on its way, copied
  std::vector<net::const_buffer> m_buffers;
  std::size_t m_backlog = 0;
  bool m_closing = false;
  bool m_closeWhenSent = false;
  bool m_closed = false;
};

void WsPeer::Send(const std::shared_ptr<const std::string>& message) {
  std::lock_guard lock(m_outbox->mutex);
  m_outbox->messages.push_back(message);
  _Post();
}

void WsPeer::Finished() {
  std::lock_guard lock(m_outbox->mutex);
  ++m_outbox->finished;
  _Post();
}

void WsPeer::_Post() {
  // A post already on its way takes what is added meanwhile, in order: it
  // runs before anything posted later.
  if (std::exchange(m_outbox->posted, true)) return;
  net::post(m_impl.ioc, [session = m_session, outbox = m_outbox] {
    std::vector<std::shared_ptr<const std::string>> messages;
    std::size_t finished;
    {
      std::lock_guard lock(outbox->mutex);
      messages.swap(outbox->messages);
      finished = std::exchange(outbox->finished, 0);
      outbox->posted = false;
    }
    const auto open = session.lock();
    if (!open) return;
    for (const auto& message : messages) open->Queue(message, false);
    open->Write();
    while (finished-- > 0) open->OnFinished();
  });
}

// Plain HTTP: the page's files, and the upgrade to WebSocket at "/rpc".
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
  HttpSession(WsServer::Impl& impl, tcp::socket socket)
      : m_impl(impl), m_stream(std::move(socket)), m_slot(std::make_shared<ConnectionSlot>(impl)) {}

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
      std::make_shared<WsSession>(m_impl, m_stream.release_socket(), ++m_impl.lastId, std::move(m_slot))
          ->Run(std::move(request));
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
    if (connections >= options.maxConnections) {
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
  for (auto& [id, weak] : std::map<std::uint64_t, std::weak_ptr<WsSession>>(sessions))
    if (auto session = weak.lock()) session->CloseGracefully();
  for (auto& [key, weak] : std::map<const void*, std::weak_ptr<HttpSession>>(httpSessions))
    if (auto session = weak.lock()) session->Close();
  if (connections == 0) return;
  stopTimer.expires_after(std::chrono::milliseconds(kStopGraceMs));
  stopTimer.async_wait([this](beast::error_code) { ioc.stop(); });
}

WsServer::WsServer(RpcServer& server, std::string webRoot, WebOptions options) {
  std::error_code ec;
  std::filesystem::path root = std::filesystem::canonical(webRoot, ec);
  m_impl = std::make_unique<Impl>(server, ec ? std::filesystem::path(webRoot) : root, std::move(options));
}

WsServer::~WsServer() { Stop(); }

std::size_t WsServer::Connections() const { return m_impl->connections.load(); }

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
  m_impl->stopped = true;
  for (auto& [id, peer] : m_impl->peers) m_impl->server.Close(peer.get());
  m_impl->peers.clear();
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
