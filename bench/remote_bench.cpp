// Function registry lookups by name with 1 and 2 reader threads while a
// writer thread registers and unregisters a name (without pause, or
// sleeping 100 us after each pair), against an std::unordered_map behind an
// std::shared_mutex doing the same; both copy out a counted handle per
// lookup, and the writer's pace is reported as "writes" (pairs per second). And the cost of one
// TryCallRemoteObjectFunc round trip with a small argument object.
//
//   vorn_bench_remote --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "vorn/remote/Binding.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/remote/FuncsRegistry.h"
#include "vorn/remote/RemoteObject.h"

namespace {

constexpr int kNames = 64;

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < kNames; ++i) names.push_back("remote.function." + std::to_string(i));
  return names;
}

// Runs `write` without pause on its own thread while the benchmark's
// threads measure; started before the threads' common start line.
class Writer {
public:
  // With `pauseUs` > 0 the writer sleeps that long after each pair.
  template <class F>
  void Start(F write, long pauseUs) {
    m_stop = false;
    m_writes = 0;
    m_thread = std::thread([this, write, pauseUs] {
      for (; !m_stop.load(std::memory_order_relaxed); ++m_writes) {
        write();
        if (pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
      }
    });
  }
  // Stops the writer and reports how many register/unregister pairs it made
  // per second (a lock that favours readers starves it).
  void Stop(benchmark::State& state) {
    m_stop = true;
    m_thread.join();
    state.counters["writes"] = benchmark::Counter(static_cast<double>(m_writes), benchmark::Counter::kIsRate);
  }

private:
  std::atomic<bool> m_stop{false};
  long m_writes = 0;
  std::thread m_thread;
};

// --- VornFuncsRegistry -------------------------------------------------------------

VornFuncsRegistry* g_registry = nullptr;
Writer g_registryWriter;

void BM_RegistryLookup(benchmark::State& state) {
  static const std::vector<std::string> names = Names();
  if (state.thread_index() == 0) {
    g_registry = new VornFuncsRegistry();
    for (int i = 0; i < kNames; ++i) g_registry->Register(names[i], [i] { return i; });
    g_registryWriter.Start(
        [] {
          g_registry->Register("written", [] { return 0; });
          g_registry->Unregister("written");
        },
        state.range(0));
  }
  std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    VornFuncsRegistryEntry_sp entry = g_registry->GetEntry(names[i++ % kNames]);
    benchmark::DoNotOptimize(entry.Get());
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    g_registryWriter.Stop(state);
    delete g_registry;
  }
}
BENCHMARK(BM_RegistryLookup)->ArgName("pause_us")->Arg(0)->Arg(100)->Threads(1)->Threads(2)->UseRealTime();

// --- std::unordered_map behind std::shared_mutex ----------------------------------

struct LockedMap {
  std::shared_mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<std::function<int()>>> map;
};
LockedMap* g_map = nullptr;
Writer g_mapWriter;

void BM_LockedMapLookup(benchmark::State& state) {
  static const std::vector<std::string> names = Names();
  if (state.thread_index() == 0) {
    g_map = new LockedMap();
    for (int i = 0; i < kNames; ++i) g_map->map.emplace(names[i], std::make_shared<std::function<int()>>([i] { return i; }));
    g_mapWriter.Start(
        [] {
          static const std::string written = "written";
          {
            std::unique_lock lock(g_map->mutex);
            g_map->map.emplace(written, std::make_shared<std::function<int()>>([] { return 0; }));
          }
          std::unique_lock lock(g_map->mutex);
          g_map->map.erase(written);
        },
        state.range(0));
  }
  std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    std::shared_ptr<std::function<int()>> entry;
    {
      std::shared_lock lock(g_map->mutex);
      auto it = g_map->map.find(names[i++ % kNames]);
      if (it != g_map->map.end()) entry = it->second;
    }
    benchmark::DoNotOptimize(entry.get());
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    g_mapWriter.Stop(state);
    delete g_map;
  }
}
BENCHMARK(BM_LockedMapLookup)->ArgName("pause_us")->Arg(0)->Arg(100)->Threads(1)->Threads(2)->UseRealTime();

// --- remote object round trip -------------------------------------------------------

class BenchObject final : public VornRemoteObject {
public:
  BenchObject() : VornRemoteObject("bench", "ns") {
    _AddRemoteFunction("scale", Vorn::MakeRemoteFunction("scale", {"value", "factor"},
                                                         [](double value, int factor) { return value * factor; }));
  }
  void Register() { _RegisterRemoteObject(); }
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }
};

void BM_TryCallRemoteObjectFunc(benchmark::State& state) {
  auto object = std::make_shared<BenchObject>();
  object->Register();
  const VornJSONObject args{{"value", 1.5}, {"factor", 2}};
  double sum = 0;
  const VornRemoteFunction_V1::Reply reply = [&sum](const VornJSONValue& v) {
    sum += static_cast<double>(static_cast<VornJSONObject&>(v).Get("_func_return"));
  };
  for (auto _ : state) {
    VornCommunicationManager_V1::TryCallRemoteObjectFunc("ns", "bench", "scale", reply, args);
  }
  benchmark::DoNotOptimize(sum);
  if (sum != 3.0 * static_cast<double>(state.iterations())) state.SkipWithError("wrong replies");
  object->RequestDestruction();
}
BENCHMARK(BM_TryCallRemoteObjectFunc);

}  // namespace

BENCHMARK_MAIN();
