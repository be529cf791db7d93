// Timeouts: how late they fire while the custom loop runs, and what a
// SetTimeout + RemoveTimeout pair costs; Boost.Asio's steady_timer on its own
// io_context thread does the same schedule in the same run.
//
//   vorn_bench_mainthread --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "vorn/contexts/MainComponent.h"
#include "vorn/runtime/MainThreadManager.h"

#if VORN_BENCH_HAVE_ASIO
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Waits for one event signalled from another thread.
class Latch {
public:
  void Signal(Clock::time_point at) {
    std::lock_guard lock(m_mutex);
    m_at = at;
    m_done = true;
    m_cv.notify_one();
  }
  Clock::time_point Wait() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_done; });
    m_done = false;
    return m_at;
  }

private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
  Clock::time_point m_at;
};

void ReportLateness(benchmark::State& state, std::vector<double>& lateUs) {
  std::sort(lateUs.begin(), lateUs.end());
  state.counters["late_median_us"] = lateUs[lateUs.size() / 2];
  state.counters["late_p99_us"] = lateUs[std::min(lateUs.size() - 1, lateUs.size() * 99 / 100)];
}

// The library's loop runs on its own thread for the whole program.
class VornLoop {
public:
  VornLoop() {
    std::mutex m;
    std::condition_variable started;
    bool ready = false;
    m_thread = std::thread([&] {
      VornMainComponent::RunCustomMainThreadLoop([&] {
        std::lock_guard lock(m);
        ready = true;
        started.notify_one();
      });
    });
    std::unique_lock lock(m);
    started.wait(lock, [&] { return ready; });
  }
  ~VornLoop() {
    VornMainComponent::EndCustomMainThreadLoop();
    m_thread.join();
  }

private:
  std::thread m_thread;
};

VornLoop& Loop() {
  static VornLoop loop;
  return loop;
}

void BM_VornLateness(benchmark::State& state) {
  Loop();
  const int delayMs = static_cast<int>(state.range(0));
  std::vector<double> late;
  Latch latch;
  for (auto _ : state) {
    const auto due = Clock::now() + std::chrono::milliseconds(delayMs);
    Vorn::SetTimeout([&latch] { latch.Signal(Clock::now()); }, delayMs);
    late.push_back(std::chrono::duration<double, std::micro>(latch.Wait() - due).count());
  }
  ReportLateness(state, late);
}

void BM_VornSetRemovePair(benchmark::State& state) {
  Loop();
  for (auto _ : state) {
    const auto id = Vorn::SetTimeout([] {}, 60000);
    benchmark::DoNotOptimize(Vorn::RemoveTimeout(id));
  }
}

#if VORN_BENCH_HAVE_ASIO
struct AsioLoop {
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work = boost::asio::make_work_guard(io);
  std::thread thread{[this] { io.run(); }};
  ~AsioLoop() {
    work.reset();
    io.stop();
    thread.join();
  }
};

AsioLoop& Asio() {
  static AsioLoop loop;
  return loop;
}

void BM_AsioLateness(benchmark::State& state) {
  auto& asio = Asio();
  const int delayMs = static_cast<int>(state.range(0));
  std::vector<double> late;
  Latch latch;
  for (auto _ : state) {
    const auto due = Clock::now() + std::chrono::milliseconds(delayMs);
    boost::asio::steady_timer timer(asio.io, std::chrono::milliseconds(delayMs));
    timer.async_wait([&latch](const boost::system::error_code&) { latch.Signal(Clock::now()); });
    late.push_back(std::chrono::duration<double, std::micro>(latch.Wait() - due).count());
  }
  ReportLateness(state, late);
}

void BM_AsioSetRemovePair(benchmark::State& state) {
  auto& asio = Asio();
  for (auto _ : state) {
    boost::asio::steady_timer timer(asio.io, std::chrono::seconds(60));
    timer.async_wait([](const boost::system::error_code&) {});
    benchmark::DoNotOptimize(timer.cancel());
  }
}
#endif

}  // namespace

BENCHMARK(BM_VornLateness)->Arg(1)->Arg(10)->Arg(50)->Iterations(60)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VornSetRemovePair);
#if VORN_BENCH_HAVE_ASIO
BENCHMARK(BM_AsioLateness)->Arg(1)->Arg(10)->Arg(50)->Iterations(60)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AsioSetRemovePair);
#endif

BENCHMARK_MAIN();
