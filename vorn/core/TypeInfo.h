#pragma once

#include <cstdint>
#include <string_view>

// Type identity without run-time type information: a compile-time name taken
// from the compiler's function-signature text and a 64-bit key hashed from it.
namespace Vorn {

struct TypeInfo {
  unsigned long long key = 0;  // 0 means no type
  std::string_view name;

  constexpr bool operator==(const TypeInfo& other) const noexcept { return key == other.key; }
};

namespace _Internal_ {

template <class T>
constexpr std::string_view SignatureOf() noexcept {
  return std::string_view(__PRETTY_FUNCTION__);
}

// The signature text of a known type tells where the template argument starts
// and how much trails it; both are the same for every T.
struct SignatureLayout {
  std::size_t prefix;
  std::size_t suffix;
};
constexpr SignatureLayout MeasureSignature() noexcept {
  constexpr std::string_view probe = SignatureOf<double>();
  constexpr std::string_view marker = "double";
  const std::size_t at = probe.find(marker);
  return {at, probe.size() - at - marker.size()};
}
inline constexpr SignatureLayout kSignatureLayout = MeasureSignature();
static_assert(kSignatureLayout.prefix != std::string_view::npos, "unsupported compiler signature text");

// FNV-1a followed by a final avalanche (the 64-bit finaliser of MurmurHash3),
// so that similar names spread over the whole key; 0 is reserved for "no type".
constexpr unsigned long long HashTypeName(std::string_view name) noexcept {
  unsigned long long h = 0xcbf29ce484222325ull;
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h == 0 ? 1 : h;
}

}  // namespace _Internal_

// The full name of T as the compiler spells it (for example "int",
// "std::vector<int>", "Vorn_BaseClass"); it follows the compiler in use.
template <class T>
constexpr std::string_view RawTypeName() noexcept {
  constexpr std::string_view sig = _Internal_::SignatureOf<T>();
  constexpr auto layout = _Internal_::kSignatureLayout;
  return sig.substr(layout.prefix, sig.size() - layout.prefix - layout.suffix);
}

template <class T>
constexpr unsigned long long TypeKey() noexcept {
  return _Internal_::HashTypeName(RawTypeName<T>());
}

// Constant data, one record per type used.
template <class T>
inline constexpr TypeInfo kTypeInfo{TypeKey<T>(), RawTypeName<T>()};

template <class T>
constexpr const TypeInfo& GetTypeInfo() noexcept {
  return kTypeInfo<T>;
}

}  // namespace Vorn
