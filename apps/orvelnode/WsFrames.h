#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace orvel {

// The WebSocket framing of an established connection, server side, without
// I/O. Beast performs the opening handshake; the frames after it are ours,
// so that the server can write every frame queued for a client in one
// system call (a Beast stream writes one message per call, and its
// automatic control replies would interleave with writes it does not make).

enum class WsOpcode : unsigned char { continuation = 0, text = 1, binary = 2, close = 8, ping = 9, pong = 10 };

// RFC 6455 close codes the server sends.
namespace ws_close {
constexpr std::uint16_t normal = 1000;
constexpr std::uint16_t goingAway = 1001;
constexpr std::uint16_t protocolError = 1002;
constexpr std::uint16_t invalidData = 1007;
}  // namespace ws_close

// The header of an unmasked, final frame of `size` payload bytes; returns
// its length (2, 4 or 10) written to `out`.
std::size_t WriteFrameHeader(WsOpcode opcode, std::uint64_t size, unsigned char out[10]);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF), as a text message must be.
bool IsValidUtf8(std::string_view text);

// Reads a client's frames as bytes arrive. Feed consumes bytes up to the
// end of the input or of the next event, whichever comes first, so that a
// caller may stop taking messages (back-pressure) and feed the rest later.
//
// Data messages are put together from their fragments. One larger than
// `maxMessage` bytes is not kept: its bytes are dropped as they come and
// it ends as `oversized`. Control frames are reported whole. A violation
// of the framing rules (an unmasked frame, reserved bits, an unknown
// opcode, a fragmented or long control frame, a continuation out of
// place, text that is not UTF-8, a malformed close payload) ends the
// reader in `failed` with the close code to send; nothing is read after it.
class WsFrameReader {
public:
  enum class Event { none, message, oversized, ping, pong, close, failed };

  explicit WsFrameReader(std::size_t maxMessage) : m_maxMessage(maxMessage) {}

  // Consumes bytes of `input`; returns how many. After it, Take() tells
  // whether an event completed (none: all of `input` was consumed).
  std::size_t Feed(const char* input, std::size_t size);
  Event Take() { return std::exchange(m_event, Event::none); }

  // The message of the last `message` event, and whether it was text.
  std::string& Message() { return m_message; }
  bool IsText() const { return m_messageOpcode == WsOpcode::text; }
  // The payload of the last ping, pong or close.
  const std::string& Control() const { return m_control; }
  // The close code: the peer's (close; normal when it gave none) or the
  // one to answer a violation with (failed).
  std::uint16_t CloseCode() const { return m_closeCode; }

private:
  bool _HeaderComplete();
  void _FrameDone();
  void _Fail(std::uint16_t code);

  std::size_t m_maxMessage;
  Event m_event = Event::none;
  bool m_failed = false;
  // The frame being read.
  unsigned char m_header[14] = {};
  std::size_t m_headerSize = 0;
  bool m_inPayload = false;
  bool m_fin = false;
  WsOpcode m_opcode = WsOpcode::continuation;
  std::uint64_t m_remaining = 0;
  unsigned char m_mask[4] = {};
  std::size_t m_maskAt = 0;
  // The data message being put together.
  bool m_inMessage = false;
  WsOpcode m_messageOpcode = WsOpcode::text;
  std::uint64_t m_messageSize = 0;
  bool m_skipping = false;
  std::string m_message;
  std::string m_control;
  std::uint16_t m_closeCode = ws_close::normal;
};

}  // namespace orvel
