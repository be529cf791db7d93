// Cost of VornEventsHandler::Publish against the least a publish can do: a
// loop over a vector of std::function callbacks making the same calls with
// the same data. The difference is what the walk's robustness costs (token
// lookup by index, keeping the running token and callable alive, ownership
// checks).
//
//   vorn_bench_events --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <vector>

#include "vorn/events/EventsHandler.h"

namespace {

class BenchHandler : public VornEventsHandler {};

using DataPtr = std::shared_ptr<VornEventData>;
using Callback = std::function<void(const DataPtr&)>;

// What each listener does: touch the data and count the call.
Callback MakeListener(long* calls) {
  return [calls](const DataPtr& data) {
    benchmark::DoNotOptimize(data.get());
    ++*calls;
  };
}

void BM_Publish(benchmark::State& state) {
  const int listeners = static_cast<int>(state.range(0));
  auto handler = std::make_shared<BenchHandler>();
  long calls = 0;
  std::vector<std::shared_ptr<VornEventToken>> tokens;
  for (int i = 0; i < listeners; ++i) tokens.push_back(handler->Subscribe("onChange", MakeListener(&calls)));
  // A few other names, as a real handler has.
  for (const char* other : {"onAddChild", "onRemoveChild", "onValueChange"})
    tokens.push_back(handler->Subscribe(other, MakeListener(&calls)));
  const DataPtr data = VornEventData::Create();
  for (auto _ : state) handler->Publish("onChange", data);
  if (calls != static_cast<long>(state.iterations()) * listeners) state.SkipWithError("wrong number of calls");
  state.SetItemsProcessed(state.iterations() * listeners);
}

void BM_PlainLoop(benchmark::State& state) {
  const int listeners = static_cast<int>(state.range(0));
  long calls = 0;
  std::vector<Callback> callbacks;
  for (int i = 0; i < listeners; ++i) callbacks.push_back(MakeListener(&calls));
  const DataPtr data = VornEventData::Create();
  for (auto _ : state) {
    for (const Callback& callback : callbacks) callback(data);
    benchmark::ClobberMemory();
  }
  if (calls != static_cast<long>(state.iterations()) * listeners) state.SkipWithError("wrong number of calls");
  state.SetItemsProcessed(state.iterations() * listeners);
}

BENCHMARK(BM_Publish)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_PlainLoop)->Arg(1)->Arg(10)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
