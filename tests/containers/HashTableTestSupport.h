#pragma once

// Helpers shared by the hash table suites: an independent check of the
// table's layout invariants, and a hash functor that misbehaves on purpose.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vorn/containers/HashTable.h"

namespace vorn_test {

// Ends CheckInvariants with a failure when `ok` does not hold.
#define VORN_HT_REQUIRE(ok, message) \
  if (!(ok)) return ::testing::AssertionFailure() << message

// Checks the layout independently of the table's own code: bucket markers,
// distances, fingerprints, robin-hood order, stored hashes, find reaching every
// entry. Small tables (no bucket array) hold at most 8.
template <class Table>
::testing::AssertionResult CheckInvariants(const Table& table) {
  const std::size_t n = table.size();
  const unsigned shift = table._Shift();
  const std::size_t bucketCount = table._BucketCount();
  VORN_HT_REQUIRE(bucketCount == (std::size_t{1} << shift) + 16, "bucket count " << bucketCount << " at " << shift);
  VORN_HT_REQUIRE(shift >= 8 && shift <= 31, "shift " << shift);
  VORN_HT_REQUIRE(n == 0 || shift == 8 || table._EntryCapacity() >= bucketCount,
                  "entry capacity " << table._EntryCapacity() << " below " << bucketCount);

  auto hasher = table.hash_function();
  std::vector<typename Table::value_type> entries(table.begin(), table.end());
  for (std::size_t i = 0; i < n; ++i) {
    VORN_HT_REQUIRE(table._EntryHash(i) == static_cast<std::uint64_t>(hasher(entries[i].first)),
                    "stored hash of entry " << i << " is stale");
    VORN_HT_REQUIRE(static_cast<std::size_t>(table.find(entries[i].first) - table.begin()) == i,
                    "entry " << i << " not found");
  }
  if (!table._HasBuckets()) {
    VORN_HT_REQUIRE(n <= 8 && shift == 8, n << " entries without buckets at shift " << shift);
    return ::testing::AssertionSuccess();
  }

  std::vector<std::size_t> bucketOfEntry(n, SIZE_MAX);
  std::size_t occupied = 0;
  for (std::size_t b = 0; b < bucketCount; ++b) {
    const std::uint32_t index = table._BucketIndex(b);
    const unsigned meta = table._BucketMetadata(b);
    if (meta == 0) {
      VORN_HT_REQUIRE(index == 0xFFFFFFFFu, "empty bucket " << b << " has an index");
      continue;
    }
    ++occupied;
    VORN_HT_REQUIRE((meta & 1u) != 0, "bucket " << b << " metadata lacks occupancy bit");
    VORN_HT_REQUIRE(index < n, "bucket " << b << " index " << index << " >= " << n);
    VORN_HT_REQUIRE(bucketOfEntry[index] == SIZE_MAX, "entry " << index << " in two buckets, " << b << " and another");
    bucketOfEntry[index] = b;

    const std::uint64_t h = table._EntryHash(index);
    const unsigned distance = meta >> 4;
    const unsigned fingerprintBits = meta & 15u;
    VORN_HT_REQUIRE(distance <= 14, "bucket " << b << " at distance " << distance);
    VORN_HT_REQUIRE(fingerprintBits == ((h & 14u) | 1u), "bucket " << b << " fingerprint does not match the hash");
    const std::size_t home = static_cast<std::size_t>(h >> (64 - shift));
    VORN_HT_REQUIRE(home + distance == b, "entry " << index << " home " << home << " distance " << distance
                                                   << " but in bucket " << b);
    for (std::size_t j = home; j < b; ++j) {
      const unsigned wouldBe = static_cast<unsigned>((j - home) << 4) | fingerprintBits;
      VORN_HT_REQUIRE(table._BucketMetadata(j) >= wouldBe, "robin-hood order broken at " << j << " for " << index);
    }
  }
  VORN_HT_REQUIRE(occupied == n, occupied << " occupied buckets for " << n << " entries");
  return ::testing::AssertionSuccess();
}

#undef VORN_HT_REQUIRE

// Sends every key whose value is below 2^20 to the top of the hash: at shift s
// home = key >> (20 - s), so the keys pile up in the first home buckets of a
// small table and only spread out once it has grown.
struct TopBitsHash {
  std::uint64_t operator()(std::uint64_t key) const noexcept { return key << 44; }
};

}  // namespace vorn_test
