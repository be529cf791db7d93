#include <gtest/gtest.h>

#include "support/TestApplication.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/runtime/MainThreadManager.h"

namespace {

// The interactive test is cached on first use, so the application is
// installed before anything in this program asks.
KRTTestInteractiveApplication& App() {
  static KRTTestInteractiveApplication app;
  return app;
}
const bool g_installed = (KRTApplication::SetMainApplication(&App()), true);

}  // namespace

TEST(Interactive, StopWithdrawsEveryRegistrationFirst) {
  int calls = 0;
  const auto a = Vorn::SetTimeout([&] { ++calls; }, 10);
  const auto b = Vorn::SetTimeout([&] { ++calls; }, 20);
  ASSERT_GE(App().PendingCount(), 2u);
  VornMainComponent::EndCustomMainThreadLoop();
  EXPECT_EQ(App().PendingCount(), 0u);
  EXPECT_FALSE(Vorn::HasTimeout(a) || Vorn::HasTimeout(b));
  // Even a host that fires anyway finds nothing to call.
  App().FireAllPending();
  App().Advance(100);
  EXPECT_EQ(calls, 0);
}
