#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

#include "RpcServer.h"

namespace orvel {

// One client on standard input and output, one message per line.
//
// A reader thread hands whole lines to the main thread (through the
// library's zero-delay timeouts), scanning each byte once. A line longer
// than the server's maxMessage is answered -32600 and its rest is skipped
// unread. Reading pauses while maxInFlight lines wait for their answers,
// and while more than kPauseOutput bytes of output are unwritten: a client
// that stops reading stops being read.
//
// Output never blocks the main thread: a short message with nothing pending
// is written at once when the pipe has room, everything else goes to a
// writer thread. A client that lets kMaxOutput bytes pile up unread (the
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
  void _Read();
  void _Write();
  void _Gone_NoLock_();
  bool _Deliver(const std::vector<std::optional<std::string>>& items);

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
  bool m_open = false;  // main thread only
};

}  // namespace orvel
