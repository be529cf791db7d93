// What the protocol's describing methods and checked writes cost, each
// figure against a peer measured in the same run:
//   - rpc.discover and vorn.describeSchema on a context of 10,000 objects,
//     round trips through orvelnode's stdio, against vorn.getTree of the
//     same context: time per call (medians) and the answer's size in bytes;
//   - Vorn::WriteCheckedValue against the unchecked write (SetValue of the
//     converted value) in this process, and what the check adds to a
//     vorn.setValue round trip through orvelnode (check_share, which should
//     stay under 0.20), with the echo call as the bare round trip.
//
//   vorn_bench_orvelnode_methods --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// Read the counters: medians (p50_us, the peers' *_p50_us, checked_ns...)
// and the ratios between them; the Time column is a mean over iterations.
//
// The 10,000-object context comes from a manifest written to a temporary
// directory at start and removed at the end. The library's resources are
// the source tree's, wherever the program is started.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LargeManifest.h"
#include "OrvelnodeSupport.h"
#include "vorn/json/Array.h"
#include "vorn/json/Convert.h"
#include "vorn/json/Object.h"
#include "vorn/model/DataTypesManager.h"
#include "vorn/model/ModelObject.h"
#include "vorn/model/ValueConstraints.h"

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
  return values[values.size() / 2];
}

long NextId() {
  static long id = 1;
  return id++;
}

std::string Request(const char* method, const std::string& params) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(NextId()) + R"(,"method":")" + method + '"' +
         (params.empty() ? "" : R"(,"params":)" + params) + "}";
}

// One request and its answer: the time between them and the answer's size.
// A client that did not call vorn.connect hears no notifications, so the
// next line is the answer.
struct Exchange {
  double micros = 0;
  std::size_t bytes = 0;
  bool ok = false;  // answered with a result
};

Exchange Ask(orvel::ChildProcess& node, const std::string& request) {
  Exchange exchange;
  const auto start = std::chrono::steady_clock::now();
  if (!node.WriteLine(request)) return exchange;
  const auto answer = node.ReadLine(std::chrono::seconds(60));
  exchange.micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  if (!answer) return exchange;
  exchange.bytes = answer->size();
  exchange.ok = answer->find("\"result\":") != std::string::npos;
  return exchange;
}

// --- describing a large context -------------------------------------------------

// 10,000 objects under the context's first record: 100 groups of 99 values.
constexpr int kGroups = 100;
constexpr int kValuesPerGroup = 99;
constexpr int kObjects = kGroups * (1 + kValuesPerGroup);

vorn_bench::StdioNode& LargeHost() {
  // No view: the methods measured do not use one, and the host starts
  // sooner without.
  static vorn_bench::LargeManifest manifest(kGroups, kValuesPerGroup);  // outlives the host, which reads it at start
  static vorn_bench::StdioNode host(manifest.file, std::chrono::seconds(120));
  return host;
}

// The peer is vorn.getTree of the same context rather than
// vorn.listContexts: it walks and writes the same 10,000 objects through
// the same channel, and it is what a client pays anyway to show the
// context, so the ratios tell what describing costs beyond showing.
// vorn.listContexts answers a few hundred bytes; against it a ratio would
// mostly be one of answer sizes. rpc.discover's answer lists methods, not
// objects, so it does not grow with the tree; it is compared with the same
// peer so that the two rows read alike.
//
// Times are what the client waits for its answer. The host stays busy for
// a while after a large answer is out (a call right after a getTree waited
// some 2 ms longer), so an untimed vorn.listContexts follows every call and
// the next call starts on an idle host, whichever came before it. Subject
// and peer alternate in order all the same.
void BM_Describe(benchmark::State& state, const char* method, bool ofContext) {
  vorn_bench::StdioNode& host = LargeHost();
  if (!host.ready) return state.SkipWithError(host.error.c_str());
  const std::string params = ofContext ? R"({"context":"big"})" : "";
  auto call = [&host](const char* name, const std::string& withParams) {
    Exchange exchange = Ask(host.node, Request(name, withParams));
    exchange.ok = exchange.ok && Ask(host.node, Request("vorn.listContexts", "")).ok;
    return exchange;
  };
  std::vector<double> subject, peer;
  std::size_t bytes = 0, peerBytes = 0;
  for (auto _ : state) {
    const bool peerFirst = subject.size() % 2 == 1;
    Exchange b = peerFirst ? call("vorn.getTree", R"({"context":"big"})") : Exchange{};
    const Exchange a = call(method, params);
    if (!peerFirst) b = call("vorn.getTree", R"({"context":"big"})");
    if (!a.ok || !b.ok) return state.SkipWithError((std::string(a.ok ? "vorn.getTree" : method) + " was not answered with a result").c_str());
    state.SetIterationTime(a.micros / 1e6);
    subject.push_back(a.micros);
    peer.push_back(b.micros);
    bytes = a.bytes;
    peerBytes = b.bytes;
  }
  const double median = Median(subject), peerMedian = Median(peer);
  vorn_bench::ReportLatencies(state, subject);  // p50_us, p99_us
  state.counters["getTree_p50_us"] = peerMedian;
  state.counters["time_ratio"] = median / peerMedian;
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["getTree_bytes"] = static_cast<double>(peerBytes);
  state.counters["bytes_ratio"] = static_cast<double>(bytes) / static_cast<double>(peerBytes);
  state.counters["objects"] = kObjects;
}

// --- checked writes -----------------------------------------------------------------

// Objects of type "length" with "min" 0 and "max" 2000, under a true root,
// as a host's model holds them.
constexpr int kWriteObjects = 1000;

struct LengthTree {
  LengthTree() {
    // Gives "length" its kind (a number); read from the source tree.
    static const bool registered = (VornDataTypesManager::RegisterDataTypes("VornBasicDataTypes"), true);
    (void)registered;
    root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
    for (int i = 0; i < kWriteObjects; ++i) {
      VornValuesByString values;
      values.try_emplace("id", VornValue("length-" + std::to_string(i)));
      values.try_emplace("type", VornValue(std::string("length")));
      values.try_emplace("min", VornValue(0.0));
      values.try_emplace("max", VornValue(2000.0));
      values.try_emplace("value", VornValue(1000.0));
      objects.push_back(VornModelObject::BuildSharedPtrFromOptions({values, false, root}));
    }
    // 1001 values for 1000 objects: each write changes its object's value
    // (an equal value would be no change), and all are within the limits.
    for (int i = 0; i <= kWriteObjects; ++i) values.emplace_back(0.5 + i);
  }
  // Why the checked path would not be measuring a check: the limits are
  // not read, or a value out of them gets through.
  std::string Problem() const {
    const VornValueConstraints limits = VornValueConstraints::Of(*objects.front());
    if (limits.kind != VornValueKind::Number || !limits.max || *limits.max != 2000.0)
      return "the objects' constraints were not read (is VornBasicDataTypes found?)";
    if (!Vorn::WriteCheckedValue(*objects.front(), VornJSONValue(2500.0)))
      return "a value over the maximum was accepted";
    return {};
  }
  // The `w`-th write, checked or not; false when refused.
  bool Write(std::size_t w, bool checked) {
    VornModelObject& object = *objects[w % objects.size()];
    const VornJSONValue& json = values[w % values.size()];
    if (checked) return !Vorn::WriteCheckedValue(object, json);
    object.SetValue("value", Vorn::ConvertJSONValueToValue(json));
    return true;
  }
  // Nanoseconds per write over `count` writes from `w` on; negative when
  // one was refused.
  double TimedWrites(std::size_t& w, int count, bool checked) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
      if (!Write(w++, checked)) return -1;
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / count;
  }

  VornModelObject::Ptr root;
  std::vector<VornModelObject::Ptr> objects;
  std::vector<VornJSONValue> values;
};

// One write at a time, in this process: the checked write and its peer.
void Write(benchmark::State& state, bool checked) {
  LengthTree tree;
  if (const std::string problem = tree.Problem(); !problem.empty()) return state.SkipWithError(problem.c_str());
  std::size_t w = 0;
  for (auto _ : state)
    if (!tree.Write(w++, checked)) return state.SkipWithError("a write within the limits was refused");
}
void BM_WriteUnchecked(benchmark::State& state) { Write(state, false); }
void BM_WriteChecked(benchmark::State& state) { Write(state, true); }

vorn_bench::StdioNode& SampleHost() {
  static vorn_bench::StdioNode host;
  return host;
}

// vorn.setValue of the sample's "width" (a length from 0 to 2000), one
// round trip at a time, by a client that is not connected (the answer
// only: the smallest round trip, so the largest share for the check).
// Each iteration also makes an echo call (the bare round trip) and, in
// this process, a batch of checked and a batch of unchecked writes, so the
// check's cost and the round trip it is a share of come from the same
// moments of a noisy machine.
void BM_SetValueRoundTrip(benchmark::State& state) {
  vorn_bench::StdioNode& host = SampleHost();
  if (!host.ready) return state.SkipWithError(host.error.c_str());
  LengthTree tree;
  if (const std::string problem = tree.Problem(); !problem.empty()) return state.SkipWithError(problem.c_str());
  constexpr int kBatch = 100;
  static long n = 0;  // over every run: the host keeps the last width written
  std::size_t w = 0;
  std::vector<double> setValue, echo, checked, unchecked;
  for (auto _ : state) {
    const double width = static_cast<double>(n++ % 1000) + 0.5;  // never the one before
    const Exchange set = Ask(host.node, Request("vorn.setValue", R"({"context":"demo","object":"width","value":)" +
                                                                     VornJSONValue(width).Stringify() + "}"));
    const Exchange bare = Ask(host.node, vorn_bench::EchoCall(NextId()));
    if (!set.ok || !bare.ok) return state.SkipWithError("vorn.setValue or echo was not answered with a result");
    state.SetIterationTime(set.micros / 1e6);
    setValue.push_back(set.micros);
    echo.push_back(bare.micros);
    checked.push_back(tree.TimedWrites(w, kBatch, true));
    unchecked.push_back(tree.TimedWrites(w, kBatch, false));
    if (checked.back() < 0) return state.SkipWithError("a write within the limits was refused");
  }
  const double roundTripNs = Median(setValue) * 1000, checkedNs = Median(checked), uncheckedNs = Median(unchecked);
  state.counters["p50_us"] = Median(setValue);
  state.counters["echo_p50_us"] = Median(echo);
  state.counters["checked_ns"] = checkedNs;
  state.counters["unchecked_ns"] = uncheckedNs;
  state.counters["check_ns"] = checkedNs - uncheckedNs;
  state.counters["check_share"] = (checkedNs - uncheckedNs) / roundTripNs;
}

BENCHMARK_CAPTURE(BM_Describe, rpc_discover, "rpc.discover", false)
    ->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Describe, describeSchema, "vorn.describeSchema", true)
    ->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteUnchecked);
BENCHMARK(BM_WriteChecked);
BENCHMARK(BM_SetValueRoundTrip)->Iterations(3000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

// Started again with the source tree as installation, so the data types
// file is found in this process as in orvelnode.
int main(int argc, char** argv) { return vorn_bench::RunWithResources(argc, argv, VORN_BENCH_INSTALL_DIR); }
