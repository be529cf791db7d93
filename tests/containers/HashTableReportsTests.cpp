// Vorn::HashTable's capacity reports, built into both suites: logged in the
// default mode, thrown with VORN_USE_STD_EXCEPTIONS. Either way the table is
// left as it was; growth itself never reports.

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "core/CoreTestSupport.h"
#include "vorn/containers/HashTable.h"

namespace {

using Entries = std::vector<std::pair<std::uint64_t, int>>;
using vorn_test::ReportOf;

// Sends every key below 2^20 to the top of the hash: at shift s home is
// key >> (20 - s), so the keys pile up in the first buckets of a small table.
struct TopBitsHash {
  std::uint64_t operator()(std::uint64_t key) const noexcept { return key << 44; }
};

TEST(HashTableReports, CapacityReportsKeepTheTable) {
  // Clustered hashes force growth by distance, far beyond what the load
  // factor asks for, rather than a report.
  const KRTAbendCapture growth;
  Vorn::HashTable<std::uint64_t, int, TopBitsHash> t;
  for (std::uint64_t i = 0; i < 200; ++i) ASSERT_TRUE(t.try_emplace(i << 8, static_cast<int>(i)).second);
  ASSERT_EQ(t._Shift(), 12);
  EXPECT_EQ(growth.Count(), 0u);
  const Entries before(t.begin(), t.end());

  EXPECT_EQ(ReportOf([&] { t.reserve(std::size_t{1} << 32); }), "HashTable size overflow!");
  // Shift 8 would hold 200 entries by load, but not these clustered hashes.
  EXPECT_EQ(ReportOf([&] { t.reserve(16); }), "[InsertMetadata] Distance overflow!");
  EXPECT_EQ(ReportOf([&] { t.reserve(0); }), "[InsertMetadata] Distance overflow!");
  EXPECT_EQ(t._Shift(), 12);
  EXPECT_EQ(Entries(t.begin(), t.end()), before);
  for (const auto& [key, value] : before) EXPECT_EQ(t.find(key)->second, value) << key;
  EXPECT_TRUE(t.try_emplace(200u << 8, 200).second);  // new, and the table is still fully usable
  EXPECT_TRUE(t.erase(0));
  EXPECT_EQ(t.size(), 200u);
}

}  // namespace
