#pragma once

#include <string>
#include <string_view>

#include "vorn/host/HostExport.h"

// Host path services (Linux stand-in).
//
// The library writes its relative paths with backslashes, as the host
// does on its native platform; every service here that touches the file
// system reads a backslash as "/".

// `path` with each backslash replaced by "/". Nothing else changes.
KRT_API std::string KRTNativePath(std::string_view path);

// Searches `relativePath` in each directory of `dirList` (directories
// separated by ";", in order) and returns the absolute, lexically normalised
// path of the first match, file or directory, with "/" separators. Returns
// the empty string when nothing matches or an argument is null.
//
// An empty piece of the list (";;", a leading or trailing ";", or an empty
// list) names no directory and never matches, so an unset install path does
// not fall back to the working directory. A relative directory is taken
// from the working directory. A leading separator of `relativePath` is
// ignored (the search stays inside each directory); an empty one finds the
// directory itself.
KRT_API std::string KRTFindPath(const char* relativePath, const char* dirList);
