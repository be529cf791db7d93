#include "vorn/host/CodePage.h"

#include <cstdlib>
#include <limits>

#include "vorn/host/Status.h"

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::int32_t KRTCodePage::ConvertToBase64(const unsigned char* bytes, std::size_t count, char** text) {
  if (!text) return KRT_E_INVALID_ARGUMENT;
  *text = nullptr;
  if (!bytes && count != 0) return KRT_E_INVALID_ARGUMENT;

  const std::size_t groups = count / 3 + (count % 3 != 0);
  if (groups > (std::numeric_limits<std::size_t>::max() - 1) / 4) return KRT_E_NO_MEMORY;
  char* out = static_cast<char*>(std::malloc(groups * 4 + 1));
  if (!out) return KRT_E_NO_MEMORY;

  char* p = out;
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const unsigned v = (unsigned{bytes[i]} << 16) | (unsigned{bytes[i + 1]} << 8) | bytes[i + 2];
    *p++ = kAlphabet[(v >> 18) & 63];
    *p++ = kAlphabet[(v >> 12) & 63];
    *p++ = kAlphabet[(v >> 6) & 63];
    *p++ = kAlphabet[v & 63];
  }
  if (const std::size_t left = count - i; left != 0) {
    unsigned v = unsigned{bytes[i]} << 16;
    if (left == 2) v |= unsigned{bytes[i + 1]} << 8;
    *p++ = kAlphabet[(v >> 18) & 63];
    *p++ = kAlphabet[(v >> 12) & 63];
    *p++ = left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    *p++ = '=';
  }
  *p = '\0';
  *text = out;
  return KRT_OK;
}

void KRTCodePage::FreeText(char* text) noexcept { std::free(text); }
