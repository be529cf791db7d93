#pragma once

#include "vorn/host/HostExport.h"

// Host environment lookup (Linux stand-in); the path search is in Paths.h.

// The value of the environment variable `name`, or null when it is not set.
// An empty value is returned as an empty string, not as null.
KRT_API const char* KRTGetEnv(const char* name);
