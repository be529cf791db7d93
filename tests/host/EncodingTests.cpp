#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "vorn/host/CodePage.h"
#include "vorn/host/Status.h"
#include "vorn/host/Uuid.h"

namespace {

TEST(Uuid, FormatsOfKnownBytes) {
  KRTUuid::Bytes bytes;
  for (unsigned i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 0x11);
  const KRTUuid id(bytes);
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCanonical), "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatBraced), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(id.ToString(KRTUuid::kFormatCompact), "00112233445566778899aabbccddeeff");
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
