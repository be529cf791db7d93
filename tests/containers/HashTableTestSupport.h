#pragma once

// Helpers shared by the hash table suites: an independent check of the
// table's layout invariants, and hash functors that misbehave on purpose.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vorn/containers/HashTable.h"

namespace vorn_test {

// A small table (no bucket array): at most 8 entries, true stored hashes,
// every entry found. Otherwise walks the bucket array and checks, with the
// table's own hasher:
// - the array has 2^shift + 16 buckets and empty buckets are (0xFFFFFFFF, 0);
// - every occupied bucket holds a distinct entry index below size(), its
//   metadata encodes the entry's distance (at most 14) and hash bits, and the
//   entry sits exactly that far from its home bucket;
// - robin-hood order: each bucket between an entry's home and its bucket holds
//   a metadata at least the one the entry would have there;
// - the stored hash is the key's hash, and find reaches every entry;
// - past the first bucket array, the entry arrays have room for as many
//   entries as there are buckets.
template <class Table>
::testing::AssertionResult CheckInvariants(const Table& table) {
  const std::size_t n = table.size();
  const unsigned shift = table._Shift();
  const std::size_t bucketCount = table._BucketCount();
  if (bucketCount != (std::size_t{1} << shift) + 16) {
    return ::testing::AssertionFailure() << "bucket count " << bucketCount << " at shift " << shift;
  }
  if (shift < 8 || shift > 31) return ::testing::AssertionFailure() << "shift " << shift;
  if (n > 0 && shift > 8 && table._EntryCapacity() < bucketCount) {
    return ::testing::AssertionFailure() << "entry capacity " << table._EntryCapacity() << " below " << bucketCount;
  }

  auto hasher = table.hash_function();
  std::vector<typename Table::value_type> entries(table.begin(), table.end());
  if (!table._HasBuckets()) {
    // A small table: at most 8 entries, each with its true hash, each found.
    if (n > 8 || shift != 8) return ::testing::AssertionFailure() << n << " entries without buckets at shift " << shift;
    for (std::size_t i = 0; i < n; ++i) {
      if (table._EntryHash(i) != static_cast<std::uint64_t>(hasher(entries[i].first))) {
        return ::testing::AssertionFailure() << "stored hash of entry " << i << " is stale";
      }
      if (static_cast<std::size_t>(table.find(entries[i].first) - table.begin()) != i) {
        return ::testing::AssertionFailure() << "entry " << i << " not found";
      }
    }
    return ::testing::AssertionSuccess();
  }

  std::vector<std::size_t> bucketOfEntry(n, SIZE_MAX);
  std::size_t occupied = 0;
  for (std::size_t b = 0; b < bucketCount; ++b) {
    const std::uint32_t index = table._BucketIndex(b);
    const unsigned meta = table._BucketMetadata(b);
    if (meta == 0) {
      if (index != 0xFFFFFFFFu) return ::testing::AssertionFailure() << "empty bucket " << b << " has an index";
      continue;
    }
    ++occupied;
    if ((meta & 1u) == 0) return ::testing::AssertionFailure() << "bucket " << b << " metadata lacks occupancy bit";
    if (index >= n) return ::testing::AssertionFailure() << "bucket " << b << " index " << index << " >= " << n;
    if (bucketOfEntry[index] != SIZE_MAX) {
      return ::testing::AssertionFailure() << "entry " << index << " in buckets " << bucketOfEntry[index] << " and "
                                           << b;
    }
    bucketOfEntry[index] = b;

    const std::uint64_t h = table._EntryHash(index);
    if (h != static_cast<std::uint64_t>(hasher(entries[index].first))) {
      return ::testing::AssertionFailure() << "stored hash of entry " << index << " is stale";
    }
    const unsigned distance = meta >> 4;
    const unsigned fingerprintBits = meta & 15u;
    if (distance > 14) return ::testing::AssertionFailure() << "bucket " << b << " at distance " << distance;
    if (fingerprintBits != ((h & 14u) | 1u)) {
      return ::testing::AssertionFailure() << "bucket " << b << " fingerprint does not match the hash";
    }
    const std::size_t home = static_cast<std::size_t>(h >> (64 - shift));
    if (home + distance != b) {
      return ::testing::AssertionFailure() << "entry " << index << " home " << home << " distance " << distance
                                           << " but in bucket " << b;
    }
    for (std::size_t j = home; j < b; ++j) {
      const unsigned wouldBe = static_cast<unsigned>((j - home) << 4) | fingerprintBits;
      if (table._BucketMetadata(j) < wouldBe) {
        return ::testing::AssertionFailure() << "robin-hood order broken at bucket " << j << " for entry " << index;
      }
    }
  }
  if (occupied != n) return ::testing::AssertionFailure() << occupied << " occupied buckets for " << n << " entries";
  for (std::size_t i = 0; i < n; ++i) {
    if (static_cast<std::size_t>(table.find(entries[i].first) - table.begin()) != i) {
      return ::testing::AssertionFailure() << "entry " << i << " not reachable from its home bucket";
    }
  }
  return ::testing::AssertionSuccess();
}

// Sends every key whose value is below 2^20 to the top of the hash: at shift s
// home = key >> (20 - s), so the keys pile up in the first home buckets of a
// small table and only spread out once it has grown.
struct TopBitsHash {
  std::uint64_t operator()(std::uint64_t key) const noexcept { return key << 44; }
};

// Counts the keys it hashes, to see when a table hashes at all.
struct CountingHash {
  int* calls;
  std::uint64_t operator()(const std::string& key) const {
    ++*calls;
    return Vorn::HashBytes(key.data(), key.size());
  }
};

}  // namespace vorn_test
