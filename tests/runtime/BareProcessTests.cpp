// A process named like the node-style host ("OrvelNode" in its file name),
// started with an empty installation path and no temporary directory.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestApplication.h"
#include "vorn/host/Application.h"
#include "vorn/runtime/Process.h"
#include "vorn/runtime/Resources.h"

namespace {

TEST(BareProcess, IsTheNodeHostAndStaysNonInteractive) {
  EXPECT_TRUE(Vorn::IsInXApp());
  EXPECT_TRUE(Vorn::IsInXApp());  // the cached answer
  ASSERT_EQ(KRTApplication::MainApplication(), nullptr);
  EXPECT_FALSE(Vorn::IsKRTInteractiveApplication());
  KRTTestInteractiveApplication late;
  KRTScopedMainApplication installed(&late);
  EXPECT_FALSE(Vorn::IsKRTInteractiveApplication());  // asked once, before the host installed one
}

TEST(BareProcess, EmptySettingsFindAndWriteNothing) {
  EXPECT_EQ(Vorn::BuildRscFilePath("", ""), "");  // the working directory is never searched
  EXPECT_TRUE(Vorn::SearchPathsFromInstall("").empty());
  EXPECT_EQ(Vorn::GetFileFullPath("CMakeCache.txt", {}), "");
  EXPECT_EQ(Vorn::LoadResourceJSON("Vorn", "DataTypes").Stringify(), "{}");

  // Nothing goes to "/resources/..." at the root of the file system.
  EXPECT_EQ(Vorn::BuildTempResourcePath("VornBareTest", "f.txt"), "");
  EXPECT_TRUE(Vorn::CreateTempResourceFile("VornBareTest", "f.txt", "x").fail());
  EXPECT_FALSE(std::filesystem::exists("/resources/VornBareTest"));
  EXPECT_EQ(Vorn::TempResourceFileExists("VornBareTest", "f.txt"), "");
}

}  // namespace
