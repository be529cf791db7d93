#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vorn/host/Status.h"
#include "vorn/host/UnicodeString.h"

namespace {

KRTUnicodeString FromBytes(const std::string& bytes) {
  KRTUnicodeString s;
  EXPECT_EQ(s.BuildFromUTF8(bytes.data(), bytes.size()), KRT_OK);
  return s;
}

TEST(UnicodeString, BuildKeepsEveryByteWhileTheNarrowFormStopsAtNul) {
  const std::string bytes("ab\0cd", 5);
  KRTUnicodeString s = FromBytes(bytes);
  EXPECT_EQ(s.View(), bytes);
  EXPECT_STREQ(static_cast<const char*>(s), "ab");
  EXPECT_FALSE(s == "ab");  // content comparison sees the NUL, not pointers

  EXPECT_EQ(s.BuildFromUTF8(nullptr, 3), KRT_E_INVALID_ARGUMENT);  // refused, unchanged
  EXPECT_EQ(s.View(), bytes);
  EXPECT_EQ(s.BuildFromUTF8(nullptr, 0), KRT_OK);
  EXPECT_STREQ(s.CastToCharPtr(), "");
  EXPECT_TRUE(KRTUnicodeString(static_cast<const char*>(nullptr)) == "");
}

TEST(UnicodeString, ConvertToUTF8ReportsThenCopiesWithoutTerminator) {
  const KRTUnicodeString s("h\xC3\xA9llo");  // 5 characters, 6 bytes
  std::size_t length = 0;
  ASSERT_EQ(s.ConvertToUTF8(nullptr, &length), KRT_OK);
  EXPECT_EQ(length, 6u);

  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  length = 5;  // one byte short: refused, nothing written, the need reported
  EXPECT_EQ(s.ConvertToUTF8(buffer, &length), KRT_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer[0], '#');
  ASSERT_EQ(s.ConvertToUTF8(buffer, &length), KRT_OK);  // exact capacity
  EXPECT_EQ(std::string(buffer, 7), "h\xC3\xA9llo#");
  EXPECT_EQ(s.ConvertToUTF8(buffer, nullptr), KRT_E_INVALID_ARGUMENT);
}

TEST(UnicodeString, LengthCountsCodePointsAndEachMalformedByte) {
  struct Case {
    std::string bytes;
    std::size_t expected;
    const char* what;
  };
  const Case cases[] = {
      {"", 0, "empty"},
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 4, "one character of each width"},
      {"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 4, "boundary code points"},
      {"\x80", 1, "lone continuation byte"},
      {"\xE2\x82", 2, "truncated at the end"},
      {"\xE2" "a", 2, "truncated, then ASCII"},
      {"\xC0\xAF", 2, "overlong two-byte form"},
      {"\xE0\x80\xAF", 3, "overlong three-byte form"},
      {"\xF0\x80\x80\xAF", 4, "overlong four-byte form"},
      {"\xED\xA0\x80", 3, "surrogate"},
      {"\xF4\x90\x80\x80", 4, "above U+10FFFF"},
      {"\xC3\xA9\x80\xC3\xA9", 3, "stray byte between valid characters"},
  };
  for (const Case& c : cases) EXPECT_EQ(FromBytes(c.bytes).GetLengthInChar(), c.expected) << c.what;
}

TEST(UnicodeString, CompareAnswersTwoForEqualAndOrdersByCodePoint) {
  const KRTUnicodeString abc("abc");
  EXPECT_EQ(abc.Compare(KRTUnicodeString("abc")), 2);
  EXPECT_EQ(abc.Compare(KRTUnicodeString("abd")), KRTUnicodeString::kLess);
  EXPECT_EQ(abc.Compare(KRTUnicodeString("ab")), KRTUnicodeString::kGreater);
  // Bytes above 0x7F sort after ASCII, as their code points do.
  EXPECT_EQ(KRTUnicodeString("\xC3\xA9").Compare(KRTUnicodeString("z")), KRTUnicodeString::kGreater);
}

}  // namespace
