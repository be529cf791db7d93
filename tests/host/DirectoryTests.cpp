#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/TempDir.h"
#include "vorn/host/Directory.h"
#include "vorn/host/Status.h"

namespace {

using Listing = std::vector<std::pair<std::string, std::string>>;  // name, absolute path

Listing ReadAll(KRTDirectory& dir) {
  Listing out;
  KRTDirEntry entry;
  int end = 0;
  while (KRTReadDirectory(&dir, &entry, &end, KRT_DIR_READ_ALL) == KRT_OK && !end)
    out.emplace_back(entry.name.View(), entry.absolutePath.View());
  return out;
}

class Directory : public ::testing::Test {
protected:
  TempDir tmp;
  KRTDirectory dir;
};

TEST_F(Directory, ListsEachEntryOnceSortedWithAbsolutePaths) {
  tmp.Write("res/b.json");
  tmp.Write("res/a.txt");
  tmp.Write("res/c.json/nested.json");  // a directory is an entry; not descended into
  tmp.Write("res/\xC3\xA9.json");
  ScopedCwd cwd(tmp.Path());
  ASSERT_EQ(KRTOpenDirectory(".\\res\\", &dir), KRT_OK);
  const std::string base = tmp.Str() + "/res/";
  EXPECT_EQ(dir.Path(), tmp.Str() + "/res");
  const Listing expected = {{"a.txt", base + "a.txt"},
                            {"b.json", base + "b.json"},
                            {"c.json", base + "c.json"},
                            {"\xC3\xA9.json", base + "\xC3\xA9.json"}};
  EXPECT_EQ(ReadAll(dir), expected);
}

TEST_F(Directory, OpenReadAndCloseCheckTheirState) {
  const std::string file = tmp.Write("f.txt").string();
  EXPECT_EQ(KRTOpenDirectory((tmp.Str() + "/missing").c_str(), &dir), KRT_E_NOT_FOUND);
  EXPECT_EQ(KRTOpenDirectory(file.c_str(), &dir), KRT_E_NOT_FOUND);
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
  EXPECT_EQ(ReadAll(dir).size(), 1u);  // the refused reads consumed nothing
  // Closed, the same object opens again from the start.
  ASSERT_EQ(KRTCloseDirectory(&dir), KRT_OK);
  ASSERT_EQ(KRTOpenDirectory(tmp.Str().c_str(), &dir), KRT_OK);
  EXPECT_EQ(ReadAll(dir).size(), 1u);
  EXPECT_EQ(KRTOpenDirectory(tmp.Str().c_str(), nullptr), KRT_E_INVALID_ARGUMENT);
}

}  // namespace
