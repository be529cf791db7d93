// Value reports, checked in whichever mode the executable runs: built into
// the default suite (logged, the call answers false) and into the exceptions
// suite (the same text is thrown).

#include <gtest/gtest.h>

#include "core/CoreTestSupport.h"
#include "vorn/host/SysLog.h"
#include "vorn/values/Value.h"
#include "vorn/values/ValueTypesManager.h"

using vorn_test::Answers;
using vorn_test::ReportOf;

namespace {

TEST(ValuesReports, ReportsOnlyWhenAskedWithTheSameTextInEitherMode) {
  const VornValue v(1);
  const VornValue* null = nullptr;
  const auto number = VornValueTypesManager::GetRawValueTypeDefinition("number", false);
  const auto integer = VornValueTypesManager::GetRawValueTypeDefinition("integer", false);
  ASSERT_NE(number, nullptr);
  ASSERT_NE(integer, nullptr);
  EXPECT_EQ(ReportOf([&] { Answers(v.IsOfSameType(null, true), false); }),
            "VornValue::IsOfSameType => Other value is null!");
  EXPECT_EQ(ReportOf([&] { Answers(number->CheckType(VornValue(1), true), false); }),
            "VornRawValueTypeDefinition::CheckType => type mismatch! Expected=double, got=int");
  // An empty value has an empty type name.
  EXPECT_EQ(ReportOf([&] { Answers(integer->CheckType(VornValue(), true), false); }),
            "VornRawValueTypeDefinition::CheckType => type mismatch! Expected=int, got=");

  KRTAbendCapture capture;
  EXPECT_FALSE(v.IsOfSameType(null, false));
  EXPECT_EQ(capture.Count(), 0u);
}

}  // namespace
