#include <gtest/gtest.h>

#include <string>

#include "common/TempDir.h"
#include "vorn/host/Paths.h"

namespace {

TEST(NativePath, MapsEveryBackslashAndNothingElse) {
  EXPECT_EQ(KRTNativePath("resources\\Vorn\\x.json"), "resources/Vorn/x.json");
  EXPECT_EQ(KRTNativePath("\\\\a b\\/"), "//a b//");
}

class FindPath : public ::testing::Test {
protected:
  void SetUp() override {
    first = tmp.Write("first/resources/Vorn/x.json").string();
    second = tmp.Write("second/resources/Vorn/x.json").string();
  }
  std::string Dir(const char* name) const { return (tmp.Path() / name).string(); }

  TempDir tmp;
  std::string first, second;
};

TEST_F(FindPath, AnswersAreAbsoluteAndNormalised) {
  {
    ScopedCwd cwd(tmp.Path());
    EXPECT_EQ(KRTFindPath("Vorn\\x.json", ".\\first\\resources\\"), first);
  }
  const std::string roundabout = Dir("second") + "/../first/";
  EXPECT_EQ(KRTFindPath("resources/./Vorn/x.json", roundabout.c_str()), first);
  // A leading separator does not escape the directory.
  const std::string dir = Dir("first");
  EXPECT_EQ(KRTFindPath("\\resources\\Vorn\\x.json", dir.c_str()), first);
  EXPECT_EQ(KRTFindPath("", (dir + "\\").c_str()), dir);  // the directory itself
}

}  // namespace
