// Small requests through orvelnode's stdio channel, measured by a client in
// this process: the round trip of one request at a time (median and 99th
// percentile, as counters), and requests per second with 1 and 32 in
// flight. Each request calls the sample context's "echo" function through
// the library's remote-call path.
//
//   vorn_bench_orvelnode --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ChildProcess.h"

namespace {

std::string Request(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"echo","arguments":{"text":"ping"}}})"
         "\n";
}

struct Host {
  Host() : node({ORVELNODE, SAMPLE_MANIFEST}) {
    node.Write(Request(0));
    ready = node.ReadLine(std::chrono::seconds(20)).has_value();
  }
  ~Host() {
    node.CloseInput();
    node.Wait();
  }
  orvel::ChildProcess node;
  bool ready = false;
};

Host& SharedHost() {
  static Host host;
  return host;
}

void BM_RoundTrip(benchmark::State& state) {
  Host& host = SharedHost();
  if (!host.ready) return state.SkipWithError("orvelnode did not start");
  std::vector<double> micros;
  long id = 1;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    host.node.Write(Request(id++));
    if (!host.node.ReadLine()) return state.SkipWithError("no answer");
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  vorn_bench::ReportLatencies(state, micros);
}

void BM_Throughput(benchmark::State& state) {
  Host& host = SharedHost();
  if (!host.ready) return state.SkipWithError("orvelnode did not start");
  const long inFlight = state.range(0);
  constexpr long kRequests = 20000;
  long id = 1;
  for (auto _ : state) {
    long sent = 0, answered = 0;
    std::string burst;
    while (answered < kRequests) {
      burst.clear();
      while (sent < kRequests && sent - answered < inFlight) burst += Request(id + sent++);
      if (!burst.empty()) host.node.Write(burst);
      if (!host.node.ReadLine()) return state.SkipWithError("no answer");
      ++answered;
    }
    id += kRequests;
  }
  state.SetItemsProcessed(state.iterations() * kRequests);
}

BENCHMARK(BM_RoundTrip)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Throughput)->Arg(1)->Arg(32)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
