// JSON values into host writers and byte buffers, into library values, and
// library values back into JSON.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BridgeTestSupport.h"
#include "vorn/core/TypeInfo.h"
#include "vorn/host/Binary.h"
#include "vorn/host/JSONStreams.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Convert.h"

namespace {

using bridge_test::J;
using bridge_test::S;

// The writer's text for `doc`, and the one report expected on the way ("" for none).
TEST(JSONToWriter, Table) {
  const std::string stringType(Vorn::RawTypeName<std::string>());
  struct Case {
    std::string doc, written, report;
  };
  const Case cases[] = {
      {R"({"s":"t\"x","b":false,"d":2.5,"i":-7,"big":5000000000,"n":null,"o":{"p":{"q":[1]}},"e":{}})",
       R"({"s":"t\"x","b":false,"d":2.5,"i":-7,"big":5000000000,"n":null,"o":{"p":{"q":[1]}},"e":{}})", ""},
      {R"({"a":[true,false],"s":["x"],"o":[{"k":1},{}],"e":[]})", R"({"a":[true,false],"s":["x"],"o":[{"k":1},{}],"e":[]})", ""},
      {R"({"a":[null,null]})", R"({"a":["null","null"]})", ""},
      // Integer arrays are 32-bit: low 32 bits, doubles truncated.
      {R"({"a":[1,5000000000,-2.9]})", R"({"a":[1,705032704,-2]})", ""},
      {R"({"a":[1,2.7,"x"]})", R"({"a":[1,2,0]})", "[Vorn - JSON Value] Invalid cast to int! Current type: std::string"},
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
    EXPECT_EQ(writer.ToString(), c.written) << c.doc;
    EXPECT_EQ(capture.Count(), c.report.empty() ? 0u : 1u) << c.doc;
    EXPECT_EQ(capture.Last(), c.report) << c.doc;
  }
}

TEST(JSONToWriter, UndefinedIsLeftOutAndDoublesStayDoubles) {
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

TEST(JSONToValue, ScalarsTakeTheirNativeTypes) {
  EXPECT_FALSE(Vorn::ConvertJSONValueToValue(VornJSONValue()).HasRawValue());
  EXPECT_TRUE(Vorn::ConvertJSONValueToValue(J("null")).Holds<std::nullptr_t>());
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("true")).GetRawValue<bool>(), true);
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("2.5")).GetRawValue<double>(), 2.5);
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("\"s\"")).GetRawValue<std::string>(), "s");
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("5000000000")).GetRawValue<int>(), 705032704);
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("-3")).GetRawValue<int>(), -3);
}

TEST(JSONToValue, ArraysFollowTheirFirstElement) {
  KRTAbendCapture capture;
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J(R"([1,"x",3])")).GetRawValue<std::vector<int>>(),
            (std::vector<int>{1, 0, 3}));
  EXPECT_EQ(capture.Count(), 1u);
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("[1.5,2]")).GetRawValue<std::vector<double>>(),
            (std::vector<double>{1.5, 2.0}));
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("[true]")).GetRawValue<std::vector<bool>>(), std::vector<bool>{true});
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J(R"(["a"])")).GetRawValue<std::vector<std::string>>(),
            std::vector<std::string>{"a"});
  EXPECT_EQ(Vorn::ConvertJSONValueToValue(J("[null,null]")).GetRawValue<std::vector<std::nullptr_t>>().size(), 2u);
  EXPECT_TRUE(Vorn::ConvertJSONValueToValue(J("[]")).GetRawValue<std::vector<VornValue>>().empty());

  const auto objects = Vorn::ConvertJSONValueToValue(J(R"([{"a":1}])")).GetRawValue<std::vector<VornValue>>();
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].GetRawValue<VornValuesByString>().find("a")->second.GetRawValue<int>(), 1);
  const auto rows = Vorn::ConvertJSONValueToValue(J(R"([[1],["x"]])")).GetRawValue<std::vector<VornValue>>();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].GetRawValue<std::vector<std::string>>(), std::vector<std::string>{"x"});
  const auto holes = Vorn::ConvertJSONValueToValue(VornJSONValue(VornJSONArray{VornJSONValue(), 2}))
                         .GetRawValue<std::vector<VornValue>>();
  ASSERT_EQ(holes.size(), 2u);
  EXPECT_FALSE(holes[0].HasRawValue());
  EXPECT_EQ(capture.Count(), 1u);
}

TEST(JSONToValue, ObjectsKeepEveryMemberInOrder) {
  const VornJSONObject object{{"z", 1}, {"u", VornJSONValue()}, {"a", VornJSONObject{{"b", "c"}}}};
  const VornValuesByString values = Vorn::ConvertJSONObjectToValuesByString(object);
  std::vector<std::string> keys;
  for (const auto& entry : values) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"z", "u", "a"}));
  EXPECT_FALSE(values.find("u")->second.HasRawValue());
  EXPECT_EQ(values.find("a")->second.GetRawValue<VornValuesByString>().find("b")->second.GetRawValue<std::string>(),
            "c");
}

TEST(ValueToJSON, SupportedTypesConvertOthersGiveUndefined) {
  EXPECT_EQ(S(VornValue("c").ToJSON()), "\"c\"");
  EXPECT_EQ(S(VornValue(true).ToJSON()), "true");
  EXPECT_TRUE(VornValue(2.0).ToJSON().IsDouble());
  EXPECT_TRUE(VornValue(-4).ToJSON().IsInt());
  EXPECT_TRUE(VornValue(nullptr).ToJSON().IsNull());
  EXPECT_EQ(S(VornValue(std::vector<std::string>{"a", "b"}).ToJSON()), R"(["a","b"])");
  EXPECT_EQ(S(VornValue(std::vector<bool>{true, false}).ToJSON()), "[true,false]");
  EXPECT_EQ(S(VornValue(std::vector<double>{0.5}).ToJSON()), "[0.5]");
  EXPECT_EQ(S(VornValue(std::vector<int>{}).ToJSON()), "[]");
  EXPECT_EQ(S(VornValue(std::vector<std::nullptr_t>(2)).ToJSON()), "[null,null]");

  int target = 0;
  EXPECT_TRUE(VornAny().ToJSON().IsUndefined());
  EXPECT_TRUE(VornValue(VornValuesByString()).ToJSON().IsUndefined());
  EXPECT_TRUE(VornValue(std::vector<VornValue>{VornValue(1)}).ToJSON().IsUndefined());
  EXPECT_TRUE(VornValue(&target).ToJSON().IsUndefined());
  EXPECT_TRUE(VornValue(std::make_shared<int>(1)).ToJSON().IsUndefined());
  EXPECT_TRUE(VornValue(std::int64_t{1}).ToJSON().IsUndefined());  // only int is an integer
  EXPECT_TRUE(VornValue(1.5f).ToJSON().IsUndefined());
}

}  // namespace
