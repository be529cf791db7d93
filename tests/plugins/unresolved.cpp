// A plug-in that needs a function nobody defines: loading it must fail.
#include "vorn/core/Export.h"

extern "C" int VornTestPluginMissingFunction();

VORN_PLUGIN_EXPORT int VornTestPluginCallsMissing() { return VornTestPluginMissingFunction(); }
