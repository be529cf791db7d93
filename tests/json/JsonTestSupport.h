#pragma once

// Shared by the JSON suites: parsing with reports captured, from the text or
// one byte at a time (crossing every chunk boundary of the stream reader), and
// faulty documents with their reports.

#include <gtest/gtest.h>

#include <istream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "vorn/host/SysLog.h"
#include "vorn/json/JSON.h"
#include "vorn/json/Parser.h"

namespace vorn_test {

class TrickleBuffer : public std::streambuf {
public:
  explicit TrickleBuffer(std::string text) : m_text(std::move(text)) {}

protected:
  int_type underflow() override {
    if (m_pos >= m_text.size()) return traits_type::eof();
    m_char = m_text[m_pos++];
    setg(&m_char, &m_char, &m_char + 1);
    return traits_type::to_int_type(m_char);
  }

private:
  std::string m_text;
  std::size_t m_pos = 0;
  char m_char = 0;
};

struct Parsed {
  VornJSONValue value;
  std::vector<std::string> reports;
};

inline Parsed ParseCaptured(const std::string& text, bool lenient = false, bool trickled = false) {
  KRTAbendCapture capture;
  TrickleBuffer buffer(text);
  std::istream input(&buffer);
  VornJSONValue value =
      trickled ? VornJSONParser::ParseStream(input, lenient) : VornJSONParser::ParseText(text, lenient);
  return {std::move(value), capture.Messages()};
}

// Compact text of the strict parse.
inline std::string Text(const std::string& doc) { return ParseCaptured(doc).value.Stringify(); }

inline std::string P(const std::string& tail) { return "[Vorn - JSON Parser] " + tail; }

// Faulty documents (strict mode) and the one report each gives.
inline const std::vector<std::pair<std::string, std::string>>& Faults() {
  static const std::vector<std::pair<std::string, std::string>> faults = {
      // numbers
      {"1e400", P("Invalid number format: cannot convert \"1e400\" to number at line 1")},
      {"01", P("Invalid number: leading zero not allowed at line 1")},
      {"-", P("Invalid number: expected digit after negative sign at line 1")},
      {"1.", P("Invalid number: expected digit after '.' at line 1")},
      {"1e+", P("Invalid number: expected digit after exponent sign at line 1")},
      {"\n\n[1.5.3]", P("Invalid number: unexpected trailing characters after \"1.5\" at line 3")},
      // strings
      {R"("ab\ud83d")", P("Missing low surrogate after high surrogate at line 1")},
      {R"("\ud83d\n")", P("Missing low surrogate after high surrogate at line 1")},
      {R"("\ud83d\u0041")", P("Expected low surrogate at line 1")},
      {R"("\ud83d\uZZZZ")", P("Invalid low surrogate at line 1")},
      {R"("\u12G4")", P("Invalid \\u escape sequence at line 1")},
      {R"("ab\qcd")", P("Invalid escape character at line 1")},
      // a raw line break is blamed on the string's own line
      {"\n\"ab\ncd\"", P("Unescaped control character in string at line 2")},
      {"[\"abc", P("Unexpected end of file at line 1 (missing closing '\"')")},
      {"\"abc\\", P("Unexpected end of file at line 1 (missing closing '\"')")},
      // literals: one report per fault, though the null reader and its
      // caller both notice it
      {"tru", P("Invalid boolean: expected 'true' at line 1")},
      {"truex", P("Invalid boolean: unexpected trailing characters after 'true' at line 1")},
      {"[fals]", P("Invalid boolean: expected 'false' at line 1")},
      {"falsey", P("Invalid boolean: unexpected trailing characters after 'false' at line 1")},
      {"nil", P("Invalid null value at line 1")},
      {"nullx", P("Invalid null value: unexpected trailing characters after 'null' at line 1")},
      // structure and stray characters
      {"[1 2]", P("Expected ',' or ']' in array at line 1")},
      {"{\"a\":1 \"b\":2}", P("Expected ',' or '}' in object at line 1")},
      {"[1,]", P("Unexpected character 93 at line 1")},
      {"[\xE9]", P("Unexpected character 233 at line 1")},
      {"{\"a\":1,}", P("Expecting opening quotation mark for string at line 1")},
      {"{\"a\" 1}", P("Expected ':' after object key at line 1")},
      {"{\"a\":", P("Unexpected character -1 at line 1")},
      {"[1,\n2", P("Unexpected end of file at line 2 (missing closing ']')")},
      {"{\"a\":{}\n\n", P("Unexpected end of file at line 3 (missing closing '}')")},
      {"{} x", P("Unexpected characters after JSON value at line 1")},
      // line breaks: CRLF, CR, LF, CRLF, CRLF; then LF CR is two breaks
      {"[\r\n1,\r2,\n3,\r\n\r\nx]", P("Unexpected character 120 at line 6")},
      {"[\n\rx]", P("Unexpected character 120 at line 3")},
  };
  return faults;
}

}  // namespace vorn_test
