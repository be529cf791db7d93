#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

// 64-bit hashes for the library's hash table. Strings use a wyhash variant
// over their bytes; integers are mixed with the golden-ratio constant. Both
// must stay bit-for-bit stable: tables store these hashes and tests pin the
// values.

#if defined(__GNUC__)
#define VORN_HASH_INLINE inline __attribute__((always_inline))
#else
#define VORN_HASH_INLINE inline
#endif

namespace Vorn {

namespace HashDetail {

inline constexpr std::uint64_t kS0 = 0xa0761d6478bd642full;
inline constexpr std::uint64_t kS1 = 0xe7037ed1a0b428dbull;
inline constexpr std::uint64_t kS2 = 0x8ebc6af09c88c6e3ull;
inline constexpr std::uint64_t kS3 = 0x589965cc75374cc3ull;
inline constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ull;

__extension__ typedef unsigned __int128 UInt128;

// The 128-bit product folded to 64 bits by XOR of its halves.
VORN_HASH_INLINE std::uint64_t Mix(std::uint64_t a, std::uint64_t b) noexcept {
  const UInt128 r = static_cast<UInt128>(a) * b;
  return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

// Little-endian reads whatever the host order, so hashes match everywhere.
VORN_HASH_INLINE std::uint64_t Read8(const unsigned char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

VORN_HASH_INLINE std::uint64_t Read4(const unsigned char* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

// 1 to 3 bytes: first, middle and last byte (they coincide for short input).
VORN_HASH_INLINE std::uint64_t Read3(const unsigned char* p, std::size_t n) noexcept {
  return (static_cast<std::uint64_t>(p[0]) << 16) | (static_cast<std::uint64_t>(p[n >> 1]) << 8) | p[n - 1];
}

}  // namespace HashDetail

// Hash of a byte string; the value Hash<std::string> gives for the same bytes.
VORN_HASH_INLINE std::uint64_t HashBytes(const void* data, std::size_t n) noexcept {
  using namespace HashDetail;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::uint64_t seed = kS0;
  std::uint64_t a;
  std::uint64_t b;
  if (n <= 16) [[likely]] {
    if (n >= 4) [[likely]] {
      // Two overlapping pairs of 4-byte reads cover every length from 4 to 16.
      const std::size_t off = (n >> 3) << 2;
      a = (Read4(p) << 32) | Read4(p + off);
      b = (Read4(p + n - 4) << 32) | Read4(p + n - 4 - off);
    } else if (n > 0) {
      a = Read3(p, n);
      b = 0;
    } else {
      a = b = 0;
    }
  } else {
    std::size_t i = n;
    if (i > 48) [[unlikely]] {
      // Three independent lanes keep long keys from serialising on one multiply.
      std::uint64_t see1 = seed;
      std::uint64_t see2 = seed;
      do {
        seed = Mix(Read8(p) ^ kS1, Read8(p + 8) ^ seed);
        see1 = Mix(Read8(p + 16) ^ kS2, Read8(p + 24) ^ see1);
        see2 = Mix(Read8(p + 32) ^ kS3, Read8(p + 40) ^ see2);
        p += 48;
        i -= 48;
      } while (i > 48);
      seed ^= see1 ^ see2;
    }
    while (i > 16) {
      seed = Mix(Read8(p) ^ kS1, Read8(p + 8) ^ seed);
      p += 16;
      i -= 16;
    }
    // The last 16 bytes, overlapping what was already consumed if need be.
    a = Read8(p + i - 16);
    b = Read8(p + i - 8);
  }
  return Mix(kS1 ^ n, Mix(a ^ kS1, b ^ seed));
}

VORN_HASH_INLINE std::uint64_t HashBytes(std::string_view s) noexcept { return HashBytes(s.data(), s.size()); }

// Hash of a 64-bit integer. One multiply leaves the top bits, which pick a
// table's home bucket, a linear function of the key's low bits: keys in
// arithmetic progression (pointers to objects of one size from a slab,
// ids with a step) then fall into clusters for some steps and grow a table
// far past its load limit. The second multiply folds the product's high
// half into them.
VORN_HASH_INLINE std::uint64_t HashInteger(std::uint64_t x) noexcept {
  return HashDetail::Mix(HashDetail::Mix(x, HashDetail::kGolden), HashDetail::kS1);
}

// The primary template is left undefined: a key type without a hash below
// fails to compile instead of silently hashing badly.
template <class K, class Enable = void>
struct Hash;

// std::string and std::string_view hash alike, so a table keyed by strings can
// be searched with a view or a C string without building a std::string.
template <>
struct Hash<std::string_view> {
  using is_transparent = void;
  VORN_HASH_INLINE std::uint64_t operator()(std::string_view s) const noexcept { return HashBytes(s.data(), s.size()); }
  VORN_HASH_INLINE std::uint64_t operator()(const std::string& s) const noexcept { return HashBytes(s.data(), s.size()); }
  VORN_HASH_INLINE std::uint64_t operator()(const char* s) const noexcept { return HashBytes(std::string_view(s)); }
};

template <>
struct Hash<std::string> : Hash<std::string_view> {};

// Every integer type (and enums, pointers) widens to 64 bits and is mixed
// alike, so Hash<unsigned long long> and Hash<std::uint64_t> agree even where
// they are distinct types.
template <class K>
struct Hash<K, std::enable_if_t<std::is_integral_v<K> || std::is_enum_v<K>>> {
  VORN_HASH_INLINE std::uint64_t operator()(K key) const noexcept {
    if constexpr (std::is_enum_v<K>) {
      return HashInteger(static_cast<std::uint64_t>(static_cast<std::underlying_type_t<K>>(key)));
    } else {
      return HashInteger(static_cast<std::uint64_t>(key));
    }
  }
};

template <class T>
struct Hash<T*> {
  VORN_HASH_INLINE std::uint64_t operator()(T* key) const noexcept {
    return HashInteger(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key)));
  }
};

}  // namespace Vorn
