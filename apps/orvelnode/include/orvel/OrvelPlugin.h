#pragma once

// For plug-ins whose contexts orvelnode creates from its manifest: exports,
// besides the usual creation symbols, "OrvelCreateContext_" + class name,
// which builds the context under the name and namespace the manifest gives.
// The class needs a constructor taking (const std::string& name, const
// std::string& nameSpace) and one taking nothing.
//
//   #include "orvel/OrvelPlugin.h"   // installed under include/orvel/
//   ORVEL_EXPORT_CONTEXT(MyContext)

#include <string>

#include "vorn/contexts/BaseContext.h"
#include "vorn/runtime/PluginExport.h"

#define ORVEL_EXPORT_CONTEXT(Class)                                                                       \
  VORN_EXPORT_PLUGIN_CLASS(VornBaseContext, Class)                                                        \
  VORN_PLUGIN_EXPORT VornBaseContext* OrvelCreateContext_##Class(const char* name, const char* nameSpace) { \
    return new Class(name ? name : "", nameSpace ? nameSpace : "");                                       \
  }
