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

TEST(HashTableGrowth, EntriesStayPutUntilTheNextRebuild) {
  IntTable t;
  t.reserve(5000);
  ASSERT_EQ(t._Shift(), 13);
  t.try_emplace(42, 1);
  const auto* first = &*t.find(42);
  // 6554 entries in all: the most shift 13 holds before the next insertion grows it.
  for (std::uint64_t k = 1000; k < 1000 + 6553; ++k) t.try_emplace(k, k);
  EXPECT_EQ(t._Shift(), 13);
  EXPECT_EQ(&*t.find(42), first);
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

// An insertion that would push an entry already at distance 14 one further
// grows the table instead.
TEST(HashTableGrowth, DisplacingAnEntryPastDistance14Grows) {
  ClusteredTable t;  // at shift 8, home = key >> 12
  t.try_emplace(0, 0);
  for (std::uint64_t k = 4096; k < 4096 + 15; ++k) t.try_emplace(k, 1);  // home 1, distances 0 to 14
  ASSERT_EQ(t._Shift(), 8);
  ASSERT_EQ(t._BucketMetadata(15) >> 4, 14);
  ASSERT_TRUE(t.try_emplace(1, 2).second);  // home 0: belongs in bucket 1
  EXPECT_EQ(t._Shift(), 9);
  EXPECT_TRUE(CheckInvariants(t));
}

// ---- insertion -----------------------------------------------------------------

TEST(HashTableInsert, ExistingKeyIsReturnedUnchanged) {
  StringTable t;
  auto [it, inserted] = t.try_emplace("k", 1);
  ASSERT_TRUE(inserted);
  auto [again, insertedAgain] = t.try_emplace("k", 2);
  EXPECT_FALSE(insertedAgain);
  EXPECT_EQ(again, it);
  EXPECT_EQ(again->second, 1);
  EXPECT_FALSE(t.insert({"k", 3}).second);
  EXPECT_EQ(t.size(), 1u);
  EXPECT_EQ(t["k"], 1);
  EXPECT_FALSE(t.insert_or_assign("k", 4).second);
  EXPECT_EQ(t["k"], 4);
}

TEST(HashTableInsert, NewEntriesAreBuiltFromTheArgumentsAndAppended) {
  Vorn::HashTable<std::string, std::vector<int>> t;
  EXPECT_TRUE(t["x"].empty());  // value-initialised
  t["y"].push_back(5);
  t.try_emplace("z", 3u, 7);
  EXPECT_EQ(t["z"], (std::vector<int>{7, 7, 7}));
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"x", "y", "z"}));
}

// Insertions whose arguments refer into the table itself, made exactly when
// the table must grow: the growth may not free what they refer to first.
TEST(HashTableInsert, ArgumentsReferringToEntriesSurviveGrowth) {
  for (int variant = 0; variant < 2; ++variant) {
    Vorn::HashTable<std::string, std::string> t;
    for (int i = 0; i < 205; ++i) t.try_emplace(K(i), std::string("value of ") + K(i));
    ASSERT_EQ(t._Shift(), 8);
    if (variant == 0) {
      auto found = t.try_emplace(t.begin()->first, "ignored");  // existing key, by reference
      EXPECT_FALSE(found.second);
      EXPECT_EQ(found.first->second, "value of k0");
    } else {
      auto added = t.try_emplace("new", t.begin()->second);  // value copied from an entry
      ASSERT_TRUE(added.second);
      EXPECT_EQ(t._Shift(), 9);
      EXPECT_EQ(added.first->second, "value of k0");
    }
    EXPECT_TRUE(CheckInvariants(t));
  }
}

// A table at its first bucket array grows its entry storage with the entries;
// values copied from an entry at the moment that storage is full survive the
// move to the larger storage.
TEST(HashTableInsert, SmallTablesGrowTheirStorageOnDemand) {
  Vorn::HashTable<std::string, std::string> t;
  t.try_emplace("a", "value of a");
  EXPECT_LT(t._EntryCapacity(), 16u);
  for (int i = 1; i < 150; ++i) {
    const std::size_t before = t._EntryCapacity();
    auto added = t.try_emplace(K(i), t.begin()->second);
    ASSERT_TRUE(added.second);
    ASSERT_EQ(added.first->second, "value of a") << "at " << i << " entries, capacity was " << before;
  }
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_LT(t._EntryCapacity(), 272u);
  EXPECT_TRUE(CheckInvariants(t));
}

// Up to 8 entries a table has no buckets; lookups, erasure and copies work
// the same before and after the ninth entry builds them. A hash that gives
// every key the same value makes the small lookup compare keys.
struct SameHash {
  std::uint64_t operator()(const std::string&) const noexcept { return 42; }
};

TEST(HashTableSmall, BucketsArriveWithTheNinthEntry) {
  Vorn::HashTable<std::string, int, SameHash> t;
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(t.try_emplace(K(i), i).second);
  EXPECT_FALSE(t._HasBuckets());
  EXPECT_FALSE(t.try_emplace(K(3), 99).second);
  EXPECT_EQ(t.find(K(5))->second, 5);
  EXPECT_FALSE(t.contains("k8"));
  ASSERT_TRUE(CheckInvariants(t));

  // Swap-and-pop without buckets, and a copy that stays small and separate.
  EXPECT_TRUE(t.erase(K(1)));
  EXPECT_FALSE(t.erase(K(1)));
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"k0", "k7", "k2", "k3", "k4", "k5", "k6"}));
  auto copy = t;
  EXPECT_FALSE(copy._HasBuckets());
  EXPECT_TRUE(copy == t);
  copy.erase(copy.begin());
  EXPECT_FALSE(copy == t);
  EXPECT_EQ(t.size(), 7u);

  t.try_emplace(K(1), 1);
  t.try_emplace(K(8), 8);
  EXPECT_TRUE(t._HasBuckets());
  ASSERT_TRUE(CheckInvariants(t));
  for (int i = 0; i <= 8; ++i) EXPECT_EQ(t.find(K(i))->second, i);
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"k0", "k7", "k2", "k3", "k4", "k5", "k6", "k1", "k8"}));
}

TEST(HashTableSmall, FindBucketBuildsTheBucketsOfASmallTable) {
  StringTable t{{"a", 1}, {"b", 2}};
  EXPECT_FALSE(t._HasBuckets());
  const std::uint32_t b = t.FindBucket("b");
  EXPECT_TRUE(t._HasBuckets());
  ASSERT_NE(b, StringTable::kNoBucket);
  EXPECT_TRUE(t.EraseAtBucket(b));
  EXPECT_EQ(Keys(t), std::vector<std::string>{"a"});
  EXPECT_TRUE(CheckInvariants(t));
}

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

TEST(HashTableErase, SwapAndPopOrder) {
  StringTable t;
  for (const char* k : {"first", "second", "third", "fourth"}) t.try_emplace(k, k[0]);
  const auto* second = &*t.find("second");
  EXPECT_TRUE(t.erase("fourth"));  // the last entry is only popped
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_EQ(&*t.find("second"), second);
  EXPECT_FALSE(t.erase("fourth"));

  EXPECT_TRUE(t.erase("first"));  // the third moves into position 0
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"third", "second"}));
  EXPECT_EQ(t.find("third")->second, 't');
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

TEST(HashTableErase, ByIteratorWhileIterating) {
  IntTable t;
  for (std::uint64_t k = 0; k < 300; ++k) t.try_emplace(k, k);
  for (auto it = t.begin(); it != t.end();) it = it->first % 3 == 0 ? t.erase(it) : it + 1;
  EXPECT_EQ(t.size(), 200u);
  for (std::uint64_t k = 0; k < 300; ++k) ASSERT_EQ(t.contains(k), k % 3 != 0) << k;
  EXPECT_TRUE(CheckInvariants(t));
}

// ---- copy, move, equality ----------------------------------------------------

TEST(HashTableCopyMove, CopyIsDeepAndKeepsOrder) {
  StringTable t;
  for (int i = 0; i < 500; ++i) t.try_emplace(K(i), i);
  t.erase("k7");
  StringTable copy(t);
  EXPECT_EQ(Keys(copy), Keys(t));
  EXPECT_TRUE(CheckInvariants(copy));  // including the reserved capacity

  copy["k1"] = -1;
  copy.erase("k2");
  EXPECT_EQ(t["k1"], 1);
  EXPECT_TRUE(t.contains("k2"));

  StringTable assigned;
  assigned.try_emplace("stale", 1);
  assigned = t;
  EXPECT_EQ(Keys(assigned), Keys(t));
  EXPECT_FALSE(assigned.contains("stale"));
}

TEST(HashTableCopyMove, MoveLeavesTheSourceAsANewTable) {
  StringTable t;
  for (int i = 0; i < 300; ++i) t.try_emplace(K(i), i);
  const auto keys = Keys(t);
  const auto* entry = &*t.find("k5");
  StringTable moved(std::move(t));
  EXPECT_EQ(Keys(moved), keys);
  EXPECT_EQ(&*moved.find("k5"), entry);  // entries are not copied
  EXPECT_TRUE(t.empty());                 // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(t._Shift(), 8);
  t.try_emplace("again", 1);
  EXPECT_TRUE(CheckInvariants(t));

  StringTable target;
  target.try_emplace("old", 0);
  target = std::move(moved);
  EXPECT_EQ(Keys(target), keys);
  EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
}

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

TEST(HashTableOverflow, ReservePastShift31IsReportedAndIgnored) {
  KRTAbendCapture capture;
  IntTable t;
  t.try_emplace(1, 1);
  t.reserve(std::size_t{1} << 32);
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last(), "HashTable size overflow!");
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_EQ(t.find(1)->second, 1u);
}

// A rebuild that cannot fit the entries within distance 14 is reported and
// abandoned: the table keeps its shift and every entry.
TEST(HashTableOverflow, DistanceOverflowInARebuildLeavesTheTableIntact) {
  KRTAbendCapture capture;
  ClusteredTable t;
  FillClustered(t);
  const auto keys = Keys(t);
  t.reserve(0);  // the load factor would allow shift 8, the hashes do not
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last(), "[InsertMetadata] Distance overflow!");
  EXPECT_EQ(t._Shift(), 12);
  EXPECT_EQ(Keys(t), keys);
  ASSERT_TRUE(CheckInvariants(t));
}

}  // namespace
