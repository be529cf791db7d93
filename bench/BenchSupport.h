#pragma once

// Pieces several benchmark programs share.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace vorn_bench {

// The library reads the installation path (and the loader its path) once,
// when it loads: set them and start the program again, then run the
// benchmarks as BENCHMARK_MAIN would.
inline int RunWithResources(int argc, char** argv, const char* installDir, const char* pluginDir = nullptr) {
  if (!std::getenv("KRTInstallPath")) {
    setenv("KRTInstallPath", installDir, 1);
    if (pluginDir) setenv("LD_LIBRARY_PATH", pluginDir, 1);
    execv("/proc/self/exe", argv);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Median and 99th percentile of per-iteration latencies, as counters.
inline void ReportLatencies(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

}  // namespace vorn_bench
