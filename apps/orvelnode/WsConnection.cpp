#include "WsConnection.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <utility>

#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

namespace {
constexpr std::uint64_t kChannelBase = 1000;
constexpr std::size_t kReadChunk = 16u << 10;
// One write takes the frames queued up to about kWriteBytes, headers and
// payloads where they are, in at most kMaxBuffers pieces.
constexpr std::size_t kWriteBytes = 256u << 10;
constexpr int kMaxBuffers = 128;
}  // namespace

WsConnection::WsConnection(RpcServer& server, int fd, std::uint64_t id, std::shared_ptr<void> hold,
                           std::function<void(std::uint64_t)> onEnd, std::shared_ptr<WsFlushes> flushes)
    : m_server(server),
      m_fd(fd),
      m_id(id),
      m_clientId("ws-" + std::to_string(id)),
      m_channel(kChannelBase + id),
      m_hold(std::move(hold)),
      m_onEnd(std::move(onEnd)),
      m_flushes(std::move(flushes)),
      m_reader(server.GetLimits().maxMessage),
      m_in(kReadChunk) {}

WsConnection::~WsConnection() {
  if (m_watch) Vorn::UnwatchFd(m_watch);
  if (m_fd >= 0) ::close(m_fd);
}

bool WsConnection::Start() {
  const int flags = ::fcntl(m_fd, F_GETFL);
  if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    End();
    return false;
  }
  m_server.Open(this);
  _Rewatch();
  if (!m_watch) End();
  return !m_closed;
}

void WsConnection::Send(const std::shared_ptr<const std::string>& message) {
  if (m_closing) return;
  _QueueFrame(WsOpcode::text, message);
  if (!m_serving) _FlushLater();
}

void WsConnection::Finished() {
  if (m_inFlight > 0) --m_inFlight;
  // Inside Serve its own end looks again; otherwise reading resumes.
  if (m_closed || m_serving || _Paused()) return;
  if (m_inBegin < m_inEnd)
    _ResumeLater();
  else
    _Rewatch();
}

void WsConnection::CloseGracefully() { _SendClose(ws_close::goingAway, false); }

void WsConnection::End() {
  if (m_closed) return;
  m_closed = true;
  if (m_watch) Vorn::UnwatchFd(m_watch);
  m_watch = 0;
  m_watched = 0;
  ::close(std::exchange(m_fd, -1));
  m_queue.clear();
  m_backlog = 0;
  m_hold.reset();
  if (auto onEnd = std::move(m_onEnd)) onEnd(m_id);
}

short WsConnection::Wanted() const {
  if (m_closed) return 0;
  short events = 0;
  if (m_reading && m_inBegin == m_inEnd && !_Paused()) events |= POLLIN;
  if (!m_queue.empty()) events |= POLLOUT;
  return events;
}

void WsConnection::Serve(short revents) {
  if (m_closed) return;
  const auto self = shared_from_this();  // what onEnd does must not end it under us
  const bool reading = Wanted() & POLLIN;
  m_serving = true;
  if (revents & POLLOUT) _Flush();
  if (!m_closed && reading && (revents & (POLLIN | POLLHUP | POLLERR))) {
    const ssize_t n = ::recv(m_fd, m_in.data(), m_in.size(), 0);
    if (n > 0) {
      m_inBegin = 0;
      m_inEnd = static_cast<std::size_t>(n);
      _Parse();
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      End();  // the client went away without a close frame
    }
  } else if (!m_closed && (revents & POLLNVAL)) {
    End();
  }
  m_serving = false;
  // The answers of what was read go out together.
  _Flush();
  _Rewatch();
  // Poll reports a hang-up unasked: a connection that waits for nothing
  // any more has no use for its socket.
  if (!m_closed && (revents & (POLLHUP | POLLERR)) && !m_reading) End();
}

bool WsConnection::_Paused() const { return m_inFlight >= m_server.GetLimits().maxInFlight; }

// Takes the frames of what was read, one event at a time, until it is all
// used or too many messages wait for answers (the rest waits in m_in).
void WsConnection::_Parse() {
  while (m_reading && m_inBegin < m_inEnd && !m_closed && !_Paused()) {
    m_inBegin += m_reader.Feed(m_in.data() + m_inBegin, m_inEnd - m_inBegin);
    switch (m_reader.Take()) {
      case WsFrameReader::Event::none:
      case WsFrameReader::Event::pong:
        break;
      case WsFrameReader::Event::message:
        if (m_closing) break;  // the server is ending the connection
        if (!m_reader.IsText()) {
          Send(std::make_shared<const std::string>(
              ErrorMessage("invalidRequest", "Invalid Request: binary frames are not accepted")));
          break;
        }
        ++m_inFlight;
        m_server.Handle(this, m_reader.Message());
        break;
      case WsFrameReader::Event::oversized:
        if (m_closing) break;
        ++m_inFlight;
        m_server.RefuseOversized(this);
        break;
      case WsFrameReader::Event::ping:
        if (!m_closing) _QueueFrame(WsOpcode::pong, std::make_shared<const std::string>(m_reader.Control()));
        break;
      case WsFrameReader::Event::close:
        // The client's answer to ours ends the connection; its own close is
        // answered first.
        m_reading = false;
        if (m_closing) return End();
        return _SendClose(m_reader.CloseCode(), true);
      case WsFrameReader::Event::failed:
        m_reading = false;
        return _SendClose(m_reader.CloseCode(), true);
    }
  }
}

void WsConnection::_QueueFrame(WsOpcode opcode, std::shared_ptr<const std::string> payload) {
  if (m_closed) return;
  m_backlog += payload->size();
  if (m_backlog > kMaxBacklog) return End();  // a client that does not read
  Frame frame{std::move(payload), {}, 0, opcode};
  frame.headerSize = static_cast<unsigned char>(WriteFrameHeader(opcode, frame.payload->size(), frame.header));
  m_queue.push_back(std::move(frame));
}

// Writes what is queued while the socket takes it.
void WsConnection::_Flush() {
  while (!m_closed && !m_queue.empty()) {
    iovec pieces[kMaxBuffers];
    int count = 0;
    std::size_t bytes = 0;
    std::size_t skip = m_frontWritten;
    const auto add = [&](const void* data, std::size_t size) {
      if (skip >= size) {
        skip -= size;
        return;
      }
      pieces[count++] = {const_cast<char*>(static_cast<const char*>(data)) + skip, size - skip};
      bytes += size - skip;
      skip = 0;
    };
    for (auto frame = m_queue.begin(); frame != m_queue.end() && count + 2 <= kMaxBuffers && bytes < kWriteBytes;
         ++frame) {
      add(frame->header, frame->headerSize);
      add(frame->payload->data(), frame->payload->size());
    }
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = static_cast<std::size_t>(count);
    const ssize_t written = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) End();
      return;  // the rest when the socket has room
    }
    bool closeSent = false;
    for (std::size_t left = static_cast<std::size_t>(written); left > 0;) {
      const Frame& front = m_queue.front();
      const std::size_t rest = front.headerSize + front.payload->size() - m_frontWritten;
      if (left < rest) {
        m_frontWritten += left;
        break;
      }
      left -= rest;
      m_frontWritten = 0;
      m_backlog -= front.payload->size();
      closeSent = closeSent || front.opcode == WsOpcode::close;
      m_queue.pop_front();
    }
    if (closeSent) {
      // Answering the client's close (or a fault of its frames): the
      // server ends the connection. Its own close: the client answers.
      if (m_endWhenSent) return End();
      ::shutdown(m_fd, SHUT_WR);
    }
  }
}

void WsConnection::_FlushLater() {
  if (m_flushPosted || m_closed) return;
  m_flushPosted = true;
  m_flushes->due.push_back(weak_from_this());
  if (std::exchange(m_flushes->posted, true)) return;
  Vorn::SetTimeout([weak = std::weak_ptr<WsFlushes>(m_flushes)] {
    const auto flushes = weak.lock();
    if (!flushes) return;
    flushes->posted = false;
    for (const auto& each : std::exchange(flushes->due, {})) {
      const auto self = each.lock();
      if (!self) continue;
      self->m_flushPosted = false;
      self->_Flush();
      self->_Rewatch();
    }
  }, 0);
}

void WsConnection::_ResumeLater() {
  if (m_resumePosted) return;
  m_resumePosted = true;
  Vorn::SetTimeout([weak = weak_from_this()] {
    const auto self = weak.lock();
    if (!self) return;
    self->m_resumePosted = false;
    if (self->m_closed) return;
    self->m_serving = true;
    self->_Parse();
    self->m_serving = false;
    self->_Flush();
    self->_Rewatch();
  }, 0);
}

void WsConnection::_SendClose(std::uint16_t code, bool endWhenSent) {
  if (m_closed || m_closing) return;
  m_closing = true;
  m_endWhenSent = endWhenSent;
  const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  _QueueFrame(WsOpcode::close, std::make_shared<const std::string>(payload, 2));
  if (!m_serving) {
    _Flush();
    _Rewatch();
  }
}

void WsConnection::_Rewatch() {
  const short wanted = Wanted();
  if (m_closed || wanted == m_watched) return;
  if (m_watch) Vorn::UnwatchFd(m_watch);
  m_watch = 0;
  m_watched = 0;
  if (!wanted) return;
  m_watch = Vorn::WatchFd(m_fd, wanted, [weak = weak_from_this()](short revents) {
    if (const auto self = weak.lock()) self->Serve(revents);
  });
  if (m_watch) m_watched = wanted;
}

}  // namespace orvel
