// orvelnode over WebSocket, from clients in this process: the round trip of
// one small call at a time (median and 99th percentile, as counters),
// against the same client's round trip to a bare WebSocket echo on a
// thread of this process (its peer: one wake-up of the echo thread), and
// events fanned out to 1, 10 and 100 listening clients (events delivered
// per second, counting every client's copy). Notifications go only to
// clients that called vorn.connect, so each listener connects first; each
// update a driver client makes is then one "vorn.modelChanged" per
// listener (events_per_update: 1). The driver does not connect: it reads
// its answers only.
//
//   vorn_bench_orvelnode_ws --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
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
         VornJSONValue(value).Stringify() + "}}}";
}

// The n-th angle an update writes: within the angle's -180..180 (a value
// out of range is refused and announced to nobody), never the one before
// it (an equal value is no change), and distinct over 300 updates, more
// than one iteration makes, so the last of an iteration is unambiguous.
double Angle(long n) { return static_cast<double>(n % 300) - 149.5; }

bool IsResult(const std::string& message) { return message.find("\"result\":") != std::string::npos; }

// One request at a time, each timed from its send to its answer.
void RoundTrips(benchmark::State& state, WsClient& client) {
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

void BM_WsRoundTrip(benchmark::State& state) {
  vorn_bench::ListeningNode& host = SharedHost();
  if (!host.port) return state.SkipWithError(host.error.c_str());
  WsClient client(host.port);
  RoundTrips(state, client);
}

// The peer: a blocking Beast echo of one connection at a time.
struct EchoServer {
  EchoServer() : acceptor(vorn_bench::ClientIo(), {vorn_bench::net::ip::make_address("127.0.0.1"), 0}) {
    port = acceptor.local_endpoint().port();
    thread = std::thread([this] {
      for (;;) {
        boost::beast::websocket::stream<vorn_bench::tcp::socket> ws(acceptor.accept());
        ws.next_layer().set_option(vorn_bench::tcp::no_delay(true));
        boost::beast::error_code ec;
        ws.accept(ec);
        for (boost::beast::flat_buffer buffer; !ec; buffer.consume(buffer.size())) {
          ws.read(buffer, ec);
          if (!ec) ws.write(buffer.data(), ec);
        }
      }
    });
    thread.detach();  // serves until the program ends
  }
  vorn_bench::tcp::acceptor acceptor;
  std::thread thread;
  unsigned short port = 0;
};

void BM_WsEchoRoundTrip(benchmark::State& state) {
  static EchoServer echo;
  WsClient client(echo.port);
  RoundTrips(state, client);
}

void BM_WsFanOut(benchmark::State& state) {
  vorn_bench::ListeningNode& host = SharedHost();
  if (!host.port) return state.SkipWithError(host.error.c_str());
  const int listeners = static_cast<int>(state.range(0));
  constexpr int kUpdates = 200;
  std::vector<std::unique_ptr<WsClient>> clients;
  for (int i = 0; i < listeners; ++i) {
    clients.push_back(std::make_unique<WsClient>(host.port));
    // Answered before the host can send this client any notification.
    clients.back()->Send(R"({"jsonrpc":"2.0","id":1,"method":"vorn.connect","params":{"contexts":["demo"]}})");
    if (!IsResult(clients.back()->Next())) return state.SkipWithError("vorn.connect was refused");
  }
  WsClient driver(host.port);
  long id = 1;
  static long n = 0;  // over every run: the host keeps the last angle written
  long delivered = 0;
  for (auto _ : state) {
    for (int u = 0; u < kUpdates; ++u) driver.Send(SetAngle(id++, Angle(n++)));
    for (int u = 0; u < kUpdates; ++u)
      if (!IsResult(driver.Next())) return state.SkipWithError("an update was refused");
    // Every listener has everything once it holds the notification of the
    // last value; what came before it is counted.
    const std::string last = "\"value\":" + VornJSONValue(Angle(n - 1)).Stringify();
    auto isLast = [&last](const std::string& message) {
      const std::size_t at = message.find("vorn.modelChanged") == std::string::npos ? std::string::npos : message.find(last);
      return at != std::string::npos && at + last.size() < message.size() &&
             (message[at + last.size()] == ',' || message[at + last.size()] == '}');
    };
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
BENCHMARK(BM_WsEchoRoundTrip)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WsFanOut)->Arg(1)->Arg(10)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
