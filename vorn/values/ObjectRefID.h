#pragma once

#include <string>

#include "vorn/core/Export.h"

// 64-bit identifier by which remote objects are referred to. All ones marks
// an invalid identifier.
struct VORN_API VornObjectRefID {
  static constexpr unsigned long long _Invalid_ID = 0xFFFFFFFFFFFFFFFFull;

  constexpr VornObjectRefID() noexcept = default;
  constexpr VornObjectRefID(unsigned long long raw) noexcept : m_raw(raw) {}
  // Reads a hexadecimal number from the start of `text` ("ff", "0x1f" and
  // " 1a" are read; "xyz" is not); the identifier is invalid when nothing
  // can be read.
  explicit VornObjectRefID(const std::string& text);

  // Lower-case hexadecimal without prefix or leading zeros.
  std::string ToString() const;

  constexpr unsigned long long GetRawID() const noexcept { return m_raw; }
  constexpr bool IsValid() const noexcept { return m_raw != _Invalid_ID; }
  constexpr explicit operator bool() const noexcept { return IsValid(); }
  constexpr bool operator==(const VornObjectRefID& other) const noexcept { return m_raw == other.m_raw; }

private:
  unsigned long long m_raw = _Invalid_ID;
};
