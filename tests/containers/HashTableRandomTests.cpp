// Vorn::HashTable against std::unordered_map: long runs of mixed operations
// with a fixed seed, checking contents, iteration order and the layout
// invariants after every batch.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "containers/HashTableTestSupport.h"
#include "vorn/containers/HashTable.h"
#include "vorn/host/SysLog.h"

namespace {

using vorn_test::CheckInvariants;

std::vector<std::string> StringUniverse(std::mt19937_64& rng, std::size_t count) {
  // Lengths from 0 to 70 reach every branch of the string hash.
  std::uniform_int_distribution<int> length(0, 70);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::unordered_map<std::string, int> seen;
  std::vector<std::string> keys;
  while (keys.size() < count) {
    std::string s(static_cast<std::size_t>(length(rng)), ' ');
    for (char& c : s) c = static_cast<char>(letter(rng));
    if (seen.emplace(s, 0).second) keys.push_back(std::move(s));
  }
  return keys;
}

std::vector<std::uint64_t> IntegerUniverse(std::mt19937_64& rng, std::size_t count) {
  std::unordered_map<std::uint64_t, int> seen;
  std::vector<std::uint64_t> keys;
  // Small keys too: their hashes differ only in the mixed high bits.
  for (std::uint64_t k = 0; k < count / 4; ++k) {
    seen.emplace(k, 0);
    keys.push_back(k);
  }
  while (keys.size() < count) {
    const std::uint64_t k = rng();
    if (seen.emplace(k, 0).second) keys.push_back(k);
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

template <class K>
void RunDifferential(const std::vector<K>& universe, std::uint64_t seed, int operations) {
  using Table = Vorn::HashTable<K, std::uint64_t>;
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> pick(0, universe.size() - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  Table table;
  Model<K> model;
  KRTAbendCapture capture;
  int refusedShrinks = 0;
  const int batch = 4000;
  // Phases of 40000 operations alternately fill and drain the table, so it
  // grows through several shifts and erasure runs on dense tables too.
  for (int op = 1; op <= operations; ++op) {
    const bool filling = (op / 40000) % 2 == 0;
    const int insertShare = filling ? 55 : 20;
    const int eraseShare = filling ? 15 : 50;
    const int roll = percent(rng);
    const K& key = universe[pick(rng)];
    const auto known = model.entries.find(key);
    const bool present = known != model.entries.end();
    const std::uint64_t value = rng();

    if (op % 499 == 0) {
      // Now and then: rebuild by reserve (possibly shrinking), or go through
      // a copy or a move; none of these may change contents or order.
      switch ((op / 499) % 3) {
        case 0: {
          const auto shift = table._Shift();
          const std::size_t reports = capture.Count();
          table.reserve(static_cast<std::size_t>(rng() % (3 * table.size() + 10)));
          if (capture.Count() != reports) {
            // A shrink that cannot keep every entry within distance 14 at
            // this load is refused as a whole.
            ASSERT_EQ(capture.Last(), "[InsertMetadata] Distance overflow!");
            ASSERT_EQ(table._Shift(), shift);
            ++refusedShrinks;
          }
          // A new shift is never below what the load factor needs.
          if (table._Shift() != shift) {
            ASSERT_LE(table.size() * 100, std::size_t{80} << table._Shift());
          }
          break;
        }
        case 1:
          table = Table(table);
          break;
        default: {
          Table moved(std::move(table));
          table = std::move(moved);
        }
      }
    } else if (roll < insertShare) {
      if (roll % 4 == 0) {
        // Insert or overwrite, by operator[] or by insert_or_assign.
        if (roll % 8 == 0) {
          table[key] = value;
        } else {
          ASSERT_EQ(table.insert_or_assign(key, value).second, !present);
        }
        if (present) {
          known->second.first = value;
        } else {
          model.Insert(key, value);
        }
      } else {
        auto [it, inserted] = table.try_emplace(key, value);
        ASSERT_EQ(inserted, !present);
        ASSERT_EQ(it->first, key);
        if (!present) model.Insert(key, value);
        ASSERT_EQ(it->second, model.entries.at(key).first);
        ASSERT_EQ(static_cast<std::size_t>(it - table.begin()), model.entries.at(key).second);
      }
    } else if (roll < insertShare + eraseShare) {
      switch (roll % 3) {
        case 0:
          ASSERT_EQ(table.erase(key), present);
          break;
        case 1:
          ASSERT_EQ(table.EraseAtBucket(table.FindBucket(key)), present);
          break;
        default: {
          auto it = table.find(key);
          ASSERT_EQ(it != table.end(), present);
          if (it != table.end()) table.erase(it);
        }
      }
      if (present) model.Erase(key);
    } else {
      const auto it = table.find(key);
      ASSERT_EQ(it != table.end(), present);
      if (present) {
        ASSERT_EQ(it->second, known->second.first);
        ASSERT_EQ(static_cast<std::size_t>(it - table.begin()), known->second.second);
      }
      ASSERT_EQ(table.contains(key), present);
    }
    if (op % batch == 0) {
      ExpectSameState(table, model);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
  ExpectSameState(table, model);

  // Drain completely: the table must end as a valid empty table.
  const std::vector<K> remaining = model.order;
  for (const K& key : remaining) {
    ASSERT_TRUE(table.erase(key));
    model.Erase(key);
  }
  ExpectSameState(table, model);
  EXPECT_TRUE(table.empty());
  // Only refused shrinks may report anything.
  EXPECT_EQ(capture.Count(), static_cast<std::size_t>(refusedShrinks));
}

TEST(HashTableRandom, StringKeysMatchUnorderedMap) {
  std::mt19937_64 rng(20240611);
  const auto universe = StringUniverse(rng, 24000);
  RunDifferential(universe, 1, 300000);
}

TEST(HashTableRandom, IntegerKeysMatchUnorderedMap) {
  std::mt19937_64 rng(77);
  const auto universe = IntegerUniverse(rng, 24000);
  RunDifferential(universe, 2, 400000);
}

}  // namespace
