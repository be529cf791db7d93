#include "WsFrames.h"

#include <algorithm>

namespace orvel {

std::size_t WriteFrameHeader(WsOpcode opcode, std::uint64_t size, unsigned char out[10]) {
  out[0] = static_cast<unsigned char>(0x80 | static_cast<unsigned char>(opcode));
  if (size < 126) {
    out[1] = static_cast<unsigned char>(size);
    return 2;
  }
  const int bytes = size <= 0xFFFF ? 2 : 8;
  out[1] = bytes == 2 ? 126 : 127;
  for (int i = 0; i < bytes; ++i) out[2 + i] = static_cast<unsigned char>(size >> (8 * (bytes - 1 - i)));
  return 2 + static_cast<std::size_t>(bytes);
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) low = 0xA0;   // overlong
      if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) low = 0x90;   // overlong
      if (c == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (end - p <= extra || p[1] < low || p[1] > high) return false;
    for (int i = 2; i <= extra; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += extra + 1;
  }
  return true;
}

std::size_t WsFrameReader::Feed(const char* input, std::size_t size) {
  std::size_t used = 0;
  while (used < size && m_event == Event::none && !m_failed) {
    if (!m_inPayload) {
      m_header[m_headerSize++] = static_cast<unsigned char>(input[used++]);
      _HeaderComplete();
      continue;
    }
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size - used, m_remaining));
    const bool control = static_cast<unsigned char>(m_opcode) >= 8;
    if (control || !m_skipping) {
      std::string& into = control ? m_control : m_message;
      const std::size_t at = into.size();
      into.resize(at + take);
      for (std::size_t i = 0; i < take; ++i)
        into[at + i] = static_cast<char>(static_cast<unsigned char>(input[used + i]) ^ m_mask[(m_maskAt + i) & 3]);
    }
    m_maskAt += take;
    m_remaining -= take;
    used += take;
    if (m_remaining == 0) _FrameDone();
  }
  return used;
}

// Checks the header once it is whole and starts its payload; false while
// bytes of it are missing.
bool WsFrameReader::_HeaderComplete() {
  if (m_headerSize < 2) return false;
  const unsigned char first = m_header[0], second = m_header[1];
  const unsigned char length7 = second & 0x7F;
  const std::size_t lengthBytes = length7 == 126 ? 2 : length7 == 127 ? 8 : 0;
  if (m_headerSize == 2) {
    const unsigned char opcode = first & 0x0F;
    const bool known = opcode <= 2 || (opcode >= 8 && opcode <= 10);
    // Clients must mask; no extension was agreed, so no reserved bit may be set.
    if ((first & 0x70) != 0 || !known || (second & 0x80) == 0) return _Fail(ws_close::protocolError), false;
  }
  if (m_headerSize < 2 + lengthBytes + 4) return false;
  std::uint64_t length = length7;
  if (lengthBytes > 0) {
    length = 0;
    for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | m_header[2 + i];
    if (lengthBytes == 8 && (length >> 63) != 0) return _Fail(ws_close::protocolError), false;
  }
  std::copy_n(m_header + 2 + lengthBytes, 4, m_mask);
  m_headerSize = 0;
  m_maskAt = 0;
  m_fin = (first & 0x80) != 0;
  m_opcode = static_cast<WsOpcode>(first & 0x0F);
  m_remaining = length;
  if (static_cast<unsigned char>(m_opcode) >= 8) {
    if (!m_fin || length > 125) return _Fail(ws_close::protocolError), false;
    m_control.clear();
  } else {
    if ((m_opcode == WsOpcode::continuation) != m_inMessage) return _Fail(ws_close::protocolError), false;
    if (!m_inMessage) {
      m_inMessage = true;
      m_messageOpcode = m_opcode;
      m_messageSize = 0;
      m_skipping = false;
      m_message.clear();
    }
    m_messageSize += length;
    if (m_messageSize > m_maxMessage && !m_skipping) {
      m_skipping = true;  // its bytes are dropped as they come
      std::string().swap(m_message);
    }
    // Room for what is announced, up to a read's worth: a client announcing
    // a large frame and sending little gets no large buffer.
    if (!m_skipping) m_message.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(m_messageSize, 64u << 10)));
  }
  if (length == 0) {
    _FrameDone();
  } else {
    m_inPayload = true;
  }
  return true;
}

void WsFrameReader::_FrameDone() {
  m_inPayload = false;
  switch (m_opcode) {
    case WsOpcode::ping:
      m_event = Event::ping;
      return;
    case WsOpcode::pong:
      m_event = Event::pong;
      return;
    case WsOpcode::close: {
      m_closeCode = ws_close::normal;
      if (m_control.empty()) break;
      if (m_control.size() == 1) return _Fail(ws_close::protocolError);
      const auto* bytes = reinterpret_cast<const unsigned char*>(m_control.data());
      m_closeCode = static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
      // The codes a peer may send (the others are reserved or local only).
      const bool sendable = (m_closeCode >= 1000 && m_closeCode <= 1003) || (m_closeCode >= 1007 && m_closeCode <= 1011) ||
                            (m_closeCode >= 3000 && m_closeCode <= 4999);
      if (!sendable) return _Fail(ws_close::protocolError);
      if (!IsValidUtf8(std::string_view(m_control).substr(2))) return _Fail(ws_close::invalidData);
      break;
    }
    default:
      if (!m_fin) return;
      m_inMessage = false;
      if (m_skipping) {
        m_event = Event::oversized;
      } else if (m_messageOpcode == WsOpcode::text && !IsValidUtf8(m_message)) {
        _Fail(ws_close::invalidData);
      } else {
        m_event = Event::message;
      }
      return;
  }
  m_event = Event::close;
}

void WsFrameReader::_Fail(std::uint16_t code) {
  m_failed = true;
  m_event = Event::failed;
  m_closeCode = code;
}

}  // namespace orvel
