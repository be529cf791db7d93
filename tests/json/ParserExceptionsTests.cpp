// With the exceptions switch on, the first fault ends the parse with a
// VornJSONParseException carrying line and column; text output of a
// non-finite double throws.

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "JsonTestSupport.h"
#include "vorn/core/ErrorPolicy.h"

namespace {

struct Thrown {
  std::string message;
  std::uint32_t line = 0, column = 0;
  bool parseFault = false;
};

template <class Parse>
Thrown Catch(Parse parse) {
  try {
    parse();
  } catch (const VornJSONParseException& e) {
    return {e.what(), e.GetLine(), e.GetColumn(), true};
  } catch (const std::runtime_error& e) {
    return {e.what()};
  }
  ADD_FAILURE() << "nothing thrown";
  return {};
}

// Also an unrecognised escape on the third line, whatever ends the lines:
// line 3 is `  "b": "x\qy"`, where the escape character q is column 11.
TEST(JsonParserExceptions, EveryFaultThrowsItsMessageAndLineAndTheColumnAfterIt) {
  ASSERT_TRUE(Vorn::UsesStdExceptions());
  auto faults = vorn_test::Faults();
  for (const std::string eol : {"\n", "\r\n", "\r"})
    faults.emplace_back("{" + eol + "  \"a\": 1," + eol + "  \"b\": \"x\\qy\"" + eol + "}",
                        vorn_test::P("Invalid escape character at line 3"));
  for (const auto& [doc, message] : faults) {
    // The whole text, or a stream handing out one byte at a time.
    for (bool trickled : {false, true}) {
      const Thrown thrown = Catch([&] { vorn_test::ParseCaptured(doc, false, trickled); });
      EXPECT_EQ(thrown.message, message) << doc;
      EXPECT_NE(message.find("at line " + std::to_string(thrown.line)), std::string::npos) << doc;
      if (doc.find("x\\qy") != std::string::npos) {
        EXPECT_EQ(thrown.column, 12u) << doc;
      }
    }
  }
}

TEST(JsonStringifyExceptions, NonFiniteDoubleThrows) {
  EXPECT_EQ(Catch([] { (void)VornJSONArray{1, std::nan("")}.Stringify(); }).message,
            "[Vorn - NumberToString] => NaN or Infinity values are not allowed in JSON.");
}

}  // namespace
