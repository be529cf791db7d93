// The error policy with "VORN_USE_STD_EXCEPTIONS" set (to an empty value):
// reports throw standard exceptions whose what() is exactly the message, and
// paths that must not throw still report to the abend log.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "core/CoreTestSupport.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"

using vorn_test::Probe;
using vorn_test::Tracker;

namespace {

// The message of the std::runtime_error (exactly that type) thrown by `f`.
template <class F>
std::string RuntimeErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    EXPECT_EQ(typeid(e), typeid(std::runtime_error));
    return e.what();
  }
  ADD_FAILURE() << "nothing was thrown";
  return {};
}

class ExceptionsMode : public testing::Test {
protected:
  void SetUp() override {
    if (!Vorn::UsesStdExceptions()) GTEST_SKIP() << "exceptions switch off";
  }
  // Nothing may reach the abend log unless a test says so.
  KRTAbendCapture capture;
};

TEST(ExceptionsSwitch, EmptyValueTurnsItOn) {
  EXPECT_TRUE(Vorn::UsesStdExceptions()) << "run with VORN_USE_STD_EXCEPTIONS set (through ctest)";
  EXPECT_FALSE(Vorn::LogsEnabled());
}

TEST_F(ExceptionsMode, RaiseErrorThrowsRuntimeErrorAndOverflowErrorThrowsOverflowError) {
  EXPECT_EQ(RuntimeErrorOf([] { Vorn::RaiseError("plain message"); }), "plain message");
  EXPECT_EQ(RuntimeErrorOf([] { Vorn::RaiseError(std::string("string message")); }), "string message");
  try {
    Vorn::RaiseOverflowError("table full");
    ADD_FAILURE() << "nothing was thrown";
  } catch (const std::exception& e) {
    EXPECT_EQ(typeid(e), typeid(std::overflow_error));
    EXPECT_STREQ(e.what(), "table full");
  }
  EXPECT_EQ(capture.Count(), 0u);
}

void Rescue(unsigned int, Vorn_BaseClass* object, void* ctx) {
  *static_cast<Vorn::SharedPtr<Probe>*>(ctx) = static_cast<Probe*>(object)->GetSharedPtr();
}

TEST_F(ExceptionsMode, ReportsFromPathsThatMustNotThrowGoToTheAbendLog) {
  Tracker rescuedTracker;
  Vorn::SharedPtr<Probe> owner(new Probe(&rescuedTracker));
  Vorn::SharedPtr<Probe> rescued;
  owner->AddDestructionRequestCB(&Rescue, &rescued, nullptr);
  EXPECT_NO_THROW(owner.Reset());
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{vorn_test::kStillOwnedMessage});
  rescued.Reset();
  EXPECT_EQ(rescuedTracker.deleted, 1);

  Tracker ownedTracker;
  Probe* raw = nullptr;
  {
    vorn_test::ExpectedLeakScope leakExpected;
    Vorn::SharedPtr<Probe> handle(new Probe(&ownedTracker));
    raw = handle._Release();
  }
  EXPECT_NO_THROW(delete raw);
  EXPECT_EQ(ownedTracker.deleted, 1);
  EXPECT_EQ(capture.Last(), vorn_test::kOwnedDestructorMessage);
}

}  // namespace
