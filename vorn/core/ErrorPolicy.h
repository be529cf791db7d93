#pragma once

#include <string>
#include <string_view>

#include "vorn/core/Export.h"

// The library's error policy. Errors of use or data are reported through
// RaiseError: with "VORN_USE_STD_EXCEPTIONS" set in the environment when the
// library is loaded it throws a standard exception whose what() is exactly the
// message; otherwise the message goes to KRTSysLogAbend and RaiseError returns,
// leaving the caller to return its failure value. Both switches are read once,
// at load; an empty value counts as set.
namespace Vorn {

VORN_API bool UsesStdExceptions() noexcept;  // "VORN_USE_STD_EXCEPTIONS"
VORN_API bool LogsEnabled() noexcept;        // "VORN_LOGS_ENABLED"

// Throws std::runtime_error(message) or calls KRTSysLogAbend(message).
VORN_API void RaiseError(const char* message);
VORN_API void RaiseError(const std::string& message);

// The same, with std::overflow_error; used for the hash table's capacity errors.
VORN_API void RaiseOverflowError(const char* message);

// Writes "[Vorn][ERROR] " + message + newline to standard output and flushes,
// when logs are enabled; otherwise does nothing. For refusals that are
// harmless to refuse.
VORN_API void LogError(std::string_view message);

}  // namespace Vorn
