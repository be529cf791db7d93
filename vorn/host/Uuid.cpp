#include "vorn/host/Uuid.h"

#include <pthread.h>
#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>
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

// The kernel's random bytes, drawn a block at a time: one system call per
// 32 identifiers rather than one each (a view makes thousands of controls,
// each with an identifier, at once). Per thread, so no lock; a forked child
// forgets what its parent had left, or both would hand out the same ones.
struct RandomPool {
  std::array<unsigned char, 512> bytes;
  std::size_t used = sizeof bytes;
};
thread_local RandomPool t_pool;

void ForgetPool() noexcept { t_pool.used = t_pool.bytes.size(); }

void TakeRandom(unsigned char* out, std::size_t size) {
  static const bool forgetsAtFork = pthread_atfork(nullptr, nullptr, ForgetPool) == 0;
  if (!forgetsAtFork || size > t_pool.bytes.size()) return FillRandom(out, size);
  if (t_pool.bytes.size() - t_pool.used < size) {
    FillRandom(t_pool.bytes.data(), t_pool.bytes.size());
    t_pool.used = 0;
  }
  std::memcpy(out, t_pool.bytes.data() + t_pool.used, size);
  // Never handed out twice.
  std::memset(t_pool.bytes.data() + t_pool.used, 0, size);
  t_pool.used += size;
}

}  // namespace

KRTUuid::KRTUuid() {
  TakeRandom(m_bytes.data(), m_bytes.size());
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
