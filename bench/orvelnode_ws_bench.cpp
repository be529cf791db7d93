// orvelnode over WebSocket, from clients in this process: the round trip of
// one small call at a time (median and 99th percentile, as counters), and
// events fanned out to 1, 10 and 100 connected clients (events delivered
// per second, counting every client's copy). Each update a driver client
// makes produces two notifications per client ("vorn.event" from the sample
// context and "vorn.modelChanged" from the host).
//
//   vorn_bench_orvelnode_ws --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "OrvelnodeSupport.h"
#include "OrvelnodeWsSupport.h"
#include "vorn/json/Value.h"

namespace {
using vorn_bench::WsClient;

vorn_bench::ListeningNode& SharedHost() {
  static vorn_bench::ListeningNode host;
  return host;
}

std::string SetAngle(long id, double value) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"vorn.callObject","params":{"namespace":"sample","object":"demo","function":"setValue","arguments":{"id":"angle","value":)" +
         std::to_string(value) + "}}}";
}

void BM_WsRoundTrip(benchmark::State& state) {
  vorn_bench::ListeningNode& host = SharedHost();
  if (!host.port) return state.SkipWithError("orvelnode did not start");
  WsClient client(host.port);
  std::vector<double> micros;
  long id = 1;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    client.Send(vorn_bench::EchoCall(id++));
    client.Next();
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  vorn_bench::ReportLatencies(state, micros);
}

void BM_WsFanOut(benchmark::State& state) {
  vorn_bench::ListeningNode& host = SharedHost();
  if (!host.port) return state.SkipWithError("orvelnode did not start");
  const int listeners = static_cast<int>(state.range(0));
  constexpr int kUpdates = 200;
  std::vector<std::unique_ptr<WsClient>> clients;
  for (int i = 0; i < listeners; ++i) clients.push_back(std::make_unique<WsClient>(host.port));
  WsClient driver(host.port);
  long id = 1;
  double value = 0.5;
  long delivered = 0;
  for (auto _ : state) {
    for (int u = 0; u < kUpdates; ++u) driver.Send(SetAngle(id++, value += 1));
    // Every client has everything once it holds the host's notification of
    // the last value; what came before it is counted.
    const std::string last = "\"value\":" + VornJSONValue(value).Stringify();
    auto isLast = [&last](const std::string& message) {
      const std::size_t at = message.find("vorn.modelChanged") == std::string::npos ? std::string::npos : message.find(last);
      return at != std::string::npos && at + last.size() < message.size() &&
             (message[at + last.size()] == ',' || message[at + last.size()] == '}');
    };
    for (std::string message; !isLast(message = driver.Next()) && !message.empty();) {
    }
    for (auto& client : clients)
      for (std::string message;;) {
        message = client->Next();
        ++delivered;
        if (isLast(message) || message.empty()) break;
      }
  }
  state.SetItemsProcessed(delivered);
  state.counters["events_per_update"] =
      static_cast<double>(delivered) / static_cast<double>(state.iterations() * kUpdates * listeners);
}

BENCHMARK(BM_WsRoundTrip)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WsFanOut)->Arg(1)->Arg(10)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
