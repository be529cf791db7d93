#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "vorn/host/CodePage.h"
#include "vorn/host/Status.h"
#include "vorn/host/Uuid.h"

namespace {

// 8-4-4-4-12 lowercase hex digits, version digit 4, variant digit 8 to b.
bool IsCanonicalVersion4(const std::string& s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = (s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f');
    if (hyphen ? s[i] != '-' : !hex) return false;
  }
  return s[14] == '4' && std::string("89ab").find(s[19]) != std::string::npos;
}

TEST(Uuid, FreshIdentifiersAreDistinctVersion4InCanonicalForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    char buffer[KRTUuid::kTextBufferSize];
    ASSERT_EQ(KRTUuid().ToString(buffer, sizeof buffer, 0), KRT_OK);
    ASSERT_TRUE(IsCanonicalVersion4(buffer)) << buffer;
    ASSERT_TRUE(seen.insert(buffer).second) << buffer;
  }
}

TEST(Uuid, FormatsOfKnownBytes) {
  KRTUuid::Bytes bytes;
  for (unsigned i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 0x11);
  const KRTUuid id(bytes);
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCanonical), "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatBraced), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCompact), "00112233445566778899aabbccddeeff");
}

TEST(Uuid, TextNeedsRoomForItsTerminator) {
  const KRTUuid id;
  char buffer[KRTUuid::kTextBufferSize];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(id.ToString(buffer, 36, 0), KRT_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(std::string(buffer, 2), std::string("\0#", 2));  // left empty, nothing more written
  EXPECT_EQ(id.ToString(buffer, 37, 0), KRT_OK);
  EXPECT_EQ(std::strlen(buffer), 36u);
  EXPECT_EQ(id.ToString(buffer, sizeof buffer, 7), KRT_E_INVALID_ARGUMENT);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(id.ToString(nullptr, 48, 0), KRT_E_INVALID_ARGUMENT);
}

std::string Encode(const std::string& bytes) {
  char* text = nullptr;
  if (KRTCodePage::ConvertToBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &text) < 0)
    return "<failed>";
  std::string out(text);
  KRTCodePage::FreeText(text);
  return out;
}

TEST(Base64, Rfc4648VectorsAndTheWholeAlphabet) {
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("f"), "Zg==");
  EXPECT_EQ(Encode("fo"), "Zm8=");
  EXPECT_EQ(Encode("foo"), "Zm9v");
  EXPECT_EQ(Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
  EXPECT_EQ(Encode(std::string("\0\xFF", 2)), "AP8=");
  EXPECT_EQ(Encode(std::string(300, 'a')).size(), 400u);  // no line breaks
}

TEST(Base64, BadArgumentsFailAndLeaveNoText) {
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

}  // namespace
