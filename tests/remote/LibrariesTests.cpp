// The libraries manager and the library-based factory, over the test plug-ins.
#include <gtest/gtest.h>

#include "RemoteTestSupport.h"
#include "vorn/host/SysLog.h"
#include "vorn/runtime/LibrariesManager.h"

namespace {

using vorn_test::FunctionFactory;

TEST(LibrariesManager, LoadsOnceAndRetriesFailures) {
  KRTAbendCapture capture;
  auto first = Vorn::GetLibrary(kFunctionsLib);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(VornLibrariesManager::GetLibrary(kFunctionsLib), first);
  EXPECT_EQ(capture.Count(), 0u);

  // Not cached: each request tries again and reports again.
  for (int attempt = 0; attempt < 2; ++attempt) EXPECT_EQ(Vorn::GetLibrary("vorn_no_such_plugin"), nullptr);
  ASSERT_EQ(capture.Count(), 2u);
  const std::string head =
      "[Vorn - Libraries Manager] Failed to load library 'vorn_no_such_plugin' from path 'vorn_no_such_plugin'!\n"
      "Please check that the library exists and is accessible in your runtime view.\n"
      "Internal Error (OVK): \"";
  for (const std::string& m : capture.Messages()) {
    EXPECT_EQ(m.rfind(head, 0), 0u) << m;
    EXPECT_NE(m.find("libvorn_no_such_plugin.so"), std::string::npos) << m;  // the loader's own text
    EXPECT_EQ(m.back(), '"');
  }
}

TEST(LibrariesManager, RefusesPathsInNames) {
  for (const char* name : {"../vorn_test_plugin_functions", "dir/lib", "dir\\lib", "a..b", ""}) {
    KRTAbendCapture capture;
    EXPECT_EQ(Vorn::GetLibrary(name), nullptr) << name;
    ASSERT_EQ(capture.Count(), 1u) << name;
    EXPECT_EQ(capture.Last(), std::string("[Vorn - Libraries Manager] Refused library name '") + name +
                                  "': a library is named without a path separator or '..'");
  }
}

TEST(LibBasedFactory, CreatesAndDeletesWithEveryMessage) {
  FunctionFactory factory;
  auto live = vorn_test::PluginFunction<int (*)()>(kFunctionsLib, "VornTestLiveFunctions");
  ASSERT_NE(live, nullptr);
  const int before = live();
  KRTAbendCapture capture;
  // Echo exports all three symbols, OnlyCreate only its creation.
  VornRemoteFunction_V1* echo = factory.CreateInstancePtr(kFunctionsLib, "Echo");
  VornRemoteFunction_V1* only = factory.CreateInstancePtr(kPartialLib, "OnlyCreate");
  auto made = factory.CreateInstancesVector(kFunctionsLib, "Echo");
  ASSERT_TRUE(echo && only && made.size() == 1u);
  EXPECT_EQ(live(), before + 2);
  EXPECT_TRUE(factory.CreateInstancesVector(kPartialLib, "OnlyCreate").empty());
  EXPECT_EQ(factory.CreateInstancePtr(kPartialLib, "Absent"), nullptr);
  EXPECT_EQ(capture.Count(), 0u);  // all silent so far
  factory.DeleteInstancePtr(echo, kFunctionsLib, "Echo");
  factory.DeleteInstancePtr(made[0], kFunctionsLib, "Echo");
  EXPECT_EQ(live(), before);
  factory.DeleteInstancePtr(only, kPartialLib, "OnlyCreate");  // reported, left alone
  delete only;
  EXPECT_EQ(factory.CreateInstancePtr(kPartialLib, "Null"), nullptr);
  EXPECT_EQ(factory.CreateInstancePtr("vorn_no_such_plugin", "Echo"), nullptr);
  // Spelling "Echo" of kFunctionsLib across the two names finds nothing cached.
  EXPECT_EQ(factory.CreateInstancePtr(kFunctionsLib + "E", "cho"), nullptr);
  const auto m = capture.Messages();  // the third is the loader's failure
  ASSERT_EQ(m.size(), 6u);
  const std::string head = "[VornLibBasedFactory_V1::";
  EXPECT_EQ(m[0], head + "DeleteInstancePtr] Deletion function not found for OnlyCreate in library " + kPartialLib);
  EXPECT_EQ(m[1], head + "CreateInstancePtr] Instance creation failed for Null from library " + kPartialLib);
  EXPECT_EQ(m[3], head + "CreateInstancePtr] Info not found for Echo in library vorn_no_such_plugin");
}

TEST(LibBasedFactory, SharedCreationKeepsAnExistingOwnership) {
  FunctionFactory factory;
  KRTAbendCapture capture;
  auto echo = factory.CreateInstanceSharedPtr(kFunctionsLib, "Echo");
  ASSERT_NE(echo, nullptr);
  EXPECT_EQ(echo.use_count(), 1);
  EXPECT_EQ(echo->GetSharedPtr(), echo);  // the weak self-reference is bound

  auto useCount = vorn_test::PluginFunction<long (*)()>(kFunctionsLib, "VornTestSharedUseCount");
  auto shared = factory.CreateInstanceSharedPtr(kFunctionsLib, "Shared");
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(useCount(), 2);  // the plug-in's owner and ours
  EXPECT_EQ(factory.CreateInstanceSharedPtr(kFunctionsLib, "Shared"), shared);

  EXPECT_EQ(factory.CreateInstanceSharedPtr(kPartialLib, "Null"), nullptr);
  EXPECT_EQ(capture.Last(), "[VornLibBasedFactory_V1::CreateInstanceSharedPtr] Instance creation failed for Null "
                            "from library " + kPartialLib);
  EXPECT_EQ(factory.CreateInstanceSharedPtr(kPartialLib, "Absent"), nullptr);
  EXPECT_EQ(capture.Last(), "[VornLibBasedFactory_V1::CreateInstanceSharedPtr] Creation function not found for "
                            "Absent in library " + kPartialLib);
  EXPECT_EQ(factory.CreateInstanceSharedPtr("vorn_no_such_plugin", "X"), nullptr);
  EXPECT_EQ(capture.Last(), "[VornLibBasedFactory_V1::CreateInstancePtr] Info not found for X in library "
                            "vorn_no_such_plugin");
}

}  // namespace
