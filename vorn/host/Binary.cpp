#include "vorn/host/Binary.h"

namespace OVK {

Binary::Binary(const void* data, std::size_t size) {
  if (data && size) {
    const auto* p = static_cast<const unsigned char*>(data);
    m_bytes.assign(p, p + size);
  }
}

Binary BinaryWriter::FromString(const KRTUnicodeString& text) {
  const std::string_view bytes = text.View();
  return Binary(bytes.data(), bytes.size());
}

}  // namespace OVK
