// The error policy with neither switch set: reports go to KRTSysLogAbend and
// nothing is written to standard output.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"

namespace {

TEST(ErrorPolicyDefault, ReportsGoToTheAbendLogOnceAndNothingToStdout) {
  ASSERT_FALSE(Vorn::UsesStdExceptions());
  ASSERT_FALSE(Vorn::LogsEnabled());

  KRTAbendCapture capture;
  testing::internal::CaptureStdout();
  EXPECT_NO_THROW(Vorn::RaiseError("first failure"));
  EXPECT_NO_THROW(Vorn::RaiseError(std::string("second failure")));
  EXPECT_NO_THROW(Vorn::RaiseOverflowError("too many"));
  Vorn::LogError("not written");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(capture.Messages(), (std::vector<std::string>{"first failure", "second failure", "too many"}));
}

TEST(ErrorPolicyDefault, SwitchesAreReadOnceAtLoad) {
  ::setenv("VORN_USE_STD_EXCEPTIONS", "", 1);
  ::setenv("VORN_LOGS_ENABLED", "1", 1);
  KRTAbendCapture capture;
  testing::internal::CaptureStdout();
  EXPECT_NO_THROW(Vorn::RaiseError("still logged"));
  Vorn::LogError("still silent");
  const std::string out = testing::internal::GetCapturedStdout();
  ::unsetenv("VORN_USE_STD_EXCEPTIONS");
  ::unsetenv("VORN_LOGS_ENABLED");
  EXPECT_EQ(out, "");
  EXPECT_EQ(capture.Count(), 1u);
  EXPECT_FALSE(Vorn::UsesStdExceptions());
}

}  // namespace
