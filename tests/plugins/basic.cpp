// A minimal plug-in library for the loader tests: plain C functions and one
// piece of state, so that unloading and reloading can be observed.
#include "vorn/core/Export.h"

namespace {
int g_calls = 0;
}

VORN_PLUGIN_EXPORT int VornTestPluginAnswer() { return 42; }

// 1 on the first call after each load, then 2, 3, ...
VORN_PLUGIN_EXPORT int VornTestPluginNextCall() { return ++g_calls; }
