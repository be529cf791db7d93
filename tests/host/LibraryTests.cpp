// The loader, on the plug-ins whose paths and directory CMakeLists.txt passes.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "vorn/host/Library.h"

namespace {

using IntFn = int (*)();
const std::string kBasic = VORN_TEST_PLUGIN_BASIC;

std::string RealPath(const std::string& path) {
  char out[PATH_MAX];
  return realpath(path.c_str(), out) ? std::string(out) : std::string();
}

// Whether the system loader still has the library mapped (without loading it).
bool IsMapped(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

TEST(Library, LoadsByPathAndUnloadsWithTheLastHandle) {
  std::string error = "stale", path;
  auto lib = OVK::Library::CreateLibrary(kBasic.c_str(), error, path, false);
  ASSERT_NE(lib, nullptr) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(path, RealPath(kBasic));
  EXPECT_EQ(lib->GetSymbolPtr("VornTestPluginAbsent"), nullptr);
  EXPECT_EQ(lib->GetSymbolPtr(nullptr), nullptr);
  auto next = reinterpret_cast<IntFn>(lib->GetSymbolPtr("VornTestPluginNextCall"));
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next(), 1);
  EXPECT_EQ(next(), 2);

  // A second handle shares the library and keeps it loaded.
  auto second = OVK::Library::CreateLibrary(kBasic.c_str(), error, path, false);
  ASSERT_NE(second, nullptr) << error;
  EXPECT_EQ(second->GetSymbolPtr("VornTestPluginNextCall"), reinterpret_cast<void*>(next));
  lib.reset();
  EXPECT_TRUE(IsMapped(path));
  EXPECT_EQ(next(), 3);
  second.reset();
  EXPECT_FALSE(IsMapped(path));

  auto again = OVK::Library::CreateLibrary(kBasic.c_str(), error, path, false);
  ASSERT_NE(again, nullptr) << error;
  EXPECT_EQ(reinterpret_cast<IntFn>(again->GetSymbolPtr("VornTestPluginNextCall"))(), 1);  // fresh state

  // Only a global load shares its symbols.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "VornTestPluginAnswer"), nullptr);
  auto global = OVK::Library::CreateLibrary(kBasic.c_str(), error, path, true);
  ASSERT_NE(global, nullptr) << error;
  void* answer = global->GetSymbolPtr("VornTestPluginAnswer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(reinterpret_cast<IntFn>(answer)(), 42);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "VornTestPluginAnswer"), answer);
}

TEST(Library, FailuresReportTheLoaderForEveryNameTried) {
  // The names tried, in order; one ending in ".so" or holding a "/" is tried as it is.
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"vorn_no_such_plugin", {"libvorn_no_such_plugin.so", "vorn_no_such_plugin.so", "vorn_no_such_plugin"}},
      {"vorn_no_such_plugin.so", {"vorn_no_such_plugin.so"}},
      {"vorn_no_such_plugin.so.2", {"vorn_no_such_plugin.so.2"}},
      {"dir/vorn_no_such_plugin", {"dir/vorn_no_such_plugin"}}};
  std::string error, path;
  for (const auto& [name, tried] : cases) {
    EXPECT_EQ(OVK::Library::CreateLibrary(name, error, path), nullptr);
    std::vector<std::string> names;  // each report is "<name>: <reason>", joined by "; "
    std::size_t at = 0;
    for (std::size_t next; (next = error.find("; ", at)) != std::string::npos; at = next + 2)
      names.push_back(error.substr(at, error.find(": ", at) - at));
    names.push_back(error.substr(at, error.find(": ", at) - at));
    EXPECT_EQ(names, tried) << error;
    EXPECT_EQ(path, name);
  }

  // Symbols are bound at load, so a missing one fails here.
  EXPECT_EQ(OVK::Library::CreateLibrary(VORN_TEST_PLUGIN_UNRESOLVED, error, path), nullptr);
  EXPECT_NE(error.find("VornTestPluginMissingFunction"), std::string::npos) << error;

  EXPECT_EQ(OVK::Library::CreateLibrary(nullptr, error, path), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(OVK::Library::CreateLibrary("", error, path), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
