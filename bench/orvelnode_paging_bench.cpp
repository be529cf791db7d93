// Whether describing a large context keeps orvelnode's main thread
// available: the form view of 100,000 objects paged with vorn.describeView
// (at most 2000 nodes an answer), against the 50 ms that one call may hold
// the main thread.
//
//   vorn_bench_orvelnode_paging --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// BM_PageView/<objects> pages the whole view once per iteration: a first
// call without "under", then one call per node described with
// "childCount", "under" its id, until every node is described. Its
// counters:
//   - calls: the calls of one walk; nodes, tweakers: what they described
//     (checked against the context's objects);
//   - call_p50_ms, call_p99_ms, call_max_ms: one call's round trip over
//     stdio, over every call of the iterations. The host handles requests
//     one at a time on its main thread and this client sends one only once
//     the one before is answered, so a call's round trip bounds the time
//     the main thread spent on it (the round trip adds the pipe, the host's
//     reader and writer threads and the client's read). What the main
//     thread does once the answer is out (freeing it) delays the next call
//     and is in that one's round trip. first_call_ms: the first call, the
//     one with the most nodes (median);
//   - main_cpu_p50_ms, main_cpu_max_ms: the CPU time orvelnode's main
//     thread used within one call (from /proc/<pid>/task/<pid>/schedstat):
//     the work the call made it do, which a loaded machine does not
//     inflate;
//   - slowest_call (0: the first), slowest_cpu_ms, slowest_wait_ms: the
//     call with the longest round trip, and how long within it the main
//     thread ran and how long it was ready but waited for a CPU. On a
//     shared machine a round trip over the target with little CPU and much
//     waiting is the machine's load, not the host's work;
//   - target_ms (50), max_over_target = call_max_ms / 50 and
//     cpu_max_over_target = main_cpu_max_ms / 50: at most 1 keeps the
//     promise;
//   - walk_ms: the round trips of one walk added up (the client's parsing
//     between calls is not counted), median; also the Time column;
//   - getTree_ms, getTree_cpu_ms: the peer, one vorn.getTree of the whole
//     context in the same iteration, which holds the main thread for all
//     of it (medians); getTree_over_max and getTree_cpu_over_max: how many
//     times the longest page it is;
//   - startup_ms: from starting the host to its first answer (informative:
//     the manifest is read, the model built and a tweaker made per value
//     first), and startup_cpu_ms the CPU time orvelnode used until then;
//     one host per size serves the whole run, so every repetition reports
//     the same start.
// BM_PageView/10000 is the same at a tenth of the size, for scale.
//
// Compare medians and same-run ratios, not absolute times: the machine is
// shared. The manifests are written to temporary directories at start and
// removed at the end; the library's resources are the source tree's,
// wherever the program is started.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LargeManifest.h"
#include "OrvelnodeSupport.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Parser.h"

namespace {

constexpr double kTargetMs = 50;  // what one call may hold the main thread
constexpr int kValuesPerGroup = 99;

// Groups of 99 values: a group and its values are 100 objects.
int GroupsFor(long objects) { return static_cast<int>(objects / (1 + kValuesPerGroup)); }

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(static_cast<double>(values.size()) * share))];
}

long NextId() {
  static long id = 1;
  return id++;
}

std::string Request(const char* method, const std::string& params) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(NextId()) + R"(,"method":")" + method + R"(","params":)" +
         params + "}";
}

// What the main thread of process `pid` has done so far, in nanoseconds:
// run on a CPU, and waited for one while ready to run (the first two
// fields of its schedstat); negative when the kernel does not say.
struct ThreadTimes {
  double running = -1;
  double waiting = -1;
};

class MainThreadClock {
public:
  explicit MainThreadClock(pid_t pid)
      : m_path("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/schedstat") {}
  ThreadTimes Now() const {
    std::ifstream file(m_path);
    ThreadTimes times;
    file >> times.running >> times.waiting;
    return file ? times : ThreadTimes{};
  }

private:
  std::string m_path;
};

// CPU time process `pid` has used so far, all threads, in milliseconds
// (utime and stime of its stat, in clock ticks); negative when unknown.
double ProcessCpuMs(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind(')');  // the command's name may hold spaces
  if (end == std::string::npos) return -1;
  std::istringstream fields(text.substr(end + 1));
  std::string field;
  double ticks = 0;
  for (int i = 0; i < 13 && fields >> field; ++i)
    if (i >= 11) ticks += std::stod(field);  // the 14th and 15th fields of the line
  return fields ? ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)) : -1;
}

// One request and its answer: the round trip and the main thread's CPU
// time within it. A client that did not call vorn.connect hears no
// notifications, so the next line is the answer.
struct Exchange {
  double ms = 0;
  double cpuMs = 0;   // the main thread on a CPU (-1: unknown)
  double waitMs = 0;  // the main thread ready, waiting for a CPU (-1: unknown)
  VornJSONValue result;  // undefined when not answered with a result
};

Exchange Ask(orvel::ChildProcess& node, const MainThreadClock& clock, const std::string& request) {
  Exchange exchange;
  const ThreadTimes before = clock.Now();
  const auto start = std::chrono::steady_clock::now();
  if (!node.WriteLine(request)) return exchange;
  const auto answer = node.ReadLine(std::chrono::seconds(120));
  exchange.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const ThreadTimes after = clock.Now();
  const bool known = before.running >= 0 && after.running >= 0;
  exchange.cpuMs = known ? (after.running - before.running) / 1e6 : -1;
  exchange.waitMs = known ? (after.waiting - before.waiting) / 1e6 : -1;
  if (!answer) return exchange;
  const VornJSONValue parsed = VornJSONParser::ParseText(*answer, false);
  if (const VornJSONObject* object = parsed.GetIfObject()) exchange.result = object->Get("result");
  return exchange;
}

// A host on a manifest of `objects` objects with the form view, started
// once per size and kept for the run; `startupMs` is the time from starting
// the process to its first answer (a vorn.listContexts): the manifest read,
// the model built and a tweaker made per value; `startupCpuMs` what CPU
// time that took, which a loaded machine does not inflate.
struct Host {
  explicit Host(long objects)
      : manifest(GroupsFor(objects), kValuesPerGroup, true),
        started(std::chrono::steady_clock::now()),
        node(manifest.file, std::chrono::seconds(300)),
        startupMs(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count()),
        startupCpuMs(ProcessCpuMs(node.node.Pid())),
        clock(node.node.Pid()) {}
  vorn_bench::LargeManifest manifest;  // before the node, which reads it at start
  std::chrono::steady_clock::time_point started;
  vorn_bench::StdioNode node;
  double startupMs;
  double startupCpuMs;  // the CPU time it took, all threads
  MainThreadClock clock;
};

Host& HostOf(long objects) {
  static std::map<long, std::unique_ptr<Host>> hosts;
  auto& host = hosts[objects];
  if (!host) host = std::make_unique<Host>(objects);
  return *host;
}

// One paging of the whole view: every call's exchange and what was described.
struct Walk {
  std::vector<Exchange> calls;
  long nodes = 0;
  long tweakers = 0;
  std::string error;
};

// Counts the nodes of an answer's tree and queues those whose children did
// not fit. The root of an answer to "under" was counted by the answer that
// listed it; false when it did not fit again (paging would not end).
bool Collect(const VornJSONValue& tree, bool first, Walk& walk, std::deque<std::string>& pending) {
  std::vector<std::pair<const VornJSONObject*, bool>> stack;  // a node, and whether it is the answer's root
  if (const VornJSONObject* root = tree.GetIfObject()) stack.emplace_back(root, true);
  while (!stack.empty()) {
    const auto [node, isRoot] = stack.back();
    stack.pop_back();
    const bool paged = node->Get("childCount").IsInt();
    if (isRoot && !first) {
      if (paged) return false;
    } else {
      ++walk.nodes;
      if (!node->Get("tweaker").IsUndefined()) ++walk.tweakers;
      if (paged)
        if (const std::string* id = node->Get("id").GetIfString()) pending.push_back(*id);
    }
    if (const VornJSONArray* children = node->Get("children").GetIfArray())
      for (const VornJSONValue& child : *children)
        if (const VornJSONObject* object = child.GetIfObject()) stack.emplace_back(object, false);
  }
  return true;
}

Walk PageWholeView(Host& host) {
  Walk walk;
  std::deque<std::string> pending;
  const std::string context = R"({"context":"big")";
  bool first = true;
  while (first || !pending.empty()) {
    const std::string params =
        first ? context + "}" : context + R"(,"under":)" + VornJSONValue(pending.front()).Stringify() + "}";
    Exchange exchange = Ask(host.node.node, host.clock, Request("vorn.describeView", params));
    const VornJSONObject* result = exchange.result.GetIfObject();
    if (!result) {
      walk.error = "vorn.describeView was not answered with a result: " + params;
      return walk;
    }
    const VornJSONValue tree = result->Get("tree");
    if (!first) pending.pop_front();
    if (!Collect(tree, first, walk, pending)) {
      walk.error = "a node asked for as \"under\" came back without its children: " + params;
      return walk;
    }
    // An answer that is complete leaves nothing to page below it, and one
    // that is not must have said where.
    if (result->Get("complete").IsBool() && !*result->Get("complete").GetIfBool() && pending.empty()) {
      walk.error = "an answer was incomplete without a node to page";
      return walk;
    }
    exchange.result = {};  // the answers are not kept
    walk.calls.push_back(std::move(exchange));
    first = false;
  }
  return walk;
}

// Times are what the client waits for its answer. The host stays busy for
// a while after a large answer is out (its writer thread writes it, its
// main thread frees it), so a vorn.listContexts follows the vorn.getTree
// and the next call starts on an idle host; the main thread's CPU time for
// the vorn.getTree counts until that answer, so that freeing is in it. The
// paging and its peer alternate in order.
void BM_PageView(benchmark::State& state) {
  const long objects = state.range(0);
  Host& host = HostOf(objects);
  if (!host.node.ready) return state.SkipWithError(host.node.error.c_str());
  const std::string getTree = R"({"context":"big"})";
  auto treeCall = [&host, &getTree] {
    Exchange exchange = Ask(host.node.node, host.clock, Request("vorn.getTree", getTree));
    const Exchange after = Ask(host.node.node, host.clock, Request("vorn.listContexts", "{}"));
    if (exchange.result.IsUndefined() || after.result.IsUndefined()) exchange.ms = -1;
    if (exchange.cpuMs >= 0 && after.cpuMs >= 0) exchange.cpuMs += after.cpuMs;
    exchange.result = {};
    return exchange;
  };
  std::vector<double> callMs, callCpuMs, firstCallMs, walkMs, treeMs, treeCpuMs;
  Exchange slowest;  // the call with the longest round trip
  long slowestIndex = 0;  // its place in its walk (0: the first call)
  long calls = 0, nodes = 0, tweakers = 0;
  for (auto _ : state) {
    const bool peerFirst = walkMs.size() % 2 == 1;
    Exchange tree = peerFirst ? treeCall() : Exchange{};
    const Walk walk = PageWholeView(host);
    if (!peerFirst) tree = treeCall();
    if (!walk.error.empty()) return state.SkipWithError(walk.error.c_str());
    if (tree.ms < 0) return state.SkipWithError("vorn.getTree was not answered with a result");
    // Every group and value once, and a tweaker for each value: a view
    // that described less would be measured doing less.
    const long values = static_cast<long>(GroupsFor(objects)) * kValuesPerGroup;
    if (walk.nodes < objects || walk.tweakers != values)
      return state.SkipWithError(("paging described " + std::to_string(walk.nodes) + " nodes and " +
                                  std::to_string(walk.tweakers) + " tweakers for " + std::to_string(values) + " values")
                                     .c_str());
    double total = 0;
    for (std::size_t i = 0; i < walk.calls.size(); ++i) {
      const Exchange& call = walk.calls[i];
      if (call.ms > slowest.ms) slowest = call, slowestIndex = static_cast<long>(i);
      callMs.push_back(call.ms);
      callCpuMs.push_back(call.cpuMs);
      total += call.ms;
    }
    state.SetIterationTime(total / 1e3);
    firstCallMs.push_back(walk.calls.front().ms);
    walkMs.push_back(total);
    treeMs.push_back(tree.ms);
    treeCpuMs.push_back(tree.cpuMs);
    calls = static_cast<long>(walk.calls.size());
    nodes = walk.nodes;
    tweakers = walk.tweakers;
  }
  const double maxMs = Percentile(callMs, 1), cpuMaxMs = Percentile(callCpuMs, 1);
  const double treeMedian = Percentile(treeMs, 0.5), treeCpuMedian = Percentile(treeCpuMs, 0.5);
  state.counters["objects"] = static_cast<double>(objects);
  state.counters["startup_ms"] = host.startupMs;
  state.counters["startup_cpu_ms"] = host.startupCpuMs;
  state.counters["calls"] = static_cast<double>(calls);
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["tweakers"] = static_cast<double>(tweakers);
  state.counters["call_p50_ms"] = Percentile(callMs, 0.5);
  state.counters["call_p99_ms"] = Percentile(callMs, 0.99);
  state.counters["call_max_ms"] = maxMs;
  state.counters["first_call_ms"] = Percentile(firstCallMs, 0.5);
  state.counters["main_cpu_p50_ms"] = Percentile(callCpuMs, 0.5);
  state.counters["main_cpu_max_ms"] = cpuMaxMs;
  state.counters["slowest_call"] = static_cast<double>(slowestIndex);
  state.counters["slowest_cpu_ms"] = slowest.cpuMs;
  state.counters["slowest_wait_ms"] = slowest.waitMs;
  state.counters["target_ms"] = kTargetMs;
  state.counters["max_over_target"] = maxMs / kTargetMs;
  state.counters["cpu_max_over_target"] = cpuMaxMs / kTargetMs;
  state.counters["walk_ms"] = Percentile(walkMs, 0.5);
  state.counters["getTree_ms"] = treeMedian;
  state.counters["getTree_cpu_ms"] = treeCpuMedian;
  state.counters["getTree_over_max"] = treeMedian / maxMs;
  state.counters["getTree_cpu_over_max"] = treeCpuMedian / cpuMaxMs;
}

BENCHMARK(BM_PageView)->Arg(100000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageView)->Arg(10000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// Started again with the source tree as installation, so that orvelnode and
// this process find the data types file.
int main(int argc, char** argv) { return vorn_bench::RunWithResources(argc, argv, VORN_BENCH_INSTALL_DIR); }
