// Vorn::HashTable against std::unordered_map and absl::flat_hash_map, in one
// program so that all three run on the same machine state: insert, find
// (hits and misses), erase and iteration at 1,000, 100,000 and 1,000,000
// entries, for string keys of 8 to 24 random characters and for random
// 64-bit keys; and the memory each holds at 1,000,000 entries.
//
// Lookups and erasures visit the keys in a shuffled order, so that the
// dense insertion-ordered entry array of Vorn::HashTable gets no help from
// the order the keys were inserted in.
//
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// and compare medians.

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "vorn/containers/HashTable.h"

#if VORN_BENCH_HAVE_ABSL
#include "absl/container/flat_hash_map.h"
#endif

namespace {

using Value = std::uint64_t;

// ---- key sets ------------------------------------------------------------------

template <class K>
struct KeySet {
  std::vector<K> keys;      // distinct, in insertion order
  std::vector<K> shuffled;  // the same keys, in another order
  std::vector<K> misses;    // as many distinct keys that are not in keys
};

std::string RandomString(std::mt19937_64& rng) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uniform_int_distribution<int> length(8, 24);
  std::uniform_int_distribution<int> pick(0, sizeof(kChars) - 2);
  std::string s(static_cast<std::size_t>(length(rng)), ' ');
  for (char& c : s) c = kChars[pick(rng)];
  return s;
}

template <class K>
K RandomKey(std::mt19937_64& rng) {
  if constexpr (std::is_same_v<K, std::string>) {
    return RandomString(rng);
  } else {
    return rng();
  }
}

template <class K>
const KeySet<K>& Keys(std::size_t n) {
  static std::map<std::size_t, std::unique_ptr<KeySet<K>>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<KeySet<K>>();
    std::mt19937_64 rng(0x5eed0000u + n);
    std::unordered_set<K> seen;
    while (slot->keys.size() < n) {
      K k = RandomKey<K>(rng);
      if (seen.insert(k).second) slot->keys.push_back(std::move(k));
    }
    while (slot->misses.size() < n) {
      K k = RandomKey<K>(rng);
      if (seen.insert(k).second) slot->misses.push_back(std::move(k));
    }
    slot->shuffled = slot->keys;
    std::shuffle(slot->shuffled.begin(), slot->shuffled.end(), rng);
  }
  return *slot;
}

// ---- the maps, behind one face -------------------------------------------------

template <class K>
using VornMap = Vorn::HashTable<K, Value>;
template <class K>
using StdMap = std::unordered_map<K, Value>;
#if VORN_BENCH_HAVE_ABSL
template <class K>
using AbslMap = absl::flat_hash_map<K, Value>;
#endif

template <class Map>
void Fill(Map& m, const std::vector<typename Map::key_type>& keys) {
  Value v = 0;
  for (const auto& k : keys) m.try_emplace(k, v++);
}

void SetPerOp(benchmark::State& state, std::size_t n) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
  state.counters["ns_per_op"] =
      benchmark::Counter(static_cast<double>(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

// ---- timed operations ----------------------------------------------------------

template <class Map>
void BM_Insert(benchmark::State& state, std::size_t n) {
  const auto& keys = Keys<typename Map::key_type>(n).keys;
  for (auto _ : state) {
    auto m = std::make_unique<Map>();
    Fill(*m, keys);
    benchmark::DoNotOptimize(m->size());
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  SetPerOp(state, n);
}

template <class Map>
void BM_FindHit(benchmark::State& state, std::size_t n) {
  const auto& set = Keys<typename Map::key_type>(n);
  Map m;
  Fill(m, set.keys);
  for (auto _ : state) {
    Value sum = 0;
    for (const auto& k : set.shuffled) sum += m.find(k)->second;
    benchmark::DoNotOptimize(sum);
  }
  SetPerOp(state, n);
}

template <class Map>
void BM_FindMiss(benchmark::State& state, std::size_t n) {
  const auto& set = Keys<typename Map::key_type>(n);
  Map m;
  Fill(m, set.keys);
  for (auto _ : state) {
    std::size_t found = 0;
    for (const auto& k : set.misses) found += m.find(k) != m.end();
    benchmark::DoNotOptimize(found);
  }
  SetPerOp(state, n);
}

template <class Map>
void BM_Erase(benchmark::State& state, std::size_t n) {
  const auto& set = Keys<typename Map::key_type>(n);
  Map full;
  Fill(full, set.keys);
  for (auto _ : state) {
    state.PauseTiming();
    auto m = std::make_unique<Map>(full);
    state.ResumeTiming();
    for (const auto& k : set.shuffled) m->erase(k);
    benchmark::DoNotOptimize(m->size());
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  SetPerOp(state, n);
}

template <class Map>
void BM_Iterate(benchmark::State& state, std::size_t n) {
  const auto& set = Keys<typename Map::key_type>(n);
  Map m;
  Fill(m, set.keys);
  for (auto _ : state) {
    Value sum = 0;
    for (const auto& entry : m) sum += entry.second;
    benchmark::DoNotOptimize(sum);
  }
  SetPerOp(state, n);
}

// ---- memory --------------------------------------------------------------------

std::size_t ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t HeapBytes() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;  // in use from the heap plus mmapped blocks
}

// Runs in a process of its own (this program started again with
// --measure-memory), so that nothing freed by an earlier benchmark can be
// reused unseen: fills one map with n keys and prints the growth of malloc's
// bytes in use (chunk overhead included) and of the resident set, before and
// after malloc_trim. All include the heap storage of the copied string keys,
// the same for all maps.
//
// The keys are made first, all together, and checked for duplicates only
// afterwards: no freed memory is left between them for the map to fill
// without growing the resident set.
template <class K>
std::vector<K> FreshKeys(std::size_t n) {
  std::mt19937_64 rng(0x6e6f6e65u + n);
  std::vector<K> keys;
  keys.reserve(n + n / 8);
  for (;;) {
    while (keys.size() < n + n / 8) keys.push_back(RandomKey<K>(rng));
    std::vector<std::size_t> order(keys.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<bool> duplicate(keys.size(), false);
    for (std::size_t i = 1; i < order.size(); ++i) duplicate[order[i]] = keys[order[i]] == keys[order[i - 1]];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < keys.size() && kept < n; ++i) {
      if (duplicate[i]) continue;
      if (kept != i) keys[kept] = std::move(keys[i]);
      ++kept;
    }
    if (kept == n) {
      keys.resize(n);
      return keys;
    }
    keys.resize(kept);
  }
}

template <class Map>
int MeasureMemory(std::size_t n) {
  const std::vector<typename Map::key_type> keys = FreshKeys<typename Map::key_type>(n);
  malloc_trim(0);  // give back what sorting left free at the top of the heap
  const std::size_t heap0 = HeapBytes();
  const std::size_t rss0 = ResidentBytes();
  auto* m = new Map;
  Fill(*m, keys);
  benchmark::DoNotOptimize(m);
  const std::size_t heap = HeapBytes() - heap0;
  const std::size_t rss = ResidentBytes() - rss0;
  // What stays resident once malloc gives back the free memory that growth
  // left behind (old arrays of every map are freed as it grows).
  malloc_trim(0);
  const std::size_t trimmed = ResidentBytes() - rss0;
  std::printf("%zu %zu %zu %zu\n", heap, rss, trimmed, m->size());
  return m->size() == n ? 0 : 1;
}

int MeasureMemoryMain(const std::string& keyName, const std::string& mapName, std::size_t n) {
  if (keyName == "str") {
    if (mapName == "Vorn") return MeasureMemory<VornMap<std::string>>(n);
    if (mapName == "std") return MeasureMemory<StdMap<std::string>>(n);
#if VORN_BENCH_HAVE_ABSL
    if (mapName == "absl") return MeasureMemory<AbslMap<std::string>>(n);
#endif
  } else if (keyName == "u64") {
    if (mapName == "Vorn") return MeasureMemory<VornMap<std::uint64_t>>(n);
    if (mapName == "std") return MeasureMemory<StdMap<std::uint64_t>>(n);
#if VORN_BENCH_HAVE_ABSL
    if (mapName == "absl") return MeasureMemory<AbslMap<std::uint64_t>>(n);
#endif
  }
  return 2;
}

void BM_Memory(benchmark::State& state, const std::string& keyName, const std::string& mapName, std::size_t n) {
  const std::string command =
      "/proc/" + std::to_string(getpid()) + "/exe --measure-memory " + keyName + " " + mapName + " " + std::to_string(n);
  double heap = 0;
  double resident = 0;
  double trimmed = 0;
  for (auto _ : state) {
    FILE* child = popen(command.c_str(), "r");
    std::size_t h = 0;
    std::size_t r = 0;
    std::size_t t = 0;
    std::size_t size = 0;
    const int fields = child ? std::fscanf(child, "%zu %zu %zu %zu", &h, &r, &t, &size) : 0;
    const int status = child ? pclose(child) : -1;
    if (fields != 4 || status != 0 || size != n) {
      state.SkipWithError("measuring process failed");
      return;
    }
    heap = static_cast<double>(h);
    resident = static_cast<double>(r);
    trimmed = static_cast<double>(t);
  }
  // heap: bytes malloc counts in use, reserved but untouched capacity
  // included; rss: resident growth as growth left it; rss_trimmed: resident
  // growth once free memory has been given back.
  state.counters["heap_B_per_entry"] = heap / static_cast<double>(n);
  state.counters["rss_B_per_entry"] = resident / static_cast<double>(n);
  state.counters["rss_trimmed_B_per_entry"] = trimmed / static_cast<double>(n);
}

// ---- registration --------------------------------------------------------------

template <class K>
void RegisterFor(const char* keyName) {
  struct Entry {
    const char* name;
    void (*vorn)(benchmark::State&, std::size_t);
    void (*std)(benchmark::State&, std::size_t);
#if VORN_BENCH_HAVE_ABSL
    void (*absl)(benchmark::State&, std::size_t);
#endif
  };
#if VORN_BENCH_HAVE_ABSL
#define VORN_BENCH_OP(op) {#op, &BM_##op<VornMap<K>>, &BM_##op<StdMap<K>>, &BM_##op<AbslMap<K>>}
#else
#define VORN_BENCH_OP(op) {#op, &BM_##op<VornMap<K>>, &BM_##op<StdMap<K>>}
#endif
  const Entry ops[] = {VORN_BENCH_OP(Insert), VORN_BENCH_OP(FindHit), VORN_BENCH_OP(FindMiss), VORN_BENCH_OP(Erase),
                       VORN_BENCH_OP(Iterate)};
#undef VORN_BENCH_OP
  for (const Entry& op : ops) {
    for (std::size_t n : {std::size_t{1000}, std::size_t{100000}, std::size_t{1000000}}) {
      const std::string prefix = std::string(keyName) + "/" + op.name + "/" + std::to_string(n) + "/";
      benchmark::RegisterBenchmark((prefix + "Vorn").c_str(), op.vorn, n)->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((prefix + "std").c_str(), op.std, n)->Unit(benchmark::kMicrosecond);
#if VORN_BENCH_HAVE_ABSL
      benchmark::RegisterBenchmark((prefix + "absl").c_str(), op.absl, n)->Unit(benchmark::kMicrosecond);
#endif
    }
  }
  const std::size_t n = 1000000;
  const std::string prefix = std::string(keyName) + "/Memory/" + std::to_string(n) + "/";
#if VORN_BENCH_HAVE_ABSL
  const char* maps[] = {"Vorn", "std", "absl"};
#else
  const char* maps[] = {"Vorn", "std"};
#endif
  for (const char* map : maps) {
    benchmark::RegisterBenchmark((prefix + map).c_str(), &BM_Memory, std::string(keyName), std::string(map), n)
        ->Iterations(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--measure-memory") {
    return MeasureMemoryMain(argv[2], argv[3], std::stoul(argv[4]));
  }
  // Timed runs: malloc keeps what is freed and never maps single blocks, so
  // after the first iteration no map pays for fresh pages from the system.
  // Otherwise whichever map ran first, or freed its arrays to the system
  // last, would be charged for page faults that belong to malloc's state.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  RegisterFor<std::string>("str");
  RegisterFor<std::uint64_t>("u64");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
