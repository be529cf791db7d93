// Whether orvelnode's memory stays flat under long use: the host's resident
// set size (VmRSS in /proc/PID/status) after a first stretch of use and
// after all of it, and their ratio, for
//   - WebSocket: connections opened one after the other, each with the
//     token, used for one echo call and closed with the close handshake;
//   - stdio: echo calls pipelined with 32 in flight.
// A host that keeps nothing per connection or per call ends within 10% of
// the first reading (growth_ratio <= 1.10). Each benchmark starts a host of
// its own, so neither sees what the other left. Counters are in KiB; the
// rate is that of the cycles or calls alone, without the pauses before the
// readings.
//
// Counts come from the environment, for a quick run:
//   VORN_RSS_WS_CYCLES      connections (default 100000)
//   VORN_RSS_STDIO_CALLS    stdio calls (default 1000000)
//   VORN_RSS_CHECKPOINT     where the first reading is taken (default 10000)
//   VORN_RSS_WS_CALL=0      connections only opened and closed, no call: tells
//                           what a connection keeps from what a call keeps
//
//   vorn_bench_orvelnode_rss
//   VORN_RSS_WS_CYCLES=20000 VORN_RSS_STDIO_CALLS=50000 vorn_bench_orvelnode_rss

#include <benchmark/benchmark.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "OrvelnodeSupport.h"
#include "OrvelnodeWsSupport.h"

namespace {

long Count(const char* variable, long fallback) {
  const char* text = std::getenv(variable);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 ? value : fallback;
}

// VmRSS of `pid` in KiB; -1 when it cannot be read.
long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Descriptors `pid` holds open: connections that piled up would show here.
long OpenDescriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!dir) return -1;
  long n = 0;
  while (const dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
  closedir(dir);
  return n;
}

// The host finishes a connection's close on its main thread after the
// client is done: give it a moment, the same before every reading.
long SettledRss(pid_t pid) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return RssKiB(pid);
}

// Runs `total` units of work in two stretches, `step(first, count)` each
// (an error text, or nothing), reading the host's RSS before, at the
// checkpoint and at the end; reports the readings and the rate.
void Measure(benchmark::State& state, const char* channel, pid_t pid, long total, const char* unit,
             const std::function<std::optional<std::string>(long first, long count)>& step) {
  const long checkpoint = std::min(total, Count("VORN_RSS_CHECKPOINT", 10000));
  long start = 0, atCheckpoint = 0, atEnd = 0;
  double seconds = 0;
  auto timed = [&](long first, long count) {
    const auto begin = std::chrono::steady_clock::now();
    auto error = step(first, count);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return error;
  };
  for (auto _ : state) {
    start = SettledRss(pid);
    if (auto error = timed(0, checkpoint)) return state.SkipWithError(error->c_str());
    atCheckpoint = SettledRss(pid);
    if (auto error = timed(checkpoint, total - checkpoint)) return state.SkipWithError(error->c_str());
    atEnd = SettledRss(pid);
  }
  if (start < 0 || atCheckpoint <= 0 || atEnd < 0) return state.SkipWithError("cannot read the host's VmRSS");
  state.counters["rss_start_kib"] = static_cast<double>(start);
  state.counters["rss_10k_kib"] = static_cast<double>(atCheckpoint);
  state.counters["rss_end_kib"] = static_cast<double>(atEnd);
  state.counters["growth_ratio"] = static_cast<double>(atEnd) / static_cast<double>(atCheckpoint);
  state.counters["per_second"] = static_cast<double>(total) / seconds;
  state.counters["fds_end"] = static_cast<double>(OpenDescriptors(pid));
  std::printf("%s: %ld %s in %.1f s, %.0f per second; VmRSS %ld KiB at start, %ld KiB after %ld, %ld KiB after %ld (x%.3f)\n",
              channel, total, unit, seconds, static_cast<double>(total) / seconds, start, atCheckpoint,
              checkpoint, atEnd, total, static_cast<double>(atEnd) / static_cast<double>(atCheckpoint));
  std::fflush(stdout);
}

void BM_WsConnectCallClose(benchmark::State& state) {
  const char* callSetting = std::getenv("VORN_RSS_WS_CALL");
  const bool call = !callSetting || std::string(callSetting) != "0";
  vorn_bench::ListeningNode host;
  if (!host.port) return state.SkipWithError(host.error.c_str());
  Measure(state, "WebSocket", host.node.Pid(), Count("VORN_RSS_WS_CYCLES", 100000), "connections",
          [&](long first, long count) -> std::optional<std::string> {
            for (long i = first; i < first + count; ++i) {
              try {
                vorn_bench::WsClient client(host.port);
                if (call) {
                  client.Send(vorn_bench::EchoCall(i + 1));
                  if (client.Next().find("\"result\":") == std::string::npos)
                    return "connection " + std::to_string(i) + ": the answer was not a result";
                }
                client.Close();
              } catch (const std::exception& e) {
                return "connection " + std::to_string(i) + ": " + e.what();
              }
            }
            return std::nullopt;
          });
}

void BM_StdioPipelined(benchmark::State& state) {
  constexpr long kWindow = 32;
  vorn_bench::StdioNode host;
  if (!host.ready) return state.SkipWithError(host.error.c_str());
  Measure(state, "stdio", host.node.Pid(), Count("VORN_RSS_STDIO_CALLS", 1000000), "calls",
          [&](long first, long count) -> std::optional<std::string> {
            const auto done = vorn_bench::Pipeline(host.node, count, kWindow, first + 1, vorn_bench::EchoCall);
            if (done.answered < count) return "no answer after " + std::to_string(first + done.answered) + " calls";
            if (done.errors) return std::to_string(done.errors) + " answers were errors";
            return std::nullopt;
          });
}

BENCHMARK(BM_WsConnectCallClose)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_StdioPipelined)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
