#include "vorn/host/Uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <random>

#include "vorn/host/Status.h"

namespace {

void FillRandom(unsigned char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = getrandom(out + done, size - done, 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;  // very old kernels: fall back below
    }
  }
  if (done == size) return;
  std::random_device device;
  for (; done < size; ++done) out[done] = static_cast<unsigned char>(device());
}

constexpr std::size_t TextLength(int format) noexcept {
  switch (format) {
    case KRTUuid::kFormatCanonical: return 36;
    case KRTUuid::kFormatBraced: return 38;
    case KRTUuid::kFormatCompact: return 32;
    default: return 0;
  }
}

}  // namespace

KRTUuid::KRTUuid() {
  FillRandom(m_bytes.data(), m_bytes.size());
  m_bytes[6] = static_cast<unsigned char>((m_bytes[6] & 0x0F) | 0x40);  // version 4
  m_bytes[8] = static_cast<unsigned char>((m_bytes[8] & 0x3F) | 0x80);  // variant 1
}

std::int32_t KRTUuid::ToString(char* buffer, std::size_t size, int format) const noexcept {
  if (!buffer) return KRT_E_INVALID_ARGUMENT;
  const std::size_t length = TextLength(format);
  if (length == 0 || size <= length) {
    if (size > 0) buffer[0] = '\0';
    return length == 0 ? KRT_E_INVALID_ARGUMENT : KRT_E_BUFFER_TOO_SMALL;
  }
  const char* digits = format == kFormatBraced ? "0123456789ABCDEF" : "0123456789abcdef";
  const bool hyphens = format != kFormatCompact;
  char* out = buffer;
  if (format == kFormatBraced) *out++ = '{';
  for (std::size_t i = 0; i < m_bytes.size(); ++i) {
    if (hyphens && (i == 4 || i == 6 || i == 8 || i == 10)) *out++ = '-';
    *out++ = digits[m_bytes[i] >> 4];
    *out++ = digits[m_bytes[i] & 0x0F];
  }
  if (format == kFormatBraced) *out++ = '}';
  *out = '\0';
  return KRT_OK;
}

std::string KRTUuid::ToString(int format) const {
  char buffer[kTextBufferSize];
  if (ToString(buffer, sizeof buffer, format) < 0) return {};
  return buffer;
}
