#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vorn/contexts/MainComponent.h"
#include "vorn/runtime/MainThreadManager.h"

namespace vorn_test {

// Records events from any thread, in order.
class Journal {
public:
  void Add(std::string event) {
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
  }
  std::vector<std::string> Events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
  }

private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_events;
};

// Runs the custom loop on this thread with `body` as the initial callback,
// with a watchdog that stops the loop if a test forgets to (so a failing
// test cannot hang the suite).
inline void RunLoop(const std::function<void()>& body, std::chrono::seconds watchdog = std::chrono::seconds(20)) {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread guard([&] {
    std::unique_lock lock(mutex);
    if (!done.wait_for(lock, watchdog, [&] { return finished; })) VornMainComponent::EndCustomMainThreadLoop();
  });
  struct Finish {
    std::mutex& mutex;
    std::condition_variable& done;
    bool& finished;
    std::thread& guard;
    ~Finish() {
      {
        std::lock_guard lock(mutex);
        finished = true;
      }
      done.notify_all();
      guard.join();
    }
  } finish{mutex, done, finished, guard};  // also when the loop throws
  VornMainComponent::RunCustomMainThreadLoop([&body] { body(); });
}

}  // namespace vorn_test
