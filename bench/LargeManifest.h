#pragma once

// A manifest for orvelnode with one sample context ("big") of many objects,
// written to a temporary directory of its own that goes with the object:
// `groups` groups of `valuesPerGroup` values of the sample's data types in
// turn, each with its limits, under one record ("top"). The library's
// resources are found at VORN_BENCH_INSTALL_DIR (the source tree).

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

#include "vorn/json/Array.h"
#include "vorn/json/Object.h"

namespace vorn_bench {

// The k-th value object: the sample's kinds in turn, each with its limits.
inline VornJSONObject ValueRecord(int k) {
  const std::string id = "v" + std::to_string(k);
  VornJSONObject record{{"id", id}, {"label", "Value " + std::to_string(k)}};
  auto set = [&record](std::initializer_list<std::pair<std::string, VornJSONValue>> members) {
    for (const auto& [key, value] : members) record.Set(key, value);
  };
  switch (k % 6) {
    case 0: set({{"type", "length"}, {"unit", "mm"}, {"min", 0}, {"max", 2000}, {"value", 120.0}}); break;
    case 1: set({{"type", "angle"}, {"unit", "deg"}, {"min", -180}, {"max", 180}, {"value", 30.0}}); break;
    case 2: set({{"type", "ratio"}, {"min", 0}, {"max", 1}, {"step", 0.05}, {"value", 0.8}}); break;
    case 3: set({{"type", "boolean"}, {"value", true}}); break;
    case 4: set({{"type", "choice"}, {"possibleValues", VornJSONArray{"oak", "steel", "glass"}}, {"value", "oak"}}); break;
    default: set({{"type", "integer"}, {"min", 0}, {"max", 12}, {"step", 1}, {"value", 3}}); break;
  }
  return record;
}

// With `formView`, the context shows the shipped form view (a tweaker per
// value, made at start); without, it has no view and the host starts
// sooner.
struct LargeManifest {
  LargeManifest(int groups, int valuesPerGroup, bool formView = false) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorn-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir = pattern;
    VornJSONArray groupList;
    for (int g = 0, k = 0; g < groups; ++g) {
      VornJSONArray values;
      for (int i = 0; i < valuesPerGroup; ++i) values.PushBack(ValueRecord(k++));
      groupList.PushBack(VornJSONObject{{"id", "g" + std::to_string(g)}, {"name", "Group " + std::to_string(g)},
                                        {"children", std::move(values)}});
    }
    VornJSONObject context{{"library", "orvel_sample"},
                           {"class", "SampleContext"},
                           {"name", "big"},
                           {"namespace", "bench"},
                           {"initialData", VornJSONObject{{"id", "top"}, {"name", "Top"}, {"children", std::move(groupList)}}}};
    const std::string samplePlugins = std::filesystem::path(SAMPLE_PLUGIN).parent_path().string();
    const std::string tweakerPlugins = std::filesystem::path(BASIC_TWEAKERS_PLUGIN).parent_path().string();
    VornJSONArray plugins{"orvel_sample"};
    VornJSONArray pluginPaths{samplePlugins};
    if (formView) {
      context.Set("views", VornJSONArray{VornJSONObject{{"library", "vorn_basic_tweakers"}, {"class", "VornFormView"}}});
      plugins = VornJSONArray{"vorn_basic_tweakers", "orvel_sample"};
      pluginPaths = VornJSONArray{samplePlugins, tweakerPlugins};
    }
    const VornJSONObject manifest{{"resourcePaths", VornJSONArray{VORN_BENCH_INSTALL_DIR}},
                                  {"pluginPaths", std::move(pluginPaths)},
                                  {"plugins", std::move(plugins)},
                                  {"dataTypes", VornJSONArray{"VornBasicDataTypes"}},
                                  {"contexts", VornJSONArray{std::move(context)}}};
    file = (dir / "manifest.json").string();
    std::ofstream(file) << manifest.Stringify() << '\n';
  }
  ~LargeManifest() {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  LargeManifest(const LargeManifest&) = delete;
  LargeManifest& operator=(const LargeManifest&) = delete;

  std::filesystem::path dir;
  std::string file;
};

}  // namespace vorn_bench
