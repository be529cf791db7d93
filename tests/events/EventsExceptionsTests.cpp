// Event data with the exceptions switch on (set, though empty).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/events/EventData.h"
#include "vorn/host/SysLog.h"

namespace {

// The missing-value fault bypasses the switch: it always goes to the log.
TEST(EventsWithExceptions, MissingValueIsLoggedNotThrown) {
  ASSERT_TRUE(Vorn::UsesStdExceptions());
  KRTAbendCapture capture;
  const auto data = VornEventData::Create();
  EXPECT_EQ(data->GetSharedPtr(), data);
  EXPECT_EQ(data->GetRawValue<double>(), 0.0);
  const std::vector<std::string> logged{"VornEventData::GetRawValue: ERROR - No value in event data!"};
  EXPECT_EQ(capture.Messages(), logged);
}

}  // namespace
