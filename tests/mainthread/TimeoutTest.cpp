// The custom main-thread loop and its timeouts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vorn/contexts/MainComponent.h"
#include "vorn/runtime/MainThreadManager.h"

using namespace std::chrono_literals;
// Every callback runs on the loop's thread, which is the test's: plain
// vectors record them.
using Journal = std::vector<std::string>;

struct VornMainThreadManagerTestAccess {
  static std::size_t DueHeapSize() {
    VornMainThreadManager* manager = VornMainThreadManager::_GetInstance();
    std::lock_guard lock(manager->m_timeoutMutex);
    return manager->m_dueHeap.size();
  }
};

namespace {
void EndLoop() { VornMainComponent::EndCustomMainThreadLoop(); }

// Runs the custom loop on this thread with `body` as the initial callback; a
// watchdog ends it if a test forgets to, so a failing test cannot hang the suite.
void RunLoop(const std::function<void()>& body) {
  std::promise<void> finished;
  std::jthread watchdog([done = finished.get_future()] {
    if (done.wait_for(20s) == std::future_status::timeout) EndLoop();
  });
  try {
    VornMainComponent::RunCustomMainThreadLoop([&body] { body(); });
  } catch (...) {
    finished.set_value();
    throw;
  }
  finished.set_value();
}
}  // namespace

TEST(MainLoop, EndFromCallbackRunsWhatIsStillQueuedAndASecondRunIsRefused) {
  Journal journal;
  RunLoop([&] {
    const auto a = Vorn::SetTimeout([&] { journal.push_back("queued"); }, 0);
    const auto b = Vorn::SetTimeout([&] { journal.push_back("queued"); }, 0);
    // Once out of the table they sit in the queue behind this callback.
    while (Vorn::HasTimeout(a) || Vorn::HasTimeout(b)) std::this_thread::sleep_for(1ms);
    // Refused at once: the nested call returns without running anything.
    VornMainComponent::RunCustomMainThreadLoop([&] { journal.push_back("nested run"); });
    journal.push_back("end");
    EndLoop();
    journal.push_back("after end");
  });
  EXPECT_EQ(journal, (Journal{"end", "queued", "queued", "after end"}));
}

TEST(MainLoop, EndFromAnotherThreadReturnsAndDropsPendingTimeouts) {
  std::uint32_t pending = 0;
  std::atomic<bool> late{false};
  RunLoop([&] {
    pending = Vorn::SetTimeout([&] { late = true; }, 60000);
    std::thread(EndLoop).detach();
  });
  EXPECT_FALSE(late.load());
  // The stop forgot the id: both queries agree.
  EXPECT_FALSE(Vorn::HasTimeout(pending));
  EXPECT_FALSE(Vorn::RemoveTimeout(pending));
}

TEST(MainLoop, ExceptionFromACallbackEndsTheRunAndALaterRunServesWhatWasPending) {
  Journal journal;
  // Pending across the failed run: must fire in the next one.
  Vorn::SetTimeout([&] { journal.push_back("pending"); }, 40);
  EXPECT_THROW(RunLoop([&] {
                 const auto queued = Vorn::SetTimeout([&] { journal.push_back("queued"); }, 0);
                 // Moved into the queue behind this callback before it throws.
                 while (Vorn::HasTimeout(queued)) std::this_thread::sleep_for(1ms);
                 throw std::runtime_error("callback failed");
               }),
               std::runtime_error);
  RunLoop([&] {
    journal.push_back("second run");
    Vorn::SetTimeout(EndLoop, 80);
  });
  EXPECT_EQ(journal, (Journal{"second run", "queued", "pending"}));
}
TEST(Timeouts, DueOrderIdsAndForgottenIds) {
  Journal journal;
  std::uint32_t fifty = 0;
  std::uint32_t ten = 0;
  RunLoop([&] {
    fifty = Vorn::SetTimeout([&] { journal.push_back("50"); }, 50);
    ten = Vorn::SetTimeout([&] { journal.push_back("10"); }, 10);
    const auto removed = Vorn::SetTimeout([&] { journal.push_back("removed"); }, 20);
    EXPECT_TRUE(Vorn::RemoveTimeout(removed));
    EXPECT_FALSE(Vorn::HasTimeout(removed));
    EXPECT_FALSE(Vorn::RemoveTimeout(removed));
    EXPECT_FALSE(Vorn::RemoveTimeout(removed + 100000));  // never issued
    Vorn::SetTimeout(EndLoop, 150);
  });
  EXPECT_NE(fifty, 0u);
  EXPECT_EQ(ten, fifty + 1);
  EXPECT_EQ(journal, (Journal{"10", "50"}));
  EXPECT_FALSE(Vorn::HasTimeout(ten));
  EXPECT_FALSE(Vorn::RemoveTimeout(fifty));
}

// The same while the main thread is busy: the scheduler, not the main
// thread, queues the sooner timeout (its id is forgotten once queued), and
// it runs when the busy callback returns.
TEST(Timeouts, SchedulerQueuesDueTimeoutsWhileTheMainThreadIsBusy) {
  Journal journal;
  const auto loopThread = std::this_thread::get_id();
  std::atomic<bool> queuedWhileBusy{false};
  RunLoop([&] {
    Vorn::SetTimeout([&] { journal.push_back("long"); }, 10000);
    std::atomic<bool> release{false};
    std::thread other([&] {
      std::this_thread::sleep_for(30ms);
      const auto id = Vorn::SetTimeout(
          [&] {
            journal.push_back(std::this_thread::get_id() == loopThread ? "short" : "short, off the loop thread");
            EndLoop();
          },
          10);
      const auto deadline = std::chrono::steady_clock::now() + 5s;
      while (Vorn::HasTimeout(id) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
      queuedWhileBusy = !Vorn::HasTimeout(id);
      release = true;
    });
    while (!release) std::this_thread::sleep_for(1ms);  // busy: the loop cannot take timeouts
    journal.push_back("busy done");
    other.join();
  });
  EXPECT_TRUE(queuedWhileBusy);
  EXPECT_EQ(journal, (Journal{"busy done", "short"}));
}

TEST(Timeouts, RemovalRacingTheDueTimeRunsAtMostOnce) {
  constexpr int kCount = 300;
  std::vector<std::atomic<int>> fired(kCount);
  std::vector<std::atomic<char>> removed(kCount);
  std::atomic<int> expectedFires{-1};
  std::atomic<int> firedTotal{0};
  // Polls from the loop until every timeout that was not removed has run.
  std::function<void()> poll = [&] {
    if (expectedFires.load() >= 0 && firedTotal.load() >= expectedFires.load())
      EndLoop();
    else
      Vorn::SetTimeout([&poll] { poll(); }, 2);
  };
  RunLoop([&] {
    std::thread remover([&] {
      std::mt19937 rng(7);
      for (int i = 0; i < kCount; ++i) {
        const auto id = Vorn::SetTimeout(
            [&, i] {
              // Never after a successful removal, never twice.
              EXPECT_FALSE(removed[i].load()) << i;
              if (++fired[i] == 1) ++firedTotal;
            },
            1);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1500));
        removed[i] = Vorn::RemoveTimeout(id) ? 1 : 0;
      }
      int expected = 0;
      for (const auto& r : removed) expected += r.load() ? 0 : 1;
      expectedFires = expected;
    });
    remover.detach();
    poll();
  });
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(fired[i].load(), removed[i].load() ? 0 : 1) << i;
}

// Long timeouts set and removed again and again (a request timeout per
// request) leave no pile of dead entries to wade through when their due
// times come round: the due heap stays within twice the pending timeouts.
TEST(Timeouts, RemovedTimeoutsDoNotPileUpInTheDueHeap) {
  std::vector<std::uint32_t> live;
  std::size_t heapAfterChurn = 0;
  bool shortFired = false;
  RunLoop([&] {
    Vorn::SetTimeout(
        [&] {
          shortFired = true;
          EndLoop();
        },
        50);
    for (int i = 0; i < 100; ++i) live.push_back(Vorn::SetTimeout([] {}, 600000));
    for (int i = 0; i < 20000; ++i) ASSERT_TRUE(Vorn::RemoveTimeout(Vorn::SetTimeout([] {}, 600000)));
    heapAfterChurn = VornMainThreadManagerTestAccess::DueHeapSize();
    for (const auto id : live) EXPECT_TRUE(Vorn::HasTimeout(id));
  });
  EXPECT_TRUE(shortFired);
  EXPECT_LE(heapAfterChurn, 2u * 101u);
}

// Zero-delay timeouts from another thread (how hosts bring work to the main
// thread) run in the order they were set, whether the idle main thread or
// the stand-by scheduler queues them: callbacks that keep the main thread
// busy past the stand-by time hand some of them to the scheduler.
TEST(Timeouts, ZeroDelayTimeoutsFromAnotherThreadKeepTheirOrder) {
  static constexpr int kCount = 1500;
  std::vector<int> order;
  RunLoop([&] {
    std::thread producer([&] {
      std::mt19937 rng(11);
      for (int i = 0; i < kCount; ++i) {
        Vorn::SetTimeout(
            [&order, i, busy = rng() % 8 == 0] {
              order.push_back(i);
              const auto until = std::chrono::steady_clock::now() + 2100us;
              while (busy && std::chrono::steady_clock::now() < until) {
              }
              if (i == kCount - 1) EndLoop();
            },
            0);
        if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
      }
    });
    producer.detach();
  });
  ASSERT_EQ(order.size(), std::size_t{kCount});
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(order[i], i) << "out of order at " << i;
}
