#pragma once

#include <cstddef>
#include <cstdint>

#include "vorn/host/HostExport.h"

// Host text encodings.
class KRT_API KRTCodePage {
public:
  // Encodes `count` bytes as standard Base64 (RFC 4648 alphabet, "="
  // padding, no line breaks) into a new NUL-terminated text stored in
  // *text. The text is allocated with std::malloc: release it with FreeText
  // or std::free. Zero bytes give an allocated empty text.
  // Returns KRT_OK, or a negative status with *text set to null (when
  // `text` itself is not null): KRT_E_INVALID_ARGUMENT for a null `text`,
  // or null `bytes` with a non-zero count; KRT_E_NO_MEMORY when the text
  // cannot be allocated or its size does not fit in size_t.
  static std::int32_t ConvertToBase64(const unsigned char* bytes, std::size_t count, char** text);

  // Releases a text from ConvertToBase64; null is ignored.
  static void FreeText(char* text) noexcept;
};
