// Small requests through orvelnode's stdio channel, measured by a client in
// this process: the round trip of one request at a time (median and 99th
// percentile, as counters), and requests per second with 1 and 32 in
// flight. Three cases, driven by the same client code in the same run:
//   /0 echo   `cat` as the child: a bare pipe echo, the floor to compare with
//   /1 method an unknown method: the host's own cost of a request (read,
//             parse, answer -32601, write), no library call
//   /2 call   the sample context's "echo" function through the library's
//             remote-call path
//
//   vorn_bench_orvelnode --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "OrvelnodeSupport.h"

namespace {

enum Case : long { kCat = 0, kUnknownMethod = 1, kEchoFunction = 2 };

vorn_bench::StdioNode& SharedHost() {
  static vorn_bench::StdioNode host;
  return host;
}

orvel::ChildProcess& SharedCat() {
  static orvel::ChildProcess cat({"/bin/cat"});
  return cat;
}

std::string UnknownCall(long id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"bench.nothing"})";
}

// The child for `which`, or nothing (with the reason in `error`).
orvel::ChildProcess* Child(long which, std::string& error) {
  if (which == kCat) {
    vorn_bench::IgnoreBrokenPipes();
    if (!SharedCat().Started()) error = "cannot start /bin/cat";
    return SharedCat().Started() ? &SharedCat() : nullptr;
  }
  vorn_bench::StdioNode& host = SharedHost();
  if (!host.ready) error = host.error;
  return host.ready ? &host.node : nullptr;
}

// The request of each case: the echo peer gets the unknown-method line,
// so both carry the same bytes.
std::string Request(long which, long id) { return which == kEchoFunction ? vorn_bench::EchoCall(id) : UnknownCall(id); }

void BM_RoundTrip(benchmark::State& state) {
  std::string error;
  orvel::ChildProcess* child = Child(state.range(0), error);
  if (!child) return state.SkipWithError(error.c_str());
  std::vector<double> micros;
  long id = 1;
  for (auto _ : state) {
    const std::string line = Request(state.range(0), id++);
    const auto start = std::chrono::steady_clock::now();
    child->WriteLine(line);
    if (!child->ReadLine()) return state.SkipWithError("no answer");
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  vorn_bench::ReportLatencies(state, micros);
}

void BM_Throughput(benchmark::State& state) {
  std::string error;
  const long which = state.range(0);
  orvel::ChildProcess* child = Child(which, error);
  if (!child) return state.SkipWithError(error.c_str());
  const long inFlight = state.range(1);
  constexpr long kRequests = 20000;
  long id = 1;
  for (auto _ : state) {
    const auto done = vorn_bench::Pipeline(*child, kRequests, inFlight, id, [which](long n) { return Request(which, n); });
    if (done.answered < kRequests) return state.SkipWithError("no answer");
    // Only the function call answers with results; the other two never do.
    if (done.errors != (which == kEchoFunction ? 0 : kRequests)) return state.SkipWithError("an unexpected answer");
    id += kRequests;
  }
  state.SetItemsProcessed(state.iterations() * kRequests);
}

BENCHMARK(BM_RoundTrip)->ArgName("case")->DenseRange(0, 2)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Throughput)
    ->ArgNames({"case", "inFlight"})
    ->ArgsProduct({{kCat, kUnknownMethod, kEchoFunction}, {1, 32}})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
