// Descriptors watched from the custom main loop (Vorn::WatchFd).
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vorn/contexts/MainComponent.h"
#include "vorn/runtime/MainThreadManager.h"

using namespace std::chrono_literals;

namespace {
void EndLoop() { VornMainComponent::EndCustomMainThreadLoop(); }

// The loop on this thread, ended by a watchdog if a test forgets to.
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

// Level-triggered, on the loop thread; unwatching stops the calls; a stop
// drops the watches (a later run starts without them), an exception keeps
// them; an unknown id or a bad descriptor is refused.
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

// A closed descriptor is told once (POLLNVAL), then forgotten.
TEST(WatchFd, AClosedDescriptorIsToldOnceThenForgotten) {
  auto pipe = std::make_unique<Pipe>();
  std::vector<short> told;
  RunLoop([&] {
    const int fd = std::exchange(pipe->fd[0], -1);
    const auto id = Vorn::WatchFd(fd, POLLIN, [&](short revents) { told.push_back(revents); });
    close(fd);
    Vorn::SetTimeout([&, id] {
      EXPECT_FALSE(Vorn::UnwatchFd(id));
      EndLoop();
    }, 20);
  });
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(told[0] & POLLNVAL);
}

// Model check: lines written from another thread, at random moments and
// with watches made from that thread too, interleaved with zero-delay
// timeouts and callbacks that keep the loop busy. Every line arrives once
// and in order; the timeouts keep their order; neither starves the other.
TEST(WatchFd, LinesAndTimeoutsFromAnotherThreadAllArriveInOrder) {
  static constexpr int kLines = 400;
  Pipe pipe;
  std::string input;
  std::vector<int> timeouts;
  std::mt19937 readSizes(3);  // the loop thread's
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
        Vorn::SetTimeout([&, i, busy = rng() % 16 == 0] {
          timeouts.push_back(i);
          if (busy) std::this_thread::sleep_for(1ms);
          if (input.size() == kLines * 4u && timeouts.size() == kLines) EndLoop();
        }, 0);
        if (rng() % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
      }
    });
    producer.detach();
  });
  ASSERT_EQ(input.size(), kLines * 4u);
  ASSERT_EQ(timeouts.size(), std::size_t{kLines});
  for (int i = 0; i < kLines; ++i) {
    ASSERT_EQ(input.substr(i * 4u, 4), (std::to_string(1000 + i).substr(1) + "\n"));
    ASSERT_EQ(timeouts[i], i);
  }
}

}  // namespace
