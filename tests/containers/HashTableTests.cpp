// Vorn::Hash against a byte-by-byte reference; Vorn::HashTable's growth and
// reserve rules, lookups by other key types, equality, and long random runs
// checked against std::unordered_map.

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "containers/HashTableTestSupport.h"
#include "vorn/containers/Hash.h"
#include "vorn/containers/HashTable.h"
#include "vorn/host/SysLog.h"

namespace {

using vorn_test::CheckInvariants;
using StringTable = Vorn::HashTable<std::string, int>;
using IntTable = Vorn::HashTable<std::uint64_t, std::uint64_t>;

// ---- the string hash -----------------------------------------------------------

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
      for (; i > 48; i -= 48, p += 48) {
        for (int k = 0; k < 3; ++k) {
          lane[k] = ReferenceMix(ReadLE(p + 16 * k, 8) ^ S[k + 1], ReadLE(p + 16 * k + 8, 8) ^ lane[k]);
        }
      }
      seed = lane[0] ^ lane[1] ^ lane[2];
    }
    for (; i > 16; i -= 16, p += 16) seed = ReferenceMix(ReadLE(p, 8) ^ S[1], ReadLE(p + 8, 8) ^ seed);
    a = ReadLE(p + i - 16, 8);
    b = ReadLE(p + i - 8, 8);
  }
  return ReferenceMix(S[1] ^ n, ReferenceMix(a ^ S[1], b ^ seed));
}

// Pinned values, then every length class (0, 1-3, 4-7, 8-16, 17-48, 49 and
// more, with and without a tail) against the reference, through each way of
// passing a string.
TEST(StringHash, MatchesPinnedValuesAndTheReferenceOnAllLengthClasses) {
  EXPECT_EQ(Vorn::Hash<std::string>{}(std::string("abc")), 0xb4808df22d44ffcfull);
  EXPECT_EQ(Vorn::Hash<std::string>{}(std::string()), 0x42bc986dc5eec4d3ull);
  EXPECT_EQ(ReferenceHash("abc"), 0xb4808df22d44ffcfull);
  EXPECT_EQ(ReferenceHash(""), 0x42bc986dc5eec4d3ull);
  std::mt19937_64 rng(11);
  for (std::size_t n = 0; n <= 200; ++n) {
    for (int round = 0; round < 4; ++round) {
      std::string s(n, '\0');
      for (char& c : s) c = static_cast<char>(1 + rng() % 255);  // C strings stop at a zero byte
      const std::uint64_t h = Vorn::Hash<std::string>{}(s);
      ASSERT_EQ(h, ReferenceHash(s)) << "length " << n;
      ASSERT_EQ(Vorn::Hash<std::string_view>{}(std::string_view(s)), h) << n;
      ASSERT_EQ(Vorn::Hash<std::string>{}(s.c_str()), h) << n;
      ASSERT_EQ(Vorn::HashBytes(s.data(), s.size()), h) << n;
    }
  }
}

// ---- growth and reserve ------------------------------------------------------

// At shift 8 a table holds 205 entries and grows on the 206th; reserve sets
// the shift, may shrink the table, but never below what the entries need.
TEST(HashTableGrowth, GrowsPast205EntriesAndReservesNoLessThanTheEntriesNeed) {
  IntTable t;
  EXPECT_EQ(t._BucketCount(), 272u);
  ASSERT_TRUE(CheckInvariants(t));
  for (std::uint64_t k = 0; k < 205; ++k) ASSERT_TRUE(t.try_emplace(k, k).second);
  t.reserve(0);  // 205 entries at shift 8 are legal: this must not grow the table
  EXPECT_EQ(t._Shift(), 8);
  ASSERT_TRUE(CheckInvariants(t));
  ASSERT_TRUE(t.try_emplace(205, 205).second);
  EXPECT_EQ(t._Shift(), 9);
  EXPECT_EQ(t._BucketCount(), 528u);
  ASSERT_TRUE(CheckInvariants(t));

  for (std::uint64_t k = 206; k < 1000; ++k) t.try_emplace(k, k);
  ASSERT_EQ(t._Shift(), 11);
  t.reserve(100000);
  EXPECT_EQ(t._Shift(), 17);
  // 1000 entries need 1250 home buckets at 80%: shift 11, not 8.
  t.reserve(0);
  EXPECT_EQ(t._Shift(), 11);
  ASSERT_TRUE(CheckInvariants(t));
  std::uint64_t expected = 0;
  for (const auto& [k, v] : t) {
    EXPECT_EQ(k, expected);
    EXPECT_EQ(v, expected++);
  }

  StringTable s;
  for (const auto& [request, shift] : {std::pair{0, 8}, {1000, 10}, {1025, 11}}) {
    s.reserve(request);
    EXPECT_EQ(s._Shift(), shift) << request;
  }
  s.try_emplace("a", 1);
  s.reserve(3);  // shrinking is allowed while the entries fit
  EXPECT_EQ(s._Shift(), 8);
  EXPECT_EQ(s.find("a")->second, 1);
}

// ---- lookup, erasure, equality -------------------------------------------------

// Counts the keys it hashes, to see when a table hashes at all.
struct CountingHash {
  int* calls;
  std::uint64_t operator()(const std::string& key) const {
    ++*calls;
    return Vorn::HashBytes(key.data(), key.size());
  }
};

TEST(HashTableFind, EmptyTableAnswersWithoutHashingAndGrowthNeverRehashes) {
  int calls = 0;
  Vorn::HashTable<std::string, int, CountingHash> t(CountingHash{&calls});
  EXPECT_EQ(t.find("absent"), t.end());
  EXPECT_FALSE(t.contains("absent"));
  EXPECT_FALSE(t.erase("absent"));
  EXPECT_EQ(calls, 0);

  for (int i = 0; i < 1000; ++i) t.try_emplace(std::to_string(i), i);
  EXPECT_EQ(calls, 1000);  // one per insertion, none for the four rebuilds
  EXPECT_EQ(t._Shift(), 11);
  t.clear();
  EXPECT_EQ(t.find("1"), t.end());
  EXPECT_EQ(calls, 1000);
}

TEST(HashTableFind, StringTablesAcceptViewsAndCStrings) {
  StringTable t;
  t.try_emplace("alpha", 1);
  t.try_emplace(std::string("beta"), 2);
  const std::string_view view = "alpha and more";
  EXPECT_EQ(t.find(view.substr(0, 5))->second, 1);
  EXPECT_FALSE(t.contains(view));
  EXPECT_TRUE(t.contains("beta"));

  // A view key builds the std::string only for a new entry.
  auto [it, inserted] = t.try_emplace(std::string_view("gamma"), 3);
  EXPECT_TRUE(inserted);
  EXPECT_EQ(it->first, "gamma");
  EXPECT_FALSE(t.try_emplace(std::string_view("alpha"), 9).second);

  // Keys with zero bytes compare by length, then bytes.
  const std::string withZero("a\0b", 3);
  t.try_emplace(withZero, 5);
  EXPECT_FALSE(t.contains(std::string_view("a")));
  EXPECT_EQ(t.find(std::string_view(withZero))->second, 5);

  EXPECT_TRUE(t.erase(std::string_view("beta")));
  EXPECT_FALSE(t.contains("beta"));
  EXPECT_TRUE(CheckInvariants(t));
}

TEST(HashTableErase, AtBucketRefusesInvalidBuckets) {
  StringTable t;
  EXPECT_FALSE(t.EraseAtBucket(0xFFFFFFFFu));
  t.try_emplace("only", 1);
  const std::uint32_t b = t.FindBucket("only");
  ASSERT_NE(b, 0xFFFFFFFFu);
  EXPECT_EQ(t.FindBucket("other"), 0xFFFFFFFFu);
  EXPECT_FALSE(t.EraseAtBucket(0xFFFFFFFFu));
  EXPECT_FALSE(t.EraseAtBucket(static_cast<std::uint32_t>(t._BucketCount())));
  EXPECT_FALSE(t.EraseAtBucket(b == 0 ? 1 : b - 1));  // an empty bucket
  EXPECT_EQ(t.size(), 1u);
  EXPECT_TRUE(t.EraseAtBucket(b));
  EXPECT_TRUE(t.empty());
}

TEST(HashTableEquality, IgnoresOrderButNotValuesOrKeys) {
  const StringTable a{{"x", 1}, {"y", 2}};
  const std::pair<StringTable, bool> cases[] = {
      {{{"y", 2}, {"x", 1}}, true},
      {{{"x", 3}, {"y", 2}}, false},
      {{{"x", 1}, {"y", 2}, {"z", 0}}, false},
      {{{"y", 2}, {"z", 0}}, false},  // same size, different keys
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(a == cases[i].first, cases[i].second) << "case " << i;
    EXPECT_EQ(cases[i].first == a, cases[i].second) << "case " << i;
  }
}

// ---- random runs against std::unordered_map ------------------------------------

// `count` distinct keys: those given, then fresh ones from `draw`.
template <class K, class Draw>
std::vector<K> Universe(std::size_t count, Draw draw, std::vector<K> keys = {}) {
  std::unordered_set<K> seen(keys.begin(), keys.end());
  while (keys.size() < count) {
    K key = draw();
    if (seen.insert(key).second) keys.push_back(std::move(key));
  }
  return keys;
}

// The expected state: value and position of each key, and the keys in the
// order the table must iterate them.
template <class K>
struct Model {
  std::unordered_map<K, std::pair<std::uint64_t, std::size_t>> entries;
  std::vector<K> order;

  void Insert(const K& key, std::uint64_t value) {
    entries.emplace(key, std::make_pair(value, order.size()));
    order.push_back(key);
  }
  // Swap-and-pop, as the table does.
  void Erase(const K& key) {
    const std::size_t pos = entries.at(key).second;
    if (pos + 1 != order.size()) {
      order[pos] = order.back();
      entries.at(order[pos]).second = pos;
    }
    order.pop_back();
    entries.erase(key);
  }
};

template <class Table, class K>
void ExpectSameState(const Table& table, const Model<K>& model) {
  ASSERT_EQ(table.size(), model.order.size());
  std::size_t i = 0;
  for (const auto& [key, value] : table) {
    ASSERT_EQ(key, model.order[i]) << "iteration order differs at " << i;
    ASSERT_EQ(value, model.entries.at(key).first);
    ++i;
  }
  ASSERT_TRUE(CheckInvariants(table));
}

// Mixed operations with a fixed seed, checking contents, iteration order and
// the layout invariants after every batch.
template <class K>
void RunDifferential(const std::vector<K>& universe, std::uint64_t seed, int operations) {
  using Table = Vorn::HashTable<K, std::uint64_t>;
  std::mt19937_64 rng(seed);
  Table table;
  Model<K> model;
  KRTAbendCapture capture;
  std::size_t refusedShrinks = 0;
  // Phases of 40000 operations alternately fill and drain the table, so it
  // grows through several shifts and erasure runs on dense tables too.
  for (int op = 1; op <= operations; ++op) {
    const bool filling = (op / 40000) % 2 == 0;
    const int insertShare = filling ? 55 : 20;
    const int eraseShare = filling ? 15 : 50;
    const int roll = static_cast<int>(rng() % 100);
    const K& key = universe[rng() % universe.size()];
    const auto known = model.entries.find(key);
    const bool present = known != model.entries.end();
    const std::uint64_t value = rng();

    if (op % 499 == 0 && (op / 499) % 3 == 0) {
      // Now and then a rebuild by reserve, possibly shrinking. A shrink that
      // cannot keep every entry within distance 14 at this load is refused
      // as a whole; a new shift is never below what the load factor needs.
      const auto shift = table._Shift();
      const std::size_t reports = capture.Count();
      table.reserve(static_cast<std::size_t>(rng() % (3 * table.size() + 10)));
      if (capture.Count() != reports) {
        ASSERT_EQ(capture.Last(), "[InsertMetadata] Distance overflow!");
        ASSERT_EQ(table._Shift(), shift);
        ++refusedShrinks;
      }
      if (table._Shift() != shift) {
        ASSERT_LE(table.size() * 100, std::size_t{80} << table._Shift());
      }
    } else if (op % 499 == 0) {
      // Or through a copy or a move: neither may change contents or order.
      Table other = (op / 499) % 3 == 1 ? Table(table) : std::move(table);
      table = std::move(other);
    } else if (roll < insertShare) {
      if (roll % 4 == 0) {
        // Insert or overwrite, by operator[] or by insert_or_assign.
        if (roll % 8 == 0) {
          table[key] = value;
        } else {
          ASSERT_EQ(table.insert_or_assign(key, value).second, !present);
        }
        if (present) known->second.first = value;
        if (!present) model.Insert(key, value);
      } else {
        auto [it, inserted] = table.try_emplace(key, value);
        ASSERT_EQ(inserted, !present);
        ASSERT_EQ(it->first, key);
        if (!present) model.Insert(key, value);
        ASSERT_EQ(it->second, model.entries.at(key).first);
        ASSERT_EQ(static_cast<std::size_t>(it - table.begin()), model.entries.at(key).second);
      }
    } else if (roll < insertShare + eraseShare) {
      if (roll % 3 == 0) {
        ASSERT_EQ(table.erase(key), present);
      } else if (roll % 3 == 1) {
        ASSERT_EQ(table.EraseAtBucket(table.FindBucket(key)), present);
      } else {
        auto it = table.find(key);
        ASSERT_EQ(it != table.end(), present);
        if (it != table.end()) table.erase(it);
      }
      if (present) model.Erase(key);
    } else {
      const auto it = table.find(key);
      ASSERT_EQ(it != table.end(), present);
      ASSERT_EQ(table.contains(key), present);
      if (present) {
        ASSERT_EQ(it->second, known->second.first);
        ASSERT_EQ(static_cast<std::size_t>(it - table.begin()), known->second.second);
      }
    }
    if (op % 4000 == 0) {
      ExpectSameState(table, model);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
  ExpectSameState(table, model);

  // Drain completely: the table must end as a valid empty table.
  for (const K& key : std::vector<K>(model.order)) {
    ASSERT_TRUE(table.erase(key));
    model.Erase(key);
  }
  ExpectSameState(table, model);
  EXPECT_TRUE(table.empty());
  // Only refused shrinks may report anything.
  EXPECT_EQ(capture.Count(), refusedShrinks);
}

TEST(HashTableRandom, StringKeysMatchUnorderedMap) {
  std::mt19937_64 rng(20240611);
  // Lengths from 0 to 70 reach every branch of the string hash.
  const auto universe = Universe<std::string>(24000, [&] {
    std::string s(rng() % 71, ' ');
    for (char& c : s) c = static_cast<char>('a' + rng() % 26);
    return s;
  });
  RunDifferential(universe, 1, 300000);
}

TEST(HashTableRandom, IntegerKeysMatchUnorderedMap) {
  std::mt19937_64 rng(77);
  // Small keys too: their hashes differ only in the mixed high bits.
  std::vector<std::uint64_t> small(6000);
  std::iota(small.begin(), small.end(), std::uint64_t{0});
  RunDifferential(Universe<std::uint64_t>(24000, [&] { return rng(); }, small), 2, 400000);
}

}  // namespace
