// JSON parsing and text output on twitter.json, citm_catalog.json and
// canada.json, against nlohmann/json and RapidJSON when they are available.
//
//   vorn_bench_json [benchmark flags] [corpus directory]
//
// The corpus directory is the first argument left after the benchmark flags,
// else $VORN_BENCH_DATA, else the bench-data directory next to the sources.
// Every case reports the input file's size per iteration as its bytes, so the
// rates of one file compare directly (output texts differ slightly in size).
//
// Parsing reads from a std::istringstream rewound before each iteration, for
// all three libraries alike; building and destroying the document is timed.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/json/JSON.h"
#include "vorn/json/Parser.h"

#ifdef VORN_BENCH_WITH_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef VORN_BENCH_WITH_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/istreamwrapper.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif

namespace {

const char* const kFiles[] = {"twitter.json", "citm_catalog.json", "canada.json"};

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

void Rewind(std::istringstream& input) {
  input.clear();
  input.seekg(0);
}

// Holds one file's text and a stream over it for the whole run.
struct Document {
  std::string name;
  std::string text;
  std::istringstream stream;
};

void RegisterFile(Document& doc) {
  const auto bytes = static_cast<std::int64_t>(doc.text.size());

  benchmark::RegisterBenchmark(("Parse/Vorn/" + doc.name).c_str(), [&doc, bytes](benchmark::State& state) {
    for (auto _ : state) {
      Rewind(doc.stream);
      VornJSONValue value = VornJSONParser::ParseStream(doc.stream, false);
      benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
  });
#ifdef VORN_BENCH_WITH_NLOHMANN
  benchmark::RegisterBenchmark(("Parse/nlohmann/" + doc.name).c_str(), [&doc, bytes](benchmark::State& state) {
    for (auto _ : state) {
      Rewind(doc.stream);
      nlohmann::json value = nlohmann::json::parse(doc.stream);
      benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
  });
#endif
#ifdef VORN_BENCH_WITH_RAPIDJSON
  benchmark::RegisterBenchmark(("Parse/RapidJSON/" + doc.name).c_str(), [&doc, bytes](benchmark::State& state) {
    for (auto _ : state) {
      Rewind(doc.stream);
      rapidjson::IStreamWrapper wrapper(doc.stream);
      rapidjson::Document value;
      value.ParseStream(wrapper);
      benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
  });
#endif

  benchmark::RegisterBenchmark(("Stringify/Vorn/" + doc.name).c_str(), [&doc, bytes](benchmark::State& state) {
    const VornJSONValue value = VornJSONParser::ParseText(doc.text, false);
    for (auto _ : state) {
      std::string out = value.Stringify();
      benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
  });
#ifdef VORN_BENCH_WITH_NLOHMANN
  benchmark::RegisterBenchmark(("Stringify/nlohmann/" + doc.name).c_str(), [&doc, bytes](benchmark::State& state) {
    const nlohmann::json value = nlohmann::json::parse(doc.text);
    for (auto _ : state) {
      std::string out = value.dump();
      benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
  });
#endif
#ifdef VORN_BENCH_WITH_RAPIDJSON
  benchmark::RegisterBenchmark(("Stringify/RapidJSON/" + doc.name).c_str(), [&doc, bytes](benchmark::State& state) {
    rapidjson::Document value;
    value.Parse(doc.text.c_str(), doc.text.size());
    for (auto _ : state) {
      rapidjson::StringBuffer buffer;
      rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
      value.Accept(writer);
      benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
  });
#endif
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string directory;
  if (argc > 1) {
    directory = argv[1];
  } else if (const char* env = std::getenv("VORN_BENCH_DATA"); env && *env) {
    directory = env;
  } else {
    directory = VORN_BENCH_DATA_DEFAULT;
  }

  std::vector<Document> docs(std::size(kFiles));
  std::size_t loaded = 0;
  for (std::size_t i = 0; i < std::size(kFiles); ++i) {
    Document& doc = docs[i];
    doc.name = kFiles[i];
    if (!ReadFile(directory + "/" + doc.name, doc.text)) {
      std::fprintf(stderr, "vorn_bench_json: %s/%s not found, skipped\n", directory.c_str(), kFiles[i]);
      continue;
    }
    // A benchmark of a parse that fails would measure nothing useful.
    KRTAbendCapture capture;
    const VornJSONValue check = VornJSONParser::ParseText(doc.text, false);
    if (capture.Count() != 0 || !check.IsObject()) {
      std::fprintf(stderr, "vorn_bench_json: %s does not parse cleanly: %s\n", kFiles[i], capture.Last().c_str());
      return 1;
    }
    doc.stream.str(doc.text);
    RegisterFile(doc);
    ++loaded;
  }
  if (loaded == 0) {
    std::fprintf(stderr, "vorn_bench_json: no corpus file in %s\n", directory.c_str());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
