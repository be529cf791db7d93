// Resource paths, resource directories, JSON resources and temporary
// resource files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "RuntimeTestSupport.h"
#include "vorn/host/SysLog.h"
#include "vorn/runtime/Resources.h"

namespace {

using namespace runtime_test;
namespace fs = std::filesystem;

TEST(ResourceDirectory, ListsJsonNamesOfEveryInstallDirectory) {
  std::vector<std::string> seen;
  const auto list = [&seen](const VornJSONObject& entry) {
    seen.push_back(entry.Get("name").Get<std::string>() + " " + entry.Get("absPath").Get<std::string>());
  };
  Vorn::ReadRscDirectory("Vorn", list);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "DataTypes.json " + VornDirA() + "/DataTypes.json",
                      "Upper.JSON.json " + VornDirA() + "/Upper.JSON.json",
                      "broken.json " + VornDirA() + "/broken.json",
                      "DataTypes.json " + VornDirB() + "/DataTypes.json",
                      "OnlyB.json " + VornDirB() + "/OnlyB.json",
                      "dir.json " + VornDirB() + "/dir.json",  // chosen by name, though a directory
                  }));
  seen.clear();
  Vorn::ReadRscDirectory("NoSuchFolder", list);
  EXPECT_TRUE(seen.empty());

  KRTAbendCapture capture;
  Vorn::ReadRscDirectory("Vorn", nullptr);
  EXPECT_EQ(capture.Messages(),
            std::vector<std::string>{"[Vorn - Read Directory] Callback Missing in function ReadRscDirectory"});
}

TEST(ResourceJSON, LoadsTheFoundResourceOrAnEmptyObject) {
  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "DataTypes").Stringify(), R"({"from":"a","types":[1]})");
  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "OnlyB.json").Stringify(), R"({"only":"b"})");
  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "Absent").Stringify(), "{}");
}

TEST(ResourceJSON, ParsesEveryFileOfTheFolderFromItsOwnPath) {
  KRTAbendCapture capture;  // broken.json is reported by the parser
  const VornJSONArray all = Vorn::ParseJSONsFromRscDir("Vorn");
  std::vector<std::string> rows;
  for (const VornJSONValue& item : all) {
    ASSERT_EQ(item.GetIfObject()->GetKeys(), (std::vector<std::string>{"fileName", "filePath", "fileContent"}));
    rows.push_back(item.GetFromPath({"fileName"}).Get<std::string>() + " " +
                   item.GetFromPath({"fileContent"}).Stringify());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      R"(DataTypes.json {"from":"a","types":[1]})", R"(Upper.JSON.json {"which":"suffixed"})",
                      R"(broken.json {"a":1})",
                      R"(DataTypes.json {"from":"b"})",  // its own file, not the first of that name
                      R"(OnlyB.json {"only":"b"})", R"(dir.json {})"}));
  EXPECT_EQ(all[3].GetFromPath({"filePath"}).Get<std::string>(), VornDirB() + "/DataTypes.json");
  EXPECT_GE(capture.Count(), 1u);
}

TEST(TempResource, AppendsEachContentWithALineFeed) {
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
}

TEST(TempResource, FailuresGiveAFailedStreamOrThrow) {
  fs::create_directories(kTemp + "/resources/Taken/dir");
  EXPECT_TRUE(Vorn::CreateTempResourceFile("Taken", "dir", "x").fail());
  EXPECT_TRUE(Vorn::CreateTempResourceFile("Taken", "", "x").fail());
  EXPECT_EQ(Vorn::TempResourceFileExists("Taken", "dir"), "");

  WriteBytes(kTemp + "/resources/Blocked", "a file where a folder should be");
  try {
    (void)Vorn::CreateTempResourceFile("Blocked", "x", "c");
    FAIL() << "no exception";
  } catch (const fs::filesystem_error& error) {
    EXPECT_NE(std::string(error.what()).find("create_directories"), std::string::npos) << error.what();
    EXPECT_EQ(error.path1(), fs::path(kTemp + "/resources/Blocked"));
  }
}

}  // namespace
