// The error policy with "VORN_LOGS_ENABLED" set (and exceptions off).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"

namespace {

TEST(ErrorPolicyLogs, LogLinesAreTaggedAndErrorReportsStillGoToTheAbendLog) {
  ASSERT_TRUE(Vorn::LogsEnabled()) << "run with VORN_LOGS_ENABLED set (through ctest)";
  EXPECT_FALSE(Vorn::UsesStdExceptions());
  KRTAbendCapture capture;
  testing::internal::CaptureStdout();
  Vorn::LogError("msg");
  Vorn::LogError("");
  Vorn::LogError(std::string("multi\nline"));
  EXPECT_NO_THROW(Vorn::RaiseError("failure"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Vorn][ERROR] msg\n[Vorn][ERROR] \n[Vorn][ERROR] multi\nline\n");
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{"failure"});
}

}  // namespace
