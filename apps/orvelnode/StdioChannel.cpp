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
  m_maxMessage = m_server.GetLimits().maxMessage;
  m_maxInFlight = m_server.GetLimits().maxInFlight;
  m_writer = std::thread([this] { _Write(); });
  _Watch();
  m_watched = m_watch != 0;
  if (!m_watched) m_reader = std::thread([this] { _Read(); });  // the loop cannot watch: a thread reads
}

void StdioChannel::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_readerStop = true;
  }
  if (m_watch) Vorn::UnwatchFd(std::exchange(m_watch, 0));  // already gone if the loop was stopped
  if (m_reader.joinable()) {
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
  _ResumeLater_NoLock_();
  std::fputs("orvelnode: the stdio client stopped reading its answers; it is taken as gone\n", stderr);
  Vorn::SetTimeout([this] {
    if (m_open) m_onEnd();
  }, 0);
}

std::size_t StdioChannel::_WriteNow(const char* data, std::size_t size) {
  // Only while the pipe polls writable, and at most PIPE_BUF at a time:
  // such a write completes whole without blocking.
  std::size_t done = 0;
  while (done < size) {
    pollfd out{m_out, POLLOUT, 0};
    if (poll(&out, 1, 0) != 1 || !(out.revents & POLLOUT)) break;
    const std::size_t piece = std::min<std::size_t>(size - done, PIPE_BUF);
    if (!m_outIsPipe && size - done > piece) break;  // a terminal or file: short lines only
    const ssize_t n = write(m_out, data + done, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the writer thread finds out what is wrong
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool StdioChannel::_Queue_NoLock_(std::shared_ptr<const std::string> text, bool lineFeed) {
  const std::size_t size = text->size() + (lineFeed ? 1 : 0);
  if (m_outgoingBytes + size > kMaxOutput) {
    _Gone_NoLock_();
    return false;
  }
  m_outgoingBytes += size;
  m_outgoing.push_back(std::move(text));
  if (lineFeed) m_outgoing.push_back(nullptr);
  m_writeCondition.notify_all();
  return true;
}

void StdioChannel::Send(const std::shared_ptr<const std::string>& message) {
  // The answers to the lines of one read are written together when they
  // are all handled (see _OnReadable): one write for many.
  if (m_batching) {
    (m_batch += *message) += '\n';
    return;
  }
  std::unique_lock lock(m_mutex);
  if (m_gone) return;
  // The usual case, a short answer with nothing pending and room in the
  // pipe, is written at once: a hop to the writer thread would add a thread
  // wake-up to every round trip.
  if (m_outgoing.empty() && !m_writerBusy && message->size() < PIPE_BUF) {
    char line[PIPE_BUF];
    std::memcpy(line, message->data(), message->size());
    line[message->size()] = '\n';
    const std::size_t length = message->size() + 1;
    const std::size_t n = _WriteNow(line, length);
    if (n == length) return;
    if (n > 0) {  // not a pipe after all: the writer finishes the line
      _Queue_NoLock_(std::make_shared<const std::string>(line + n, length - n), false);
      return;
    }
  }
  _Queue_NoLock_(message, true);
}

void StdioChannel::Finished() {
  bool resume = false;
  {
    std::lock_guard lock(m_mutex);
    if (m_inFlight > 0) --m_inFlight;
    // On the main thread (as the server calls it): watched input resumes here.
    if (m_readPaused && !m_batching && _CanRead_NoLock_()) {
      m_readPaused = false;
      resume = true;
    }
  }
  m_readCondition.notify_all();
  if (resume) _Watch();
}

bool StdioChannel::_CanRead_NoLock_() const {
  return !m_readerStop && m_inFlight < m_maxInFlight && (m_gone || m_outgoingBytes < kPauseOutput);
}

void StdioChannel::_ResumeLater_NoLock_() {
  if (!m_readPaused || m_resumePosted || !_CanRead_NoLock_()) return;
  m_resumePosted = true;
  Vorn::SetTimeout([this] {
    bool resume = false;
    {
      std::lock_guard lock(m_mutex);
      m_resumePosted = false;
      if (m_readPaused && _CanRead_NoLock_()) {
        m_readPaused = false;
        resume = true;
      }
    }
    if (resume && m_open) _Watch();
  }, 0);
}

void StdioChannel::_Watch() {
  m_watch = Vorn::WatchFd(m_in, POLLIN, [this](short) { _OnReadable(); });
}

void StdioChannel::_OnReadable() {
  if (!m_open || !m_watch) return;
  if (m_buffer.empty()) m_buffer.resize(1 << 16);
  const ssize_t n = read(m_in, m_buffer.data(), m_buffer.size());
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  Items items;
  if (n > 0) _Scan(m_buffer.data(), static_cast<std::size_t>(n), items);
  else _ScanEnd(items);  // end of input (or an error: nothing more will come)
  {
    std::lock_guard lock(m_mutex);
    m_inFlight += items.size();
  }
  m_batching = true;
  try {
    for (const auto& line : items) {
      if (!m_open) break;
      if (line) m_server.Handle(this, *line);
      else m_server.RefuseOversized(this);
    }
  } catch (...) {
    m_batching = false;
    m_batch.clear();
    throw;
  }
  m_batching = false;
  std::string batch = std::move(m_batch);
  m_batch = std::string();
  std::unique_lock lock(m_mutex);
  if (!batch.empty() && !m_gone) {
    std::size_t written = 0;
    if (m_outgoing.empty() && !m_writerBusy) written = _WriteNow(batch.data(), batch.size());
    if (written < batch.size()) _Queue_NoLock_(std::make_shared<const std::string>(batch, written), false);
  }
  if (n <= 0) {
    lock.unlock();
    Vorn::UnwatchFd(std::exchange(m_watch, 0));
    Vorn::SetTimeout([this] {
      if (m_open) m_onEnd();
    }, 0);
    return;
  }
  if (!_CanRead_NoLock_()) {
    m_readPaused = true;
    lock.unlock();
    Vorn::UnwatchFd(std::exchange(m_watch, 0));
  }
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
      _ResumeLater_NoLock_();  // the backlog shrank
    }
    m_readCondition.notify_all();
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
bool StdioChannel::_Deliver(const Items& items) {
  if (items.empty()) return true;
  {
    std::unique_lock lock(m_mutex);
    if (m_readerStop) return false;
    m_inFlight += items.size();
  }
  auto shared = std::make_shared<const Items>(items);
  Vorn::SetTimeout([this, shared] {
    for (const auto& line : *shared) {
      if (!m_open) return;
      if (line) m_server.Handle(this, *line);
      else m_server.RefuseOversized(this);
    }
  }, 0);
  return true;
}

void StdioChannel::_Scan(const char* p, std::size_t size, Items& items) {
  // Each byte is looked at once: only the new bytes are searched.
  const char* end = p + size;
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* stop = newline ? newline : end;
    if (!m_skipping) {
      if (m_partial.size() + static_cast<std::size_t>(stop - p) > m_maxMessage + 1) {
        m_skipping = true;
        m_partial = std::string();  // its memory goes too
      } else {
        m_partial.append(p, stop);
      }
    }
    if (!newline) break;
    if (m_skipping) {
      items.emplace_back();
      m_skipping = false;
    } else {
      if (!m_partial.empty() && m_partial.back() == '\r') m_partial.pop_back();
      if (!m_partial.empty()) items.emplace_back(std::move(m_partial));
      m_partial = std::string();
    }
    p = newline + 1;
  }
}

void StdioChannel::_ScanEnd(Items& items) {
  // A last line without its line feed still counts.
  if (m_skipping) items.emplace_back();
  else if (!m_partial.empty()) items.emplace_back(std::move(m_partial));
  m_skipping = false;
  m_partial = std::string();
}

void StdioChannel::_Read() {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      m_readCondition.wait(lock, [&] {
        return m_readerStop || (m_inFlight < m_maxInFlight && (m_gone || m_outgoingBytes < kPauseOutput));
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
    Items items;
    _Scan(buffer.data(), static_cast<std::size_t>(n), items);
    if (!_Deliver(items)) return;
  }
  Items last;
  _ScanEnd(last);
  _Deliver(last);
  Vorn::SetTimeout([this] {
    if (m_open) m_onEnd();
  }, 0);
}

}  // namespace orvel
