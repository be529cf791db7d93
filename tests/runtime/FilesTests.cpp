// Plain files: reading, writing, Base64, extensions and path search.

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "RuntimeTestSupport.h"
#include "vorn/runtime/Resources.h"

namespace {

using namespace runtime_test;
namespace fs = std::filesystem;

std::string Backslashed(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}
KRTUnicodeString Host(const std::string& s) { return KRTUnicodeString(s.c_str()); }

TEST(WriteFile, WritesTheWholeUtf8TextOverAnyOldContent) {
  const std::string path = kTemp + "/write/utf8.txt";
  WriteBytes(path, "a much longer previous content");
  // Eleven characters in nineteen bytes: a character count would cut it short.
  const std::string text = "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80!";
  EXPECT_EQ(Vorn::WriteFile(Host(Backslashed(path)), Host(text)), 0);
  EXPECT_EQ(ReadBytes(path), text);
  EXPECT_EQ(Vorn::WriteFile(Host(path), KRTUnicodeString()), 0);
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(WriteFile, FailuresGiveTheErrorStatus) {
  EXPECT_EQ(Vorn::kWriteFileFailed, static_cast<std::int32_t>(0x80004005u));
  EXPECT_EQ(Vorn::WriteFile(Host(kTemp + "/no/such/dir/f.txt"), "x"), Vorn::kWriteFileFailed);
  EXPECT_EQ(Vorn::WriteFile(Host(kTemp), "x"), Vorn::kWriteFileFailed);
  // The file opens but the data never lands: a failure too.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(Vorn::WriteFile("/dev/full", "data"), Vorn::kWriteFileFailed);
}

TEST(FileAsBase64, EncodesTheFileBytesOrGivesEmpty) {
  const std::string dir = kTemp + "/b64/";
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  WriteBytes(dir + "all.bin", all);
  WriteBytes(dir + "man.txt", "Man");
  WriteBytes(dir + "empty.bin", "");
  const KRTUnicodeString encoded = Vorn::GetFileAsBase64(Host(dir + "all.bin"));
  EXPECT_EQ(encoded.SizeInBytes(), 344u);
  EXPECT_EQ(encoded.View().substr(0, 8), "AAECAwQF");
  EXPECT_EQ(encoded.View().substr(328), "9vf4+fr7/P3+/w==");
  EXPECT_EQ(Vorn::GetFileAsBase64(Host(Backslashed(dir + "man.txt"))), "TWFu");
  EXPECT_EQ(Vorn::GetFileAsBase64(Host(dir + "empty.bin")), "");
  EXPECT_EQ(Vorn::GetFileAsBase64(Host(dir + "absent")), "");
  EXPECT_EQ(Vorn::GetFileAsBase64(Host(kTemp)), "");
}

TEST(FileExtension, FollowsThePathRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"dir\\file.tar.gz", ".gz"}, {"file", ""},          {".bashrc", ""},        {".", ""},
      {"..", ""},                  {"dir.d\\file", ""},   {"a/b.c/d.json", ".json"}, {"C:file.txt", ".txt"},
      {"file.txt:s.exe", ".txt"},  {"..x", ".x"},         {"dir\\", ""},          {"file.", "."},
  };
  for (const auto& [path, extension] : cases) {
    EXPECT_EQ(Vorn::GetFileExtension(path, false), extension) << path;
    EXPECT_EQ(Vorn::GetFileExtension(path, true), *extension ? extension + 1 : "") << path;
  }
}

TEST(FileFullPath, SearchesTheInstallPathOrTheGivenDirectoriesInOrder) {
  EXPECT_EQ(Vorn::GetFileFullPath("resources\\Vorn\\OnlyB.json", {}), VornDirB() + "/OnlyB.json");
  EXPECT_EQ(Vorn::GetFileFullPath("DataTypes.json", {kTemp + "/none", VornDirB(), VornDirA()}),
            VornDirB() + "/DataTypes.json");
  EXPECT_EQ(Vorn::GetFileFullPath("DataTypes.json", {VornDirA(), VornDirB()}), VornDirA() + "/DataTypes.json");
  EXPECT_EQ(Vorn::GetFileFullPath("DataTypes.json", {kTemp}), "");
}

}  // namespace
