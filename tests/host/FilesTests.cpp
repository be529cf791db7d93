#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "common/TempDir.h"
#include "vorn/host/Files.h"
#include "vorn/host/Status.h"

namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Files : public ::testing::Test {
protected:
  TempDir tmp;
  KRTFile* file = nullptr;
};

TEST_F(Files, BytesReadBackWithTheInvertedEofLoop) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  const std::string path = (tmp.Path() / "all.bin").string();
  ASSERT_EQ(KRTFOpen(path.c_str(), "wb", &file), KRT_OK);
  ASSERT_EQ(KRTFWrite(file, bytes.data(), bytes.size(), nullptr), KRT_OK);
  std::uint64_t size = 0;
  ASSERT_EQ(KRTFSize(file, &size), KRT_OK);
  EXPECT_EQ(size, 256u);  // what is still buffered counts
  ASSERT_EQ(KRTFClose(file), KRT_OK);

  ASSERT_EQ(KRTFOpen(path.c_str(), "rb", &file), KRT_OK);
  std::string read;
  while (KRTFEof(file)) {  // non-zero while bytes remain
    unsigned char byte = 0;
    ASSERT_EQ(KRTFGetc(file, &byte), KRT_OK);
    read += static_cast<char>(byte);
  }
  EXPECT_EQ(read, bytes);
  unsigned char byte = 0x5A;
  EXPECT_EQ(KRTFGetc(file, &byte), KRT_E_END_OF_FILE);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(KRTFClose(file), KRT_OK);
}

TEST_F(Files, AReadErrorIsNegativeNotEndOfFile) {
  ASSERT_EQ(KRTFOpen(tmp.Write("w.txt", "content").c_str(), "ab", &file), KRT_OK);  // write-only
  EXPECT_LT(KRTFEof(file), 0);
  unsigned char byte;
  EXPECT_EQ(KRTFGetc(file, &byte), KRT_E_IO);
  KRTFClose(file);
}

TEST_F(Files, BackslashPathsAndModes) {
  tmp.Write("sub/a.txt", "one");
  const std::string path = tmp.Str() + "\\sub\\a.txt";
  ASSERT_EQ(KRTFOpen(path.c_str(), "a", &file), KRT_OK);
  ASSERT_EQ(KRTFWrite(file, "+two", 4, nullptr), KRT_OK);
  ASSERT_EQ(KRTFClose(file), KRT_OK);
  EXPECT_EQ(ReadAll(tmp.Path() / "sub/a.txt"), "one+two");

  EXPECT_EQ(KRTFOpen(path.c_str(), "wxb", &file), KRT_E_IO);  // exists
  EXPECT_EQ(file, nullptr);
  for (const char* bad : {"", "q", "rr", "rx", "r+z", "br"})
    EXPECT_EQ(KRTFOpen(path.c_str(), bad, &file), KRT_E_INVALID_ARGUMENT) << '"' << bad << '"';
  EXPECT_EQ(KRTFOpen(path.c_str(), nullptr, &file), KRT_E_INVALID_ARGUMENT);
}

TEST_F(Files, FailuresLeaveNoHandleAndNullsAreRefused) {
  file = reinterpret_cast<KRTFile*>(1);
  EXPECT_EQ(KRTFOpen((tmp.Str() + "/missing").c_str(), "rb", &file), KRT_E_NOT_FOUND);
  EXPECT_EQ(file, nullptr);
  file = reinterpret_cast<KRTFile*>(1);
  EXPECT_EQ(KRTFOpen(tmp.Str().c_str(), "rb", &file), KRT_E_INVALID_ARGUMENT);  // a directory
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(KRTFOpen(nullptr, "rb", &file), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTFOpen(tmp.Str().c_str(), "rb", nullptr), KRT_E_INVALID_ARGUMENT);

  std::uint64_t size;
  unsigned char byte;
  EXPECT_EQ(KRTFSize(nullptr, &size), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTFGetc(nullptr, &byte), KRT_E_INVALID_ARGUMENT);
  EXPECT_LT(KRTFEof(nullptr), 0);
  EXPECT_EQ(KRTFWrite(nullptr, "x", 1, nullptr), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTFClose(nullptr), KRT_E_INVALID_ARGUMENT);

  ASSERT_EQ(KRTFOpen(tmp.Write("f.txt", "x").c_str(), "r+", &file), KRT_OK);
  EXPECT_EQ(KRTFSize(file, nullptr), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTFGetc(file, nullptr), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTFWrite(file, nullptr, 1, nullptr), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTFWrite(file, nullptr, 0, nullptr), KRT_OK);
  EXPECT_EQ(KRTFClose(file), KRT_OK);
}

}  // namespace
