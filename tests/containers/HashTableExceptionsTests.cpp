// Vorn::HashTable's capacity reports with VORN_USE_STD_EXCEPTIONS set: they
// throw std::overflow_error and the table is left as it was.

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "containers/HashTableTestSupport.h"
#include "vorn/containers/HashTable.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"

namespace {

using vorn_test::CheckInvariants;
using vorn_test::TopBitsHash;

template <class F>
std::string OverflowMessage(F&& f) {
  try {
    f();
  } catch (const std::overflow_error& e) {
    return e.what();
  }
  return "<nothing thrown>";
}

TEST(HashTableExceptions, ReservePastShift31Throws) {
  ASSERT_TRUE(Vorn::UsesStdExceptions());
  KRTAbendCapture capture;
  Vorn::HashTable<std::string, int> t;
  t.try_emplace("a", 1);
  EXPECT_EQ(OverflowMessage([&] { t.reserve(std::size_t{1} << 40); }), "HashTable size overflow!");
  EXPECT_EQ(capture.Count(), 0u);
  EXPECT_EQ(t._Shift(), 8);
  EXPECT_EQ(t.find("a")->second, 1);
}

TEST(HashTableExceptions, DistanceOverflowThrowsAndKeepsTheTable) {
  Vorn::HashTable<std::uint64_t, int, TopBitsHash> t;
  for (std::uint64_t i = 0; i < 200; ++i) t.try_emplace(i << 8, static_cast<int>(i));
  ASSERT_EQ(t._Shift(), 12);
  std::vector<std::uint64_t> before;
  for (const auto& entry : t) before.push_back(entry.first);

  EXPECT_EQ(OverflowMessage([&] { t.reserve(16); }), "[InsertMetadata] Distance overflow!");
  EXPECT_EQ(t._Shift(), 12);
  std::vector<std::uint64_t> after;
  for (const auto& entry : t) after.push_back(entry.first);
  EXPECT_EQ(after, before);
  ASSERT_TRUE(CheckInvariants(t));
  // Still fully usable.
  EXPECT_TRUE(t.try_emplace(200u << 8, 200).second);
  EXPECT_TRUE(t.erase(0));
  EXPECT_TRUE(CheckInvariants(t));
}

}  // namespace
