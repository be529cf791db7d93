// Vorn::HashTable: growth and reserve rules, insertion and erasure order,
// lookups by other key types, copies and moves, equality, and the capacity
// reports in the default error mode.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
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

// ---- growth and reserve ------------------------------------------------------

TEST(HashTableGrowth, NewTableHasShift8AndEmptyBuckets) {
  StringTable t;
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_EQ(t._BucketCount(), 272u);
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(t.begin(), t.end());
  for (std::size_t b = 0; b < t._BucketCount(); ++b) {
    ASSERT_EQ(t._BucketMetadata(b), 0);
    ASSERT_EQ(t._BucketIndex(b), 0xFFFFFFFFu);
  }
}

TEST(HashTableGrowth, Holds205EntriesAtShift8AndGrowsOnThe206th) {
  IntTable t;
  for (std::uint64_t k = 0; k < 205; ++k) ASSERT_TRUE(t.try_emplace(k, k).second);
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_EQ(t._BucketCount(), 272u);
  ASSERT_TRUE(CheckInvariants(t));

  // Re-inserting a present key does not add an entry.
  EXPECT_FALSE(t.try_emplace(0, 99).second);
  EXPECT_EQ(t.size(), 205u);

  ASSERT_TRUE(t.try_emplace(205, 205).second);
  EXPECT_EQ(t._Shift(), 9);
  EXPECT_EQ(t._BucketCount(), 528u);
  EXPECT_EQ(t.size(), 206u);
  ASSERT_TRUE(CheckInvariants(t));
  std::uint64_t expected = 0;
  for (const auto& [k, v] : t) {
    EXPECT_EQ(k, expected);
    EXPECT_EQ(v, expected);
    ++expected;
  }
}

TEST(HashTableGrowth, ReserveComputesTheShiftFromTheCount) {
  StringTable t;
  t.reserve(0);
  EXPECT_EQ(t._Shift(), 8);
  t.reserve(1);
  EXPECT_EQ(t._Shift(), 8);
  t.reserve(1000);
  EXPECT_EQ(t._Shift(), 10);
  EXPECT_EQ(t._BucketCount(), 1040u);
  t.reserve(1024);
  EXPECT_EQ(t._Shift(), 10);
  t.reserve(1025);
  EXPECT_EQ(t._Shift(), 11);
  // Shrinking is allowed while the entries fit.
  t.try_emplace("a", 1);
  t.reserve(3);
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_TRUE(CheckInvariants(t));
  EXPECT_EQ(t.find("a")->second, 1);
}

TEST(HashTableGrowth, ReserveAvoidsRebuildsAndKeepsEntryAddresses) {
  IntTable t;
  t.reserve(5000);
  ASSERT_EQ(t._Shift(), 13);
  t.try_emplace(42, 1);
  const auto* first = &*t.find(42);
  // 6554 entries in all: the most shift 13 holds (6554 * 100 > 80 * 8192 only at the next insertion).
  for (std::uint64_t k = 1000; k < 1000 + 6553; ++k) t.try_emplace(k, k);
  ASSERT_EQ(t.size(), 6554u);
  EXPECT_EQ(t._Shift(), 13);
  EXPECT_EQ(&*t.find(42), first);
  EXPECT_TRUE(CheckInvariants(t));
}

TEST(HashTableGrowth, ReserveBelowTheEntriesKeepsThemAll) {
  IntTable t;
  for (std::uint64_t k = 0; k < 1000; ++k) t.try_emplace(k, k * 3);
  ASSERT_EQ(t._Shift(), 11);
  const auto order = Keys(t);

  // 1000 entries need 1250 home buckets: shift 11 is the least that holds them.
  t.reserve(10);
  EXPECT_EQ(t._Shift(), 11);
  t.reserve(100000);
  EXPECT_EQ(t._Shift(), 17);
  t.reserve(0);
  EXPECT_EQ(t._Shift(), 11);
  EXPECT_EQ(Keys(t), order);
  ASSERT_TRUE(CheckInvariants(t));
  for (std::uint64_t k = 0; k < 1000; ++k) ASSERT_EQ(t.find(k)->second, k * 3);

  // At 205 entries shift 8 is still legal (insertion left them there): a
  // reserve(0) must not grow the table.
  IntTable full;
  for (std::uint64_t k = 0; k < 205; ++k) full.try_emplace(k, k);
  full.reserve(0);
  EXPECT_EQ(full._Shift(), 8);
}

// Keys that share their top hash bits force growth by distance, far beyond
// what the load factor asks for; every key stays findable within distance 14.
TEST(HashTableGrowth, ClusteredHashesGrowInsteadOfPassingDistance14) {
  KRTAbendCapture capture;
  Vorn::HashTable<std::uint64_t, int, TopBitsHash> t;
  for (std::uint64_t i = 0; i < 200; ++i) {
    ASSERT_TRUE(t.try_emplace(i << 8, static_cast<int>(i)).second) << i;
    ASSERT_TRUE(CheckInvariants(t)) << "after key " << i;
  }
  // At shift s the keys fall into home i >> (12 - s): only shift 12 spreads
  // 200 of them thin enough.
  EXPECT_EQ(t._Shift(), 12);
  for (std::uint64_t i = 0; i < 200; ++i) ASSERT_EQ(t.find(i << 8)->second, static_cast<int>(i));
  EXPECT_FALSE(t.contains(200u << 8));
  EXPECT_EQ(capture.Count(), 0u);
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
  EXPECT_EQ(t.size(), 1u);

  EXPECT_FALSE(t.insert({"k", 3}).second);
  EXPECT_EQ(t["k"], 1);
  EXPECT_FALSE(t.insert_or_assign("k", 4).second);
  EXPECT_EQ(t["k"], 4);
}

TEST(HashTableInsert, NewEntriesAreValueInitialisedAndAppended) {
  Vorn::HashTable<std::string, std::vector<int>> t;
  EXPECT_TRUE(t["x"].empty());
  t["y"].push_back(5);
  t.try_emplace("z", 3u, 7);  // V constructed from the arguments
  EXPECT_EQ(t["z"], (std::vector<int>{7, 7, 7}));
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(t.find("y")->second, std::vector<int>{5});
}

TEST(HashTableInsert, MoveOnlyValuesAndKeysMovedIn) {
  Vorn::HashTable<std::string, std::unique_ptr<int>> t;
  std::string key(40, 'k');  // past the small-string buffer, so a move steals it
  const char* buffer = key.data();
  auto [it, inserted] = t.try_emplace(std::move(key), std::make_unique<int>(9));
  ASSERT_TRUE(inserted);
  EXPECT_EQ(it->first.data(), buffer);
  EXPECT_EQ(*it->second, 9);
  t.erase(std::string(40, 'k'));
  EXPECT_TRUE(t.empty());
}

// Insertions whose arguments refer into the table itself, made exactly when
// the table must grow: the growth may not free what they refer to first.
TEST(HashTableInsert, ArgumentsReferringToEntriesSurviveGrowth) {
  Vorn::HashTable<std::string, std::string> t;
  for (int i = 0; i < 205; ++i) t.try_emplace("key number " + std::to_string(i), "value number " + std::to_string(i));
  ASSERT_EQ(t._Shift(), 8);
  // An existing key, given by reference to its own entry.
  const std::string& ownKey = t.begin()->first;
  auto found = t.try_emplace(ownKey, "ignored");
  EXPECT_FALSE(found.second);
  EXPECT_EQ(found.first->first, "key number 0");
  EXPECT_EQ(found.first->second, "value number 0");

  Vorn::HashTable<std::string, std::string> u;
  for (int i = 0; i < 205; ++i) u.try_emplace("key number " + std::to_string(i), "value number " + std::to_string(i));
  // A new key whose value is copied from an existing entry.
  auto added = u.try_emplace("new key", u.begin()->second);
  ASSERT_TRUE(added.second);
  EXPECT_EQ(u._Shift(), 9);
  EXPECT_EQ(added.first->second, "value number 0");
  EXPECT_TRUE(CheckInvariants(u));
}

// ---- lookup --------------------------------------------------------------------

TEST(HashTableFind, EmptyTableAnswersWithoutHashing) {
  int calls = 0;
  Vorn::HashTable<std::string, int, CountingHash> t(CountingHash{&calls});
  EXPECT_EQ(t.find("absent"), t.end());
  EXPECT_FALSE(t.contains("absent"));
  EXPECT_FALSE(t.erase("absent"));
  EXPECT_EQ(t.FindBucket("absent"), 0xFFFFFFFFu);
  EXPECT_EQ(calls, 0);

  t.try_emplace("present", 1);
  EXPECT_EQ(calls, 1);
  EXPECT_NE(t.find("present"), t.end());
  EXPECT_EQ(calls, 2);
  // Growth reuses the stored hashes.
  for (int i = 0; i < 1000; ++i) t.try_emplace(std::to_string(i), i);
  EXPECT_EQ(calls, 1002);
  EXPECT_GT(t._Shift(), 8);

  t.erase("present");
  const int before = calls;
  t.clear();
  EXPECT_EQ(t.find("0"), t.end());
  EXPECT_EQ(calls, before);
}

TEST(HashTableFind, StringTablesAcceptViewsAndCStrings) {
  StringTable t;
  t.try_emplace("alpha", 1);
  t.try_emplace(std::string("beta"), 2);
  const std::string_view view = "alpha and more";
  EXPECT_EQ(t.find(view.substr(0, 5))->second, 1);
  EXPECT_TRUE(t.contains("beta"));
  EXPECT_FALSE(t.contains(view));
  EXPECT_EQ(t.count(std::string_view("beta")), 1u);
  EXPECT_EQ(t.count("gamma"), 0u);

  // A view key builds the std::string only for a new entry.
  auto [it, inserted] = t.try_emplace(std::string_view("gamma"), 3);
  EXPECT_TRUE(inserted);
  EXPECT_EQ(it->first, "gamma");
  EXPECT_FALSE(t.try_emplace(std::string_view("alpha"), 9).second);
  t[std::string_view("delta")] = 4;
  EXPECT_EQ(t["delta"], 4);

  // Keys with embedded zero bytes compare by length, then bytes.
  const std::string withZero("a\0b", 3);
  t.try_emplace(withZero, 5);
  EXPECT_FALSE(t.contains(std::string_view("a")));
  EXPECT_EQ(t.find(std::string_view(withZero))->second, 5);

  EXPECT_TRUE(t.erase(std::string_view("beta")));
  EXPECT_FALSE(t.contains("beta"));
  EXPECT_TRUE(CheckInvariants(t));

  const StringTable& ct = t;
  EXPECT_EQ(ct.find("gamma")->second, 3);
  EXPECT_EQ(ct.find(std::string_view("nope")), ct.end());
}

// ---- erasure -------------------------------------------------------------------

TEST(HashTableErase, LastEntryIsOnlyPopped) {
  StringTable t;
  for (const char* k : {"a", "b", "c", "d"}) t.try_emplace(k, k[0]);
  const auto* a = &*t.find("a");
  EXPECT_TRUE(t.erase("d"));
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(&*t.find("a"), a);
  EXPECT_FALSE(t.erase("d"));
  EXPECT_TRUE(CheckInvariants(t));
}

TEST(HashTableErase, FirstOfThreeTakesTheLast) {
  StringTable t;
  t.try_emplace("first", 1);
  t.try_emplace("second", 2);
  t.try_emplace("third", 3);
  EXPECT_TRUE(t.erase("first"));
  EXPECT_EQ(Keys(t), (std::vector<std::string>{"third", "second"}));
  EXPECT_EQ(t.find("third")->second, 3);
  EXPECT_EQ(t.find("third") - t.begin(), 0);
  EXPECT_TRUE(CheckInvariants(t));
}

TEST(HashTableErase, AtBucketRefusesInvalidBuckets) {
  StringTable t;
  EXPECT_FALSE(t.EraseAtBucket(0xFFFFFFFFu));
  EXPECT_FALSE(t.EraseAtBucket(0));  // nothing allocated yet
  t.try_emplace("only", 1);
  const std::uint32_t b = t.FindBucket("only");
  ASSERT_NE(b, 0xFFFFFFFFu);
  EXPECT_FALSE(t.EraseAtBucket(0xFFFFFFFFu));
  EXPECT_FALSE(t.EraseAtBucket(static_cast<std::uint32_t>(t._BucketCount())));
  EXPECT_FALSE(t.EraseAtBucket(b == 0 ? 1 : b - 1));  // an empty bucket
  EXPECT_EQ(t.size(), 1u);
  EXPECT_TRUE(t.EraseAtBucket(b));
  EXPECT_TRUE(t.empty());
  EXPECT_FALSE(t.EraseAtBucket(b));
}

TEST(HashTableErase, ByIteratorWhileIterating) {
  IntTable t;
  for (std::uint64_t k = 0; k < 300; ++k) t.try_emplace(k, k);
  for (auto it = t.begin(); it != t.end();) {
    if (it->first % 3 == 0) {
      it = t.erase(it);
    } else {
      ++it;
    }
  }
  EXPECT_EQ(t.size(), 200u);
  for (std::uint64_t k = 0; k < 300; ++k) ASSERT_EQ(t.contains(k), k % 3 != 0) << k;
  EXPECT_TRUE(CheckInvariants(t));
}

TEST(HashTableErase, ClearKeepsTheShift) {
  IntTable t;
  for (std::uint64_t k = 0; k < 2000; ++k) t.try_emplace(k, k);
  const auto shift = t._Shift();
  t.clear();
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(t._Shift(), shift);
  EXPECT_FALSE(t.contains(5));
  EXPECT_TRUE(CheckInvariants(t));
  t.try_emplace(5, 6);
  EXPECT_EQ(t.find(5)->second, 6u);
  EXPECT_TRUE(CheckInvariants(t));
}

// ---- copy, move, equality ----------------------------------------------------

TEST(HashTableCopyMove, CopyIsDeepAndKeepsOrder) {
  StringTable t;
  for (int i = 0; i < 500; ++i) t.try_emplace(K(i), i);
  t.erase("k7");
  StringTable copy(t);
  EXPECT_EQ(Keys(copy), Keys(t));
  EXPECT_EQ(copy._Shift(), t._Shift());
  EXPECT_TRUE(copy == t);
  EXPECT_TRUE(CheckInvariants(copy));

  copy["k1"] = -1;
  copy.erase("k2");
  copy.try_emplace("fresh", 0);
  EXPECT_EQ(t["k1"], 1);
  EXPECT_TRUE(t.contains("k2"));
  EXPECT_FALSE(t.contains("fresh"));
  EXPECT_TRUE(CheckInvariants(copy));
  EXPECT_TRUE(CheckInvariants(t));

  StringTable assigned;
  assigned.try_emplace("stale", 1);
  assigned = t;
  EXPECT_TRUE(assigned == t);
  EXPECT_FALSE(assigned.contains("stale"));
  const StringTable& same = assigned;
  assigned = same;
  EXPECT_TRUE(assigned == t);

  StringTable empty;
  StringTable emptyCopy(empty);
  EXPECT_TRUE(emptyCopy.empty());
  emptyCopy.try_emplace("a", 1);
  EXPECT_TRUE(empty.empty());
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
  EXPECT_FALSE(t.contains("k5"));
  t.try_emplace("again", 1);
  EXPECT_EQ(t["again"], 1);
  EXPECT_TRUE(CheckInvariants(t));

  StringTable target;
  target.try_emplace("old", 0);
  target = std::move(moved);
  EXPECT_EQ(Keys(target), keys);
  EXPECT_FALSE(target.contains("old"));
  EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(CheckInvariants(target));

  using std::swap;
  swap(t, target);
  EXPECT_EQ(Keys(t), keys);
  EXPECT_EQ(Keys(target), std::vector<std::string>{"again"});
}

TEST(HashTableEquality, IgnoresOrderButNotValuesOrKeys) {
  StringTable a;
  StringTable b;
  a.try_emplace("x", 1);
  a.try_emplace("y", 2);
  b.try_emplace("y", 2);
  b.try_emplace("x", 1);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  b["x"] = 3;
  EXPECT_FALSE(a == b);
  b["x"] = 1;
  b.try_emplace("z", 0);
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(b == a);
  b.erase("x");
  EXPECT_FALSE(a == b);  // same size, different keys
  EXPECT_TRUE(StringTable() == StringTable());
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
  Vorn::HashTable<std::uint64_t, int, TopBitsHash> t;
  for (std::uint64_t i = 0; i < 200; ++i) t.try_emplace(i << 8, static_cast<int>(i));
  ASSERT_EQ(t._Shift(), 12);
  ASSERT_EQ(capture.Count(), 0u);
  const auto keys = Keys(t);

  t.reserve(0);  // the load factor would allow shift 8, the hashes do not
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last(), "[InsertMetadata] Distance overflow!");
  EXPECT_EQ(t._Shift(), 12);
  EXPECT_EQ(Keys(t), keys);
  ASSERT_TRUE(CheckInvariants(t));
  for (std::uint64_t i = 0; i < 200; ++i) ASSERT_EQ(t.find(i << 8)->second, static_cast<int>(i));
}

}  // namespace
