#pragma once

// Everything the library exports is marked with VORN_API; the rest stays
// hidden (the library is built with hidden default visibility). The same
// marking serves the library and its users on ELF platforms.
#define VORN_API __attribute__((visibility("default")))

// For symbols a plug-in library exports with C linkage.
#define VORN_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
