#pragma once

#include "vorn/core/Export.h"

// Host environment lookup (Linux stand-in); the path search is in Paths.h.

// The value of the environment variable `name`, or null when it is not set.
// An empty value is returned as an empty string, not as null.
VORN_API const char* KRTGetEnv(const char* name);
