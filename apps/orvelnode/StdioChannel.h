#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "RpcServer.h"

namespace orvel {

// One client on standard input and output, one message per line.
//
// The main loop watches standard input (Vorn::WatchFd) and the main thread
// reads and handles the lines itself, so a request costs the idle host one
// thread wake-up. Where the loop cannot watch (an interactive host) a reader
// thread hands whole lines to the main thread instead, through the
// library's zero-delay timeouts. Either way each byte is scanned once. A
// line longer than the server's maxMessage is answered -32600 and its rest
// is skipped unread. Reading pauses while maxInFlight lines wait for their
// answers, and while more than kPauseOutput bytes of output are unwritten: a
// client that stops reading stops being read.
//
// Output never blocks the main thread: with nothing pending it is written
// at once while the pipe has room (the answers to the lines of one read
// together, in one write), the rest goes to a writer thread. A client that lets kMaxOutput bytes pile up unread (the
// host's own notifications keep coming) is taken as gone: its output is
// dropped and the host ends as at end of input. At Stop the writer gets
// kStopGrace to write what is queued, then gives up, so a stuck client
// cannot hold the host's exit.
class StdioChannel : public Peer {
public:
  static constexpr std::size_t kPauseOutput = 4u << 20;
  static constexpr std::size_t kMaxOutput = 64u << 20;
  static constexpr std::chrono::milliseconds kStopGrace{500};

  // `onEnd` runs on the main thread at end of input or when the client is
  // taken as gone. The descriptors default to standard input and output.
  StdioChannel(RpcServer& server, std::function<void()> onEnd, int in = STDIN_FILENO, int out = STDOUT_FILENO);
  ~StdioChannel() override;

  void Start();  // opens the peer and starts reading (main thread)
  void Stop();   // stops reading, closes the peer, flushes and joins (main thread)

  void Send(const std::shared_ptr<const std::string>& message) override;
  void Finished() override;
  const std::string& ClientId() const override { return m_clientId; }
  OVK::ChannelId Channel() const override { return OVK::ChannelId(1); }

private:
  using Items = std::vector<std::optional<std::string>>;
  void _Read();
  void _Write();
  void _Gone_NoLock_();
  bool _Deliver(const Items& items);
  // Appends the lines `data` completes to `items` (nothing for a line that
  // was too long); the rest waits in m_partial.
  void _Scan(const char* data, std::size_t size, Items& items);
  // The unended last line at end of input, if any.
  void _ScanEnd(Items& items);
  // Watched input (main thread): reads once, handles the lines, pauses.
  void _OnReadable();
  void _Watch();
  bool _CanRead_NoLock_() const;
  // Posts a resume of paused watched input to the main thread.
  void _ResumeLater_NoLock_();
  // Writes what it can of `data` now, without blocking; the bytes written.
  std::size_t _WriteNow(const char* data, std::size_t size);
  // Queues `text` for the writer thread (false: the client is taken as gone).
  bool _Queue_NoLock_(std::shared_ptr<const std::string> text, bool lineFeed);

  RpcServer& m_server;
  std::function<void()> m_onEnd;
  int m_in, m_out;
  bool m_outIsPipe = false;
  std::string m_clientId = "stdio";
  std::thread m_reader;
  int m_stopPipe[2] = {-1, -1};
  std::thread m_writer;

  std::mutex m_mutex;  // everything below
  std::condition_variable m_readCondition;
  std::condition_variable m_writeCondition;
  std::size_t m_inFlight = 0;
  bool m_readerStop = false;
  std::deque<std::shared_ptr<const std::string>> m_outgoing;
  std::size_t m_outgoingBytes = 0;
  bool m_writerStop = false;
  bool m_writerBusy = false;  // a batch is being written outside the lock
  bool m_gone = false;        // output is dropped from now on
  std::chrono::steady_clock::time_point m_giveUpAt;
  bool m_readPaused = false;    // watched input unwatched at a bound
  bool m_resumePosted = false;  // a resume is on its way to the main thread

  // Main thread only.
  bool m_open = false;
  std::uint32_t m_watch = 0;  // the input's watch while reading
  bool m_watched = false;     // input is read by the main loop, not a thread
  bool m_batching = false;    // answers go to m_batch until the read's lines are handled
  std::string m_batch;
  std::vector<char> m_buffer;
  // The reader's (thread or main loop): the line being read.
  std::string m_partial;
  bool m_skipping = false;  // inside a line that is too long
  std::size_t m_maxMessage = 0, m_maxInFlight = 0;
};

}  // namespace orvel
