#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>

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

// Recursive-descent JSON reader with line-numbered diagnostics. Strict for
// files; lenient (text after the value ignored, a bare top-level word taken
// as a string) for strings that come from code.
//
// Numbers: an integer becomes an integer value when its magnitude is at most
// 2^53 - 1, and otherwise a string holding its decimal text; a number with a
// fraction or exponent becomes a double.
//
// A syntax error is reported (thrown as VornJSONParseException with the
// exceptions switch on, otherwise sent to the abnormal-end log) and parsing
// goes on with the documented fallback; the enclosing object or array then
// stops at the offending character.
//
// TODO(parser): nesting limit (document value here).
class VORN_API VornJSONParser : public VornBaseClass {
public:
  ~VornJSONParser() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return nullptr; }

  // Parses a file strictly; an unreadable file gives an empty object.
  static VornJSONValue ParseFile(const std::string& path);
  // The same for the resource `file` of the resource folder `folder`.
  static VornJSONValue ParseFileFromRsc(const std::string& folder, const std::string& file);
  // Parses a whole stream (strict unless `lenient`).
  static VornJSONValue ParseStream(std::istream& input, bool lenient);
  // Parses text (strict unless `lenient`).
  static VornJSONValue ParseText(const std::string& text, bool lenient);
  // Reads one path segment: a JSON number becomes its absolute value as an
  // integer (fractions truncated), anything else the verbatim text.
  static VornJSONValue ParseSegment(const std::string& segment);

private:
  friend class VornJSONObject;

  VornJSONParser(std::istream& input, bool lenient);
};
