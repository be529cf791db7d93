// Resources, plain files and aligned memory, under the settings CMakeLists.txt gives.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/runtime/Process.h"
#include "vorn/runtime/Resources.h"

namespace {

namespace fs = std::filesystem;

const std::string kTemp = VORN_TEST_RSC_TEMP;
const std::string kVornA = VORN_TEST_RSC_A "/resources/Vorn", kVornB = VORN_TEST_RSC_B "/resources/Vorn";

void WriteBytes(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ResourceTree : public ::testing::Environment {
public:
  void SetUp() override {
    for (const char* dir : {VORN_TEST_RSC_A, VORN_TEST_RSC_B, VORN_TEST_RSC_TEMP}) fs::remove_all(dir);
    fs::create_directories(kTemp);
    const std::string a = kVornA + "/", b = kVornB + "/";
    WriteBytes(a + "DataTypes.json", R"({"from":"a","types":[1]})");
    WriteBytes(a + "Upper.JSON", R"({"which":"plain"})");
    WriteBytes(a + "Upper.JSON.json", R"({"which":"suffixed"})");
    WriteBytes(a + "broken.json", R"({"a":1,"b":)");
    WriteBytes(a + "notes.txt", "not a resource");
    WriteBytes(a + "sub/inner.json", "{}");  // not listed: no descent
    WriteBytes(b + "DataTypes.json", R"({"from":"b"})");
    WriteBytes(b + "OnlyB.json", R"({"only":"b"})");
    WriteBytes(b + "dir.json/x.json", "{}");  // a directory named like a resource
    WriteBytes(b + "readme.md", "# b");
  }
};

[[maybe_unused]] ::testing::Environment* const g_tree = ::testing::AddGlobalTestEnvironment(new ResourceTree);

// Every JSON name of every install directory, parsed from its own path.
TEST(ResourceDirectory, ParsesEveryJsonEntryOfEveryInstallDirectory) {
  KRTAbendCapture capture;  // broken.json is reported by the parser
  const VornJSONArray all = Vorn::ParseJSONsFromRscDir("Vorn");
  std::vector<std::string> rows;
  for (const VornJSONValue& item : all) {
    ASSERT_EQ(item.GetIfObject()->GetKeys(), (std::vector<std::string>{"fileName", "filePath", "fileContent"}));
    const std::string path = item.GetFromPath({"filePath"}).Get<std::string>();
    EXPECT_EQ(item.GetFromPath({"fileName"}).Get<std::string>(), fs::path(path).filename());
    rows.push_back(path + " " + item.GetFromPath({"fileContent"}).Stringify());
  }
  const std::string a = kVornA + "/", b = kVornB + "/";
  EXPECT_EQ(rows, (std::vector<std::string>{
                      a + R"(DataTypes.json {"from":"a","types":[1]})", a + R"(Upper.JSON.json {"which":"suffixed"})",
                      a + R"(broken.json {"a":1})",
                      b + R"(DataTypes.json {"from":"b"})",  // its own file, not the first of that name
                      b + R"(OnlyB.json {"only":"b"})", b + "dir.json {}"}));  // chosen by name, though a directory
  EXPECT_GE(capture.Count(), 1u);
  EXPECT_EQ(Vorn::ParseJSONsFromRscDir("NoSuchFolder").size(), 0u);
  Vorn::ReadRscDirectory("Vorn", nullptr);
  EXPECT_EQ(capture.Last(), "[Vorn - Read Directory] Callback Missing in function ReadRscDirectory");

  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "DataTypes").Stringify(), R"({"from":"a","types":[1]})");
  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "OnlyB.json").Stringify(), R"({"only":"b"})");
  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "Absent").Stringify(), "{}");
}

TEST(TempResource, AppendsEachContentWithALineFeedOrFails) {
  EXPECT_EQ(Vorn::TempResourceFileExists("Cache", "log.txt"), "");
  std::ofstream first = Vorn::CreateTempResourceFile("Cache", "log.txt", "one");
  EXPECT_FALSE(first.is_open());
  EXPECT_FALSE(first.fail());
  EXPECT_FALSE(Vorn::CreateTempResourceFile("Cache", "log.txt", "two").fail());
  EXPECT_EQ(Vorn::TempResourceFileExists("Cache", "log.txt"), "one\ntwo\n");
  EXPECT_EQ(ReadBytes(kTemp + "/resources/Cache/log.txt"), "one\ntwo\n");

  const std::string bytes("caf\xC3\xA9\0x", 7);
  EXPECT_FALSE(Vorn::CreateTempResourceFile("Deep\\Er", "b.bin", bytes).fail());
  EXPECT_EQ(ReadBytes(kTemp + "/resources/Deep/Er/b.bin"), bytes + "\n");

  // Failures give a failed stream, or throw when a folder cannot be made.
  fs::create_directories(kTemp + "/resources/Taken/dir");
  EXPECT_TRUE(Vorn::CreateTempResourceFile("Taken", "dir", "x").fail());
  EXPECT_TRUE(Vorn::CreateTempResourceFile("Taken", "", "x").fail());
  EXPECT_EQ(Vorn::TempResourceFileExists("Taken", "dir"), "");

  WriteBytes(kTemp + "/resources/Blocked", "a file where a folder should be");
  try {
    (void)Vorn::CreateTempResourceFile("Blocked", "x", "c");
    FAIL() << "no exception";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.path1(), fs::path(kTemp + "/resources/Blocked"));
  }
}

std::string Backslashed(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}
KRTUnicodeString Host(const std::string& s) { return KRTUnicodeString(s.c_str()); }

TEST(WriteFile, WritesTheWholeUtf8TextOrGivesTheErrorStatus) {
  const std::string path = kTemp + "/write/utf8.txt";
  WriteBytes(path, "a much longer previous content");
  // Eleven characters in nineteen bytes: a character count would cut it short.
  const std::string text = "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80!";
  EXPECT_EQ(Vorn::WriteFile(Host(Backslashed(path)), Host(text)), 0);
  EXPECT_EQ(ReadBytes(path), text);
  EXPECT_EQ(Vorn::WriteFile(Host(path), KRTUnicodeString()), 0);
  EXPECT_EQ(fs::file_size(path), 0u);

  EXPECT_EQ(Vorn::WriteFile(Host(kTemp + "/no/such/dir/f.txt"), "x"), Vorn::kWriteFileFailed);
  EXPECT_EQ(Vorn::WriteFile(Host(kTemp), "x"), Vorn::kWriteFileFailed);
  // The file opens but the data never lands: a failure too.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(Vorn::WriteFile("/dev/full", "data"), Vorn::kWriteFileFailed);
}

TEST(FileAsBase64, EncodesTheFileBytesOrGivesEmpty) {
  const std::string dir = kTemp + "/b64/";
  WriteBytes(dir + "bytes.bin", std::string("M\0\xFF\x1A", 4));  // a NUL, a high byte, a DOS end of file
  WriteBytes(dir + "empty.bin", "");
  EXPECT_EQ(Vorn::GetFileAsBase64(Host(Backslashed(dir + "bytes.bin"))), "TQD/Gg==");
  for (const std::string& path : {dir + "empty.bin", dir + "absent", kTemp})
    EXPECT_EQ(Vorn::GetFileAsBase64(Host(path)), "") << path;
}

TEST(FileExtension, FollowsThePathRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"dir\\file.tar.gz", ".gz"}, {"file", ""},          {".bashrc", ""},        {".", ""},
      {"..", ""},                  {"dir.d\\file", ""},   {"a/b.c/d.json", ".json"}, {"C:file.txt", ".txt"},
      {"file.txt:s.exe", ".txt"},  {"..x", ".x"},         {"dir\\", ""},          {"file.", "."},
      {"1:a.b", ""},  // only a letter makes a drive: "a.b" is the stream of file "1"
  };
  for (const auto& [path, extension] : cases) {
    EXPECT_EQ(Vorn::GetFileExtension(path, false), extension) << path;
    EXPECT_EQ(Vorn::GetFileExtension(path, true), *extension ? extension + 1 : "") << path;
  }
}

TEST(FileFullPath, SearchesTheInstallPathOrTheGivenDirectoriesInOrder) {
  EXPECT_EQ(Vorn::GetFileFullPath("resources\\Vorn\\OnlyB.json", {}), kVornB + "/OnlyB.json");
  EXPECT_EQ(Vorn::GetFileFullPath("DataTypes.json", {kTemp + "/none", kVornB, kVornA}), kVornB + "/DataTypes.json");
  EXPECT_EQ(Vorn::GetFileFullPath("DataTypes.json", {kVornA, kVornB}), kVornA + "/DataTypes.json");
  EXPECT_EQ(Vorn::GetFileFullPath("DataTypes.json", {kTemp}), "");
}

TEST(AlignedMemory, HonoursTheAlignmentOrRefuses) {
  for (std::uint64_t alignment : {1u, 8u, 16u, 64u, 4096u}) {
    void* p = Vorn::AlignedAlloc(100, alignment);  // sizes need not be multiples of the alignment
    ASSERT_NE(p, nullptr) << alignment;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << alignment;
    std::memset(p, 0xAB, 100);
    Vorn::AlignedFree(p, alignment);
  }
  EXPECT_EQ(Vorn::AlignedAlloc(64, 48), nullptr);
  Vorn::AlignedFree(nullptr, 64);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // sanitizers abort on impossible sizes instead
  EXPECT_THROW((void)Vorn::AlignedAlloc(~std::uint64_t{0} / 2, 8), std::bad_alloc);
#endif
}

}  // namespace
