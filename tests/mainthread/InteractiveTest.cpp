#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(Interactive, CustomLoopIsRefusedWithALogLine) {
  ASSERT_TRUE(g_installed);
  bool ran = false;
  testing::internal::CaptureStdout();
  VornMainComponent::RunCustomMainThreadLoop([&] { ran = true; });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(ran);
  EXPECT_EQ(out,
            "[Vorn][ERROR] VornMainComponent::BeginCustomApp() cannot be called from a KRTInteractiveApplication "
            "context!\n");
}

TEST(Interactive, TimeoutsGoToTheHostTimer) {
  int calls = 0;
  const auto before = App().PendingCount();
  const auto id = Vorn::SetTimeout([&] { ++calls; }, 25);
  EXPECT_EQ(App().PendingCount(), before + 1);
  EXPECT_TRUE(Vorn::HasTimeout(id));
  App().Advance(24);
  EXPECT_EQ(calls, 0);
  App().Advance(1);  // the host calls back on its own thread: this one
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(Vorn::HasTimeout(id));
  EXPECT_FALSE(Vorn::RemoveTimeout(id));
}

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

TEST(Interactive, WatchingADescriptorIsRefused) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Vorn::WatchFd(fds[0], POLLIN, [](short) {}), 0u);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("WatchFd refused"), std::string::npos);
  close(fds[0]), close(fds[1]);
}
