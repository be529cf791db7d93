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

// --- the two stores: the registry, and a map behind a reader-writer lock -----------

struct Registry {
  VornFuncsRegistry registry;
  void Add(const std::string& name, int i) { registry.Register(name, [i] { return i; }); }
  void Write() {
    registry.Register("written", [] { return 0; });
    registry.Unregister("written");
  }
  VornFuncsRegistryEntry_sp Find(const std::string& name) { return registry.GetEntry(name); }
};

struct LockedMap {
  using Entry = std::shared_ptr<std::function<int()>>;
  std::shared_mutex mutex;
  std::unordered_map<std::string, Entry> map;
  void Add(const std::string& name, int i) { map.emplace(name, std::make_shared<std::function<int()>>([i] { return i; })); }
  void Write() {
    static const std::string written = "written";
    {
      std::unique_lock lock(mutex);
      map.emplace(written, std::make_shared<std::function<int()>>([] { return 0; }));
    }
    std::unique_lock lock(mutex);
    map.erase(written);
  }
  Entry Find(const std::string& name) {
    std::shared_lock lock(mutex);
    auto it = map.find(name);
    return it == map.end() ? Entry() : it->second;
  }
};

// Thread 0 fills the store and starts the writer before the threads' common
// start; each thread then looks the names up in turn from its own offset,
// copying out the handle.
template <class Store>
void BM_Lookup(benchmark::State& state) {
  static const std::vector<std::string> names = Names();
  static Store* store = nullptr;
  static Writer writer;
  if (state.thread_index() == 0) {
    store = new Store();
    for (int i = 0; i < kNames; ++i) store->Add(names[i], i);
    writer.Start([] { store->Write(); }, state.range(0));
  }
  std::size_t i = static_cast<std::size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    auto entry = store->Find(names[i++ % kNames]);
    benchmark::DoNotOptimize(entry);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    writer.Stop(state);
    delete store;
  }
}
BENCHMARK_TEMPLATE(BM_Lookup, Registry)->ArgName("pause_us")->Arg(0)->Arg(100)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Lookup, LockedMap)->ArgName("pause_us")->Arg(0)->Arg(100)->Threads(1)->Threads(2)->UseRealTime();

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
