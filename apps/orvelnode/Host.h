#pragma once

#include <string>
#include <vector>

#include "Manifest.h"

namespace orvel {

// Loads what the manifest names, in its order: plug-ins, dictionaries,
// data types, tweaker files, then the contexts with their views and
// initial data. Runs on the main thread. A plug-in that does not load, a
// class that is not a context, or a context name already taken is thrown as
// a ManifestError pointing at the entry. Those libraries are also the only
// ones clients may name (vorn.callLibrary), found in `pluginFolders` only.
void StartHost(const Manifest& manifest, const std::vector<std::string>& pluginFolders);

}  // namespace orvel
