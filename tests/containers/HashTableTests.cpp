// Vorn::Hash against reference values; Vorn::HashTable's growth rules, other
// key types, equality, and long random runs checked against std::unordered_map.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vorn/containers/Hash.h"
#include "vorn/containers/HashTable.h"
#include "vorn/host/SysLog.h"

// Array allocations get eight bytes set past their end, so a bucket read one
// past the bucket array finds a full bucket instead of whatever the allocator
// left there (see AtBucketRefusesInvalidBuckets).
void* operator new[](std::size_t size) {
  auto* p = static_cast<unsigned char*>(std::malloc(size + 8));
  if (!p) throw std::bad_alloc();
  std::memset(p + size, 0xFF, 8);
  return p;
}
// g++ takes these replacements' free() for a mismatch with operator new[].
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using StringTable = Vorn::HashTable<std::string, int>;

// Values of a plain byte-at-a-time transcription of the hash for every length
// class (0, 1-3, 4-7, 8-16, 17-48, 49 and more, with and without a tail),
// through each way of passing a string.
TEST(StringHash, MatchesReferenceValuesOnAllLengthClasses) {
  const std::pair<std::size_t, std::uint64_t> cases[] = {
      {0, 0x42bc986dc5eec4d3ull}, {1, 0x0806a4b0d7c7a817ull}, {2, 0x6ea3250608c81a97ull},
      {3, 0x704543c06ea34d55ull}, {4, 0xffd956b975fa5398ull}, {5, 0x829711ab7aea7af9ull},
      {7, 0x4020adc667dda5b6ull}, {8, 0xbf8252335ea6dd8aull}, {9, 0x00a4821ebd2d7efbull},
      {12, 0xbab941977429b834ull}, {16, 0x915180f7b2cd21b3ull}, {17, 0xd01418e9b4ca2845ull},
      {31, 0x55240cd206a0ab08ull}, {32, 0x316cd123845c655full}, {48, 0xb1015cc2f18557cfull},
      {49, 0x18939886df066678ull}, {64, 0x8782d0510cc0fcb6ull}, {96, 0xb736b204adb16619ull},
      {97, 0xb87f70d5f6e2d4feull}, {100, 0xc0b036f56fc1f3a5ull}, {144, 0x79ea9b5f7129d1dfull},
      {145, 0x9f34dd1b461b7166ull}, {200, 0x4257a674da9a9962ull},
  };
  for (const auto& [n, expected] : cases) {
    std::string s;
    // No zero byte: C strings stop there.
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(1 + (i * 89 + n) % 255);
    EXPECT_EQ(Vorn::Hash<std::string>{}(s), expected) << "length " << n;
    EXPECT_EQ(Vorn::Hash<std::string_view>{}(std::string_view(s)), expected) << n;
    EXPECT_EQ(Vorn::Hash<std::string>{}(s.c_str()), expected) << n;
    EXPECT_EQ(Vorn::HashBytes(s.data(), s.size()), expected) << n;
  }
}

// At shift 8 a table holds 205 entries and grows on the 206th; reserve sets
// the shift, may shrink the table, but never below what the entries need.
TEST(HashTableGrowth, GrowsPast205EntriesAndReservesNoLessThanTheEntriesNeed) {
  StringTable t;
  EXPECT_EQ(t.find("absent"), t.end());
  EXPECT_FALSE(t.contains("absent"));
  EXPECT_FALSE(t.erase("absent"));
  for (int k = 0; k < 205; ++k) ASSERT_TRUE(t.try_emplace(std::to_string(k), k).second);
  t.reserve(0);  // 205 entries at shift 8 are legal: this must not grow the table
  EXPECT_EQ(t._Shift(), 8);
  ASSERT_TRUE(t.try_emplace("205", 205).second);
  EXPECT_EQ(t._Shift(), 9);
  // Past shift 8 the entries have room for every entry the shift holds:
  // between two growths they never move (each shift is filled to its limit).
  const auto* first = &*t.begin();
  for (int k = 206; k < 1000; ++k) {
    const unsigned shift = t._Shift();
    t.try_emplace(std::to_string(k), k);
    if (t._Shift() == shift) {
      ASSERT_EQ(&*t.begin(), first) << k;
    }
    first = &*t.begin();
  }
  ASSERT_EQ(t._Shift(), 11);
  t.reserve(100000);
  EXPECT_EQ(t._Shift(), 17);
  // 1000 entries need 1250 home buckets at 80%: shift 11, not 8.
  t.reserve(0);
  EXPECT_EQ(t._Shift(), 11);
  t.clear();
  EXPECT_EQ(t.find("1"), t.end());

  StringTable s;
  for (const auto& [request, shift] : {std::pair{0, 8}, {1000, 10}, {1025, 11}}) {
    s.reserve(request);
    EXPECT_EQ(s._Shift(), shift) << request;
  }
}

// Keys in arithmetic progression (objects of one size from a pool or slab
// allocator, integer ids with a step) fill a table only as far as its load
// limit: 30,000 entries stay at shift 16 whatever the step.
TEST(HashTableGrowth, KeysInArithmeticProgressionDoNotCluster) {
  const std::uintptr_t base = 0x7f3a5c200010;
  for (std::uintptr_t step = 8; step <= 1024; step += 8) {
    Vorn::HashTable<const void*, int> t;
    for (std::uintptr_t k = 0; k < 30000; ++k) t.try_emplace(reinterpret_cast<const void*>(base + k * step), 0);
    ASSERT_EQ(t._Shift(), 16) << "step " << step;
  }
}

TEST(HashTableErase, AtBucketRefusesInvalidBuckets) {
  StringTable t;
  EXPECT_FALSE(t.EraseAtBucket(0xFFFFFFFFu));
  t.try_emplace("only", 1);
  const std::uint32_t b = t.FindBucket("only");  // builds the bucket array
  ASSERT_TRUE(t._HasBuckets());
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
    ASSERT_TRUE(table.find(key) == table.begin() + i) << "find misses entry " << i;
    ++i;
  }
}

// Mixed operations with a fixed seed, checking contents, iteration order and
// that find reaches every entry after every batch.
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
      // Present keys' values and positions are checked with the whole state.
      ASSERT_EQ(table.find(key) != table.end(), present);
      ASSERT_EQ(table.contains(key), present);
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

TEST(HashTableRandom, StringAndIntegerKeysMatchUnorderedMap) {
  std::mt19937_64 rng(20240611);
  // String lengths from 0 to 70 reach every branch of the string hash.
  std::vector<std::string> strings(24000);
  for (std::string& s : strings) {
    s.assign(rng() % 71, ' ');
    for (char& c : s) c = static_cast<char>('a' + rng() % 26);
  }
  RunDifferential(strings, 1, 300000);
  // Small integers too: their hashes differ only in the mixed high bits.
  std::vector<std::uint64_t> integers(24000);
  for (std::size_t i = 0; i < integers.size(); ++i) integers[i] = i < 6000 ? i : rng();
  RunDifferential(integers, 2, 400000);
}

}  // namespace
