// Hostile input in the default mode: deep nesting, truncated and corrupted
// documents. The parser must finish and report at most once; the sanitizer
// build checks that it never reads outside its input.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "JsonTestSupport.h"

namespace {

using vorn_test::P;
using vorn_test::ParseCaptured;
using Strings = std::vector<std::string>;

std::string Nested(std::size_t depth, const std::string& open, const std::string& inner, const std::string& close) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += open;
  text += inner;
  for (std::size_t i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(JsonParserLimits, NestingIsLimited) {
  const std::size_t limit = VornJSONParser::kMaxDepth;
  EXPECT_TRUE(ParseCaptured(Nested(limit, "[", "1", "]")).reports.empty());
  EXPECT_TRUE(ParseCaptured(Nested(limit, "{\"a\":", "1", "}")).reports.empty());

  const Strings tooDeep{P("Maximum nesting depth exceeded at line 1")};
  EXPECT_EQ(ParseCaptured(Nested(limit + 1, "[", "", "]")).reports, tooDeep);
  EXPECT_EQ(ParseCaptured(Nested(limit / 2 + 1, "[{\"k\":", "0", "}]")).reports, tooDeep);
  // Far deeper than recursion could survive, and unterminated.
  EXPECT_EQ(ParseCaptured(std::string(1000000, '[')).reports, tooDeep);
  EXPECT_EQ(ParseCaptured(std::string(5000, '['), true).reports, tooDeep);
  EXPECT_EQ(vorn_test::ParseTrickled(std::string(5000, '[')).reports, tooDeep);
  EXPECT_EQ(ParseCaptured("\n" + Nested(200000, "{\"\":", "", "")).reports,
            Strings{P("Maximum nesting depth exceeded at line 2")});
}

}  // namespace
