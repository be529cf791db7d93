// The JSON parser and text output in the default mode (reports are captured,
// not thrown): results, fallbacks and exact report texts.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "JsonTestSupport.h"

namespace {

using vorn_test::P;
using vorn_test::ParseCaptured;
using vorn_test::Text;
using Strings = std::vector<std::string>;

VornJSONValue Value(const std::string& doc) { return ParseCaptured(doc).value; }

// Integers up to 2^53 - 1 in magnitude stay integers, larger ones become their
// text; the magnitude test must not overflow on INT64_MIN. Kinds must match
// too: -0 is the integer 0. Escapes give each UTF-8 length at its boundaries:
// U+07FF is the last of two bytes, U+0800 the first of three.
TEST(JsonParser, NumbersStringsAndWhiteSpace) {
  const std::pair<const char*, VornJSONValue> cases[] = {
      {"", VornJSONValue()}, {"\r\n\t \f\v", VornJSONValue()},  // blank text is undefined
      {"9007199254740991", std::int64_t{9007199254740991}}, {"-9007199254740991", std::int64_t{-9007199254740991}},
      {"12345678901234567", "12345678901234567"}, {"-9007199254740992", "-9007199254740992"},
      {"-9223372036854775808", "-9223372036854775808"}, {"-0", 0}, {"1.0", 1.0}, {"1e2", 100.0},
      {"-2.5E-3", -0.0025}, {"1.000000000000000000000000000000000000001", 1.0}, {"5e-324", 5e-324},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u00E9\u07ff\u0800\u20ac")", "A\xC3\xA9\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"}, {R"("\uDBFF\uDFFF")", "\xF4\x8F\xBF\xBF"},
      {R"("\udc00")", "\xED\xB0\x80"},  // a lone low surrogate as it is
      {R"("\u0000")", VornJSONValue(std::string(1, '\0'))},
      {"\"\xFF\xC3(\"", "\xFF\xC3("},  // high bytes are not validated
      {"12345678901234567890", "12345678901234567890"}, {"-99999999999999999999", "-99999999999999999999"},
      // too small for a double: zero, keeping the sign, like any rounding
      {"-0.0", -0.0}, {"1e-400", 0.0}, {"-2.4e-324", -0.0}, {"0.00000000000000000000000000001e-320", 0.0},
  };
  // On the reader's two paths.
  for (const auto& [text, expected] : cases) {
    for (bool trickled : {false, true}) {
      const auto parsed = ParseCaptured(text, false, trickled);
      EXPECT_EQ(parsed.value, expected) << text << (trickled ? " trickled" : "");
      EXPECT_TRUE(parsed.reports.empty()) << text;
      EXPECT_EQ(parsed.value.Stringify(), expected.Stringify()) << text;  // the sign of a zero too
    }
  }
}

TEST(JsonParser, EachFaultIsReportedOnceWithItsLine) {
  for (const auto& [doc, message] : vorn_test::Faults()) {
    EXPECT_EQ(ParseCaptured(doc).reports, Strings{message}) << doc;
    // The stream reader, one byte at a time, reports the same.
    EXPECT_EQ(ParseCaptured(doc, false, true).reports, Strings{message}) << doc;
  }
}

TEST(JsonParser, AfterAFaultReadersFallBackAndContainersStop) {
  // Every number fault gives 0, strings keep what was read, the "t" and "f"
  // branches give their boolean; a container ends at its first fault, and a
  // value is kept despite trailing text.
  const std::pair<const char*, const char*> cases[] = {
      {"12a", "0"}, {"1e400", "0"}, {R"("ab\qcd")", R"("ab")"}, {"\"abc", R"("abc")"}, {"tru", "true"},
      {"fals", "false"}, {"nul", "undefined"}, {"[1 2]", "[1]"}, {"[1,[2,tru,4],5]", "[1,[2,true]]"},
      {R"({"a":1,"b":"x\q","c":3})", R"({"a":1,"b":"x"})"}, {R"({"a":1,"b\q":2})", R"({"a":1})"},
      {"{\"k\":2} x", R"({"k":2})"},
  };
  for (const auto& [doc, text] : cases) EXPECT_EQ(Text(doc), text) << doc;
}

// Objects compare by content, members in any order.
TEST(JsonObject, EqualOnlyWithTheSameMembersAndValues) {
  const auto object = [](const char* doc) { return *Value(doc).GetIfObject(); };
  const VornJSONObject a = object(R"({"x":1,"y":"s"})");
  EXPECT_TRUE(a == object(R"({"y":"s","x":1})"));
  for (const char* other : {R"({"x":1})", R"({"x":1,"y":"s","z":null})", R"({"x":1,"y":"t"})", R"({"x":1,"z":"s"})"})
    EXPECT_FALSE(a == object(other) || object(other) == a) << other;
}

// ---- text output -----------------------------------------------------------------

// Straightforward byte-by-byte escaping, to check the bulk copying against.
std::string ReferenceQuoted(const std::string& s) {
  static constexpr std::string_view kNamed = "\"\\\b\f\n\r\t", kLetters = "\"\\bfnrt";
  std::string out = "\"";
  for (unsigned char c : s) {
    const std::size_t named = kNamed.find(static_cast<char>(c));
    if (named != std::string_view::npos) {
      out += {'\\', kLetters[named]};
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

TEST(JsonStringify, CompactTextInInsertionOrderWithoutUndefinedEntries) {
  const VornJSONObject object{
      {"b", 1}, {"u", VornJSONValue()}, {"a", VornJSONArray{true, nullptr, "x", VornJSONValue()}}};
  EXPECT_EQ(object.Stringify(), R"({"b":1,"a":[true,null,"x"]})");
  EXPECT_FALSE(object.HasKey("u"));
  EXPECT_TRUE(object.HasKey("u", true));
  EXPECT_EQ(VornJSONObject({{"u", VornJSONValue()}}).Stringify(), "{}");
  EXPECT_EQ(VornJSONArray({VornJSONValue(), VornJSONArray(), VornJSONObject()}).Stringify(), "[[],{}]");
  // Only a top-level undefined value gives the bare word.
  EXPECT_EQ(VornJSONValue().Stringify(), "undefined");
  EXPECT_EQ(VornJSONValue(false).ToString(), "false");
  // Strings are quoted through ToString only when nested.
  EXPECT_EQ(VornJSONValue("a\"b").ToString(), "a\"b");
  EXPECT_EQ(VornJSONValue(VornJSONArray{"a\"b"}).ToString(), R"(["a\"b"])");

  std::string out = "prefix:";
  VornJSONValue(VornJSONArray{1, "two"}).AppendJSON(out);
  VornJSONObject{{"k", nullptr}}.AppendJSON(out);
  EXPECT_EQ(out, R"(prefix:[1,"two"]{"k":null})");
}

TEST(JsonStringify, BulkCopyMatchesBytewiseEscapingAtEveryOffset) {
  // Special bytes scattered over strings around the 8-byte steps.
  const char specials[] = {'"', '\\', '\n', '\x1f', '\0', '\x7f', '\x80', ' ', '!'};
  std::mt19937 rng(12345);
  for (int round = 0; round < 5000; ++round) {
    std::string s(rng() % 64, '\0');
    for (char& c : s) c = rng() % 4 == 0 ? specials[rng() % std::size(specials)] : static_cast<char>(rng() % 256);
    ASSERT_EQ(VornJSONValue(s).Stringify(), ReferenceQuoted(s)) << "round " << round;
    ASSERT_EQ(VornJSONObject({{s, 1}}).Stringify(), "{" + ReferenceQuoted(s) + ":1}") << "round " << round;
    std::string appended = "x";
    VornJSONValue::AppendJSONString(appended, s);
    ASSERT_EQ(appended, "x" + ReferenceQuoted(s)) << "round " << round;
  }
}

// Doubles in the shortest general form that reads back the same.
TEST(JsonStringify, NumbersInTheShortestFormThatRoundTrips) {
  const std::pair<VornJSONValue, const char*> cases[] = {
      {3.0, "3"},         {2.5, "2.5"},     {0.5, "0.5"},         {100000.0, "100000"},
      {1e6, "1e+06"},     {1234567.0, "1.234567e+06"},          {0.0001, "0.0001"},
      {0.00001, "1e-05"}, {0.0, "0"},       {-0.0, "-0"},         {0.1 + 0.2, "0.30000000000000004"},
      {5e-324, "5e-324"}, {-1.7976931348623157e308, "-1.7976931348623157e+308"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {std::int64_t{-9007199254740991}, "-9007199254740991"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.Stringify(), text) << text;
}

TEST(JsonStringify, NonFiniteDoublesAreReportedAndWrittenAsNull) {
  const double inf = std::numeric_limits<double>::infinity();
  KRTAbendCapture capture;
  const std::pair<std::string, std::string> cases[] = {
      {VornJSONObject{{"v", std::nan("")}}.Stringify(), R"({"v":null})"},
      {VornJSONArray{1, inf, -inf}.Stringify(), "[1,null,null]"},
      {VornJSONValue(std::nan("")).Stringify(), "null"},
  };
  const std::string message = "[Vorn - NumberToString] => NaN or Infinity values are not allowed in JSON.";
  EXPECT_EQ(capture.Messages(), Strings(4, message));
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(text, expected);
    EXPECT_TRUE(vorn_test::ParseCaptured(text).reports.empty()) << "the text stays valid JSON";
  }
}

// Nesting the parser would refuse is cut off with a report and written as
// null, so the text still parses; a container holding itself ends there too
// instead of recursing until the stack runs out.
TEST(JsonStringify, TooDeepAndSelfHoldingContainersAreCutOff) {
  KRTAbendCapture capture;
  auto root = std::make_shared<VornJSONArray>();
  auto inner = root;
  for (int i = 1; i < 1200; ++i) {
    auto next = std::make_shared<VornJSONArray>();
    inner->PushBack(VornJSONValue(next));
    inner = next;
  }
  const std::string text = root->Stringify();
  EXPECT_EQ(capture.Count(), 1u);
  EXPECT_EQ(text, std::string(1000, '[') + "null" + std::string(1000, ']'));
  EXPECT_TRUE(vorn_test::ParseCaptured(text).reports.empty());

  capture.Clear();
  auto self = std::make_shared<VornJSONObject>();
  self->Insert("a", 1);
  self->Insert("self", VornJSONValue(self));
  const std::string cyclic = VornJSONValue(self).Stringify();
  EXPECT_EQ(capture.Count(), 1u);
  EXPECT_EQ(cyclic.substr(0, 18), R"({"a":1,"self":{"a")");
  EXPECT_TRUE(vorn_test::ParseCaptured(cyclic).reports.empty());
  self->Set("self", nullptr);  // break the cycle, or the object is never freed
}

}  // namespace
