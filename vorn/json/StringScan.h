#pragma once

// Internal: the scan for the bytes that end a plain run inside a JSON string
// (the quote, the backslash and control bytes), shared by the reader and the
// writer.

#include <bit>
#include <cstdint>
#include <cstring>

namespace Vorn::_Internal_ {

constexpr bool NeedsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// The first byte of [p, end) that needs escaping, or end. Eight bytes at a
// time: string bodies are most of a typical document, and most hold none.
inline const char* FindEscape(const char* p, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    while (end - p >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      const std::uint64_t quote = w ^ (kOnes * '"');
      const std::uint64_t slash = w ^ (kOnes * '\\');
      // A flag is set in the high bit of every byte that is zero (quote,
      // slash) or below 0x20 (w); the lowest flag always marks a real match.
      const std::uint64_t found =
          (((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((w - kOnes * 0x20) & ~w)) & kHigh;
      if (found) return p + (std::countr_zero(found) >> 3);
      p += 8;
    }
  }
  while (p < end && !NeedsEscape(static_cast<unsigned char>(*p))) ++p;
  return p;
}

}  // namespace Vorn::_Internal_
