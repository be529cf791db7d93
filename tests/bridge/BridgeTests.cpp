// JSON paths, JSON values into host writers, byte buffers and library values and back, host JSON streams.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/host/Binary.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Convert.h"
#include "vorn/json/JSONStreams.h"
#include "vorn/json/Parser.h"

namespace {

using Path = std::vector<std::string>;
using Key = const KRTUnicodeString&;

// A value from JSON text (strict), and the compact text of one.
VornJSONValue J(const std::string& text) { return VornJSONParser::ParseText(text, false); }
std::string S(const VornJSONValue& value) { return value.Stringify(); }

// S() of a read, "undefined" when it misses.
TEST(JSONPathRead, Table) {
  struct Case {
    const char* doc;
    Path path;
    const char* expected;
  };
  const char* const kArray = R"({"a":[10,20,30]})";
  const char* const kNested = R"({"a":{"b":1},"c":{"d":2},"e":3})";
  const Case cases[] = {
      // An empty path never gives the value itself.
      {R"({"a":1})", {}, "undefined"}, {"[1]", {}, "undefined"}, {"3", {"0"}, "undefined"},
      // An index is the segment reader's integer: its absolute value.
      {kArray, {"a", "-1"}, "20"}, {kArray, {"a", "2"}, "30"}, {kArray, {"a", "3"}, "undefined"},
      {kArray, {"a", "*"}, "[10,20,30]"}, {kArray, {"a", "x"}, "undefined"}, {kArray, {"a", "1", "b"}, "undefined"},
      // Indexes are compared whole: these share their low 32 bits with 1, 0 and a negative number.
      {"[10,20]", {"4294967297"}, "undefined"}, {"[10,20]", {"4294967296"}, "undefined"},
      {"[10,20]", {"2147483648"}, "undefined"},
      // Numeric segments never name keys, except beyond 2^53 - 1 (read as text).
      {R"({"0":"zero"})", {"0"}, "undefined"}, {R"({"9007199254740993":"big"})", {"9007199254740993"}, R"("big")"},
      {R"({"x":1,"x ":2})", {" x"}, "1"}, {R"({"x":1,"x ":2})", {"x "}, "2"},
      {R"({"a\"b":1})", {"a\\\"b"}, "undefined"},  // keys are not unescaped
      {kNested, {"*", "b"}, "[1]"}, {kNested, {"*", "z"}, "undefined"}, {kNested, {"*"}, R"([{"b":1},{"d":2},3])"},
      {R"({"a":{"b":1},"c":{"b":[2]}})", {"*", "b", "*"}, "[[2]]"},
      {R"([{"k":1},{"j":2},{"k":3}])", {"*", "k"}, "[1,3]"}, {"{}", {"*"}, "undefined"}, {"[]", {"*"}, "undefined"},
  };
  KRTAbendCapture capture;
  for (const Case& c : cases) EXPECT_EQ(S(J(c.doc).GetFromPath(c.path)), c.expected) << c.doc;
  EXPECT_EQ(capture.Count(), 0u);  // path operations report nothing of their own
}

// The document after SetFromPath(path, value).
TEST(JSONPathWrite, Table) {
  struct Case {
    const char* doc;  // "" for undefined
    Path path;
    VornJSONValue value;
    const char* expected;
  };
  const Case cases[] = {
      {"", {"a", "b"}, 5, R"({"a":{"b":5}})"},
      {"", {"0"}, 5, "{}"},  // the scalar becomes an object, which ignores the index
      {"\"s\"", {"k"}, "v", R"({"k":"v"})"}, {"3", {}, 4, "3"},
      {R"({"a":1,"b":2})", {"c"}, 3, R"({"a":1,"b":2,"c":3})"},  // appended
      {R"({"a":1,"b":2})", {"a"}, 9, R"({"a":9,"b":2})"},        // in place
      {R"({"a":1})", {"d", "e"}, true, R"({"a":1,"d":{"e":true}})"}, {R"({"a":1})", {"5"}, 0, R"({"a":1})"},
      {R"({"a":7})", {"a", "b"}, 1, R"({"a":{"b":1}})"}, {R"({"a":[7]})", {"a", "b"}, 1, R"({"a":[7]})"},
      {R"({"a":[7]})", {"a", "0", "b"}, 1, R"({"a":[{"b":1}]})"},
      // Arrays never grow.
      {"[1,2]", {"2"}, 9, "[1,2]"}, {"[1,2]", {"4294967297"}, 9, "[1,2]"}, {"[1,2]", {"-1"}, 9, "[1,9]"},
      {"[1,2]", {"*"}, nullptr, "[null,null]"}, {"[1,2]", {"x"}, 0, "[1,2]"},
      {R"({"a":1,"b":{"c":2},"d":[3]})", {"*", "c"}, 0, R"({"a":{"c":0},"b":{"c":0},"d":[3]})"},
      {"{}", {"*"}, 1, "{}"},
  };
  for (const Case& c : cases) {
    VornJSONValue v = *c.doc ? J(c.doc) : VornJSONValue();
    v.SetFromPath(c.path, c.value);
    EXPECT_EQ(S(v), c.expected) << c.doc;
  }
}

// The writer's text for `doc`, and the one report expected on the way ("" for none).
TEST(JSONToWriter, Table) {
  const std::string stringType(Vorn::RawTypeName<std::string>());
  struct Case {
    std::string doc, written, report;
  };
  const Case cases[] = {
      {R"({"s":"t\"x","b":false,"d":2.5,"i":-7,"big":5000000000,"n":null,"o":{"p":{"q":[1]}},"e":{}})", "", ""},
      {R"({"a":[true,false],"s":["x"],"o":[{"k":1},{}],"e":[]})", "", ""},
      {R"({"a":[null,null]})", R"({"a":["null","null"]})", ""},
      // Integer arrays are 32-bit (low 32 bits); any double, wherever it
      // stands, makes the whole array doubles.
      {R"({"a":[1,5000000000,-2]})", R"({"a":[1,705032704,-2]})", ""},
      {R"({"a":[1,5000000000,-2.9]})", R"({"a":[1,5e+09,-2.9]})", ""},
      {R"({"a":[0,0.5,750.25]})", "", ""},
      // Other kinds among numbers are reported and written as 0.
      {R"({"a":[1,2.7,"x"]})", R"({"a":[1,2.7,0]})",
       "[Vorn - JSON Value] Invalid cast to double! Current type: std::string"},
      {R"({"a":["x",null]})", R"({"a":["x",""]})",
       "[Vorn - JSON Value] Invalid cast to " + stringType + "! Current type: std::nullptr_t"},
      {R"({"a":[null,1,null]})", R"({"a":["null"]})",
       "VornJSONArray::_BuildNullsVectorWithString => All elements must be of type null! Found type: int"},
      {R"({"a":[{"k":1},"s",{}]})", R"({"a":[{"k":1}]})",
       "VornJSONArray::_BuildObjectsVectorForJOStream => All elements must be objects! Found type: std::string"},
      {R"({"x":1,"a":[[1]],"y":2})", R"({"x":1,"y":2})",
       "VornJSONArray::_FillJOStream => Imbricated arrays are not supported!"},
  };
  for (const Case& c : cases) {
    KRTAbendCapture capture;
    const JSON::JOStream writer = *J(c.doc).GetIfObject();
    EXPECT_EQ(writer.ToString(), c.written.empty() ? c.doc : c.written);  // "" when written unchanged
    EXPECT_EQ(capture.Count(), c.report.empty() ? 0u : 1u) << c.doc;
    EXPECT_EQ(capture.Last(), c.report) << c.doc;
  }

  // Undefined members are left out, and doubles stay doubles.
  KRTAbendCapture capture;
  const VornJSONObject object{
      {"u", VornJSONValue()}, {"n", nullptr}, {"d", J("[1.5,2]")}, {"w", VornJSONArray{VornJSONValue(), 1}}};
  const JSON::JOStream writer = object;
  EXPECT_EQ(writer.GetObject().GetKeys(), (std::vector<std::string>{"n", "d"}));
  EXPECT_TRUE(writer.GetObject().Get("d").GetIfArray()->Get(1).IsDouble());
  EXPECT_EQ(capture.Last(), "VornJSONArray::_FillJOStream => Unsupported type: Undefined");
}

TEST(JSONToBinary, BufferHoldsTheCompactUtf8Text) {
  EXPECT_EQ(static_cast<OVK::Binary>(VornJSONObject()).AsStringView(), "{}");
  EXPECT_EQ(static_cast<OVK::Binary>(VornJSONArray()).AsStringView(), "[]");
  const VornJSONValue v = J(R"({"k":["\u00e9",{"n":null}]})");
  EXPECT_EQ(static_cast<OVK::Binary>(*v.GetIfObject()).AsStringView(), "{\"k\":[\"\xC3\xA9\",{\"n\":null}]}");
  EXPECT_EQ(static_cast<OVK::Binary>(*v.GetFromPath({"k"}).GetIfArray()).size(), 17u);  // no terminator
}

// Supported kinds make the round trip with their native types.
TEST(JSONToValue, SupportedKindsMakeTheRoundTripOthersGiveUndefined) {
  const auto V = [](const std::string& text) { return Vorn::ConvertJSONValueToValue(J(text)); };
  KRTAbendCapture capture;
  for (const char* text : {"null", "true", "2.5", "-3", R"("s")", "[1.5,2]", "[true,false]", R"(["a","b"])",
                           "[null,null]"})
    EXPECT_EQ(S(V(text).ToJSON()), text);
  EXPECT_TRUE(V("-3").ToJSON().IsInt());
  EXPECT_TRUE(VornValue(2.0).ToJSON().IsDouble());
  EXPECT_EQ(S(VornValue(std::vector<int>{}).ToJSON()), "[]");
  EXPECT_FALSE(Vorn::ConvertJSONValueToValue(VornJSONValue()).HasRawValue());
  EXPECT_EQ(V("5000000000").GetRawValue<int>(), 705032704);
  EXPECT_EQ(capture.Count(), 0u);

  const VornAny unsupported[] = {VornAny(), VornValue(VornValuesByString()),
                                 VornValue(std::vector<VornValue>{VornValue(1)}), VornValue(std::make_shared<int>(1)),
                                 VornValue(std::int64_t{1}),  // only int is an integer
                                 VornValue(1.5f)};
  for (const VornAny& value : unsupported) EXPECT_TRUE(value.ToJSON().IsUndefined());
}

// Arrays: one vector type for the whole array, or refused (reported, empty).
TEST(JSONToValue, ArraysTakeOneVectorTypeOrAreRefused) {
  const std::string refused = "[Vorn - JSON Bridge] Array refused: element ";
  const std::string both = "; no single vector type holds both";
  const std::pair<const char*, VornValue> cases[] = {
      {"[0, 0.5, 750.25]", VornValue(std::vector<double>{0, 0.5, 750.25})},
      {"[1, 2, 3.0]", VornValue(std::vector<double>{1, 2, 3})},
      {"[1, -2, 3]", VornValue(std::vector<int>{1, -2, 3})},
      {"[true, false]", VornValue(std::vector<bool>{true, false})},
      {R"(["a", "b"])", VornValue(std::vector<std::string>{"a", "b"})},
      {"[null, null]", VornValue(std::vector<std::nullptr_t>{nullptr, nullptr})},
      {R"([[1.5], "x"])", VornValue(std::vector<VornValue>{VornValue(std::vector<double>{1.5}), VornValue("x")})},
      {R"([1, "x"])", VornValue(refused + "1 is a string but element 0 is a number" + both)},
      {R"([1, 2.5, "x", 3])", VornValue(refused + "2 is a string but element 0 is a number" + both)},
      {"[true, 1]", VornValue(refused + "1 is a number but element 0 is a boolean" + both)},
      {"[null, 1]", VornValue(refused + "1 is a number but element 0 is null" + both)},
      {R"(["a", null])", VornValue(refused + "1 is null but element 0 is a string" + both)},
      {"[1, {}]", VornValue(refused + "1 is an object but element 0 is a number" + both)},
  };
  for (const auto& [doc, expected] : cases) {
    KRTAbendCapture capture;
    const VornValue value = Vorn::ConvertJSONValueToValue(J(doc));
    const bool refusal = expected.Holds<std::string>();  // no array gives a string: it is the report
    EXPECT_TRUE(refusal ? !value.HasRawValue() : value == expected) << doc;
    EXPECT_EQ(capture.Messages(), refusal ? std::vector<std::string>{expected.GetRawValue<std::string>()}
                                          : std::vector<std::string>{})
        << doc;
  }
}

// Records each member shown as "slot key=value"; host-string keys.
class Recorder : public JSON::JVisitor {
public:
  using JSON::JVisitor::Visit;
  using JSON::JVisitor::VisitNullValue;
  Recorder() : JSON::JVisitor(false) {}

  bool VisitNullValue(Key k) override { return Log("null", k, ""); }
  bool Visit(Key k, const std::vector<double>& v) override { return Log("doubles", k, Join(v)); }
  bool Visit(Key k, const std::vector<JSON::JIStream>& v) override { return Log("objects", k, Join(v)); }
  bool Visit(Key k, const std::vector<bool>& v) override { return Log("bools", k, Join(v)); }
  bool Visit(Key k, const std::vector<KRTUnicodeString>& v) override { return Log("strings", k, Join(v)); }
  bool Visit(Key k, double v) override { return Log("double", k, Text(v)); }
  bool Visit(Key k, const JSON::JIStream& v) override { return Log("object", k, Text(v)); }
  bool Visit(Key k, bool v) override { return Log("bool", k, Text(v)); }
  bool Visit(Key k, const KRTUnicodeString& v) override { return Log("string", k, Text(v)); }
  bool EndOfFile() override { return ++ends, endAnswer; }

  std::vector<std::string> seen;
  std::string refuseKey;  // the member whose visit answers false
  int ends = 0;
  bool endAnswer = true;

private:
  static std::string Text(double v) { return VornJSONValue(v).Stringify(); }
  static std::string Text(bool v) { return v ? "t" : "f"; }
  static std::string Text(const KRTUnicodeString& v) { return std::string(v.View()); }
  static std::string Text(const JSON::JIStream& v) { return v.GetObject().Stringify(); }
  template <class V>
  static std::string Join(const V& values) {
    std::string out;
    for (const auto& v : values) out += Text(v) + "|";
    return out;
  }
  bool Log(const char* slot, Key key, const std::string& value) {
    seen.push_back(std::string(slot) + " " + std::string(key.View()) + "=" + value);
    return key.View() != refuseKey;
  }
};

TEST(JIStream, MembersGoToTheSlotOfTheirKind) {
  const JSON::JIStream reader(*J(R"({"s":"v","b":false,"i":3,"d":0.25,"n":null,"o":{"k":[1]},"as":["x","y"],)"
                                 R"("ab":[true],"an":[1,2.5],"ao":[{"a":1},{}],"e":[],"mixed":["a",1,null],)"
                                 R"("nested":[[1],[2,"b"]]})")
                                   .GetIfObject());
  Recorder visitor;
  EXPECT_TRUE(reader.Apply(visitor, nullptr));
  EXPECT_EQ(visitor.seen, (std::vector<std::string>{
                              "string s=v", "bool b=f", "double i=3", "double d=0.25", "null n=",
                              R"(object o={"k":[1]})", "strings as=x|y|", "bools ab=t|", "doubles an=1|2.5|",
                              R"(objects ao={"a":1}|{}|)", "strings e=",
                              // Irregular arrays come as texts: strings as they are, others as JSON.
                              "strings mixed=a|1|null|", R"(strings nested=[1]|[2,"b"]|)"}));
  EXPECT_EQ(visitor.ends, 1);
}

TEST(JIStream, ARefusedMemberFailsTheWalkButEveryMemberIsVisited) {
  // Shaped like a data-types file whose second of three types is bad.
  const JSON::JIStream reader(
      *J(R"({"length":{"superType":"number"},"bad":{"oops":true},"angle":{"superType":"number"}})").GetIfObject());
  Recorder visitor;
  visitor.refuseKey = "bad";
  EXPECT_FALSE(reader.Apply(visitor));
  ASSERT_EQ(visitor.seen.size(), 3u);
  EXPECT_EQ(visitor.seen[2].substr(0, 12), "object angle");
  EXPECT_EQ(visitor.ends, 1);

  Recorder refusesAtEnd;
  refusesAtEnd.endAnswer = false;
  EXPECT_FALSE(reader.Apply(refusesAtEnd));

  JSON::JVisitor defaults(false), views(true);
  EXPECT_TRUE(reader.Apply(defaults));
  EXPECT_TRUE(reader.Apply(views));
  EXPECT_FALSE(JSON::JIStream().Apply(defaults));
}

TEST(JIStreamFile, ReadsOneWellFormedObjectFileAndNothingElseSilently) {
  TempDir dir;
  KRTAbendCapture capture;
  JSON::JIStream reader;
  const std::string good = dir.Write("good.json", "\n { \"a\" : [\"x\"],\n \"b\": {\"c\": 1} }\n");
  ASSERT_TRUE(reader.ParseFile(good, true));
  EXPECT_EQ(reader.GetObject().Stringify(), R"({"a":["x"],"b":{"c":1}})");
  const JSON::JIStream kept = reader;

  std::string backslashed = good;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  EXPECT_TRUE(JSON::JIStream().ParseFile(backslashed, true));

  for (const std::string& path : {dir.Str() + "/missing.json", dir.Write("empty.json", " \n").string(),
                                  dir.Write("array.json", "[{}]").string(), dir.Write("scalar.json", "1").string(),
                                  dir.Str()})
    EXPECT_FALSE(reader.ParseFile(path, true)) << path;
  EXPECT_FALSE(reader.HasObject());
  EXPECT_EQ(kept.GetObject().Stringify(), R"({"a":["x"],"b":{"c":1}})");  // copies share what was read

  for (const char* text : {R"({"a":1)", R"({"a":1,})", R"({"a":1} x)", R"({"a":01})", R"({"a":1.})", R"({"a":-})",
                           R"({"a":1e400})", R"({"a":tru})", R"({"a":nullx})",
                           R"({"a":"\q"})", R"({"a":"\ud83d"})", R"({"a":"\ud83d\u0041"})", "{\"a\":\"\t\"}",
                           R"({"a" 1})", R"({a:1})", R"({"a":[1 2]})", R"({"a":"open)", R"({"a":12a})"})
    EXPECT_FALSE(reader.ParseFile(dir.Write("bad.json", text), true)) << text;
  for (const char* text : {"\f{\v\"a\"\r\n:\t-0.5e-3 }", R"({"c":[null,true,false,-0,0.0,1E+2],"big":12345678901234567})",
                           R"({"d":"\u00e9\ud83d\ude00\udc00\/\\\"\b\f\n\r\t","max":9223372036854775807})",
                           R"({"beyond":[99999999999999999999,-99999999999999999999]})"})
    EXPECT_TRUE(reader.ParseFile(dir.Write("fine.json", text), true)) << text;
  EXPECT_EQ(capture.Count(), 0u);
}

}  // namespace
