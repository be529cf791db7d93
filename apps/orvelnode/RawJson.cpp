#include "RawJson.h"

namespace orvel {
namespace {

std::size_t SkipSpace(std::string_view s, std::size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  return i;
}

// The end of the value starting at `i` (the text is known to be well formed).
std::size_t SkipValue(std::string_view s, std::size_t i) {
  if (i >= s.size()) return i;
  if (s[i] == '"') {
    // The next quote that an odd run of backslashes does not escape.
    const std::size_t start = ++i;
    for (std::size_t quote; (quote = s.find('"', i)) != std::string_view::npos; i = quote + 1) {
      std::size_t backslashes = 0;
      while (quote - backslashes > start && s[quote - backslashes - 1] == '\\') ++backslashes;
      if (backslashes % 2 == 0) return quote + 1;
    }
    return s.size();
  }
  if (s[i] == '{' || s[i] == '[') {
    int depth = 0;
    for (; i < s.size(); ++i) {
      const char c = s[i];
      if (c == '"') i = SkipValue(s, i) - 1;
      else if (c == '{' || c == '[') ++depth;
      else if ((c == '}' || c == ']') && --depth == 0) return i + 1;
    }
    return i;
  }
  while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']' && s[i] != ' ' && s[i] != '\t' && s[i] != '\n' &&
         s[i] != '\r')
    ++i;
  return i;
}

// The raw "id" of the object starting at `i`: the first one, as the parser
// keeps the first of a repeated key. With `toEnd`, `i` ends past the object
// (a batch goes on after it); otherwise the scan stops at that id.
std::optional<std::string> ObjectId(std::string_view s, std::size_t& i, bool toEnd) {
  std::optional<std::string> id;
  i = SkipSpace(s, i + 1);
  while (i < s.size() && s[i] != '}') {
    const std::size_t keyEnd = SkipValue(s, i);
    const bool isId = !id && s.substr(i, keyEnd - i) == "\"id\"";
    i = SkipSpace(s, SkipSpace(s, keyEnd) + 1);  // past the colon
    const std::size_t valueEnd = SkipValue(s, i);
    if (isId) {
      id = std::string(s.substr(i, valueEnd - i));
      if (!toEnd) return id;
    }
    i = SkipSpace(s, valueEnd);
    if (i < s.size() && s[i] == ',') i = SkipSpace(s, i + 1);
  }
  ++i;
  return id;
}

}  // namespace

std::vector<std::optional<std::string>> RawIds(std::string_view message) {
  std::vector<std::optional<std::string>> ids;
  std::size_t i = SkipSpace(message, 0);
  if (i >= message.size()) return ids;
  if (message[i] == '{') {
    ids.push_back(ObjectId(message, i, false));
    return ids;
  }
  if (message[i] != '[') return ids;
  i = SkipSpace(message, i + 1);
  while (i < message.size() && message[i] != ']') {
    if (message[i] == '{') ids.push_back(ObjectId(message, i, true));
    else ids.emplace_back(), i = SkipValue(message, i);
    i = SkipSpace(message, i);
    if (i < message.size() && message[i] == ',') i = SkipSpace(message, i + 1);
  }
  return ids;
}

}  // namespace orvel
