#include "RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace runtime_test {

namespace fs = std::filesystem;

void WriteBytes(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

class ResourceTree : public ::testing::Environment {
public:
  void SetUp() override {
    for (const std::string& dir : {kRscA, kRscB, kTemp}) fs::remove_all(dir);
    fs::create_directories(kTemp);
    const std::string a = VornDirA() + "/";
    const std::string b = VornDirB() + "/";
    WriteBytes(a + "DataTypes.json", R"({"from":"a","types":[1]})");
    WriteBytes(a + "Upper.JSON", R"({"which":"plain"})");
    WriteBytes(a + "Upper.JSON.json", R"({"which":"suffixed"})");
    WriteBytes(a + "broken.json", R"({"a":1,"b":)");
    WriteBytes(a + "notes.txt", "not a resource");
    WriteBytes(a + "sub/inner.json", "{}");
    WriteBytes(b + "DataTypes.json", R"({"from":"b"})");
    WriteBytes(b + "OnlyB.json", R"({"only":"b"})");
    WriteBytes(b + "dir.json/x.json", "{}");
    WriteBytes(b + "readme.md", "# b");
  }
};

[[maybe_unused]] ::testing::Environment* const g_tree = ::testing::AddGlobalTestEnvironment(new ResourceTree);

}  // namespace

}  // namespace runtime_test
