// Data trees built one record at a time through VornDataManager, as a host
// feeding its model does, or from one record holding them all, as a host
// starts; then every node's "value" updated once by id.
// Each record is a new child with its own "id" under a parent chosen so the
// tree is about four levels deep; each node holds five properties ("id",
// "name", "type", "value", "label").
//
//   vorn_bench_model --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// Counters: seconds per operation (build: per record, update: per update) and
// heap bytes per node (glibc's allocated total, plus the model arena's slots,
// before and after the build).
//
// A build is measured two ways. BM_BuildTreeByUpdates builds into a heap that
// earlier builds already grew (the first repetition of a size excepted), as a
// host rebuilding its model does. BM_BuildTreeIntoFreshMemory first hands the
// free heap and the model arena's idle slabs back to the system, so every
// page the tree takes is touched for the first time during the build; its
// peer BM_TouchFreshPages touches as many fresh bytes and nothing else, which
// tells what of a fresh build is the system's page faults rather than the
// library.
// The library's resources are found through "KRTInstallPath", which the
// program points at the source tree when it is unset.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "vorn/model/DataManager.h"
#include "vorn/model/ModelArena.h"
#include "vorn/model/ModelObject.h"

namespace {

// The C heap's allocated bytes and the slots the model's nodes and
// properties take from its arena.
std::size_t HeapInUse() { return mallinfo2().uordblks + VornModelArena::GetBytesInUse(); }

// Complete tree of branching b with b top-level nodes: node k >= b hangs
// under node k / b - 1, which gives about four levels for b = N^(1/4).
struct Shape {
  explicit Shape(std::size_t n) : count(n), branching(std::max<std::size_t>(2, std::lround(std::pow(n, 0.25)))) {}
  long Parent(std::size_t k) const { return k < branching ? -1 : static_cast<long>(k / branching) - 1; }
  std::size_t count;
  std::size_t branching;
};

std::string Id(std::size_t k) { return "node-" + std::to_string(k); }

VornValuesByString Record(std::size_t k) {
  VornValuesByString record;
  record.try_emplace("id", VornValue(Id(k)));
  record.try_emplace("name", VornValue("Node " + std::to_string(k)));
  record.try_emplace("type", VornValue(std::string("length")));
  record.try_emplace("value", VornValue(static_cast<double>(k)));
  record.try_emplace("label", VornValue(std::string("Length")));
  return record;
}

// The update that adds node k: at the top, or as a child of its parent
// addressed by id.
VornValuesByString AddUpdate(const Shape& shape, std::size_t k) {
  const long parent = shape.Parent(k);
  if (parent < 0) return Record(k);
  VornValuesByString update;
  update.try_emplace("id", VornValue(Id(static_cast<std::size_t>(parent))));
  // Moved in, as a host that builds its records does (a braced list would copy the record).
  std::vector<VornValuesByString> children;
  children.push_back(Record(k));
  update.try_emplace("children", std::move(children));
  return update;
}

void Build(const Shape& shape, const std::string& context) {
  VornDataManager::InitializeDataTree(nullptr, context);
  for (std::size_t k = 0; k < shape.count; ++k) VornDataManager::UpdateDataTree(context, AddUpdate(shape, k));
}

// Glibc merges the small chunks a teardown freed at the next large request,
// which would charge the teardown to the build after it; merged here, untimed.
void MergeFreedChunks() {
  void* large = std::malloc(64 * 1024);
  benchmark::DoNotOptimize(large);
  std::free(large);
}

// The heap per node of the last build, for BM_TouchFreshPages.
double g_lastBytesPerNode = 0;

// Builds the tree once per iteration; with `freshMemory` the free heap is
// handed back to the system first. Counting the heap walks every free chunk,
// so it is done untimed too.
void BuildTree(benchmark::State& state, bool freshMemory) {
  const Shape shape(static_cast<std::size_t>(state.range(0)));
  double bytesPerNode = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (freshMemory) {
      malloc_trim(0);
      VornModelArena::Trim();
    }
    const std::size_t before = HeapInUse();
    state.ResumeTiming();
    Build(shape, "bench");
    state.PauseTiming();
    bytesPerNode = static_cast<double>(HeapInUse() - before) / static_cast<double>(shape.count);
    VornDataManager::OnContextEnd("bench");
    MergeFreedChunks();
    state.ResumeTiming();
  }
  g_lastBytesPerNode = bytesPerNode;
  state.counters["s_per_op"] = benchmark::Counter(static_cast<double>(shape.count),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
  state.counters["heap_bytes_per_node"] = bytesPerNode;
  state.counters["branching"] = static_cast<double>(shape.branching);
}

void BM_BuildTreeByUpdates(benchmark::State& state) { BuildTree(state, false); }
void BM_BuildTreeIntoFreshMemory(benchmark::State& state) { BuildTree(state, true); }

// Writes one byte in each page of a fresh mapping as large as the last
// build's heap (1 KiB per node when no build ran): the page faults alone,
// per node.
void BM_TouchFreshPages(benchmark::State& state) {
  const std::size_t count = static_cast<std::size_t>(state.range(0));
  const double perNode = g_lastBytesPerNode > 0 ? g_lastBytesPerNode : 1024;
  const std::size_t bytes = static_cast<std::size_t>(perNode * static_cast<double>(count));
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  for (auto _ : state) {
    void* mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      break;
    }
    auto* bytesAt = static_cast<volatile char*>(mapping);
    for (std::size_t offset = 0; offset < bytes; offset += page) bytesAt[offset] = 1;
    state.PauseTiming();
    munmap(mapping, bytes);
    state.ResumeTiming();
  }
  state.counters["s_per_op"] = benchmark::Counter(static_cast<double>(count),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
  state.counters["bytes_per_node"] = perNode;
}

// A host's start: the whole tree given as one record, here one node with
// every other one as a direct child (the widest list, where each child's
// search for an earlier one of its id is the costliest).
void BM_BuildTreeFromOneRecord(benchmark::State& state) {
  const std::size_t count = static_cast<std::size_t>(state.range(0));
  std::vector<VornValuesByString> children;
  children.reserve(count);
  for (std::size_t k = 0; k < count; ++k) children.push_back(Record(k));
  VornValuesByString all;
  all.try_emplace("id", VornValue(std::string("all")));
  all.try_emplace("children", std::move(children));
  double bytesPerNode = 0;
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    VornDataManager::InitializeDataTree(nullptr, "bench");
    VornDataManager::UpdateDataTree("bench", all);
    state.PauseTiming();
    bytesPerNode = static_cast<double>(HeapInUse() - before) / static_cast<double>(count);
    VornDataManager::OnContextEnd("bench");
    state.ResumeTiming();
  }
  state.counters["s_per_op"] = benchmark::Counter(static_cast<double>(count),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
  state.counters["heap_bytes_per_node"] = bytesPerNode;
}

void BM_UpdateValueById(benchmark::State& state) {
  const Shape shape(static_cast<std::size_t>(state.range(0)));
  Build(shape, "bench");
  double round = 0;
  for (auto _ : state) {
    round += 1;
    for (std::size_t k = 0; k < shape.count; ++k) {
      VornValuesByString update;
      update.try_emplace("id", VornValue(Id(k)));
      update.try_emplace("value", VornValue(round + static_cast<double>(k)));
      VornDataManager::UpdateDataTree("bench", update);
    }
  }
  VornDataManager::OnContextEnd("bench");
  state.counters["s_per_op"] = benchmark::Counter(static_cast<double>(shape.count),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

// A million nodes take seconds to build and about a gigabyte: one iteration
// per repetition there (repetitions come from the command line).
BENCHMARK(BM_BuildTreeByUpdates)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildTreeByUpdates)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildTreeIntoFreshMemory)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TouchFreshPages)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildTreeFromOneRecord)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpdateValueById)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpdateValueById)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Started again with the source tree as installation, so the default
// dictionary is found.
int main(int argc, char** argv) { return vorn_bench::RunWithResources(argc, argv, VORN_BENCH_INSTALL_DIR); }
