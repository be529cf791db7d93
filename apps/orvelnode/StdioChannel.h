#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "RpcServer.h"

namespace orvel {

// One client on standard input and output, one message per line. A thread
// of its own reads lines and hands them to the main thread (through the
// library's zero-delay timeouts); messages are written whole, under a lock,
// so lines never interleave. End of input ends the host.
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

  RpcServer& m_server;
  std::function<void()> m_onEndOfInput;
  std::string m_clientId = "stdio";
  std::thread m_reader;
  int m_stopPipe[2] = {-1, -1};
  std::mutex m_writeMutex;
  bool m_open = false;
};

}  // namespace orvel
