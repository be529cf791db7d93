// Bridging and paths with the exceptions switch on.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/TempDir.h"
#include "vorn/core/ErrorPolicy.h"
#include "vorn/json/Convert.h"
#include "vorn/json/JSONStreams.h"
#include "vorn/json/Parser.h"

namespace {

VornJSONValue J(const std::string& text) { return VornJSONParser::ParseText(text, false); }

std::string WriterError(const std::string& doc) {
  try {
    const JSON::JOStream writer = *J(doc).GetIfObject();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "no exception";
}

TEST(BridgeExceptions, ReportsLeaveTheOperation) {
  ASSERT_TRUE(Vorn::UsesStdExceptions());
  VornJSONValue v = J("[1,2]");
  EXPECT_THROW((void)v.GetFromPath({"1a"}), VornJSONParseException);
  EXPECT_THROW(v.SetFromPath({"-x"}, 3), VornJSONParseException);
  EXPECT_EQ(v.Stringify(), "[1,2]");

  EXPECT_EQ(WriterError(R"({"a":[[1]]})"), "VornJSONArray::_FillJOStream => Imbricated arrays are not supported!");
  EXPECT_EQ(WriterError(R"({"a":[1,"x"]})"), "[Vorn - JSON Value] Invalid cast to int! Current type: std::string");
  EXPECT_THROW((void)Vorn::ConvertJSONValueToValue(J(R"([true,"x"])")), std::runtime_error);
}

TEST(BridgeExceptions, FileReaderAnswersFalseInsteadOfThrowing) {
  TempDir dir;
  const std::string path = dir.Write("bad.json", R"({"a":tru})");
  JSON::JIStream reader;
  EXPECT_FALSE(reader.ParseFile(path, true));
  EXPECT_FALSE(reader.ParseFile(path, false));
  EXPECT_TRUE(reader.ParseFile(dir.Write("good.json", R"({"a":true})"), false));
}

}  // namespace
