// Vorn::Hash: pinned values, a byte-by-byte reference for every length class,
// and agreement between the ways of hashing the same key.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "vorn/containers/Hash.h"

namespace {

using Vorn::Hash;

// A plain transcription of the string hash, reading bytes one at a time and
// keeping the long-input lanes in an array, to check the optimised one
// against on lengths the two pinned values do not reach.
std::uint64_t ReferenceMix(std::uint64_t a, std::uint64_t b) {
  __extension__ typedef unsigned __int128 U128;
  const U128 r = static_cast<U128>(a) * b;
  return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

std::uint64_t ReadLE(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::uint64_t ReferenceHash(std::string_view s) {
  const std::uint64_t S[4] = {0xa0761d6478bd642full, 0xe7037ed1a0b428dbull, 0x8ebc6af09c88c6e3ull,
                              0x589965cc75374cc3ull};
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::uint64_t seed = S[0];
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  if (n <= 16) {
    if (n >= 4) {
      const std::size_t q = 4 * (n / 8);
      a = ReadLE(p, 4) * (std::uint64_t{1} << 32) + ReadLE(p + q, 4);
      b = ReadLE(p + n - 4, 4) * (std::uint64_t{1} << 32) + ReadLE(p + n - 4 - q, 4);
    } else if (n > 0) {
      a = p[0] * 65536ull + p[n / 2] * 256ull + p[n - 1];
    }
  } else {
    std::size_t i = n;
    if (i > 48) {
      std::uint64_t lane[3] = {seed, seed, seed};
      while (i > 48) {
        for (int k = 0; k < 3; ++k) {
          lane[k] = ReferenceMix(ReadLE(p + 16 * k, 8) ^ S[k + 1], ReadLE(p + 16 * k + 8, 8) ^ lane[k]);
        }
        p += 48;
        i -= 48;
      }
      seed = lane[0] ^ lane[1] ^ lane[2];
    }
    for (; i > 16; i -= 16, p += 16) seed = ReferenceMix(ReadLE(p, 8) ^ S[1], ReadLE(p + 8, 8) ^ seed);
    a = ReadLE(p + i - 16, 8);
    b = ReadLE(p + i - 8, 8);
  }
  return ReferenceMix(S[1] ^ n, ReferenceMix(a ^ S[1], b ^ seed));
}

std::string RandomBytes(std::mt19937_64& rng, std::size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

TEST(StringHash, CheckValues) {
  EXPECT_EQ(Hash<std::string>{}(std::string("abc")), 0xb4808df22d44ffcfull);
  EXPECT_EQ(Hash<std::string>{}(std::string()), 0x42bc986dc5eec4d3ull);
  EXPECT_EQ(ReferenceHash("abc"), 0xb4808df22d44ffcfull);
  EXPECT_EQ(ReferenceHash(""), 0x42bc986dc5eec4d3ull);
}

// Every length class (0, 1-3, 4-7, 8-16, 17-48, 49 and more, with and
// without a tail) against the reference, through each way of passing a string.
TEST(StringHash, MatchesReferenceOnAllLengthClasses) {
  std::mt19937_64 rng(11);
  for (std::size_t n = 0; n <= 200; ++n) {
    for (int round = 0; round < 4; ++round) {
      std::string s = RandomBytes(rng, n);
      for (char& c : s) c = c == '\0' ? 'x' : c;  // C strings stop at a zero byte
      const std::uint64_t h = Hash<std::string>{}(s);
      ASSERT_EQ(h, ReferenceHash(s)) << "length " << n;
      ASSERT_EQ(Hash<std::string_view>{}(std::string_view(s)), h) << n;
      ASSERT_EQ(Hash<std::string>{}(s.c_str()), h) << n;
      ASSERT_EQ(Vorn::HashBytes(s.data(), s.size()), h) << n;
    }
  }
}

}  // namespace
