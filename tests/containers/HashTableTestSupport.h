#pragma once

// Helpers shared by the hash table suites: an independent check of the
// table's layout, and a hash functor that misbehaves on purpose.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "vorn/containers/HashTable.h"

namespace vorn_test {

// Checks the layout independently of the table's own code: find reaches every
// entry, and each full bucket holds one entry, whose stored hash is current, at
// its home plus the distance and with the fingerprint its metadata records.
template <class Table>
::testing::AssertionResult CheckInvariants(const Table& table) {
  const std::size_t n = table.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (table.find((table.begin() + i)->first) != table.begin() + i)
      return ::testing::AssertionFailure() << "entry " << i << " not found";
  }
  const auto hasher = table.hash_function();
  std::size_t occupied = 0;
  for (std::size_t b = 0; b < table._BucketCount(); ++b) {
    const unsigned meta = table._BucketMetadata(b);
    if (meta == 0) continue;
    ++occupied;
    const std::uint32_t index = table._BucketIndex(b);
    if (index >= n) return ::testing::AssertionFailure() << "bucket " << b << " index " << index << " >= " << n;
    const std::uint64_t h = table._EntryHash(index);
    const std::size_t home = static_cast<std::size_t>(h >> (64 - table._Shift()));
    if (h != static_cast<std::uint64_t>(hasher((table.begin() + index)->first)) || b < home || b - home > 14 ||
        meta != (((b - home) << 4) | (h & 14u) | 1u))
      return ::testing::AssertionFailure() << "bucket " << b << " does not match entry " << index;
  }
  // A small table may do without buckets; then it holds at most 8.
  if (occupied != (table._HasBuckets() ? n : 0) || (!table._HasBuckets() && n > 8))
    return ::testing::AssertionFailure() << occupied << " full buckets for " << n << " entries";
  return ::testing::AssertionSuccess();
}

// Sends every key whose value is below 2^20 to the top of the hash: at shift s
// home = key >> (20 - s), so the keys pile up in the first home buckets of a
// small table and only spread out once it has grown.
struct TopBitsHash {
  std::uint64_t operator()(std::uint64_t key) const noexcept { return key << 44; }
};

}  // namespace vorn_test
