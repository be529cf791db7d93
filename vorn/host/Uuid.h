#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "vorn/host/HostExport.h"

// A 128-bit universally unique identifier (RFC 4122 layout).
class KRT_API KRTUuid {
public:
  using Bytes = std::array<unsigned char, 16>;

  // Text forms accepted by ToString.
  static constexpr int kFormatCanonical = 0;  // 8-4-4-4-12 lowercase hex digits, 36 characters
  static constexpr int kFormatBraced = 1;     // {8-4-4-4-12} uppercase, 38 characters
  static constexpr int kFormatCompact = 2;    // 32 lowercase hex digits
  // A buffer of this size holds every form with its terminator.
  static constexpr std::size_t kTextBufferSize = 48;

  // A fresh random identifier (version 4, variant 1) drawn from the
  // system's cryptographic random source.
  KRTUuid();
  explicit KRTUuid(const Bytes& bytes) noexcept : m_bytes(bytes) {}

  static KRTUuid Nil() noexcept { return KRTUuid(Bytes{}); }

  const Bytes& GetBytes() const noexcept { return m_bytes; }
  int Version() const noexcept { return m_bytes[6] >> 4; }

  // Writes the text form selected by `format`, with a terminator, into
  // `buffer` of `size` bytes. Returns KRT_OK; KRT_E_INVALID_ARGUMENT for a
  // null buffer or an unknown format; KRT_E_BUFFER_TOO_SMALL when the text
  // and terminator do not fit. On failure a buffer of at least one byte is
  // left holding the empty string.
  std::int32_t ToString(char* buffer, std::size_t size, int format) const noexcept;
  // The same text as a string; empty for an unknown format.
  std::string ToString(int format = kFormatCanonical) const;

  friend bool operator==(const KRTUuid& a, const KRTUuid& b) noexcept { return a.m_bytes == b.m_bytes; }

private:
  Bytes m_bytes;
};
