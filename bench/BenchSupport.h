#pragma once

// Pieces several benchmark programs share.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace vorn_bench {

// Benchmarks run from any folder: the resources and plug-ins they use are
// those of the source and build trees they were built from (the paths are
// compiled in, as orvelnode's are when it runs from its build tree),
// whatever "KRTInstallPath" and the loader's path say. A missing one stops
// the program with a message instead of a failure in the middle of a run.
//
// The library reads the installation path (and the loader its path) once,
// when it loads: the program sets them and starts itself again, then runs
// the benchmarks as BENCHMARK_MAIN would. `plugins` are the plug-ins' target
// names (lib<name>.so in `pluginDir`).
inline int RunWithResources(int argc, char** argv, const char* installDir, const char* pluginDir = nullptr,
                            std::initializer_list<const char*> plugins = {}) {
  namespace fs = std::filesystem;
  std::vector<std::string> missing;
  if (!fs::is_directory(fs::path(installDir) / "resources" / "Vorn"))
    missing.push_back("the library's resources in " + (fs::path(installDir) / "resources" / "Vorn").string());
  for (const char* plugin : plugins) {
    const fs::path file = fs::path(pluginDir ? pluginDir : "") / ("lib" + std::string(plugin) + ".so");
    if (!fs::is_regular_file(file)) missing.push_back("the plug-in " + file.string() + " (build target " + plugin + ")");
  }
  for (const std::string& what : missing) std::fprintf(stderr, "%s: missing %s\n", argv[0], what.c_str());
  if (!missing.empty()) return 2;

  const char* const started = "VORN_BENCH_ENVIRONMENT_SET";
  if (!std::getenv(started)) {
    setenv(started, "1", 1);
    setenv("KRTInstallPath", installDir, 1);
    if (pluginDir) {
      const char* path = std::getenv("LD_LIBRARY_PATH");
      setenv("LD_LIBRARY_PATH", (std::string(pluginDir) + (path && *path ? ":" + std::string(path) : "")).c_str(), 1);
    }
    execv("/proc/self/exe", argv);
    std::perror("restarting with the build tree's resources");
    return 2;
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
