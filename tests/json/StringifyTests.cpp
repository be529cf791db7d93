// Compact text output of values, objects and arrays, in the default mode
// (reports are captured, not thrown).

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "JsonTestSupport.h"

namespace {

// Straightforward byte-by-byte escaping, to check the bulk copying against.
std::string ReferenceQuoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

TEST(JsonStringify, CompactTextInInsertionOrderWithoutUndefinedEntries) {
  VornJSONObject object;
  object.Insert("b", 1);
  object.Insert("u", VornJSONValue());
  object.Insert("a", VornJSONArray{true, nullptr, "x", VornJSONValue()});
  EXPECT_EQ(object.Stringify(), R"({"b":1,"a":[true,null,"x"]})");
  EXPECT_FALSE(object.HasKey("u"));
  EXPECT_TRUE(object.HasKey("u", true));
  EXPECT_TRUE(object.HasKey("b"));
  EXPECT_EQ(VornJSONValue(object).Stringify(), object.Stringify());
  EXPECT_EQ(VornJSONObject({{"u", VornJSONValue()}}).Stringify(), "{}");
  EXPECT_EQ(VornJSONArray({VornJSONValue(), VornJSONArray(), VornJSONObject()}).Stringify(), "[[],{}]");
  // Only a top-level undefined value gives the bare word.
  EXPECT_EQ(VornJSONValue().Stringify(), "undefined");
  EXPECT_EQ(VornJSONValue(false).ToString(), "false");
  EXPECT_EQ(VornJSONValue(std::numeric_limits<std::int64_t>::min()).Stringify(), "-9223372036854775808");
  EXPECT_EQ(VornJSONValue(std::int64_t{-9007199254740991}).Stringify(), "-9007199254740991");

  std::string out = "prefix:";
  VornJSONValue(VornJSONArray{1, "two"}).AppendJSON(out);
  VornJSONObject{{"k", nullptr}}.AppendJSON(out);
  EXPECT_EQ(out, R"(prefix:[1,"two"]{"k":null})");
}

TEST(JsonStringify, EscapesStringsAndKeys) {
  const std::string tricky = std::string("\"\\\t") + '\x01' + "/";
  EXPECT_EQ(VornJSONValue(tricky).Stringify(), R"("\"\\\t\u0001/")");
  EXPECT_EQ(VornJSONValue(tricky).ToString(), tricky);
  EXPECT_EQ(VornJSONObject({{"k\"ey", "v"}}).Stringify(), R"({"k\"ey":"v"})");
  const std::string k32(32, 'k'), k33(33, 'l');
  EXPECT_EQ(VornJSONObject({{k32, 1}, {k33, 2}, {"", 3}}).Stringify(),
            "{\"" + k32 + "\":1,\"" + k33 + "\":2,\"\":3}");
  // Nested strings are quoted even through ToString.
  EXPECT_EQ(VornJSONValue(VornJSONArray{"a\"b"}).ToString(), R"(["a\"b"])");

  // Every control byte, and the bytes that pass unchanged.
  std::string controls;
  for (int c = 0; c < 0x20; ++c) controls.push_back(static_cast<char>(c));
  EXPECT_EQ(VornJSONValue(controls).Stringify(),
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c"
            "\\u001d\\u001e\\u001f\"");
  const std::string passed = " /\x7f\x80\xc3\xa9\xff";
  EXPECT_EQ(VornJSONValue(passed).Stringify(), "\"" + passed + "\"");
}

TEST(JsonStringify, BulkCopyMatchesBytewiseEscapingAtEveryOffset) {
  // Special bytes at every position of strings around the 8-byte steps.
  const char specials[] = {'"', '\\', '\n', '\x1f', '\0', '\x7f', '\x80', ' ', '!'};
  for (std::size_t length = 0; length <= 33; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (char special : specials) {
        std::string s(length, 'a');
        s[at] = special;
        ASSERT_EQ(VornJSONValue(s).Stringify(), ReferenceQuoted(s)) << "length " << length << " at " << at;
      }
    }
  }
  std::mt19937 rng(12345);
  for (int round = 0; round < 2000; ++round) {
    std::string s(rng() % 64, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? rng() % 0x24 : rng() % 256);
    ASSERT_EQ(VornJSONValue(s).Stringify(), ReferenceQuoted(s));
  }
}

TEST(JsonStringify, DoublesUseShortestRoundTripGeneralForm) {
  const std::pair<double, const char*> cases[] = {
      {3.0, "3"},         {2.5, "2.5"},     {0.5, "0.5"},         {100000.0, "100000"},
      {1e6, "1e+06"},     {1234567.0, "1.234567e+06"},          {0.0001, "0.0001"},
      {0.00001, "1e-05"}, {0.0, "0"},       {-0.0, "-0"},         {0.1 + 0.2, "0.30000000000000004"},
      {5e-324, "5e-324"}, {-1.7976931348623157e308, "-1.7976931348623157e+308"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(VornJSONValue(value).Stringify(), text) << value;
}

TEST(JsonStringify, NonFiniteDoublesAreReportedAndWrittenAsNull) {
  const std::string message = "[Vorn - NumberToString] => NaN or Infinity values are not allowed in JSON.";
  KRTAbendCapture capture;

  VornJSONObject object;
  object.Insert("v", std::nan(""));
  EXPECT_EQ(object.Stringify(), R"({"v":null})");
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{message});

  capture.Clear();
  const VornJSONArray array{1, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  const std::string text = array.Stringify();
  EXPECT_EQ(text, "[1,null,null]");
  EXPECT_EQ(capture.Count(), 2u);
  // The text stays valid JSON.
  EXPECT_TRUE(vorn_test::ParseCaptured(text).reports.empty());

  capture.Clear();
  EXPECT_EQ(VornJSONValue(std::nan("")).Stringify(), "null");
  EXPECT_EQ(capture.Last(), message);
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
