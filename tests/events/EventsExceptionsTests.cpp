// Publishing with the exceptions switch on: a library report raised inside a
// listener becomes a standard exception, which the publish logs.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vorn/events/EventsHandler.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"

namespace {

using DataPtr = std::shared_ptr<VornEventData>;
struct Handler : VornEventsHandler {};

TEST(EventsWithExceptions, ReportInsideAListenerEndsThePublishWithItsText) {
  ASSERT_TRUE(Vorn::UsesStdExceptions());
  KRTAbendCapture capture;
  auto handler = std::make_shared<Handler>();
  std::vector<std::string> calls;
  auto first = handler->Subscribe("onChange", [&](const DataPtr& d) {
    calls.push_back("first");
    (void)d->GetRawValue<int>();  // holds a string: the mismatch report throws
    calls.push_back("not reached");
  });
  auto second = handler->Subscribe("onChange", [&](const DataPtr&) { calls.push_back("second"); });

  handler->Publish("onChange", VornEventData::Create(VornValue_sp::Make(VornValue("text"))));
  EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last().rfind("[VornAny] Type mismatch in GetRawValue<T>()!", 0), 0u) << capture.Last();
}

// The missing-value fault bypasses the switch: it always goes to the log.
TEST(EventsWithExceptions, MissingValueIsLoggedNotThrown) {
  KRTAbendCapture capture;
  const auto data = VornEventData::Create();
  EXPECT_EQ(data->GetSharedPtr(), data);
  EXPECT_EQ(data->GetRawValue<double>(), 0.0);
  const std::string message = "VornEventData::GetRawValue: ERROR - No value in event data!";
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{message});
}

}  // namespace
