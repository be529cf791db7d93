// Every corpus file read by this parser and by nlohmann/json must give the
// same tree: same member order, same strings, bit-identical doubles. Integers
// beyond 2^53 - 1 in magnitude are held here as their decimal text, by design.
// Our text output is checked the same way, read back by nlohmann/json.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "JsonTestSupport.h"

namespace {

constexpr std::int64_t kMaxExact = 9007199254740991;

::testing::AssertionResult Same(const VornJSONValue& ours, const nlohmann::ordered_json& theirs,
                                const std::string& where) {
  auto fail = [&]() {
    return ::testing::AssertionFailure() << where << ": ours " << ours.Stringify().substr(0, 200) << ", theirs "
                                         << theirs.dump().substr(0, 200);
  };
  switch (theirs.type()) {
    case nlohmann::ordered_json::value_t::null:
      if (!ours.IsNull()) return fail();
      break;
    case nlohmann::ordered_json::value_t::boolean:
      if (!ours.IsBool() || *ours.GetIfBool() != theirs.get<bool>()) return fail();
      break;
    case nlohmann::ordered_json::value_t::number_integer: {
      const auto n = theirs.get<std::int64_t>();
      if (n >= -kMaxExact && n <= kMaxExact) {
        if (!ours.IsInt() || *ours.GetIfInt() != n) return fail();
      } else if (!ours.IsString() || *ours.GetIfString() != std::to_string(n)) {
        return fail();
      }
      break;
    }
    case nlohmann::ordered_json::value_t::number_unsigned: {
      const auto n = theirs.get<std::uint64_t>();
      if (n <= static_cast<std::uint64_t>(kMaxExact)) {
        if (!ours.IsInt() || *ours.GetIfInt() != static_cast<std::int64_t>(n)) return fail();
      } else if (!ours.IsString() || *ours.GetIfString() != std::to_string(n)) {
        return fail();
      }
      break;
    }
    case nlohmann::ordered_json::value_t::number_float:
      if (!ours.IsDouble() || *ours.GetIfDouble() != theirs.get<double>()) return fail();
      break;
    case nlohmann::ordered_json::value_t::string:
      if (!ours.IsString() || *ours.GetIfString() != theirs.get_ref<const std::string&>()) return fail();
      break;
    case nlohmann::ordered_json::value_t::array: {
      const VornJSONArray* array = ours.GetIfArray();
      if (!array || array->size() != theirs.size()) return fail();
      for (std::size_t i = 0; i < theirs.size(); ++i) {
        auto result = Same(array->Get(i), theirs[i], where + "[" + std::to_string(i) + "]");
        if (!result) return result;
      }
      break;
    }
    case nlohmann::ordered_json::value_t::object: {
      // A repeated key would keep its first value here and its last there;
      // the sizes below would then differ and point at it.
      const VornJSONObject* object = ours.GetIfObject();
      if (!object || object->size() != theirs.size()) return fail();
      auto mine = object->begin();
      for (auto it = theirs.begin(); it != theirs.end(); ++it, ++mine) {
        if (mine->first != it.key()) return fail() << " (key " << mine->first << " vs " << it.key() << ")";
        auto result = Same(mine->second, it.value(), where + "." + it.key());
        if (!result) return result;
      }
      break;
    }
    default: return fail();
  }
  return ::testing::AssertionSuccess();
}

TEST(JsonDifferential, CorpusMatchesNlohmannBothWays) {
  const std::filesystem::path dir(VORN_BENCH_DATA_DIR);
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  for (const char* name : {"twitter.json", "citm_catalog.json", "canada.json", "mesh.json", "gsoc-2018.json"}) {
    std::ifstream file(dir / name, std::ios::binary);
    if (!file) continue;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto ours = vorn_test::ParseCaptured(text);
    ASSERT_TRUE(ours.reports.empty()) << name << ": " << ours.reports.front();
    EXPECT_TRUE(Same(ours.value, nlohmann::ordered_json::parse(text), name));
    // Our text is valid JSON that both readers take the same way.
    const std::string written = ours.value.Stringify();
    ASSERT_TRUE(nlohmann::ordered_json::accept(written)) << name;
    EXPECT_TRUE(Same(vorn_test::ParseCaptured(written).value, nlohmann::ordered_json::parse(written), name));
  }
}

}  // namespace
