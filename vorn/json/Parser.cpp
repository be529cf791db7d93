#include "vorn/json/Parser.h"
#include "vorn/json/StringScan.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>
#include <utility>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/Paths.h"
#include "vorn/host/SysLog.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"

namespace {

// Stream input is read in chunks of this size through the stream buffer.
constexpr std::size_t kChunkSize = 64 * 1024;
// Integers up to this magnitude are exact in a double, and stay integers.
constexpr std::int64_t kMaxExactInteger = 9007199254740991;  // 2^53 - 1

using Vorn::_Internal_::FindEscape;

constexpr bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    const char bytes[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 2);
  } else if (cp <= 0xFFFF) {
    const char bytes[3] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                           static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 3);
  } else {
    const char bytes[4] = {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                           static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(bytes, 4);
  }
}

// For a well-formed JSON number that std::from_chars refused as out of
// range: true when it is too small (it rounds to zero) rather than too large.
// Decides from the decimal exponent of the first significant digit.
bool IsUnderflow(const char* p, const char* last) {
  if (p < last && *p == '-') ++p;
  long long exponent = 0;
  const char* q = p;
  while (q < last && IsDigitChar(*q)) ++q;
  if (!(q - p == 1 && *p == '0')) {
    exponent = (q - p) - 1;
  } else {
    if (q == last || *q != '.') return false;  // plain zero never overflows
    ++q;
    long long zeros = 0;
    while (q < last && *q == '0') ++q, ++zeros;
    if (q == last || !IsDigitChar(*q)) return false;
    exponent = -(zeros + 1);
  }
  while (q < last && *q != 'e' && *q != 'E') ++q;
  if (q < last) {
    ++q;
    bool negative = false;
    if (q < last && (*q == '+' || *q == '-')) negative = *q++ == '-';
    long long e = 0;
    for (; q < last && IsDigitChar(*q); ++q) e = std::min(e * 10 + (*q - '0'), 1000000000LL);
    exponent += negative ? -e : e;
  }
  return exponent < 0;
}

}  // namespace

VornJSONParseException::~VornJSONParseException() = default;

VornJSONParser::VornJSONParser(std::istream& input, bool lenient)
    : m_lenient(lenient), m_input(&input), m_source(input.rdbuf()) {
  if (m_source)
    m_buffer.reset(new char[kChunkSize]);
  else
    m_sourceDone = true;
}

VornJSONParser::VornJSONParser(std::string_view text, bool lenient)
    : m_lenient(lenient), m_input(nullptr), m_cur(text.data()), m_end(text.data() + text.size()), m_sourceDone(true) {}

VornJSONParser::~VornJSONParser() { _ReturnUnread(); }

void VornJSONParser::_ReturnUnread() {
  if (!m_input) return;
  try {
    if (m_cur != m_end)
      m_source->pubseekoff(-static_cast<std::streamoff>(m_end - m_cur), std::ios_base::cur, std::ios_base::in);
    else if (m_sourceDone)
      m_input->setstate(std::ios_base::eofbit);
  } catch (...) {
    // A buffer that cannot seek keeps its position; a stream set to throw
    // on end of file is not made to throw from here.
  }
  m_cur = m_end;
}

// ---- character input -------------------------------------------------------

bool VornJSONParser::_Refill() {
  if (m_sourceDone) return false;
  using Traits = std::streambuf::traits_type;
  // Take what the buffer already holds, without waiting for more: a pipe or
  // a terminal must not block the parse past the end of the document.
  std::streamsize available = m_source->in_avail();
  if (available == 0) {
    available = Traits::eq_int_type(m_source->sgetc(), Traits::eof())
                    ? -1
                    : std::max<std::streamsize>(m_source->in_avail(), 1);
  }
  if (available < 0) {
    m_sourceDone = true;
    return false;
  }
  const std::streamsize wanted = std::min<std::streamsize>(available, static_cast<std::streamsize>(kChunkSize));
  const std::streamsize got = m_source->sgetn(m_buffer.get(), wanted);
  if (got <= 0) {
    m_sourceDone = true;
    return false;
  }
  m_cur = m_buffer.get();
  m_end = m_cur + got;
  return true;
}

int VornJSONParser::_Get() {
  const int c = _Peek();
  if (c < 0) {
    ++m_column;
    return -1;
  }
  ++m_cur;
  if (c == '\n') {
    _GoToNextLine();
  } else if (c == '\r') {
    if (_Peek() == '\n') ++m_cur;
    _GoToNextLine();
  } else {
    ++m_column;
  }
  return c;
}

void VornJSONParser::_SkipWhitespacesAndNewlines() {
  for (;;) {
    if (m_cur == m_end && !_Refill()) return;
    const char c = *m_cur;
    if (c == ' ' || c == '\t' || c == '\v' || c == '\f') {
      ++m_cur;
      ++m_column;
    } else if (c == '\n') {
      ++m_cur;
      _GoToNextLine();
    } else if (c == '\r') {
      _Get();  // may pair with a line feed in the next chunk
    } else {
      return;
    }
  }
}

[[gnu::noinline, gnu::cold]] void VornJSONParser::_Report(const char* message, const char* suffix) {
  std::string text(message);
  text += std::to_string(m_line);
  if (suffix) text += suffix;
  m_failed = true;
  if (Vorn::UsesStdExceptions()) throw VornJSONParseException(text, m_line, m_column);
  KRTSysLogAbend(text.c_str());
}

[[gnu::noinline]] void VornJSONParser::_ExpectChar(char expected, const char* context) {
  if (_Get() == static_cast<unsigned char>(expected)) return;
  std::string message("[Vorn - JSON Parser] Expected '");
  message.append(1, expected).append("' ").append(context).append(" at line ");
  _Report(message);
}

// ---- documents -------------------------------------------------------------

VornJSONValue VornJSONParser::_StartParsing() {
  _SkipWhitespacesAndNewlines();
  if (_Peek() < 0) return VornJSONValue();
  VornJSONValue value = _ParseJSONValue(true);
  if (!m_lenient && !m_failed) {
    _SkipWhitespacesAndNewlines();
    if (_Peek() >= 0) _Report("[Vorn - JSON Parser] Unexpected characters after JSON value at line ");
  }
  return value;
}

VornJSONValue VornJSONParser::_StartStrOrIntParsing(bool absolute) {
  _SkipWhitespacesAndNewlines();
  const int c = _Peek();
  if (c == '-' || _IsDigit(c)) return _BuildJSONNumberValue(_ParseNumber(), absolute, true);
  return _TakeRestVerbatim();
}

VornJSONValue VornJSONParser::_TakeRestVerbatim() {
  std::string rest;
  do {
    rest.append(m_cur, m_end);
    m_column += static_cast<std::uint32_t>(m_end - m_cur);
    m_cur = m_end;
  } while (_Refill());
  return VornJSONValue(std::move(rest));
}

// _ParseJSONValue, _ParseJSONObject and _ParseJSONArray are the recursion:
// their frames are stacked once per nesting level, so everything else they
// need is kept out of line and their own frames stay small.
VornJSONValue VornJSONParser::_ParseJSONValue(bool topLevel) {
  _SkipWhitespacesAndNewlines();
  const int c = _Peek();
  if (c != '{' && c != '[') return _ParseScalar(c, topLevel);
  if (m_depth >= kMaxDepth) {
    _Report("[Vorn - JSON Parser] Maximum nesting depth exceeded at line ");
    return VornJSONValue();
  }
  ++m_depth;
  VornJSONValue value;
  if (c == '{') {
    auto object = std::make_shared<VornJSONObject>();
    _ParseJSONObject(*object);
    value = VornJSONValue(std::move(object));
  } else {
    auto array = std::make_shared<VornJSONArray>();
    _ParseJSONArray(*array);
    value = VornJSONValue(std::move(array));
  }
  --m_depth;
  return value;
}

[[gnu::noinline]] VornJSONValue VornJSONParser::_ParseScalar(int c, bool topLevel) {
  switch (c) {
    case '"': {
      std::string text;
      _ParseString(text);
      return VornJSONValue(std::move(text));
    }
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': return _BuildJSONNumberValue(_ParseNumber(), false, false);
    case 't':
      if (_TakeLiteral("true", 4)) return VornJSONValue(true);
      return VornJSONValue(_ParseBoolean());
    case 'f':
      if (_TakeLiteral("false", 5)) return VornJSONValue(false);
      return VornJSONValue(_ParseBoolean());
    case 'n':
      if (_TakeLiteral("null", 4) || _ParseNull()) return VornJSONValue(nullptr);
      // _ParseNull has reported the fault already; one report per fault.
      if (!m_failed) _Report("[Vorn - JSON Parser] Invalid null value at line ");
      return VornJSONValue();
    default:
      if (topLevel && m_lenient) return _TakeRestVerbatim();
      if (topLevel && c < 0) return VornJSONValue();
      _Report("[Vorn - JSON Parser] Unexpected character " + std::to_string(c) + " at line ");
      return VornJSONValue();
  }
}

void VornJSONParser::_ParseJSONObject(VornJSONObject& object) {
  _SkipWhitespacesAndNewlines();
  _ExpectChar('{', "to start object");
  _SkipWhitespacesAndNewlines();
  if (_Peek() == '}') {
    _Get();
    return;
  }
  while (_Peek() >= 0) {
    VornJSONValue& slot = _ParseMember(object);
    if (m_failed) return;
    slot = _ParseJSONValue(false);
    if (&slot == &m_discarded) m_discarded = VornJSONValue();
    if (m_failed) return;
    _SkipWhitespacesAndNewlines();
    const int c = _Peek();
    if (c == ',') {
      _Get();
      _SkipWhitespacesAndNewlines();
      continue;
    }
    if (c == '}') {
      _Get();
      return;
    }
    if (c < 0) break;
    _Report("[Vorn - JSON Parser] Expected ',' or '}' in object at line ");
    return;
  }
  _Report("[Vorn - JSON Parser] Unexpected end of file at line ", " (missing closing '}')");
}

// Reads a key and its colon and places the member, before its value is read:
// nothing else inserts into this table meanwhile, so the slot stays valid,
// and the key buffer is free again for nested objects. A repeated key keeps
// its first value; its new value goes to a scratch slot and is dropped.
[[gnu::noinline]] VornJSONValue& VornJSONParser::_ParseMember(VornJSONObject& object) {
  if (!_ParseKey(m_key)) return m_discarded;
  auto [member, inserted] = object.m_members.try_emplace(std::string_view(m_key));
  return inserted ? member->second : m_discarded;
}

void VornJSONParser::_ParseJSONArray(VornJSONArray& array) {
  _SkipWhitespacesAndNewlines();
  _ExpectChar('[', "to start array");
  _SkipWhitespacesAndNewlines();
  if (_Peek() == ']') {
    _Get();
    return;
  }
  // Elements gather on a stack shared by every level and move into the array
  // once, at its final size, instead of growing it step by step.
  const std::size_t base = m_stack.size();
  for (;;) {
    if (_Peek() < 0) {
      _Report("[Vorn - JSON Parser] Unexpected end of file at line ", " (missing closing ']')");
      break;
    }
    m_stack.push_back(_ParseJSONValue(false));
    if (m_failed) break;
    _SkipWhitespacesAndNewlines();
    const int c = _Peek();
    if (c == ',') {
      _Get();
      _SkipWhitespacesAndNewlines();
      continue;
    }
    if (c == ']') {
      _Get();
      break;
    }
    if (c < 0) {
      _Report("[Vorn - JSON Parser] Unexpected end of file at line ", " (missing closing ']')");
    } else {
      _Report("[Vorn - JSON Parser] Expected ',' or ']' in array at line ");
    }
    break;
  }
  _MoveElements(array, base);
}

[[gnu::noinline]] void VornJSONParser::_MoveElements(VornJSONArray& array, std::size_t base) {
  const auto first = m_stack.begin() + static_cast<std::ptrdiff_t>(base);
  array.Reserve(m_stack.size() - base);
  for (auto it = first; it != m_stack.end(); ++it) array.PushBack(std::move(*it));
  m_stack.erase(first, m_stack.end());
}

bool VornJSONParser::_ParseKey(std::string& key) {
  _SkipWhitespacesAndNewlines();
  _ParseString(key);
  if (m_failed) return false;
  _SkipWhitespacesAndNewlines();
  _ExpectChar(':', "after object key");
  if (m_failed) return false;
  _SkipWhitespacesAndNewlines();
  return true;
}

// ---- strings ---------------------------------------------------------------

void VornJSONParser::_ParseString(std::string& out) {
  out.clear();
  if (_Get() != '"') {
    _Report("[Vorn - JSON Parser] Expecting opening quotation mark for string at line ");
    return;
  }
  for (;;) {
    // Plain bytes are copied in runs; they never include a line break.
    const char* run = FindEscape(m_cur, m_end);
    if (run != m_cur) {
      out.append(m_cur, run);
      m_column += static_cast<std::uint32_t>(run - m_cur);
      m_cur = run;
    }
    if (m_cur == m_end) {
      if (_Refill()) continue;
      _Get();
      _Report("[Vorn - JSON Parser] Unexpected end of file at line ", " (missing closing '\"')");
      return;
    }
    const unsigned char c = static_cast<unsigned char>(*m_cur);
    if (c == '"') {
      ++m_cur;
      ++m_column;
      return;
    }
    if (c < 0x20) {
      // Reported before it is consumed, so a raw line break is blamed on
      // the line that holds the string.
      _Report("[Vorn - JSON Parser] Unescaped control character in string at line ");
      return;
    }
    ++m_cur;  // the backslash
    ++m_column;
    const int escape = _Get();
    switch (escape) {
      case '"': out.push_back('"'); break;
      case '/': out.push_back('/'); break;
      case '\\': out.push_back('\\'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'u':
        if (!_ParseUnicodeEscape(out)) return;
        break;
      case -1: _Report("[Vorn - JSON Parser] Unexpected end of file at line ", " (missing closing '\"')"); return;
      default: _Report("[Vorn - JSON Parser] Invalid escape character at line "); return;
    }
  }
}

bool VornJSONParser::_ReadHex4(std::uint32_t& unit) {
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = HexValue(_Get());
    if (digit < 0) return false;
    unit = (unit << 4) | static_cast<std::uint32_t>(digit);
  }
  return true;
}

bool VornJSONParser::_ParseUnicodeEscape(std::string& out) {
  std::uint32_t unit = 0;
  if (!_ReadHex4(unit)) {
    _Report("[Vorn - JSON Parser] Invalid \\u escape sequence at line ");
    return false;
  }
  std::uint32_t codePoint = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (_Peek() != '\\') {
      _Report("[Vorn - JSON Parser] Missing low surrogate after high surrogate at line ");
      return false;
    }
    _Get();
    if (_Get() != 'u') {
      _Report("[Vorn - JSON Parser] Missing low surrogate after high surrogate at line ");
      return false;
    }
    std::uint32_t low = 0;
    if (!_ReadHex4(low)) {
      _Report("[Vorn - JSON Parser] Invalid low surrogate at line ");
      return false;
    }
    if (low < 0xDC00 || low > 0xDFFF) {
      _Report("[Vorn - JSON Parser] Expected low surrogate at line ");
      return false;
    }
    codePoint = 0x10000 + (((unit - 0xD800) << 10) | (low - 0xDC00));
  }
  // A lone low surrogate is encoded as it is.
  AppendUtf8(out, codePoint);
  return true;
}

// ---- numbers ---------------------------------------------------------------

VornJSONParser::Number VornJSONParser::_ParseNumber() {
  Number result;
  if (_ScanNumberFast(result)) return result;

  // Character by character, for numbers that span a chunk boundary and for
  // faults, which are reported from here.
  std::string& text = m_text;
  text.clear();
  if (_Peek() == '-') text.push_back(static_cast<char>(_Get()));
  if (_Peek() == '0') {
    text.push_back(static_cast<char>(_Get()));
    if (_IsDigit(_Peek())) {
      _Report("[Vorn - JSON Parser] Invalid number: leading zero not allowed at line ");
      return std::int64_t{0};
    }
  } else if (_IsDigit(_Peek())) {
    while (_IsDigit(_Peek())) text.push_back(static_cast<char>(_Get()));
  } else {
    _Report("[Vorn - JSON Parser] Invalid number: expected digit after negative sign at line ");
    return std::int64_t{0};
  }
  bool integral = true;
  if (_Peek() == '.') {
    integral = false;
    text.push_back(static_cast<char>(_Get()));
    if (!_IsDigit(_Peek())) {
      _Report("[Vorn - JSON Parser] Invalid number: expected digit after '.' at line ");
      return std::int64_t{0};
    }
    while (_IsDigit(_Peek())) text.push_back(static_cast<char>(_Get()));
  }
  if (_Peek() == 'e' || _Peek() == 'E') {
    integral = false;
    text.push_back(static_cast<char>(_Get()));
    if (_Peek() == '+' || _Peek() == '-') text.push_back(static_cast<char>(_Get()));
    if (!_IsDigit(_Peek())) {
      _Report("[Vorn - JSON Parser] Invalid number: expected digit after exponent sign at line ");
      return std::int64_t{0};
    }
    while (_IsDigit(_Peek())) text.push_back(static_cast<char>(_Get()));
  }
  if (!_IsValueDelimiter(_Peek())) {
    _Report("[Vorn - JSON Parser] Invalid number: unexpected trailing characters after \"" + text + "\" at line ");
    return std::int64_t{0};
  }
  return _ConvertNumber(text.data(), text.data() + text.size(), integral);
}

// Reads a well-formed number lying wholly in the current window, followed by
// a delimiter. Anything else is left to the character-by-character reader.
bool VornJSONParser::_ScanNumberFast(Number& result) {
  const char* const start = m_cur;
  const char* const end = m_end;
  const char* p = start;
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  const char* const digits = p;
  if (p == end) return false;
  if (*p == '0') {
    ++p;
    if (p < end && IsDigitChar(*p)) return false;
  } else if (IsDigitChar(*p)) {
    while (p < end && IsDigitChar(*p)) ++p;
  } else {
    return false;
  }
  const char* const integerEnd = p;
  bool integral = true;
  if (p < end && *p == '.') {
    integral = false;
    ++p;
    if (p == end || !IsDigitChar(*p)) return false;
    while (p < end && IsDigitChar(*p)) ++p;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    integral = false;
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p == end || !IsDigitChar(*p)) return false;
    while (p < end && IsDigitChar(*p)) ++p;
  }
  if (p == end) {
    if (!m_sourceDone) return false;  // the number may go on in the next chunk
  } else if (!_IsValueDelimiter(static_cast<unsigned char>(*p))) {
    return false;
  }
  m_cur = p;
  m_column += static_cast<std::uint32_t>(p - start);
  if (integral && integerEnd - digits <= 18) {
    // Up to 18 digits cannot overflow.
    std::int64_t value = 0;
    for (const char* d = digits; d < integerEnd; ++d) value = value * 10 + (*d - '0');
    result = negative ? -value : value;
    return true;
  }
  result = _ConvertNumber(start, p, integral);
  return true;
}

VornJSONParser::Number VornJSONParser::_ConvertNumber(const char* first, const char* last, bool integral) {
  if (integral) {
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc() && ptr == last) return value;
    if (ec == std::errc::result_out_of_range && ptr == last) {
      if (first != m_text.data()) m_text.assign(first, last);
      return LongInteger{};
    }
  } else {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc() && ptr == last) return value;
    // A number too small for a double is read as zero, like any other
    // rounding; only overflow is a fault.
    if (ec == std::errc::result_out_of_range && IsUnderflow(first, last)) return *first == '-' ? -0.0 : 0.0;
  }
  _Report("[Vorn - JSON Parser] Invalid number format: cannot convert \"" + std::string(first, last) +
          "\" to number at line ");
  return std::int64_t{0};
}

VornJSONValue VornJSONParser::_BuildJSONNumberValue(const Number& number, bool absolute, bool integerExpected) {
  if (std::holds_alternative<LongInteger>(number)) {
    // Kept as written, like any integer a double cannot hold exactly; a
    // path segment needs an index and still refuses it.
    if (!integerExpected) return VornJSONValue(m_text);
    _Report("[Vorn - JSON Parser] Invalid number format: cannot convert \"" + m_text + "\" to number at line ");
    return VornJSONValue(std::int64_t{0});
  }
  std::int64_t integer = 0;
  if (const double* d = std::get_if<double>(&number)) {
    if (!integerExpected) return VornJSONValue(*d);
    if (!std::isfinite(*d)) {
      _Report("[Vorn - JSON Parser] Invalid numeric value (NaN/Inf) where an integer was expected at line ");
      return VornJSONValue();
    }
    // Truncation toward zero; doubles beyond the 64-bit range saturate
    // instead of being undefined behaviour.
    if (*d >= 9223372036854775808.0)
      integer = std::numeric_limits<std::int64_t>::max();
    else if (*d < -9223372036854775808.0)
      integer = std::numeric_limits<std::int64_t>::min();
    else
      integer = static_cast<std::int64_t>(*d);
  } else {
    integer = std::get<std::int64_t>(number);
  }
  if (absolute && integer < 0)
    integer = integer == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max()
                                                                  : -integer;
  // Compared without negating, so the most negative value cannot overflow.
  if (integer >= -kMaxExactInteger && integer <= kMaxExactInteger) return VornJSONValue(integer);
  return VornJSONValue(std::to_string(integer));
}

// ---- literals --------------------------------------------------------------

// A literal followed by a delimiter, wholly in the window: consumed at once.
// Anything else is left to the character-by-character readers.
bool VornJSONParser::_TakeLiteral(const char* word, std::size_t length) {
  if (static_cast<std::size_t>(m_end - m_cur) <= length || std::memcmp(m_cur, word, length) != 0 ||
      !_IsValueDelimiter(static_cast<unsigned char>(m_cur[length])))
    return false;
  m_cur += length;
  m_column += static_cast<std::uint32_t>(length);
  return true;
}

bool VornJSONParser::_ParseBoolean() {
  _SkipWhitespacesAndNewlines();
  const int c = _Get();
  if (c == 't') {
    if (_Get() != 'r' || _Get() != 'u' || _Get() != 'e')
      _Report("[Vorn - JSON Parser] Invalid boolean: expected 'true' at line ");
    else if (!_IsValueDelimiter(_Peek()))
      _Report("[Vorn - JSON Parser] Invalid boolean: unexpected trailing characters after 'true' at line ");
    return true;
  }
  if (c == 'f') {
    if (_Get() != 'a' || _Get() != 'l' || _Get() != 's' || _Get() != 'e')
      _Report("[Vorn - JSON Parser] Invalid boolean: expected 'false' at line ");
    else if (!_IsValueDelimiter(_Peek()))
      _Report("[Vorn - JSON Parser] Invalid boolean: unexpected trailing characters after 'false' at line ");
    return false;
  }
  _Report("[Vorn - JSON Parser] Expected boolean at line ");
  return false;
}

bool VornJSONParser::_ParseNull() {
  if (_Get() != 'n' || _Get() != 'u' || _Get() != 'l' || _Get() != 'l') {
    _Report("[Vorn - JSON Parser] Invalid null value at line ");
    return false;
  }
  if (!_IsValueDelimiter(_Peek())) {
    _Report("[Vorn - JSON Parser] Invalid null value: unexpected trailing characters after 'null' at line ");
    return false;
  }
  return true;
}

// ---- public operations -----------------------------------------------------

// Files are read strictly; one that cannot be opened gives an empty object,
// and so does a directory (it would open on Linux, then fail every read).
VornJSONValue VornJSONParser::ParseFile(const std::string& path) {
  std::ifstream file;
  if (!path.empty()) {
    const std::string native = KRTNativePath(path);
    std::error_code ec;
    if (!std::filesystem::is_directory(native, ec)) file.open(native, std::ios::in | std::ios::binary);
  }
  if (!file.is_open()) return VornJSONValue(VornJSONObject());
  return ParseStream(file, false);
}

VornJSONValue VornJSONParser::ParseStream(std::istream& input, bool lenient) {
  // A stream already in a failed state reads as an empty document.
  const std::istream::sentry ready(input, true);
  if (!ready) return VornJSONValue();
  VornJSONParser parser(input, lenient);
  return parser._StartParsing();
}

VornJSONValue VornJSONParser::ParseText(std::string_view text, bool lenient) {
  VornJSONParser parser(text, lenient);
  return parser._StartParsing();
}

VornJSONValue VornJSONParser::ParseSegment(const std::string& segment) {
  VornJSONParser parser(std::string_view(segment), true);
  return parser._StartStrOrIntParsing(true);
}

VornJSONObject VornJSONObject::BuildFromString(const std::string& text) {
  VornJSONParser parser(std::string_view(text), true);
  VornJSONValue result = parser._StartParsing();
  // The parse result is the only owner, so its object can be moved out.
  if (VornJSONObject* object = result.GetIfObject()) return std::move(*object);
  Vorn::RaiseError("[Vorn - JSON Object] Input string is not a valid JSON Object");
  return VornJSONObject();
}
