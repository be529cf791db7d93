#pragma once

#include "vorn/core/Export.h"

// Host environment and path services (Linux stand-in).

// The value of the environment variable `name`, or null when it is not set.
// An empty value is returned as an empty string, not as null.
VORN_API const char* KRTGetEnv(const char* name);
