// Reading and writing JSON values by path.

#include <gtest/gtest.h>

#include <string>

#include "BridgeTestSupport.h"
#include "vorn/host/SysLog.h"

namespace {

using bridge_test::J;
using bridge_test::Path;
using bridge_test::S;

// S() of a read, "undefined" when it misses.
TEST(JSONPathRead, Table) {
  struct Case {
    const char* doc;
    Path path;
    const char* expected;
  };
  const Case cases[] = {
      {R"({"a":1})", {}, "undefined"},  // an empty path never gives the value itself
      {"[1]", {}, "undefined"},
      {"3", {"0"}, "undefined"},
      {R"({"a":[10,20,30]})", {"a", "1"}, "20"},
      {R"({"a":[10,20,30]})", {"a", "-1"}, "20"},   // absolute value
      {R"({"a":[10,20,30]})", {"a", "1.9"}, "20"},  // truncated
      {R"({"a":[10,20,30]})", {"a", " 2e0"}, "30"},
      {R"({"a":[10,20,30]})", {"a", "3"}, "undefined"},
      {R"({"a":[10,20,30]})", {"a", "*"}, "[10,20,30]"},
      {R"({"a":[10,20,30]})", {"a", "x"}, "undefined"},
      {R"({"a":[10,20,30]})", {"a", "1", "b"}, "undefined"},
      // Indexes are compared whole: these share their low 32 bits with 1, 0
      // and a negative number.
      {"[10,20]", {"4294967297"}, "undefined"},
      {"[10,20]", {"4294967296"}, "undefined"},
      {"[10,20]", {"2147483648"}, "undefined"},
      // Numeric segments never name keys, except beyond 2^53 - 1 (read as text).
      {R"({"0":"zero"})", {"0"}, "undefined"},
      {R"({"9007199254740993":"big"})", {"9007199254740993"}, R"("big")"},
      {"[1]", {"9007199254740993"}, "undefined"},
      {R"({"x":1,"x ":2})", {" x"}, "1"},
      {R"({"x":1,"x ":2})", {"x "}, "2"},
      {R"({"a\"b":1})", {"a\\\"b"}, "undefined"},  // keys are not unescaped
      {R"({"a":{"b":1},"c":{"d":2},"e":3})", {"*", "b"}, "[1]"},
      {R"({"a":{"b":1},"c":{"d":2},"e":3})", {"*", "z"}, "undefined"},
      {R"({"a":{"b":1},"c":{"d":2},"e":3})", {"*"}, R"([{"b":1},{"d":2},3])"},
      {R"({"a":{"b":1},"c":{"b":[2]}})", {"*", "b", "*"}, "[[2]]"},
      {R"([{"k":1},{"j":2},{"k":3}])", {"*", "k"}, "[1,3]"},
      {"{}", {"*"}, "undefined"},
      {"[]", {"*"}, "undefined"},
  };
  KRTAbendCapture capture;
  for (const Case& c : cases) EXPECT_EQ(S(J(c.doc).GetFromPath(c.path)), c.expected) << c.doc;
  EXPECT_EQ(capture.Count(), 0u);  // path operations report nothing of their own
}

TEST(JSONPathRead, MalformedNumericSegmentIsReportedAndReadAsZero) {
  KRTAbendCapture capture;
  EXPECT_EQ(S(J("[10,20]").GetFromPath({"1a"})), "10");
  EXPECT_EQ(capture.Count(), 1u);
  EXPECT_EQ(capture.Last().rfind("[Vorn - JSON Parser]", 0), 0u) << capture.Last();
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
      {"\"s\"", {"k"}, "v", R"({"k":"v"})"},
      {"3", {}, 4, "3"},
      {R"({"a":1,"b":2})", {"c"}, 3, R"({"a":1,"b":2,"c":3})"},  // appended
      {R"({"a":1,"b":2})", {"a"}, 9, R"({"a":9,"b":2})"},        // in place
      {R"({"a":1})", {"d", "e"}, true, R"({"a":1,"d":{"e":true}})"},
      {R"({"a":1})", {"5"}, 0, R"({"a":1})"},
      {R"({"a":7})", {"a", "b"}, 1, R"({"a":{"b":1}})"},
      {R"({"a":[7]})", {"a", "b"}, 1, R"({"a":[7]})"},
      {R"({"a":[7]})", {"a", "0", "b"}, 1, R"({"a":[{"b":1}]})"},
      {"[1,2]", {"2"}, 9, "[1,2]"},  // arrays never grow
      {"[1,2]", {"4294967297"}, 9, "[1,2]"},
      {"[1,2]", {"-1"}, 9, "[1,9]"},
      {"[1,2]", {"*"}, nullptr, "[null,null]"},
      {"[1,2]", {"x"}, 0, "[1,2]"},
      {R"({"a":1,"b":{"c":2},"d":[3]})", {"*", "c"}, 0, R"({"a":{"c":0},"b":{"c":0},"d":[3]})"},
      {"{}", {"*"}, 1, "{}"},
  };
  for (const Case& c : cases) {
    VornJSONValue v = *c.doc ? J(c.doc) : VornJSONValue();
    v.SetFromPath(c.path, c.value);
    EXPECT_EQ(S(v), c.expected) << c.doc;
  }
}

TEST(JSONPathWrite, ValueMayLiveInTheTargetItself) {
  // Inserting keys makes the member table grow and move its entries while
  // the value written is one of them.
  // Keys are built by appending: GCC 12 at -O3 warns falsely (-Wrestrict)
  // on a literal + std::string temporary.
  const auto key = [](const char* prefix, int i) { return std::string(prefix).append(std::to_string(i)); };
  VornJSONObject object;
  for (int i = 0; i < 100; ++i) object.SetFromPath({key("k", i)}, std::string(40, 'a'));
  for (int i = 0; i < 100; ++i) object.SetFromPath({key("n", i)}, object.Get(key("k", i)));
  EXPECT_EQ(object.Get("n99").Get<std::string>(), std::string(40, 'a'));

  VornJSONValue scalar = "me";
  scalar.SetFromPath({"self"}, scalar);
  EXPECT_EQ(S(scalar), R"({"self":"me"})");

  VornJSONValue array = J(R"(["x",1,2])");
  array.SetFromPath({"*"}, array.GetIfArray()->Get(0));
  EXPECT_EQ(S(array), R"(["x","x","x"])");
}

}  // namespace
