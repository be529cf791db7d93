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

TEST(JsonParserLimits, EveryPrefixOfAValidDocumentFinishes) {
  for (const std::string& doc : vorn_test::SampleDocuments()) {
    for (std::size_t length = 0; length <= doc.size(); ++length) {
      const std::string prefix = doc.substr(0, length);
      const auto whole = ParseCaptured(prefix);
      ASSERT_LE(whole.reports.size(), 1u) << prefix;
      ASSERT_EQ(vorn_test::ParseTrickled(prefix).reports, whole.reports) << prefix;
    }
  }
}

TEST(JsonParserLimits, CorruptedDocumentsFinishAndWhatIsKeptIsValid) {
  std::mt19937 rng(2024);
  const std::string alphabet = "{}[]:,\"\\ -+.eE0123456789tfnulrsa\r\n\t\x01\x80\xff";
  for (const std::string& doc : vorn_test::SampleDocuments()) {
    for (int round = 0; round < 500; ++round) {
      std::string text = doc;
      for (int edit = 1 + static_cast<int>(rng() % 4); edit > 0 && !text.empty(); --edit) {
        const std::size_t at = rng() % text.size();
        const char c = alphabet[rng() % alphabet.size()];
        switch (rng() % 3) {
          case 0: text[at] = c; break;
          case 1: text.erase(at, 1); break;
          default: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c);
        }
      }
      const auto parsed = ParseCaptured(text, round % 2 == 1);
      ASSERT_LE(parsed.reports.size(), 1u) << text;
      if (!parsed.value.IsUndefined()) {
        ASSERT_TRUE(ParseCaptured(parsed.value.Stringify()).reports.empty()) << text;
      }
    }
  }
}

TEST(JsonParserCorpus, CorpusFilesParseCleanlyAndRoundTrip) {
  const std::filesystem::path dir(VORN_BENCH_DATA_DIR);
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".json") continue;
    KRTAbendCapture capture;
    const std::string text = VornJSONParser::ParseFile(entry.path().string()).Stringify();
    EXPECT_EQ(VornJSONParser::ParseText(text, false).Stringify(), text) << entry.path();
    EXPECT_EQ(capture.Count(), 0u) << entry.path() << ": " << capture.Last();
  }
}

}  // namespace
