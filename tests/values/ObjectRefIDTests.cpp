// VornObjectRefID: reading hexadecimal text, printing, validity.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "vorn/values/ObjectRefID.h"

namespace {

constexpr unsigned long long kAllOnes = 0xFFFFFFFFFFFFFFFFull;

static_assert(!VornObjectRefID().IsValid());
static_assert(VornObjectRefID(0).IsValid());
static_assert(VornObjectRefID() == VornObjectRefID(kAllOnes));

TEST(VornObjectRefID, ReadsHexadecimalText) {
  struct Case {
    const char* text;
    unsigned long long raw;
  };
  const Case cases[] = {
      {"ff", 255},
      {"FF", 255},
      {"0", 0},
      {"0x1f", 0x1f},    // the stream accepts the prefix in hexadecimal mode
      {"0X1F", 0x1f},
      {"  1a", 0x1a},    // leading white space is skipped
      {"\t\n7", 7},
      {"10 20", 0x10},   // reading stops at the first number
      {"12g", 0x12},     // ... and at the first non-digit
      {"fedcba9876543210", 0xfedcba9876543210ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    VornObjectRefID id{std::string(c.text)};
    EXPECT_EQ(id.GetRawID(), c.raw);
    EXPECT_TRUE(id.IsValid());
  }
}

TEST(VornObjectRefID, UnreadableTextGivesTheInvalidId) {
  for (const char* text : {"xyz", "", "   ", "g1", "0x", "10000000000000000" /* 65 bits */}) {
    SCOPED_TRACE(text);
    VornObjectRefID id{std::string(text)};
    EXPECT_FALSE(id.IsValid());
    EXPECT_EQ(id.GetRawID(), kAllOnes);
  }
  // All ones reads fine but is the invalid marker itself.
  EXPECT_FALSE(VornObjectRefID(std::string("ffffffffffffffff")).IsValid());
}

}  // namespace
