// With "VORN_USE_STD_EXCEPTIONS" set, reports throw, after what must come first; and the process end
// with plug-in objects still held.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "vorn/remote/CommunicationManager.h"
#include "vorn/remote/RemoteObject.h"
#include "vorn/runtime/LibrariesManager.h"

namespace {

const std::string kPartialLib = "vorn_test_plugin_partial";

class Empty final : public VornRemoteObject {
public:
  Empty() : VornRemoteObject("id", "ns") {}
};

TEST(RemoteExceptionsMode, ReportsThrowAfterTheReply) {
  // A failed load throws its own report, not a rewording of it, every time.
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      Vorn::GetLibrary("vorn_no_such_plugin");
      ADD_FAILURE() << "expected a throw";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("[Vorn - Libraries Manager] Failed to load library", 0), 0u) << e.what();
    }
  }
  // The client is answered before the unknown function is reported.
  int replies = 0;
  auto object = std::make_shared<Empty>();
  EXPECT_THROW(object->Call("nope", [&](const VornJSONValue& v) { replies += v.IsNull(); }, VornJSONObject()),
               std::runtime_error);
  EXPECT_EQ(replies, 1);
}

// Left cached at exit on purpose: the communication manager, made after the libraries manager, is
// deleted first, so the function, whose code is in the plug-in, goes before the plug-in is unloaded.
TEST(RemoteProcessEnd, PluginObjectsGoBeforeTheirLibrary) {
  ASSERT_NE(VornCommunicationManager_V1::LoadLibraryFunction(kPartialLib, "OnlyCreate", true), nullptr);
}

}  // namespace
