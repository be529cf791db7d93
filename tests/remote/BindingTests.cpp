// Remote functions and the binding of native callables.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "RemoteTestSupport.h"
#include "vorn/host/SysLog.h"
#include "vorn/remote/Binding.h"

namespace {

using vorn_test::Replies;

class Unbound final : public VornRemoteFunction_V1 {};

VornJSONObject Obj(const std::string& text) { return VornJSONObject::BuildFromString(text); }

TEST(RemoteFunction, UnsetFunctionReportsAndNeverReplies) {
  KRTAbendCapture capture;
  Replies replies;
  Unbound().Call(replies.Recorder(), VornJSONObject());
  EXPECT_TRUE(replies.values.empty());
  EXPECT_EQ(capture.Messages(), std::vector<std::string>{"[VornRemoteFunction_V1::Call] Underlying function is not set!"});
}

TEST(Binding, ConvertsArgumentsByNameAndAnswersOnce) {
  auto fn = Vorn::MakeRemoteFunction(
      "mix", {"i", "d", "s", "flag", "list"},
      [](int i, double d, const std::string& s, std::optional<bool> flag, const std::vector<std::int64_t>& list) {
        std::int64_t sum = 0;
        for (auto v : list) sum += v;
        return s + ":" + std::to_string(i + static_cast<int>(d) + sum) + (flag ? (*flag ? "+" : "-") : "?");
      });
  const auto& params = fn->GetParameterDescriptors();
  ASSERT_EQ(params.size(), 5u);
  EXPECT_EQ(params[2].name, "s");
  EXPECT_EQ(params[2].typeKey, Vorn::TypeKey<std::string>());
  EXPECT_TRUE(fn->IsBound());

  const std::string kInt = "integer in [-2147483648, 2147483647]";
  const std::string missing =
      "{\"error\":{\"message\":\"Argument 'i' is missing (expected " + kInt + ")\",\"argument\":\"i\"}}";
  struct Case {
    const char* args;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {R"({"i":1,"d":2.5,"s":"x","list":[3,4]})", R"({"_func_return":"x:10?"})"},
      {R"({"i":2.0,"d":1,"s":"y","flag":true,"list":[]})", R"({"_func_return":"y:3+"})"},
      {R"({"d":1,"s":"x","list":[]})", missing},
      {R"({"i":1.5,"d":1,"s":"x","list":[]})",
       R"({"error":{"message":"Argument 'i' must be integer in [-2147483648, 2147483647], got number","argument":"i"}})"},
      {R"({"i":4294967296,"d":1,"s":"x","list":[]})",
       R"({"error":{"message":"Argument 'i' must be integer in [-2147483648, 2147483647], got integer","argument":"i"}})"},
      {R"({"i":1,"d":"2","s":"x","list":[]})",
       R"({"error":{"message":"Argument 'd' must be number, got string","argument":"d"}})"},
      {R"({"i":1,"d":1,"s":"x","flag":null,"list":[]})",
       R"({"error":{"message":"Argument 'flag' must be boolean, got null","argument":"flag"}})"},
      {R"({"i":1,"d":1,"s":"x","list":[1,"2"]})",
       R"({"error":{"message":"Argument 'list' must be array of integer in [-9223372036854775808, 9223372036854775807], got array","argument":"list"}})"},
  };
  KRTAbendCapture capture;
  for (const Case& c : cases) {
    Replies replies;
    fn->Call(replies.Recorder(), Obj(c.args));
    ASSERT_EQ(replies.values.size(), 1u) << c.args;
    EXPECT_EQ(replies.values[0].Stringify(), c.reply) << c.args;
  }
  EXPECT_EQ(capture.Count(), 0u);  // mismatches are answered, not reported
}

TEST(Binding, ExceptionsVoidResultsAndUnnamedParameters) {
  auto fail = Vorn::MakeRemoteFunction("fail", {}, [](int) -> int { throw std::runtime_error("bad input"); });
  EXPECT_EQ(fail->GetParameterDescriptors()[0].name, "unnamed_arg_0");
  Replies replies;
  fail->Call(replies.Recorder(), Obj(R"({"unnamed_arg_0":1})"));
  int calls = 0;
  auto count = Vorn::MakeRemoteFunction("count", {}, [&calls] { ++calls; });
  count->Call(replies.Recorder(), VornJSONObject());
  auto whole = Vorn::MakeRemoteFunction("whole", {"o", "v"}, [](VornJSONObject o, VornJSONValue v) {
    return std::vector<VornJSONValue>{VornJSONValue(o.GetSize()), v};
  });
  whole->Call(replies.Recorder(), Obj(R"({"o":{"k":1},"v":null})"));
  ASSERT_EQ(replies.values.size(), 3u);
  EXPECT_EQ(replies.values[0].Stringify(), R"({"error":{"message":"bad input"}})");
  EXPECT_EQ(replies.values[1].Stringify(), R"({"_func_return":null})");
  EXPECT_EQ(replies.values[2].Stringify(), R"({"_func_return":[1,null]})");
  EXPECT_EQ(calls, 1);
}

}  // namespace
