#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "vorn/host/HostExport.h"
#include "vorn/host/UnicodeString.h"

namespace OVK {

// An opaque buffer of bytes, copied by value.
class KRT_API Binary {
public:
  Binary() = default;
  // Copies `size` bytes from `data`; null data gives an empty buffer.
  Binary(const void* data, std::size_t size);
  explicit Binary(std::vector<unsigned char> bytes) noexcept : m_bytes(std::move(bytes)) {}

  // Null when empty.
  const unsigned char* data() const noexcept { return m_bytes.empty() ? nullptr : m_bytes.data(); }
  std::size_t size() const noexcept { return m_bytes.size(); }
  bool empty() const noexcept { return m_bytes.empty(); }
  // The bytes seen as text (no encoding is implied).
  std::string_view AsStringView() const noexcept {
    return {reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size()};
  }

  friend bool operator==(const Binary& a, const Binary& b) noexcept { return a.m_bytes == b.m_bytes; }

private:
  std::vector<unsigned char> m_bytes;
};

class KRT_API BinaryWriter {
public:
  // A buffer holding the string's UTF-8 bytes, without a terminator.
  static Binary FromString(const KRTUnicodeString& text);
};

}  // namespace OVK
