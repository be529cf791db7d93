#include "StdioChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vorn/runtime/MainThreadManager.h"

namespace orvel {

StdioChannel::StdioChannel(RpcServer& server, std::function<void()> onEnd, int in, int out)
    : m_server(server), m_onEnd(std::move(onEnd)), m_in(in), m_out(out) {
  if (pipe2(m_stopPipe, O_CLOEXEC) != 0) m_stopPipe[0] = m_stopPipe[1] = -1;
  struct stat info {};
  m_outIsPipe = fstat(m_out, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
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
    {
      std::lock_guard lock(m_mutex);
      m_readerStop = true;
    }
    m_readCondition.notify_all();
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
      std::lock_guard lock(m_mutex);
      m_writerStop = true;  // after writing what is queued, within the grace time
      m_giveUpAt = std::chrono::steady_clock::now() + kStopGrace;
    }
    m_writeCondition.notify_all();
    m_writer.join();
  }
}

void StdioChannel::_Gone_NoLock_() {
  if (m_gone) return;
  m_gone = true;
  m_outgoing.clear();
  m_outgoingBytes = 0;
  m_readCondition.notify_all();
  std::fputs("orvelnode: the stdio client stopped reading its answers; it is taken as gone\n", stderr);
  Vorn::SetTimeout([this] {
    if (m_open) m_onEnd();
  }, 0);
}

void StdioChannel::Send(const std::shared_ptr<const std::string>& message) {
  std::unique_lock lock(m_mutex);
  if (m_gone) return;
  // The usual case, a short answer with nothing pending and room in the
  // pipe, is written at once: a hop to the writer thread would add a thread
  // wake-up to every round trip. A write of less than PIPE_BUF bytes into a
  // pipe that polls writable completes whole without blocking.
  if (m_outgoing.empty() && !m_writerBusy && message->size() < PIPE_BUF) {
    pollfd out{m_out, POLLOUT, 0};
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT)) {
      char line[PIPE_BUF];
      std::memcpy(line, message->data(), message->size());
      line[message->size()] = '\n';
      const std::size_t length = message->size() + 1;
      ssize_t n;
      do n = write(m_out, line, length);
      while (n < 0 && errno == EINTR);
      if (n == static_cast<ssize_t>(length)) return;
      if (n > 0) {  // not a pipe after all: the writer finishes the line
        m_outgoing.push_back(std::make_shared<const std::string>(line + n, length - static_cast<std::size_t>(n)));
        m_outgoingBytes += m_outgoing.back()->size();
        m_writeCondition.notify_all();
        return;
      }
    }
  }
  if (m_outgoingBytes + message->size() + 1 > kMaxOutput) return _Gone_NoLock_();
  m_outgoingBytes += message->size() + 1;
  m_outgoing.push_back(message);
  m_outgoing.push_back(nullptr);  // the line feed
  m_writeCondition.notify_all();
}

void StdioChannel::Finished() {
  {
    std::lock_guard lock(m_mutex);
    if (m_inFlight > 0) --m_inFlight;
  }
  m_readCondition.notify_all();
}

void StdioChannel::_Write() {
  bool clientGone = false;
  for (;;) {
    std::string batch;
    {
      std::unique_lock lock(m_mutex);
      m_writeCondition.wait(lock, [this] { return !m_outgoing.empty() || m_writerStop; });
      if (m_outgoing.empty()) return;
      // Whole messages only, several per write when they pile up.
      while (!m_outgoing.empty() && batch.size() < (1u << 16)) {
        const auto& piece = m_outgoing.front();
        if (piece) batch += *piece, m_outgoingBytes -= piece->size();
        else batch += '\n', m_outgoingBytes -= 1;
        m_outgoing.pop_front();
      }
      m_writerBusy = true;  // no direct write may overtake this batch
    }
    m_readCondition.notify_all();  // the backlog shrank
    const char* at = batch.data();
    std::size_t left = batch.size();
    while (left > 0 && !clientGone) {
      pollfd out{m_out, POLLOUT, 0};
      const int ready = poll(&out, 1, 100);
      if (ready < 0 && errno != EINTR) clientGone = true;
      if (ready <= 0) {
        std::lock_guard lock(m_mutex);
        if (m_writerStop && std::chrono::steady_clock::now() >= m_giveUpAt) clientGone = true;
        continue;
      }
      if (out.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        clientGone = true;
        break;
      }
      // At most PIPE_BUF into a pipe that polled writable: never blocks.
      const ssize_t n = write(m_out, at, m_outIsPipe ? std::min<std::size_t>(left, PIPE_BUF) : left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) clientGone = true;  // nothing more can be said; keep draining the queue
      else at += n, left -= static_cast<std::size_t>(n);
    }
    std::lock_guard lock(m_mutex);
    m_writerBusy = false;
    if (clientGone) m_gone = true;
  }
}

// Hands lines (nothing: a line that was too long) to the main thread; false
// once the host stopped the reader.
bool StdioChannel::_Deliver(const std::vector<std::optional<std::string>>& items) {
  if (items.empty()) return true;
  {
    std::unique_lock lock(m_mutex);
    if (m_readerStop) return false;
    m_inFlight += items.size();
  }
  auto shared = std::make_shared<const std::vector<std::optional<std::string>>>(items);
  Vorn::SetTimeout([this, shared] {
    for (const auto& line : *shared) {
      if (!m_open) return;
      if (line) m_server.Handle(this, *line);
      else m_server.RefuseOversized(this);
    }
  }, 0);
  return true;
}

void StdioChannel::_Read() {
  const std::size_t maxMessage = m_server.GetLimits().maxMessage;
  const std::size_t maxInFlight = m_server.GetLimits().maxInFlight;
  std::string pending;
  bool skipping = false;  // inside a line that is too long
  std::vector<char> buffer(1 << 16);
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      m_readCondition.wait(lock, [&] {
        return m_readerStop || (m_inFlight < maxInFlight && (m_gone || m_outgoingBytes < kPauseOutput));
      });
      if (m_readerStop) return;
    }
    pollfd fds[2] = {{m_in, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) return;  // stopped: the host is ending
    const ssize_t n = read(m_in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // Each byte is looked at once: only the new bytes are searched.
    std::vector<std::optional<std::string>> items;
    const char* p = buffer.data();
    const char* end = p + n;
    while (p < end) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      const char* stop = newline ? newline : end;
      if (!skipping) {
        if (pending.size() + static_cast<std::size_t>(stop - p) > maxMessage + 1) {
          skipping = true;
          pending = std::string();  // its memory goes too
        } else {
          pending.append(p, stop);
        }
      }
      if (!newline) break;
      if (skipping) {
        items.emplace_back();
        skipping = false;
      } else {
        if (!pending.empty() && pending.back() == '\r') pending.pop_back();
        if (!pending.empty()) items.emplace_back(std::move(pending));
        pending = std::string();
      }
      p = newline + 1;
    }
    if (!_Deliver(items)) return;
  }
  // End of input: a last line without its line feed still counts.
  if (skipping) _Deliver({std::nullopt});
  else if (!pending.empty()) _Deliver({std::move(pending)});
  Vorn::SetTimeout([this] {
    if (m_open) m_onEnd();
  }, 0);
}

}  // namespace orvel
