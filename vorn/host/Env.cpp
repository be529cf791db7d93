#include "vorn/host/Env.h"

#include <cstdlib>

const char* KRTGetEnv(const char* name) { return name ? std::getenv(name) : nullptr; }
