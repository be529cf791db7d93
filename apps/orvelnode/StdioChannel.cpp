#include "StdioChannel.h"

#include <poll.h>
#include <unistd.h>

#include <climits>
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
  // The usual case, a short answer with nothing pending and room in the
  // pipe, is written at once: a hop to the writer thread would add a thread
  // wake-up to every round trip. A write of at most PIPE_BUF bytes into a
  // pipe that polls writable completes whole without blocking.
  if (m_outgoing.empty() && !m_writerBusy && message.size() < PIPE_BUF) {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT)) {
      std::string line;
      line.reserve(message.size() + 1);
      line.append(message).push_back('\n');
      ssize_t n;
      do n = write(STDOUT_FILENO, line.data(), line.size());
      while (n < 0 && errno == EINTR);
      if (n == static_cast<ssize_t>(line.size())) return;
      if (n > 0) {  // not a pipe after all: the writer finishes the line
        m_outgoing.push_back(line.substr(static_cast<std::size_t>(n)));
        m_outgoingBytes += m_outgoing.back().size();
        m_writeCondition.notify_all();
        return;
      }
    }
  }
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
      m_writerBusy = true;  // no direct write may overtake this batch
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
    std::lock_guard lock(m_writeMutex);
    m_writerBusy = false;
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
