// The WebSocket framing the server reads and writes itself, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WsFrames.h"

namespace {
using orvel::WsFrameReader;
using orvel::WsOpcode;
using Event = WsFrameReader::Event;

// A client's frame: masked (unless told), final (unless told), reserved bits clear.
std::string Frame(WsOpcode opcode, const std::string& payload, bool fin = true, bool masked = true,
                  unsigned char extraBits = 0) {
  std::string out(1, static_cast<char>((fin ? 0x80 : 0) | extraBits | static_cast<unsigned char>(opcode)));
  const unsigned char mask = masked ? 0x80 : 0;
  if (payload.size() < 126) {
    out += static_cast<char>(mask | payload.size());
  } else {
    out += static_cast<char>(mask | 126);
    out += static_cast<char>(payload.size() >> 8);
    out += static_cast<char>(payload.size() & 0xFF);
  }
  const char key[4] = {0x12, 0x34, 0x56, 0x78};
  if (masked) out.append(key, 4);
  for (std::size_t i = 0; i < payload.size(); ++i) out += masked ? static_cast<char>(payload[i] ^ key[i & 3]) : payload[i];
  return out;
}

std::string Close(std::uint16_t code, const std::string& reason = "") {
  return Frame(WsOpcode::close, std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)} + reason);
}

// Every event of `bytes`, fed in pieces of `step` bytes, as "kind:payload".
std::vector<std::string> Events(const std::string& bytes, std::size_t step, std::size_t maxMessage = 100) {
  WsFrameReader reader(maxMessage);
  std::vector<std::string> events;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t piece = std::min(step, bytes.size() - at);
    std::size_t used = 0;
    while (used < piece) {
      const std::size_t n = reader.Feed(bytes.data() + at + used, piece - used);
      used += n;
      switch (reader.Take()) {
        case Event::none: break;
        case Event::message: events.push_back((reader.IsText() ? "text:" : "binary:") + reader.Message()); break;
        case Event::oversized: events.push_back("oversized"); break;
        case Event::ping: events.push_back("ping:" + reader.Control()); break;
        case Event::pong: events.push_back("pong:" + reader.Control()); break;
        case Event::close: events.push_back("close:" + std::to_string(reader.CloseCode())); break;
        case Event::failed: events.push_back("failed:" + std::to_string(reader.CloseCode())); return events;
      }
      if (n == 0) break;
    }
    at += piece;
  }
  return events;
}

}  // namespace

// Fragments put together around control frames, an oversized message
// dropped without stopping the next one, and the same events whatever
// pieces the bytes arrive in (all at once too: Feed stops at each event).
TEST(WsFrameReader, AssemblesMessagesAndReportsControlFramesWhateverTheReadSizes) {
  const std::string big(300, 'x'), limit(100, 'y');  // the reader keeps 100 bytes
  const std::string bytes = Frame(WsOpcode::text, "{\"a\":", false) + Frame(WsOpcode::ping, "p1") +
                            Frame(WsOpcode::continuation, "1}") + Frame(WsOpcode::binary, "\x01\x02") +
                            Frame(WsOpcode::text, big.substr(0, 60), false) + Frame(WsOpcode::continuation, big.substr(60)) +
                            Frame(WsOpcode::text, limit.substr(0, 40), false) + Frame(WsOpcode::continuation, limit.substr(40)) +
                            Frame(WsOpcode::text, "caf\xC3\xA9") + Frame(WsOpcode::pong, "") + Frame(WsOpcode::text, "") +
                            Close(1001, "bye") + Frame(WsOpcode::close, "");
  const std::vector<std::string> expected = {"ping:p1",  "text:{\"a\":1}", "binary:\x01\x02", "oversized", "text:" + limit, "text:caf\xC3\xA9",
                                             "pong:",    "text:",          "close:1001",      "close:1000"};
  for (std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{7}, bytes.size()}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(Events(bytes, step), expected);
  }
}

TEST(WsFrameReader, FailsOnFramingViolationsWithTheirCloseCode) {
  const struct {
    const char* what;
    std::string bytes;
    std::string event;
  } cases[] = {
      {"unmasked", Frame(WsOpcode::text, "a", true, false), "failed:1002"},
      {"reserved bit", Frame(WsOpcode::text, "a", true, true, 0x40), "failed:1002"},
      {"unknown opcode", Frame(static_cast<WsOpcode>(3), "a"), "failed:1002"},
      {"fragmented ping", Frame(WsOpcode::ping, "a", false), "failed:1002"},
      {"long ping", Frame(WsOpcode::ping, std::string(126, 'a')), "failed:1002"},
      {"continuation first", Frame(WsOpcode::continuation, "a"), "failed:1002"},
      {"text inside a message", Frame(WsOpcode::text, "a", false) + Frame(WsOpcode::text, "b"), "failed:1002"},
      {"text not UTF-8", Frame(WsOpcode::text, "\xC3("), "failed:1007"},
      {"close of one byte", Frame(WsOpcode::close, "\x03"), "failed:1002"},
      {"reserved close code", Close(1005), "failed:1002"},
      {"close reason not UTF-8", Close(1000, "\xFF"), "failed:1007"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Nothing after a violation is read.
    EXPECT_EQ(Events(c.bytes + Frame(WsOpcode::text, "after"), 5), std::vector<std::string>{c.event});
  }
}

TEST(WsFrames, HeadersUseTheShortestLengthAndUtf8IsChecked) {
  const struct {
    std::uint64_t size;
    std::string header;
  } sizes[] = {{0, std::string("\x81\x00", 2)},
               {125, "\x81\x7D"},
               {126, std::string("\x81\x7E\x00\x7E", 4)},
               {65535, "\x81\x7E\xFF\xFF"},
               {65536, std::string("\x81\x7F\x00\x00\x00\x00\x00\x01\x00\x00", 10)}};
  for (const auto& s : sizes) {
    unsigned char out[10];
    const std::size_t n = orvel::WriteFrameHeader(WsOpcode::text, s.size, out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), n), s.header) << s.size;
  }
  for (const char* valid : {"", "plain", "\xC2\x80", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(orvel::IsValidUtf8(valid)) << valid;
  for (const char* invalid : {"\x80", "\xC0\x80", "\xC2", "\xE0\x80\x80", "\xED\xA0\x80", "\xF0\x80\x80\x80",
                              "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82"})
    EXPECT_FALSE(orvel::IsValidUtf8(invalid)) << invalid;
}
