// Vorn::HashTable: growth and reserve rules, insertion and erasure order,
// lookups by other key types, copies and moves, equality, and the capacity
// reports in the default error mode.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "containers/HashTableTestSupport.h"
#include "vorn/containers/HashTable.h"
#include "vorn/host/SysLog.h"

namespace {

using vorn_test::CheckInvariants;
using vorn_test::CountingHash;
using vorn_test::TopBitsHash;
using StringTable = Vorn::HashTable<std::string, int>;
using IntTable = Vorn::HashTable<std::uint64_t, std::uint64_t>;
using ClusteredTable = Vorn::HashTable<std::uint64_t, int, TopBitsHash>;

// "k" followed by the number. Built by appending: GCC 12 warns falsely
// (-Wrestrict) on a literal + std::string temporary.
std::string K(int i) {
  std::string s("k");
  s.append(std::to_string(i));
  return s;
}

template <class Table>
std::vector<typename Table::key_type> Keys(const Table& t) {
  std::vector<typename Table::key_type> keys;
  for (const auto& entry : t) keys.push_back(entry.first);
  return keys;
}

// 200 keys that share their top hash bits: at shift s they fall into home
// bucket i >> (12 - s), so only shift 12 spreads them thin enough.
void FillClustered(ClusteredTable& t) {
  for (std::uint64_t i = 0; i < 200; ++i) ASSERT_TRUE(t.try_emplace(i << 8, static_cast<int>(i)).second) << i;
}

// ---- growth and reserve ------------------------------------------------------

TEST(HashTableGrowth, Holds205EntriesAtShift8AndGrowsOnThe206th) {
  IntTable t;
  EXPECT_EQ(t._BucketCount(), 272u);
  ASSERT_TRUE(CheckInvariants(t));
  for (std::uint64_t k = 0; k < 205; ++k) ASSERT_TRUE(t.try_emplace(k, k).second);
  EXPECT_EQ(t._Shift(), 8);
  ASSERT_TRUE(CheckInvariants(t));

  ASSERT_TRUE(t.try_emplace(205, 205).second);
  EXPECT_EQ(t._Shift(), 9);
  EXPECT_EQ(t._BucketCount(), 528u);
  ASSERT_TRUE(CheckInvariants(t));
  std::uint64_t expected = 0;
  for (const auto& [k, v] : t) {
    EXPECT_EQ(k, expected);
    EXPECT_EQ(v, expected++);
  }
}

TEST(HashTableGrowth, ReserveSetsTheShiftButNeverBelowWhatTheEntriesNeed) {
  StringTable t;
  t.reserve(0);
  EXPECT_EQ(t._Shift(), 8);
  t.reserve(1000);
  EXPECT_EQ(t._Shift(), 10);
  t.reserve(1025);
  EXPECT_EQ(t._Shift(), 11);
  t.try_emplace("a", 1);
  t.reserve(3);  // shrinking is allowed while the entries fit
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_EQ(t.find("a")->second, 1);

  IntTable big;
  for (std::uint64_t k = 0; k < 1000; ++k) big.try_emplace(k, k * 3);
  ASSERT_EQ(big._Shift(), 11);
  big.reserve(100000);
  EXPECT_EQ(big._Shift(), 17);
  // 1000 entries need 1250 home buckets at 80%: shift 11, not 8.
  big.reserve(0);
  EXPECT_EQ(big._Shift(), 11);
  ASSERT_TRUE(CheckInvariants(big));
  for (std::uint64_t k = 0; k < 1000; ++k) ASSERT_EQ(big.find(k)->second, k * 3);

  // 205 entries at shift 8 are legal (insertion leaves them there): reserve(0)
  // must not grow the table.
  IntTable full;
  for (std::uint64_t k = 0; k < 205; ++k) full.try_emplace(k, k);
  full.reserve(0);
  EXPECT_EQ(full._Shift(), 8);
}

// Clustered hashes force growth by distance, far beyond what the load factor
// asks for; every key stays findable within distance 14, with no report.
TEST(HashTableGrowth, ClusteredHashesGrowInsteadOfPassingDistance14) {
  KRTAbendCapture capture;
  ClusteredTable t;
  FillClustered(t);
  EXPECT_EQ(t._Shift(), 12);
  ASSERT_TRUE(CheckInvariants(t));
  for (std::uint64_t i = 0; i < 200; ++i) ASSERT_EQ(t.find(i << 8)->second, static_cast<int>(i));
  EXPECT_FALSE(t.contains(200u << 8));
  EXPECT_EQ(capture.Count(), 0u);
}

// ---- insertion -----------------------------------------------------------------

// Up to 8 entries a table has no buckets; lookups, erasure and copies work
// the same before and after the ninth entry builds them. A hash that gives
// every key the same value makes the small lookup compare keys.
struct SameHash {
  std::uint64_t operator()(const std::string&) const noexcept { return 42; }
};

// ---- lookup --------------------------------------------------------------------

TEST(HashTableFind, EmptyTableAnswersWithoutHashingAndGrowthNeverRehashes) {
  int calls = 0;
  Vorn::HashTable<std::string, int, CountingHash> t(CountingHash{&calls});
  EXPECT_EQ(t.find("absent"), t.end());
  EXPECT_FALSE(t.contains("absent"));
  EXPECT_FALSE(t.erase("absent"));
  EXPECT_EQ(calls, 0);

  for (int i = 0; i < 1000; ++i) t.try_emplace(K(i), i);
  EXPECT_EQ(calls, 1000);  // one per insertion, none for the four rebuilds
  EXPECT_EQ(t._Shift(), 11);
  t.clear();
  EXPECT_EQ(t.find("k1"), t.end());
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

// ---- erasure -------------------------------------------------------------------

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

// ---- copy, move, equality ----------------------------------------------------

TEST(HashTableEquality, IgnoresOrderButNotValuesOrKeys) {
  StringTable a;
  StringTable b;
  a.try_emplace("x", 1);
  a.try_emplace("y", 2);
  b.try_emplace("y", 2);
  b.try_emplace("x", 1);
  EXPECT_TRUE(a == b);
  b["x"] = 3;
  EXPECT_FALSE(a == b);
  b["x"] = 1;
  b.try_emplace("z", 0);
  EXPECT_FALSE(a == b);
  b.erase("x");
  EXPECT_FALSE(a == b);  // same size, different keys
}

// ---- capacity reports (default mode: KRTSysLogAbend, then return) -------------

}  // namespace
