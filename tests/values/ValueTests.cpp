// VornValue: a type check against a null other value reports only when asked.

#include <gtest/gtest.h>

#include "vorn/host/SysLog.h"
#include "vorn/values/Value.h"

namespace {

TEST(VornValueTypeCheck, NullOtherIsReportedOnlyWhenAsked) {
  KRTAbendCapture capture;
  VornValue v(1);
  const VornValue* null = nullptr;

  EXPECT_FALSE(v.IsOfSameType(null, false));
  EXPECT_EQ(capture.Count(), 0u);

  EXPECT_FALSE(v.IsOfSameType(null, true));
  ASSERT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last(), "VornValue::IsOfSameType => Other value is null!");
}

}  // namespace
