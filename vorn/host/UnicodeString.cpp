#include "vorn/host/UnicodeString.h"

#include <cstdint>
#include <cstring>

#include "vorn/host/Status.h"

namespace {

// Length of the well-formed UTF-8 sequence starting at p[0] (the ranges of
// the Unicode standard's table of well-formed byte sequences), or 0.
std::size_t WellFormedLength(const unsigned char* p, std::size_t avail) noexcept {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) return 1;
  auto in = [](unsigned char b, unsigned char lo, unsigned char hi) { return b >= lo && b <= hi; };
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (in(b0, 0xC2, 0xDF)) {
    n = 2;
  } else if (in(b0, 0xE0, 0xEF)) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;        // overlong
    else if (b0 == 0xED) hi = 0x9F;   // surrogates
  } else if (in(b0, 0xF0, 0xF4)) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;        // overlong
    else if (b0 == 0xF4) hi = 0x8F;   // above U+10FFFF
  } else {
    return 0;
  }
  if (avail < n || !in(p[1], lo, hi)) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (!in(p[i], 0x80, 0xBF)) return 0;
  return n;
}

}  // namespace

std::size_t KRTUnicodeString::FindIllFormedUTF8(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    // Eight ASCII bytes at a time: every message a client sends is checked,
    // and most are ASCII throughout.
    std::uint64_t word;
    if (text.size() - i >= sizeof word) {
      std::memcpy(&word, p + i, sizeof word);
      if (!(word & 0x8080808080808080ull)) {
        i += sizeof word;
        continue;
      }
    }
    const std::size_t n = WellFormedLength(p + i, text.size() - i);
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

KRTUnicodeString::KRTUnicodeString(const char* utf8) : m_utf8(utf8 ? utf8 : "") {}

KRTUnicodeString::KRTUnicodeString(std::string_view utf8) : m_utf8(utf8) {}

std::int32_t KRTUnicodeString::BuildFromUTF8(const char* utf8, std::size_t length) {
  if (!utf8) {
    if (length != 0) return KRT_E_INVALID_ARGUMENT;
    m_utf8.clear();
    return KRT_OK;
  }
  m_utf8.assign(utf8, length);
  return KRT_OK;
}

std::int32_t KRTUnicodeString::ConvertToUTF8(char* buffer, std::size_t* length) const {
  if (!length) return KRT_E_INVALID_ARGUMENT;
  const std::size_t needed = m_utf8.size();
  if (!buffer) {
    *length = needed;
    return KRT_OK;
  }
  if (*length < needed) {
    *length = needed;
    return KRT_E_BUFFER_TOO_SMALL;
  }
  if (needed) std::memcpy(buffer, m_utf8.data(), needed);
  *length = needed;
  return KRT_OK;
}

std::size_t KRTUnicodeString::GetLengthInChar() const noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(m_utf8.data());
  const std::size_t size = m_utf8.size();
  std::size_t count = 0;
  for (std::size_t i = 0; i < size; ++count) {
    const std::size_t n = WellFormedLength(p + i, size - i);
    i += n ? n : 1;
  }
  return count;
}

int KRTUnicodeString::Compare(const KRTUnicodeString& other) const noexcept {
  // std::string compares as unsigned char, which keeps code-point order.
  const int c = m_utf8.compare(other.m_utf8);
  return c < 0 ? kLess : (c > 0 ? kGreater : kEqual);
}
