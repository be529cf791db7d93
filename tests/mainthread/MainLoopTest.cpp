#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "LoopHelpers.h"
#include "vorn/host/SysLog.h"

using vorn_test::Journal;
using vorn_test::RunLoop;

TEST(MainLoop, CallbacksRunOnTheLoopThread) {
  const auto loopThread = std::this_thread::get_id();
  std::atomic<int> onLoopThread{0};
  RunLoop([&] {
    // Set from another thread, run on the loop's thread.
    std::thread([&] {
      Vorn::SetTimeout(
          [&] {
            onLoopThread += std::this_thread::get_id() == loopThread;
            VornMainComponent::EndCustomMainThreadLoop();
          },
          0);
    }).join();
  });
  EXPECT_EQ(onLoopThread.load(), 1);
}

TEST(MainLoop, EndFromCallbackRunsWhatIsStillQueued) {
  Journal journal;
  RunLoop([&] {
    const auto a = Vorn::SetTimeout([&] { journal.Add("queued"); }, 0);
    const auto b = Vorn::SetTimeout([&] { journal.Add("queued"); }, 0);
    // Once out of the table they sit in the queue behind this callback.
    while (Vorn::HasTimeout(a) || Vorn::HasTimeout(b)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    journal.Add("end");
    VornMainComponent::EndCustomMainThreadLoop();
    journal.Add("after end");
  });
  EXPECT_EQ(journal.Events(), (std::vector<std::string>{"end", "queued", "queued", "after end"}));
}

TEST(MainLoop, EndFromAnotherThreadReturnsAndDropsPendingTimeouts) {
  std::uint32_t pending = 0;
  std::atomic<bool> late{false};
  RunLoop([&] {
    pending = Vorn::SetTimeout([&] { late = true; }, 60000);
    std::thread([] { VornMainComponent::EndCustomMainThreadLoop(); }).detach();
  });
  EXPECT_FALSE(late.load());
  // The stop forgot the id: both queries agree.
  EXPECT_FALSE(Vorn::HasTimeout(pending));
  EXPECT_FALSE(Vorn::RemoveTimeout(pending));
}

TEST(MainLoop, SecondRunWhileRunningIsRefusedAndARestartWorks) {
  int inner = 0;
  int outer = 0;
  RunLoop([&] {
    ++outer;
    // Refused at once: the nested call returns without running anything.
    VornMainComponent::RunCustomMainThreadLoop([&] { ++inner; });
    VornMainComponent::EndCustomMainThreadLoop();
  });
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 0);

  // A fresh run after the stop starts its own scheduler and serves timeouts.
  Journal journal;
  RunLoop([&] {
    Vorn::SetTimeout(
        [&] {
          journal.Add("served");
          VornMainComponent::EndCustomMainThreadLoop();
        },
        5);
  });
  EXPECT_EQ(journal.Events(), std::vector<std::string>{"served"});
}

TEST(MainLoop, ExceptionFromACallbackEndsTheRunAndALaterRunServesWhatWasPending) {
  Journal journal;
  // Pending across the failed run: must fire in the next one.
  Vorn::SetTimeout([&] { journal.Add("pending"); }, 40);
  EXPECT_THROW(RunLoop([&] {
                 const auto queued = Vorn::SetTimeout([&] { journal.Add("queued"); }, 0);
                 // Moved into the queue behind this callback before it throws.
                 while (Vorn::HasTimeout(queued)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                 throw std::runtime_error("callback failed");
               }),
               std::runtime_error);
  RunLoop([&] {
    journal.Add("second run");
    Vorn::SetTimeout([] { VornMainComponent::EndCustomMainThreadLoop(); }, 80);
  });
  EXPECT_EQ(journal.Events(), (std::vector<std::string>{"second run", "queued", "pending"}));
}
