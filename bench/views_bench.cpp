// Views over typed trees, with the shipped basic tweakers: generating the
// tweakers of a tree of N objects ("length" values under groups of ten),
// then one model change reaching its tweaker and one tweaker edit reaching
// its model object. A change must cost the same at 100 and 10,000 objects.
//
//   vorn_bench_views --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
//
// The resources and plug-ins are those of the source and build trees the
// program was built from, wherever it is started.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "vorn/contexts/BaseContext.h"
#include "vorn/contexts/ContextInfo.h"
#include "vorn/model/ModelObject.h"
#include "vorn/views/BaseView.h"

namespace {

struct BenchContext : VornBaseContext {
  BenchContext() : VornBaseContext("bench", "bench") {}
};
struct BenchView : VornBaseView {
  BenchView() : VornBaseView("default") {}
  void _InitializeView() override {}
  std::string Render() override { return {}; }
};

VornModelObject::Ptr Tree(int objects) {
  auto root = VornModelObject::BuildSharedPtrFromOptions({{}, true, nullptr});
  VornModelObject::Ptr group;
  for (int i = 0; i < objects; ++i) {
    if (i % 10 == 0) {
      VornValuesByString values;
      values.try_emplace("id", VornValue("group-" + std::to_string(i)));
      group = VornModelObject::BuildSharedPtrFromOptions({values, false, root});
    }
    VornValuesByString values;
    values.try_emplace("id", VornValue("object-" + std::to_string(i)));
    values.try_emplace("type", VornValue(std::string("length")));
    values.try_emplace("unit", VornValue(std::string("mm")));
    values.try_emplace("value", VornValue(static_cast<double>(i)));
    VornModelObject::BuildSharedPtrFromOptions({values, false, group});
  }
  return root;
}

std::shared_ptr<BenchView> View(const VornModelObject::Ptr& root) {
  static auto info = [] {
    auto made = std::make_shared<VornContextInfo>();
    made->context = std::make_shared<BenchContext>();
    return made;
  }();
  auto view = std::make_shared<BenchView>();
  view->Initialize(nullptr, root, info, false);
  for (const auto& made : view->GetTweakers())
    if (!made->tweaker) {
      std::fprintf(stderr, "no tweaker was made for a \"length\" object: the basic tweakers did not load\n");
      std::exit(2);
    }
  return view;
}

// The heap is that of the first view over the tree: it counts what a view
// adds to the model objects (their listener lists, kept as long as the
// objects), which later views over the same objects find made. The timed
// generations are later ones, over memory the previous view gave back, as
// a fresh tree per generation would time the kernel handing pages back in
// (glibc returns the freed view and tree) at 10,000 objects only.
void BM_GenerateView(benchmark::State& state) {
  const auto root = Tree(static_cast<int>(state.range(0)));
  double bytesPerTweaker = 0;
  {
    const std::size_t before = mallinfo2().uordblks;
    const auto first = View(root);
    bytesPerTweaker = static_cast<double>(mallinfo2().uordblks - before) / static_cast<double>(first->GetTweakers().size());
  }
  for (auto _ : state) {
    auto view = View(root);
    state.PauseTiming();
    view.reset();
    state.ResumeTiming();
  }
  state.counters["s_per_tweaker"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
  // Printed in units of 1,024 bytes ("1.5k" is 1,536), not thousands.
  state.counters["heap_bytes_per_tweaker"] =
      benchmark::Counter(bytesPerTweaker, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// One model object's "value" set: the view pushes it into the tweaker.
void BM_ModelChangeToTweaker(benchmark::State& state) {
  const auto root = Tree(static_cast<int>(state.range(0)));
  const auto view = View(root);
  const auto info = view->GetTweakers()[view->GetTweakers().size() / 2];
  const auto object = info->modelObjects[0];
  double value = 0;
  for (auto _ : state) object->SetValue("value", VornValue(value += 1));
  if (info->tweaker->GetValue()->GetRawValue<double>() != value) state.SkipWithError("the tweaker missed the change");
}

// One tweaker edit: the view writes it into the model object's "value".
void BM_TweakerEditToModel(benchmark::State& state) {
  const auto root = Tree(static_cast<int>(state.range(0)));
  const auto view = View(root);
  const auto info = view->GetTweakers()[view->GetTweakers().size() / 2];
  double value = 0;
  for (auto _ : state) info->tweaker->EditValue(VornValue(value += 1));
  if (info->modelObjects[0]->GetValue("value")->GetRawValue<double>() != value)
    state.SkipWithError("the model missed the edit");
}

BENCHMARK(BM_GenerateView)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelChangeToTweaker)->Arg(100)->Arg(10000);
BENCHMARK(BM_TweakerEditToModel)->Arg(100)->Arg(10000);

}  // namespace

int main(int argc, char** argv) {
  return vorn_bench::RunWithResources(argc, argv, VORN_BENCH_INSTALL_DIR, VORN_BENCH_PLUGIN_DIR, {"vorn_basic_tweakers"});
}
