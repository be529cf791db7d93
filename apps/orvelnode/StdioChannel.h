#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "RpcServer.h"

namespace orvel {

// One client on standard input and output, one message per line. A thread
// of its own reads lines and hands them to the main thread (through the
// library's zero-delay timeouts). A short message with nothing pending is
// written at once when the pipe has room; everything else goes to a writer
// thread, so a client that reads slowly never stalls the main thread (or the
// other clients). Messages are written whole and in order; past 64 MiB of
// unwritten output, senders wait. End of input ends the host.
class StdioChannel : public Peer {
public:
  StdioChannel(RpcServer& server, std::function<void()> onEndOfInput);
  ~StdioChannel() override;

  void Start();  // opens the peer and starts reading (main thread)
  void Stop();   // stops reading and joins the reader (main thread)

  void Send(const std::string& message) override;
  const std::string& ClientId() const override { return m_clientId; }
  OVK::ChannelId Channel() const override { return OVK::ChannelId(1); }

private:
  void _Read();
  void _Write();

  RpcServer& m_server;
  std::function<void()> m_onEndOfInput;
  std::string m_clientId = "stdio";
  std::thread m_reader;
  int m_stopPipe[2] = {-1, -1};
  std::thread m_writer;
  std::mutex m_writeMutex;
  std::condition_variable m_writeCondition;
  std::deque<std::string> m_outgoing;
  std::size_t m_outgoingBytes = 0;
  bool m_writerStop = false;
  bool m_writerBusy = false;  // a batch is being written outside the lock
  bool m_open = false;
};

}  // namespace orvel
