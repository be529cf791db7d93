#include "StdioChannel.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

StdioChannel::StdioChannel(RpcServer& server, std::function<void()> onEndOfInput)
    : m_server(server), m_onEndOfInput(std::move(onEndOfInput)) {
  if (pipe(m_stopPipe) != 0) m_stopPipe[0] = m_stopPipe[1] = -1;
}

StdioChannel::~StdioChannel() {
  Stop();
  for (int fd : m_stopPipe)
    if (fd >= 0) close(fd);
}

void StdioChannel::Start() {
  m_server.Open(this);
  m_open = true;
  m_writer = std::thread([this] { _Write(); });
  m_reader = std::thread([this] { _Read(); });
}

void StdioChannel::Stop() {
  if (m_reader.joinable()) {
    const char stop = 1;
    [[maybe_unused]] ssize_t written = write(m_stopPipe[1], &stop, 1);
    m_reader.join();
  }
  if (m_open) {
    m_open = false;
    m_server.Close(this);
  }
  if (m_writer.joinable()) {
    {
      std::lock_guard lock(m_writeMutex);
      m_writerStop = true;  // after writing what is queued
    }
    m_writeCondition.notify_all();
    m_writer.join();
  }
}

void StdioChannel::Send(const std::string& message) {
  std::unique_lock lock(m_writeMutex);
  m_writeCondition.wait(lock, [this] { return m_outgoingBytes < (64u << 20) || m_writerStop; });
  m_outgoingBytes += message.size() + 1;
  m_outgoing.push_back(message);
  m_outgoing.back().push_back('\n');
  m_writeCondition.notify_all();
}

void StdioChannel::_Write() {
  bool clientGone = false;
  for (;;) {
    std::string batch;
    {
      std::unique_lock lock(m_writeMutex);
      m_writeCondition.wait(lock, [this] { return !m_outgoing.empty() || m_writerStop; });
      if (m_outgoing.empty()) return;
      // Whole messages only, several per write when they pile up.
      while (!m_outgoing.empty() && batch.size() < (1u << 16)) {
        batch += m_outgoing.front();
        m_outgoingBytes -= m_outgoing.front().size();
        m_outgoing.pop_front();
      }
      m_writeCondition.notify_all();
    }
    const char* at = batch.data();
    std::size_t left = batch.size();
    while (left > 0 && !clientGone) {
      const ssize_t n = write(STDOUT_FILENO, at, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) clientGone = true;  // nothing more can be said; keep draining the queue
      else at += n, left -= static_cast<std::size_t>(n);
    }
  }
}

void StdioChannel::_Read() {
  std::string pending;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) return;  // stopped: the host is ending
    const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer.data(), static_cast<std::size_t>(n));
    // Every complete line of this read goes to the main thread in one hop.
    auto lines = std::make_shared<std::vector<std::string>>();
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      std::size_t stop = end;
      if (stop > start && pending[stop - 1] == '\r') --stop;
      if (stop > start) lines->emplace_back(pending, start, stop - start);
    }
    pending.erase(0, start);
    if (!lines->empty())
      Vorn::SetTimeout([this, lines] {
        for (const std::string& line : *lines)
          if (m_open) m_server.Handle(this, line);
      }, 0);
  }
  // End of input: a last line without its line feed still counts.
  if (!pending.empty()) {
    auto last = std::make_shared<std::string>(std::move(pending));
    Vorn::SetTimeout([this, last] {
      if (m_open) m_server.Handle(this, *last);
    }, 0);
  }
  Vorn::SetTimeout([this] {
    if (m_open) m_onEndOfInput();
  }, 0);
}

}  // namespace orvel
