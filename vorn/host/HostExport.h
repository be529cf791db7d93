#pragma once

// The host framework marks what it exports with KRT_API. Its stand-ins are
// built into the library, which hides everything it does not mark, so they
// are exported the same way the library's own symbols are; the host keeps
// its own marker because it sits below the library and includes nothing of it.
#define KRT_API __attribute__((visibility("default")))
