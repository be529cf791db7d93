// Host files and directories.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/TempDir.h"
#include "vorn/host/Directory.h"
#include "vorn/host/Files.h"
#include "vorn/host/Status.h"

namespace {

class Files : public ::testing::Test {
protected:
  // Each entry as "name absolute-path".
  std::vector<std::string> ReadAll() {
    std::vector<std::string> out;
    KRTDirEntry entry;
    int end = 0;
    while (KRTReadDirectory(&dir, &entry, &end, KRT_DIR_READ_ALL) == KRT_OK && !end)
      out.push_back(std::string(entry.name.View()) + " " + std::string(entry.absolutePath.View()));
    return out;
  }

  TempDir tmp;
  KRTFile* file = nullptr;
  KRTDirectory dir;
};
using Directory = Files;

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
  unsigned char byte = 0;
  while (KRTFEof(file)) {  // non-zero while bytes remain
    ASSERT_EQ(KRTFGetc(file, &byte), KRT_OK);
    read += static_cast<char>(byte);
  }
  EXPECT_EQ(read, bytes);
  byte = 0x5A;
  EXPECT_EQ(KRTFGetc(file, &byte), KRT_E_END_OF_FILE);
  EXPECT_EQ(byte, 0x5A);
  EXPECT_EQ(KRTFClose(file), KRT_OK);

  ASSERT_EQ(KRTFOpen(path.c_str(), "ab", &file), KRT_OK);  // write-only: a read error is negative, not the end
  EXPECT_LT(KRTFEof(file), 0);
  EXPECT_EQ(KRTFGetc(file, &byte), KRT_E_IO);
  EXPECT_EQ(KRTFClose(file), KRT_OK);
}

TEST_F(Files, BackslashPathsAndModes) {
  tmp.Write("sub/a.txt", "one");
  const std::string path = tmp.Str() + "\\sub\\a.txt";
  ASSERT_EQ(KRTFOpen(path.c_str(), "a", &file), KRT_OK);
  ASSERT_EQ(KRTFWrite(file, "+two", 4, nullptr), KRT_OK);
  ASSERT_EQ(KRTFClose(file), KRT_OK);
  std::ifstream in(tmp.Path() / "sub/a.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "one+two");

  EXPECT_EQ(KRTFOpen(path.c_str(), "wxb", &file), KRT_E_IO);  // exists
  EXPECT_EQ(file, nullptr);
  for (const char* bad : {"", "q", "rr", "rx", "r+z", "br"})
    EXPECT_EQ(KRTFOpen(path.c_str(), bad, &file), KRT_E_INVALID_ARGUMENT) << '"' << bad << '"';
  EXPECT_EQ(KRTFOpen(path.c_str(), nullptr, &file), KRT_E_INVALID_ARGUMENT);
}

TEST_F(Files, FailuresLeaveNoHandleAndNullsAreRefused) {
  for (const std::string& path : {tmp.Str() + "/missing", tmp.Str()}) {  // a directory is no file
    file = reinterpret_cast<KRTFile*>(1);
    EXPECT_EQ(KRTFOpen(path.c_str(), "rb", &file), path == tmp.Str() ? KRT_E_INVALID_ARGUMENT : KRT_E_NOT_FOUND);
    EXPECT_EQ(file, nullptr);
  }
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

TEST_F(Directory, ListsEachEntryOnceSortedWithAbsolutePaths) {
  for (const char* name : {"res/b.json", "res/a.txt", "res/c.json/nested.json", "res/\xC3\xA9.json"}) tmp.Write(name);
  ScopedCwd cwd(tmp.Path());
  ASSERT_EQ(KRTOpenDirectory(".\\res\\", &dir), KRT_OK);
  const std::string base = tmp.Str() + "/res";
  EXPECT_EQ(dir.Path(), base);
  // A directory is an entry, not descended into.
  EXPECT_EQ(ReadAll(), (std::vector<std::string>{"a.txt " + base + "/a.txt", "b.json " + base + "/b.json",
                                                  "c.json " + base + "/c.json",
                                                  "\xC3\xA9.json " + base + "/\xC3\xA9.json"}));
}

TEST_F(Directory, OpenReadAndCloseCheckTheirState) {
  const std::string path = tmp.Write("f.txt").string();
  EXPECT_EQ(KRTOpenDirectory((tmp.Str() + "/missing").c_str(), &dir), KRT_E_NOT_FOUND);
  EXPECT_EQ(KRTOpenDirectory(path.c_str(), &dir), KRT_E_NOT_FOUND);
  EXPECT_EQ(KRTOpenDirectory(KRTUnicodeString(), &dir), KRT_E_NOT_FOUND);
  KRTDirEntry entry;
  int end = 0;
  EXPECT_EQ(KRTReadDirectory(&dir, &entry, &end, KRT_DIR_READ_ALL), KRT_E_INVALID_STATE);
  EXPECT_EQ(KRTCloseDirectory(&dir), KRT_E_INVALID_STATE);

  ASSERT_EQ(KRTOpenDirectory(tmp.Str().c_str(), &dir), KRT_OK);
  EXPECT_EQ(KRTOpenDirectory(tmp.Str().c_str(), &dir), KRT_E_INVALID_STATE);
  for (int mode : {0, 2}) EXPECT_EQ(KRTReadDirectory(&dir, &entry, &end, mode), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTReadDirectory(&dir, nullptr, &end, KRT_DIR_READ_ALL), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(KRTReadDirectory(&dir, &entry, nullptr, KRT_DIR_READ_ALL), KRT_E_INVALID_ARGUMENT);
  EXPECT_EQ(ReadAll().size(), 1u);  // the refused reads consumed nothing
  // Closed, the same object opens again from the start.
  ASSERT_EQ(KRTCloseDirectory(&dir), KRT_OK);
  ASSERT_EQ(KRTOpenDirectory(tmp.Str().c_str(), &dir), KRT_OK);
  EXPECT_EQ(ReadAll().size(), 1u);
  EXPECT_EQ(KRTOpenDirectory(tmp.Str().c_str(), nullptr), KRT_E_INVALID_ARGUMENT);
}

}  // namespace
