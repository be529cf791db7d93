#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvel {

// One step of a path into a JSON document: a member name or an index.
using PathStep = std::variant<std::string, std::size_t>;
using JsonPath = std::vector<PathStep>;

// "contexts[0].views[1].class"
std::string FormatPath(const JsonPath& path);

// Finds where a value sits in the text of a well-formed JSON document, so
// that messages about its meaning can point at it as parse errors do.
// Member names are compared as written (escapes are not decoded).
struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 1;
};
// The position of the value at `path`, or of the deepest part of the path
// that exists.
TextPosition Locate(std::string_view text, const JsonPath& path);

}  // namespace orvel

namespace orvel {
// The first syntax error of `text` as a JSON document, with its position;
// an empty message when the text is well formed. (The library's parser says
// which line; hosts also want the column.)
struct SyntaxError {
  std::string message;
  TextPosition position;
};
SyntaxError CheckSyntax(std::string_view text);
}  // namespace orvel
