#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// The "id" members of a well-formed JSON message as they are written: one
// entry for a request object, one per element for a batch (nothing for an
// element that is not an object or has no "id"; the first of a repeated
// "id", the one the parser keeps). The parsed model reads
// 12345678901234567890 as text and 1.0 as a double it writes "1"; answers
// echo the client's own spelling instead.
std::vector<std::optional<std::string>> RawIds(std::string_view message);

}  // namespace orvel
