#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RpcServer.h"
#include "WsFrames.h"

namespace orvel {

class WsConnection;

// A server's connections with notifications to write once the main
// thread's current pass ends (main thread only). One zero-delay timeout
// flushes them all: one per connection woke the main loop's scheduler once
// per client for each notification fanned out.
struct WsFlushes {
  std::vector<std::weak_ptr<WsConnection>> due;
  bool posted = false;  // stays set if a stopping loop drops the timeout
};

// One open WebSocket connection, served on the main thread: the main loop
// watches its socket (Vorn::WatchFd), and the main thread reads its frames,
// handles its messages and writes their answers itself, so that a request
// to an idle host costs one thread wake-up. The handshake happened before,
// on the network thread (WsServer.h).
//
// Answers to the messages of one read go out together after the read, in
// one system call while the socket has room; notifications sent outside a
// read go out together after the main thread's current pass. Writing never
// blocks: what the socket does not take waits for it to have room.
//
// Bounds: reading pauses while the server's maxInFlight messages of the
// connection wait for answers; a client that lets kMaxBacklog bytes of
// frames pile up unread is disconnected. Its pings are answered, its close
// is answered and ends the connection, a frame breaking the framing rules
// is answered with a close frame giving the reason.
class WsConnection final : public Peer, public std::enable_shared_from_this<WsConnection> {
public:
  static constexpr std::size_t kMaxBacklog = 16u << 20;

  // Takes `fd` (a connected, handshaken socket), which it closes. `onEnd`
  // runs once, on the main thread, when the connection has ended; `hold`
  // is released then (what counts the connection).
  WsConnection(RpcServer& server, int fd, std::uint64_t id, std::shared_ptr<void> hold,
               std::function<void(std::uint64_t)> onEnd, std::shared_ptr<WsFlushes> flushes);
  ~WsConnection() override;
  WsConnection(const WsConnection&) = delete;
  WsConnection& operator=(const WsConnection&) = delete;

  // Starts reading; false (and ended) when the main loop cannot watch the
  // socket (an interactive host's loop).
  bool Start();

  void Send(const std::shared_ptr<const std::string>& message) override;
  void Finished() override;
  const std::string& ClientId() const override { return m_clientId; }
  OVK::ChannelId Channel() const override { return m_channel; }

  // A close frame once what is queued is written; no message is handled
  // any more, and the connection ends when the client answers.
  void CloseGracefully();
  // Ends the connection now, without a close handshake.
  void End();
  bool Ended() const { return m_closed; }

  // For a stop that waits for the close handshakes without the main loop:
  // the descriptor, the poll events the connection waits for (0: none),
  // and serving what poll reported.
  int Fd() const { return m_fd; }
  short Wanted() const;
  void Serve(short revents);

private:
  struct Frame {
    std::shared_ptr<const std::string> payload;
    unsigned char header[10];
    unsigned char headerSize;
    WsOpcode opcode;
  };
  void _Parse();
  void _QueueFrame(WsOpcode opcode, std::shared_ptr<const std::string> payload);
  void _Flush();
  void _FlushLater();
  void _ResumeLater();
  void _SendClose(std::uint16_t code, bool endWhenSent);
  bool _Paused() const;
  void _Rewatch();

  RpcServer& m_server;
  int m_fd;
  std::uint64_t m_id;
  std::string m_clientId;
  OVK::ChannelId m_channel;
  std::shared_ptr<void> m_hold;
  std::function<void(std::uint64_t)> m_onEnd;

  std::uint32_t m_watch = 0;
  short m_watched = 0;  // the events of m_watch
  bool m_serving = false;  // inside Serve: output is written at its end
  bool m_flushPosted = false;  // in m_flushes->due
  std::shared_ptr<WsFlushes> m_flushes;
  bool m_resumePosted = false;

  WsFrameReader m_reader;
  std::vector<char> m_in;  // what the last read brought, used from m_inBegin
  std::size_t m_inBegin = 0;
  std::size_t m_inEnd = 0;
  std::size_t m_inFlight = 0;
  bool m_reading = true;  // false once the client's frames are done with

  std::deque<Frame> m_queue;
  std::size_t m_frontWritten = 0;  // bytes of the front frame already written
  std::size_t m_backlog = 0;       // payload bytes queued
  bool m_closing = false;          // a close frame is queued or sent
  bool m_endWhenSent = false;
  bool m_closed = false;
};

}  // namespace orvel
