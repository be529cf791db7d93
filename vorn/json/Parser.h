#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/json/JSON.h"

// Thrown for a syntax error when the exceptions switch is on; what() is the
// full message, ending with the line number.
class VORN_API VornJSONParseException : public std::runtime_error {
public:
  VornJSONParseException(const std::string& message, std::uint32_t line, std::uint32_t column)
      : std::runtime_error(message), m_line(line), m_column(column) {}
  ~VornJSONParseException() override;
  std::uint32_t GetLine() const noexcept { return m_line; }
  std::uint32_t GetColumn() const noexcept { return m_column; }

private:
  std::uint32_t m_line;
  std::uint32_t m_column;
};

// The reader's own steps are not exported: calls between them stay direct
// and can be inlined.
#define VORN_PARSER_LOCAL __attribute__((visibility("hidden")))

// Recursive-descent JSON reader with line-numbered diagnostics. Strict for
// files; lenient (text after the value ignored, a bare top-level word taken
// as a string) for strings that come from code.
//
// Numbers: an integer becomes an integer value when its magnitude is at most
// 2^53 - 1, and otherwise a string holding its decimal text, even beyond the
// 64-bit range (the literal as written, sign included; not a fault), since
// no native integer holds it exactly; a number with a fraction or exponent
// becomes a double. Path segments (ParseSegment) still report an integer
// beyond the 64-bit range as an invalid number.
//
// A syntax error is reported (thrown as VornJSONParseException with the
// exceptions switch on, otherwise sent to the abnormal-end log). With the
// switch off the first report ends the parse as well: the reader that found
// the fault returns its fallback (a partial string, the integer 0, undefined),
// every enclosing object and array stops at the offending character keeping
// what it has read, and nothing more is reported. The result may be partial.
//
// Nesting limit: at most kMaxDepth (1000) objects and arrays may be open at
// once. Opening one more is reported as "[Vorn - JSON Parser] Maximum nesting
// depth exceeded at line N", like any other syntax error, so that hostile
// input cannot exhaust the stack.
//
// Lines are counted on line feed, carriage return, and carriage return plus
// line feed taken together; columns start at 1 and name the next character
// to be read when a fault is reported.
class VORN_API VornJSONParser : public VornBaseClass {
public:
  static constexpr std::uint32_t kMaxDepth = 1000;

  ~VornJSONParser() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  // Parses a file strictly (backslashes read as "/"); an unreadable file
  // gives an empty object. Resources: Vorn::LoadResourceJSON.
  static VornJSONValue ParseFile(const std::string& path);
  // Parses a whole stream (strict unless `lenient`).
  static VornJSONValue ParseStream(std::istream& input, bool lenient);
  // Parses text (strict unless `lenient`). A view, so that text inside a
  // larger buffer (a message in a read) is parsed where it lies.
  static VornJSONValue ParseText(std::string_view text, bool lenient);
  // Reads one path segment: a JSON number becomes its absolute value as an
  // integer (fractions truncated), anything else the verbatim text.
  static VornJSONValue ParseSegment(const std::string& segment);

private:
  friend class VornJSONObject;
  // An integer literal beyond the 64-bit range; its text is in m_text.
  struct LongInteger {};
  using Number = std::variant<std::int64_t, double, LongInteger>;

  // Reads `input` through its stream buffer, in chunks.
  VORN_PARSER_LOCAL VornJSONParser(std::istream& input, bool lenient);
  // Reads text in memory directly; `text` must outlive the parser.
  VORN_PARSER_LOCAL VornJSONParser(std::string_view text, bool lenient);

  VORN_PARSER_LOCAL VornJSONValue _StartParsing();
  VORN_PARSER_LOCAL VornJSONValue _StartStrOrIntParsing(bool absolute);
  VORN_PARSER_LOCAL VornJSONValue _ParseJSONValue(bool topLevel);
  VORN_PARSER_LOCAL VornJSONValue _ParseScalar(int c, bool topLevel);
  VORN_PARSER_LOCAL void _ParseJSONObject(VornJSONObject& object);
  VORN_PARSER_LOCAL VornJSONValue& _ParseMember(VornJSONObject& object);
  VORN_PARSER_LOCAL void _ParseJSONArray(VornJSONArray& array);
  VORN_PARSER_LOCAL void _MoveElements(VornJSONArray& array, std::size_t base);
  VORN_PARSER_LOCAL bool _ParseKey(std::string& key);
  VORN_PARSER_LOCAL void _ParseString(std::string& out);
  VORN_PARSER_LOCAL bool _ParseUnicodeEscape(std::string& out);
  VORN_PARSER_LOCAL bool _ReadHex4(std::uint32_t& unit);
  VORN_PARSER_LOCAL Number _ParseNumber();
  VORN_PARSER_LOCAL bool _ScanNumberFast(Number& result);
  VORN_PARSER_LOCAL Number _ConvertNumber(const char* first, const char* last, bool integral);
  VORN_PARSER_LOCAL bool _ParseBoolean();
  VORN_PARSER_LOCAL bool _ParseNull();
  VORN_PARSER_LOCAL bool _TakeLiteral(const char* word, std::size_t length);
  VORN_PARSER_LOCAL VornJSONValue _BuildJSONNumberValue(const Number& number, bool absolute, bool integerExpected);
  VORN_PARSER_LOCAL VornJSONValue _TakeRestVerbatim();
  VORN_PARSER_LOCAL void _ExpectChar(char expected, const char* context);

  // Next character as 0..255 without consuming it; -1 at end of input.
  int _Peek() {
    if (m_cur == m_end && !_Refill()) return -1;
    return static_cast<unsigned char>(*m_cur);
  }
  // Consumes and returns the next character (-1 at end of input), counting
  // lines and columns.
  VORN_PARSER_LOCAL int _Get();
  VORN_PARSER_LOCAL void _SkipWhitespacesAndNewlines();
  VORN_PARSER_LOCAL bool _Refill();
  void _GoToNextLine() {
    ++m_line;
    m_column = 1;
  }
  // Builds message + line (+ suffix) and reports it with the position.
  VORN_PARSER_LOCAL void _Report(const char* message, const char* suffix = nullptr);
  void _Report(const std::string& message, const char* suffix = nullptr) { _Report(message.c_str(), suffix); }
  // Hands the stream back: read-ahead the parse did not consume is returned
  // where the buffer can seek, and a stream read to its end gets eofbit.
  VORN_PARSER_LOCAL void _ReturnUnread();

  static bool _IsDigit(int c) { return c >= '0' && c <= '9'; }
  static bool _IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  static bool _IsValueDelimiter(int c) { return c == ',' || c == '}' || c == ']' || c == -1 || _IsSpace(c); }

  bool m_lenient;
  std::istream* m_input;  // null when reading text in memory
  std::uint32_t m_line = 1;
  std::uint32_t m_column = 1;

  std::streambuf* m_source = nullptr;  // m_input's buffer
  const char* m_cur = nullptr;         // unread window [m_cur, m_end)
  const char* m_end = nullptr;
  std::unique_ptr<char[]> m_buffer;    // chunk storage for stream input
  std::uint32_t m_depth = 0;           // open objects and arrays
  bool m_failed = false;               // a fault has been reported
  bool m_sourceDone = false;           // the stream buffer has no more data
  std::string m_text;                  // number text of the slow path, or of a LongInteger
  std::string m_key;                   // the key being read
  VornJSONValue m_discarded;           // value of a repeated key
  std::vector<VornJSONValue> m_stack;  // elements of the open arrays
};

#undef VORN_PARSER_LOCAL
