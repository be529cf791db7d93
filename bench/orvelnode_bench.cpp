// Small requests through orvelnode's stdio channel, measured by a client in
// this process: the round trip of one request at a time (median and 99th
// percentile, as counters), and requests per second with 1 and 32 in
// flight. Each request calls the sample context's "echo" function through
// the library's remote-call path.
//
//   vorn_bench_orvelnode --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "BenchSupport.h"
#include "OrvelnodeSupport.h"

namespace {

vorn_bench::StdioNode& SharedHost() {
  static vorn_bench::StdioNode host;
  return host;
}

void BM_RoundTrip(benchmark::State& state) {
  vorn_bench::StdioNode& host = SharedHost();
  if (!host.ready) return state.SkipWithError(host.error.c_str());
  std::vector<double> micros;
  long id = 1;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    host.node.WriteLine(vorn_bench::EchoCall(id++));
    if (!host.node.ReadLine()) return state.SkipWithError("no answer");
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  vorn_bench::ReportLatencies(state, micros);
}

void BM_Throughput(benchmark::State& state) {
  vorn_bench::StdioNode& host = SharedHost();
  if (!host.ready) return state.SkipWithError(host.error.c_str());
  const long inFlight = state.range(0);
  constexpr long kRequests = 20000;
  long id = 1;
  for (auto _ : state) {
    const auto done = vorn_bench::Pipeline(host.node, kRequests, inFlight, id, vorn_bench::EchoCall);
    if (done.answered < kRequests) return state.SkipWithError("no answer");
    if (done.errors) return state.SkipWithError("an answer was an error");
    id += kRequests;
  }
  state.SetItemsProcessed(state.iterations() * kRequests);
}

BENCHMARK(BM_RoundTrip)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Throughput)->Arg(1)->Arg(32)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
