#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vorn/host/HostExport.h"

// The host's string: a value type holding UTF-8 bytes.
//
// The bytes are kept as given; nothing is validated or normalised, so a
// string built from malformed UTF-8 gives the same bytes back. The narrow
// form (CastToCharPtr, the conversion to const char*) is the UTF-8 text
// itself, terminated; it stops at the first embedded NUL, while View() and
// ConvertToUTF8 see every byte.
class KRT_API KRTUnicodeString {
public:
  // Compare() results. Only "equal" is part of the host's contract; the
  // other two let a caller order strings (subtract 2 for a strcmp-like sign).
  static constexpr int kLess = 1;
  static constexpr int kEqual = 2;
  static constexpr int kGreater = 3;

  KRTUnicodeString() = default;
  // From a NUL-terminated UTF-8 string; null gives the empty string.
  KRTUnicodeString(const char* utf8);  // NOLINT: implicit, like std::string
  explicit KRTUnicodeString(std::string_view utf8);
  KRTUnicodeString(const KRTUnicodeString&) = default;
  KRTUnicodeString(KRTUnicodeString&&) noexcept = default;
  KRTUnicodeString& operator=(const KRTUnicodeString&) = default;
  KRTUnicodeString& operator=(KRTUnicodeString&&) noexcept = default;
  ~KRTUnicodeString() = default;

  // Replaces the content with `length` bytes from `utf8`. Null with a
  // non-zero length is refused (KRT_E_INVALID_ARGUMENT) and leaves the
  // string unchanged; null with length 0 empties it.
  std::int32_t BuildFromUTF8(const char* utf8, std::size_t length);

  // Copies the UTF-8 bytes out; no terminator is written.
  // - `length` null: KRT_E_INVALID_ARGUMENT.
  // - `buffer` null: *length receives the byte count; returns KRT_OK.
  // - otherwise *length gives the buffer's capacity in bytes. If the bytes
  //   fit they are copied and *length receives their count; if not, nothing
  //   is written, *length receives the count needed and the result is
  //   KRT_E_BUFFER_TOO_SMALL.
  std::int32_t ConvertToUTF8(char* buffer, std::size_t* length) const;

  // The narrow (UTF-8) C string; never null, valid while the string is
  // alive and unchanged.
  const char* CastToCharPtr() const noexcept { return m_utf8.c_str(); }
  operator const char*() const noexcept { return m_utf8.c_str(); }  // NOLINT: the host's conversion

  // The offset of the first byte of `text` that is not part of a
  // well-formed UTF-8 sequence (as for GetLengthInChar), or npos when the
  // whole text is well formed.
  static std::size_t FindIllFormedUTF8(std::string_view text) noexcept;

  // Number of Unicode code points. Each byte that does not belong to a
  // well-formed UTF-8 sequence (stray continuation bytes, truncated or
  // overlong sequences, surrogates, values above U+10FFFF) counts as one.
  std::size_t GetLengthInChar() const noexcept;

  // Byte-wise comparison, which for well-formed UTF-8 is code-point order:
  // kLess, kEqual (2) or kGreater.
  int Compare(const KRTUnicodeString& other) const noexcept;

  std::string_view View() const noexcept { return m_utf8; }
  std::size_t SizeInBytes() const noexcept { return m_utf8.size(); }
  bool IsEmpty() const noexcept { return m_utf8.empty(); }

  friend bool operator==(const KRTUnicodeString& a, const KRTUnicodeString& b) noexcept {
    return a.m_utf8 == b.m_utf8;
  }
  // Content comparison with a C string (null compares equal to empty only);
  // declared so that `s == "text"` does not compare pointers.
  friend bool operator==(const KRTUnicodeString& a, const char* b) noexcept {
    return a.m_utf8 == std::string_view(b ? b : "");
  }

private:
  std::string m_utf8;
};
