#include "JsonLocator.h"

#include <cctype>
#include <cstring>

namespace orvel {

std::string FormatPath(const JsonPath& path) {
  std::string out;
  for (const PathStep& step : path) {
    if (const auto* name = std::get_if<std::string>(&step)) {
      if (!out.empty()) out += '.';
      out += *name;
    } else {
      out += '[' + std::to_string(std::get<std::size_t>(step)) + ']';
    }
  }
  return out.empty() ? "(top level)" : out;
}

namespace {

// A forward scanner over text already known to be valid JSON.
class Scanner {
public:
  explicit Scanner(std::string_view text) : m_text(text) {}

  TextPosition Position() const {
    TextPosition position;
    for (std::size_t i = 0; i < m_at && i < m_text.size(); ++i) {
      if (m_text[i] == '\n') {
        ++position.line;
        position.column = 1;
      } else {
        ++position.column;
      }
    }
    return position;
  }

  void SkipSpace() {
    while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) ++m_at;
  }
  char Peek() {
    SkipSpace();
    return m_at < m_text.size() ? m_text[m_at] : '\0';
  }
  // The raw text of a string (between the quotes), the scanner after it.
  std::string_view String() {
    const std::size_t start = ++m_at;
    while (m_at < m_text.size() && m_text[m_at] != '"') m_at += m_text[m_at] == '\\' ? 2 : 1;
    return m_text.substr(start, (m_at++) - start);
  }
  void SkipValue() {
    const char c = Peek();
    if (c == '"') {
      String();
    } else if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++m_at;
      while (Peek() != close && m_at < m_text.size()) {
        if (c == '{') {
          String();
          Peek();
          ++m_at;  // ':'
        }
        SkipValue();
        if (Peek() == ',') ++m_at;
      }
      ++m_at;
    } else {
      while (m_at < m_text.size() && !std::strchr(",}] \t\r\n", m_text[m_at])) ++m_at;
    }
  }
  // Moves onto the value of `step` inside the container here; false (left
  // at the container) when it has none.
  bool Enter(const PathStep& step) {
    const std::size_t container = m_at;
    const char c = Peek();
    if (c == '{' && std::holds_alternative<std::string>(step)) {
      ++m_at;
      while (Peek() == '"') {
        const std::string_view key = String();
        Peek();
        ++m_at;  // ':'
        if (key == std::get<std::string>(step)) {
          Peek();
          return true;
        }
        SkipValue();
        if (Peek() == ',') ++m_at;
      }
    } else if (c == '[' && std::holds_alternative<std::size_t>(step)) {
      ++m_at;
      for (std::size_t i = 0; Peek() != ']' && m_at < m_text.size(); ++i) {
        if (i == std::get<std::size_t>(step)) return true;
        SkipValue();
        if (Peek() == ',') ++m_at;
      }
    }
    m_at = container;
    return false;
  }

private:
  std::string_view m_text;
  std::size_t m_at = 0;
};

}  // namespace

TextPosition Locate(std::string_view text, const JsonPath& path) {
  Scanner scanner(text);
  scanner.Peek();
  for (const PathStep& step : path)
    if (!scanner.Enter(step)) break;
  return scanner.Position();
}

}  // namespace orvel

namespace orvel {
namespace {

class Checker {
public:
  explicit Checker(std::string_view text) : m_text(text) {}

  SyntaxError Run() {
    Space();
    if (Value(0) && (Space(), m_at != m_text.size())) Fail("unexpected text after the document");
    if (m_error.empty()) return {};
    return {m_error, Where()};
  }

private:
  TextPosition Where() const {
    TextPosition position;
    for (std::size_t i = 0; i < m_at && i < m_text.size(); ++i) {
      if (m_text[i] == '\n') position.line++, position.column = 1;
      else position.column++;
    }
    return position;
  }
  bool Fail(const std::string& message) {
    if (m_error.empty()) m_error = message;
    return false;
  }
  void Space() {
    while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) && m_text[m_at]) ++m_at;
  }
  bool Take(char c) {
    if (m_at < m_text.size() && m_text[m_at] == c) return ++m_at, true;
    return false;
  }
  bool Word(std::string_view word) {
    if (m_text.substr(m_at, word.size()) != word) return Fail("invalid literal");
    m_at += word.size();
    return true;
  }
  bool String() {
    ++m_at;
    while (m_at < m_text.size()) {
      const unsigned char c = static_cast<unsigned char>(m_text[m_at]);
      if (c == '"') return ++m_at, true;
      if (c < 0x20) return Fail("control character in a string");
      if (c == '\\') {
        ++m_at;
        if (m_at >= m_text.size() || !std::strchr("\"\\/bfnrtu", m_text[m_at])) return Fail("invalid escape");
      }
      ++m_at;
    }
    return Fail("unterminated string");
  }
  bool Digits() {
    const std::size_t start = m_at;
    while (m_at < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_at]))) ++m_at;
    return m_at > start || Fail("digit expected");
  }
  bool Number() {
    Take('-');
    if (!Take('0') && !Digits()) return false;
    if (Take('.') && !Digits()) return false;
    if ((Take('e') || Take('E')) && (Take('+') || Take('-') || true) && !Digits()) return false;
    return true;
  }
  bool Value(int depth) {
    if (depth > 200) return Fail("nested too deeply");
    if (m_at >= m_text.size()) return Fail("value expected");
    const char c = m_text[m_at];
    if (c == '"') return String();
    if (c == 't') return Word("true");
    if (c == 'f') return Word("false");
    if (c == 'n') return Word("null");
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return Number();
    if (c != '{' && c != '[') return Fail(std::string("unexpected character '") + c + "'");
    const bool object = c == '{';
    ++m_at;
    Space();
    if (Take(object ? '}' : ']')) return true;
    for (;;) {
      if (object) {
        if (m_at >= m_text.size() || m_text[m_at] != '"') return Fail("member name expected");
        if (!String()) return false;
        Space();
        if (!Take(':')) return Fail("':' expected");
        Space();
      }
      if (!Value(depth + 1)) return false;
      Space();
      if (Take(',')) {
        Space();
        continue;
      }
      if (Take(object ? '}' : ']')) return true;
      return Fail(object ? "',' or '}' expected" : "',' or ']' expected");
    }
  }

  std::string_view m_text;
  std::size_t m_at = 0;
  std::string m_error;
};

}  // namespace

SyntaxError CheckSyntax(std::string_view text) { return Checker(text).Run(); }

}  // namespace orvel
