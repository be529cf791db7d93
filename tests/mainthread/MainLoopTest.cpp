// The custom main-thread loop: its timeouts and the descriptors it watches.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

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

// Runs the custom loop on this thread; a watchdog ends it so a failing test cannot hang the suite.
void RunLoop(const Vorn::Function<void()>& body) {
  std::promise<void> finished;
  std::jthread watchdog([done = finished.get_future()] {
    if (done.wait_for(20s) == std::future_status::timeout) EndLoop();
  });
  struct Done {
    std::promise<void>& p;
    ~Done() { p.set_value(); }
  } done{finished};
  VornMainComponent::RunCustomMainThreadLoop(body);
}

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { EXPECT_EQ(pipe(fd), 0); }
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  void Put(const std::string& text) const { ASSERT_EQ(write(fd[1], text.data(), text.size()), ssize_t(text.size())); }
};
}  // namespace

TEST(MainLoop, EndFromCallbackRunsWhatIsStillQueuedAndASecondRunIsRefused) {
  Journal journal;
  RunLoop([&] {
    const auto a = Vorn::SetTimeout([&] { journal.push_back("queued"); }, 0);
    const auto b = Vorn::SetTimeout([&] { journal.push_back("queued"); }, 0);
    // Once out of the table they sit in the queue behind this callback; a nested run is refused.
    while (Vorn::HasTimeout(a) || Vorn::HasTimeout(b)) std::this_thread::sleep_for(1ms);
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
  EXPECT_FALSE(Vorn::HasTimeout(pending));
  EXPECT_FALSE(Vorn::RemoveTimeout(pending));
}

TEST(MainLoop, ExceptionFromACallbackEndsTheRunAndALaterRunServesWhatWasPending) {
  Journal journal;
  Vorn::SetTimeout([&] { journal.push_back("pending"); }, 40);  // across the failed run
  EXPECT_THROW(RunLoop([&] {
                 const auto queued = Vorn::SetTimeout([&] { journal.push_back("queued"); }, 0);
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

TEST(Timeouts, DueOrderIdsAndRemovedIds) {
  Journal journal;
  std::uint32_t fifty = 0, ten = 0;
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
}

TEST(Timeouts, RemovalRacingTheDueTimeRunsAtMostOnce) {
  constexpr int kCount = 300;
  std::vector<std::atomic<int>> fired(kCount);
  std::vector<std::atomic<char>> removed(kCount);
  std::atomic<int> expectedFires{-1}, firedTotal{0};
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
// request) leave no pile of dead entries: the due heap stays within twice the pending timeouts.
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

// Level-triggered, on the loop thread; a stop drops the watches, an exception keeps them.
TEST(WatchFd, LifecycleAcrossUnwatchStopAndException) {
  Pipe pipe;
  pipe.Put("abc");
  std::string seen;
  std::uint32_t id = 0;
  const auto loopThread = std::this_thread::get_id();
  RunLoop([&] {
    id = Vorn::WatchFd(pipe.fd[0], POLLIN, [&](short revents) {
      EXPECT_EQ(std::this_thread::get_id(), loopThread);
      EXPECT_TRUE(revents & POLLIN);
      char c;
      ASSERT_EQ(read(pipe.fd[0], &c, 1), 1);  // one byte a call: still ready, called again
      seen += c;
      if (c != 'c') return;
      EXPECT_TRUE(Vorn::UnwatchFd(id));
      Vorn::SetTimeout([] { EndLoop(); }, 5);
    });
  });
  EXPECT_EQ(seen, "abc");
  EXPECT_FALSE(Vorn::UnwatchFd(id));
  EXPECT_EQ(Vorn::WatchFd(-1, POLLIN, [](short) {}), 0u);
  EXPECT_EQ(Vorn::WatchFd(pipe.fd[0], 0, [](short) {}), 0u);

  // Watched before the loop runs; the throw ends the run, the watch stays.
  pipe.Put("xy");
  int calls = 0;
  const auto kept = Vorn::WatchFd(pipe.fd[0], POLLIN, [&](short) {
    char c;
    ASSERT_EQ(read(pipe.fd[0], &c, 1), 1);
    if (++calls == 1) throw std::runtime_error("first");
    EndLoop();
  });
  EXPECT_THROW(RunLoop([] {}), std::runtime_error);
  EXPECT_EQ(calls, 1);
  RunLoop([] {});
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(Vorn::UnwatchFd(kept));  // the stop dropped it
}

// Model check: lines written from another thread, which watches too, among zero-delay timeouts (how
// hosts bring work to the main thread), each run on the loop thread; busy callbacks make the stand-by
// scheduler queue some timeouts.
TEST(WatchFd, LinesAndTimeoutsFromAnotherThreadAllArriveInOrder) {
  static constexpr int kLines = 1000;
  Pipe pipe;
  std::string input;
  std::vector<int> timeouts;
  std::mt19937 readSizes(3);  // the loop thread's
  const auto loopThread = std::this_thread::get_id();
  RunLoop([&] {
    std::thread producer([&] {
      std::mt19937 rng(7);
      // Watched from here, while the loop may be asleep.
      Vorn::WatchFd(pipe.fd[0], POLLIN, [&](short) {
        char buffer[64];
        const ssize_t n = read(pipe.fd[0], buffer, 1 + readSizes() % sizeof buffer);
        ASSERT_GT(n, 0);
        input.append(buffer, static_cast<std::size_t>(n));
        if (input.size() == kLines * 4u && timeouts.size() == kLines) EndLoop();
      });
      for (int i = 0; i < kLines; ++i) {
        char line[8];
        std::snprintf(line, sizeof line, "%03d\n", i);
        pipe.Put(line);
        Vorn::SetTimeout([&, i, busy = rng() % 8 == 0] {
          EXPECT_EQ(std::this_thread::get_id(), loopThread);
          timeouts.push_back(i);
          const auto until = std::chrono::steady_clock::now() + 2100us;
          while (busy && std::chrono::steady_clock::now() < until) {
          }
          if (input.size() == kLines * 4u && timeouts.size() == kLines) EndLoop();
        }, 0);
        if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
      }
    });
    producer.detach();
  });
  ASSERT_EQ(input.size(), kLines * 4u);
  ASSERT_EQ(timeouts.size(), std::size_t{kLines});
  for (int i = 0; i < kLines; ++i) {
    ASSERT_EQ(input.substr(i * 4u, 4), (std::to_string(1000 + i).substr(1) + "\n"));
    ASSERT_EQ(timeouts[i], i) << "out of order at " << i;
  }
}
