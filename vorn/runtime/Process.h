#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vorn/core/Export.h"

// Questions about the running process, identifiers and aligned memory.
namespace Vorn {

// A new universally unique identifier as text: a fresh host identifier
// written in the host's canonical form (36 lower-case hexadecimal digits and
// hyphens here). Nothing in the library parses it.
VORN_API std::string GenerateUUID();

// True when the process runs inside the node-style host executable, whose
// name is "orvelnode": the full path of the process executable, lower-cased,
// contains that name anywhere (a directory of that name counts too). The
// answer is computed on the first call and kept; concurrent first calls
// compute the same answer. The whole path is examined, however long.
VORN_API bool IsInXApp();

// True when the host's main application exists and is of the class kind
// "KRTInteractiveApplication". Computed once, on the first call (thread-safe),
// so the host must install its application before the library first asks.
VORN_API bool IsKRTInteractiveApplication();

// Memory aligned to `alignment` bytes. An alignment of 8 or less uses the
// ordinary allocator, which throws std::bad_alloc when memory is exhausted;
// a larger alignment uses the platform's aligned allocation, which returns
// null on failure, and also when the alignment is not a power of two.
// Release with AlignedFree and the same alignment; null is ignored.
VORN_API void* AlignedAlloc(std::uint64_t size, std::uint64_t alignment);
VORN_API void AlignedFree(void* pointer, std::uint64_t alignment);

namespace _Internal_ {
// The test IsInXApp applies to the executable's path (exposed for tests).
VORN_API bool IsNodeHostPath(std::string_view executablePath);
}  // namespace _Internal_

}  // namespace Vorn
