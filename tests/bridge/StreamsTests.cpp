// The host JSON streams: writer, reader and visitor.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BridgeTestSupport.h"
#include "common/TempDir.h"
#include "vorn/host/JSONStreams.h"
#include "vorn/host/SysLog.h"

namespace {

using bridge_test::J;
using Key = const KRTUnicodeString&;

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

TEST(JIStream, NestedReadersAndStringViewKeys) {
  struct Outer : JSON::JVisitor {
    using JSON::JVisitor::Visit;
    Outer() : JSON::JVisitor(true) {}
    bool Visit(std::string_view key, const JSON::JIStream& value) override {
      keys += std::string(key) + ";";
      return value.Apply(inner);
    }
    std::string keys;
    Recorder inner;
  } outer;
  const JSON::JOStream writer = *J(R"({"first":{"a":"x"},"second":{"b":true}})").GetIfObject();
  const JSON::JIStream reader(writer);
  EXPECT_TRUE(reader.Apply(outer));
  EXPECT_EQ(outer.keys, "first;second;");
  EXPECT_EQ(outer.inner.seen, (std::vector<std::string>{"string a=x", "bool b=t"}));
  outer.inner.refuseKey = "b";
  EXPECT_FALSE(reader.Apply(outer));
}

TEST(JIStreamFile, ReadsOneObjectFileAndNothingElse) {
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
                                  dir.Write("array.json", "[{}]").string(), dir.Write("scalar.json", "1").string(), dir.Str()})
    EXPECT_FALSE(reader.ParseFile(path, true)) << path;
  EXPECT_FALSE(reader.HasObject());
  EXPECT_EQ(kept.GetObject().Stringify(), R"({"a":["x"],"b":{"c":1}})");  // copies share what was read
  EXPECT_EQ(capture.Count(), 0u);
}

TEST(JIStreamFile, StrictReadingRefusesMalformedFilesSilently) {
  TempDir dir;
  KRTAbendCapture capture;
  for (const char* text : {R"({"a":1)", R"({"a":1,})", R"({"a":1} x)", R"({"a":01})", R"({"a":1.})", R"({"a":-})",
                           R"({"a":1e400})", R"({"a":99999999999999999999})", R"({"a":tru})", R"({"a":nullx})",
                           R"({"a":"\q"})", R"({"a":"\ud83d"})", R"({"a":"\ud83d\u0041"})", "{\"a\":\"\t\"}",
                           R"({"a" 1})", R"({a:1})", R"({"a":[1 2]})", R"({"a":"open)", R"({"a":12a})"}) {
    JSON::JIStream reader;
    EXPECT_FALSE(reader.ParseFile(dir.Write("bad.json", text), true)) << text;
  }
  for (const char* text : {"\f{\v\"a\"\r\n:\t-0.5e-3 }", R"({"c":[null,true,false,-0,0.0,1E+2],"big":12345678901234567})",
                           R"({"d":"\u00e9\ud83d\ude00\udc00\/\\\"\b\f\n\r\t","max":9223372036854775807})"}) {
    JSON::JIStream reader;
    EXPECT_TRUE(reader.ParseFile(dir.Write("fine.json", text), true)) << text;
  }
  EXPECT_EQ(capture.Count(), 0u);
}

}  // namespace
