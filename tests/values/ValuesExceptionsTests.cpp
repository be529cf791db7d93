// Value reports with the exceptions switch on: thrown, with the same text.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/SysLog.h"
#include "vorn/values/Value.h"
#include "vorn/values/ValueTypesManager.h"

namespace {

template <class F>
std::string ThrownMessage(F&& f) {
  try {
    f();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "<nothing thrown>";
}

TEST(ValuesWithExceptions, ReportsThrowInsteadOfLogging) {
  ASSERT_TRUE(Vorn::UsesStdExceptions());
  KRTAbendCapture capture;
  const VornValue v(1);
  const VornValue* null = nullptr;
  EXPECT_EQ(ThrownMessage([&] { (void)v.IsOfSameType(null, true); }),
            "VornValue::IsOfSameType => Other value is null!");
  EXPECT_FALSE(v.IsOfSameType(null, false));  // not asked to report: no throw

  const auto number = VornValueTypesManager::GetRawValueTypeDefinition("number", false);
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(ThrownMessage([&] { (void)number->CheckType(VornValue(1), true); }),
            "VornRawValueTypeDefinition::CheckType => type mismatch! Expected=double, got=int");
  EXPECT_EQ(capture.Count(), 0u);
}

}  // namespace
