// Host strings, UUIDs, Base64 and message parameters.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "vorn/host/Binary.h"
#include "vorn/host/CodePage.h"
#include "vorn/host/Message.h"
#include "vorn/host/Status.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/host/Uuid.h"

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
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0},
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 4},                   // one character of each width
      {"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 4},  // boundary code points
      {"\x80", 1},                                                     // lone continuation byte
      {"\xE2\x82", 2},                                                 // truncated at the end
      {"\xE2" "a", 2},                                                 // truncated, then ASCII
      {"\xC0\xAF", 2},                                                 // overlong forms
      {"\xE0\x80\xAF", 3},
      {"\xF0\x80\x80\xAF", 4},
      {"\xED\xA0\x80", 3},                                             // surrogate
      {"\xF4\x90\x80\x80", 4},                                         // above U+10FFFF
      {"\xC3\xA9\x80\xC3\xA9", 3},                                     // stray byte between valid characters
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(FromBytes(bytes).GetLengthInChar(), expected) << bytes;
}

TEST(UnicodeString, CompareAnswersTwoForEqualAndOrdersByCodePoint) {
  const KRTUnicodeString abc("abc");
  EXPECT_EQ(abc.Compare(KRTUnicodeString("abc")), 2);
  EXPECT_EQ(abc.Compare(KRTUnicodeString("abd")), KRTUnicodeString::kLess);
  EXPECT_EQ(abc.Compare(KRTUnicodeString("ab")), KRTUnicodeString::kGreater);
  // Bytes above 0x7F sort after ASCII, as their code points do.
  EXPECT_EQ(KRTUnicodeString("\xC3\xA9").Compare(KRTUnicodeString("z")), KRTUnicodeString::kGreater);
}

TEST(Uuid, FormatsOfKnownBytes) {
  KRTUuid::Bytes bytes;
  for (unsigned i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 0x11);
  const KRTUuid id(bytes);
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCanonical), "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatBraced), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCompact), "00112233445566778899aabbccddeeff");
}

TEST(Base64, Rfc4648VectorsTheWholeAlphabetAndBadArguments) {
  std::string longText;  // no line breaks, however long
  for (int i = 0; i < 100; ++i) longText += "YWFh";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
      {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {std::string("\xFB\xFF\xBF", 3), "+/+/"}, {std::string("\0\xFF", 2), "AP8="},
      {std::string(300, 'a'), longText},
  };
  for (const auto& [bytes, expected] : cases) {
    char* text = nullptr;
    ASSERT_EQ(KRTCodePage::ConvertToBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &text),
              KRT_OK);
    EXPECT_EQ(text, expected) << bytes;
    KRTCodePage::FreeText(text);
  }

  char* text = reinterpret_cast<char*>(1);
  EXPECT_EQ(KRTCodePage::ConvertToBase64(nullptr, 3, &text), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(text, nullptr);
  const unsigned char bytes[] = {1, 2, 3};
  EXPECT_EQ(KRTCodePage::ConvertToBase64(bytes, 3, nullptr), KRT_E_INVALID_ARGUMENT);
  // No bytes at all is an empty input; the text is released with std::free.
  ASSERT_EQ(KRTCodePage::ConvertToBase64(nullptr, 0, &text), KRT_OK);
  EXPECT_STREQ(text, "");
  std::free(text);
}

// Members are found by key and kind; a rewrite keeps the member's place, and
// equality looks at kinds, values and order.
TEST(Parameters, MembersAreFoundByKindRewrittenInPlaceAndCompared) {
  MBX::Parameters p, q;
  ASSERT_EQ(p.WriteString("a", "1"), KRT_OK);
  ASSERT_EQ(p.WriteBuffer("b", OVK::Binary("\x01\x02", 2)), KRT_OK);
  EXPECT_EQ(p.FindBuffer("a"), nullptr);
  EXPECT_EQ(p.FindString("b"), nullptr);
  EXPECT_EQ(p.FindString("A"), nullptr);
  EXPECT_EQ(p.WriteString("", "v"), KRT_E_INVALID_ARGUMENT);
  q.WriteString("a", "x");
  q.WriteBuffer("b", OVK::Binary("\x01\x02", 2));
  EXPECT_FALSE(p == q);
  p.WriteBuffer("a", OVK::Binary("x", 1));
  ASSERT_EQ(p.Count(), 2u);
  EXPECT_EQ(p.Members()[0].key, "a");
  EXPECT_EQ(p.FindBuffer("a")->AsStringView(), "x");
  EXPECT_FALSE(p == q);  // same text, another kind
  q.WriteBuffer("a", OVK::Binary("x", 1));
  EXPECT_TRUE(p == q);
  q.WriteString("c", "");
  EXPECT_FALSE(p == q);
}

TEST(RecordingNode, RecordsBothEmitFormsThroughTheInterface) {
  MBX::RecordingNode recorder;
  MBX::Node& node = recorder;
  MBX::Parameters params = node.CreateParameters();
  params.WriteString("eventData", "{}");
  EXPECT_EQ(node.Emit("VornRemoteEvent", params), 0);
  EXPECT_FALSE(recorder.Last().hasTarget);
  EXPECT_TRUE(recorder.Last().parameters == params);
  recorder.SetStatus(-5);  // a failing channel still records
  EXPECT_EQ(node.Emit("e", "obj$VORN$onChange", MBX::Parameters()), -5);
  const auto emissions = recorder.Emissions();
  ASSERT_EQ(emissions.size(), 2u);
  EXPECT_EQ(emissions[0].event, "VornRemoteEvent");
  EXPECT_TRUE(emissions[1].hasTarget);
  EXPECT_EQ(emissions[1].target, "obj$VORN$onChange");
  EXPECT_TRUE(emissions[1].parameters.IsEmpty());
}

}  // namespace
