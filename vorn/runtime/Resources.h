#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/core/Function.h"
#include "vorn/host/UnicodeString.h"
#include "vorn/json/Array.h"
#include "vorn/json/Object.h"
#include "vorn/json/Value.h"

// Resource files under the host installation, plain files, and small
// resource files kept in the host's temporary directory.
//
// Paths are written with backslashes, as on the host's native platform; the
// host services translate them where a path reaches the file system. Two
// settings are read once, while the library loads, and never again:
// "KRTInstallPath", a ";"-separated list of installation directories, and
// "KRTTemp", the temporary directory. An unset variable reads as empty.
namespace Vorn {

// The library's own resource folder, relative to an installation directory.
inline constexpr std::string_view kVornResourceFolder = "resources\\Vorn\\";
// Its name, as the `folder` argument of the functions below takes it.
inline constexpr std::string_view kVornFolderName = "Vorn";
// Suffix of resource files.
inline constexpr std::string_view kResourceFileSuffix = ".json";

// The two settings read at load.
VORN_API const std::string& GetInstallPath();
VORN_API const std::string& GetTempDirectory();

// --- resource paths -------------------------------------------------------------

// Absolute path of the resource "resources\<folder>\<file>" in the first
// installation directory holding it, or "" when none does. ".json" is
// appended to `file` unless it already ends with exactly ".json" (case
// matters: "a.JSON" becomes "a.JSON.json"). An empty `file` names the
// folder itself ("resources\<folder>", no separator, no suffix).
VORN_API std::string BuildRscFilePath(const std::string& folder, const std::string& file);

// In installation-path order, the absolute path of `relativePath` in every
// installation directory that holds it. Empty pieces of the list are kept
// as directories of their own; they never hold anything.
VORN_API std::vector<std::string> SearchPathsFromInstall(const std::string& relativePath);

// --- reading and writing files --------------------------------------------------

// A binary input stream on the resource BuildRscFilePath gives for the same
// arguments. A resource that is not found, cannot be opened or is a
// directory leaves the stream failed; nothing is reported.
VORN_API std::ifstream LoadResourceFile(const std::string& folder, const std::string& file);

// A binary input stream on `path` as given (backslashes read as "/"). A file
// that cannot be opened, or a directory, leaves the stream failed.
VORN_API std::ifstream LoadFile(const std::string& path);

// Status of WriteFile when the file cannot be written.
inline constexpr std::int32_t kWriteFileFailed = static_cast<std::int32_t>(0x80004005u);

// Writes the whole UTF-8 text of `content` to the file `path` (created, or
// truncated when it exists). Returns 0 on success and kWriteFileFailed when
// the file cannot be opened, or when writing or closing it fails, so a
// full disk is not mistaken for success.
VORN_API std::int32_t WriteFile(const KRTUnicodeString& path, const KRTUnicodeString& content);

// The Base64 text (RFC 4648, padded, no line breaks) of the file's bytes, or
// "" on any failure. The file's size is taken when it is opened: bytes
// appended afterwards are ignored, and a file that shrinks meanwhile gives
// the Base64 of the bytes actually read.
VORN_API KRTUnicodeString GetFileAsBase64(const KRTUnicodeString& path);

// The extension of the path's file name: "." and what follows the last dot
// of the name; "" for a name that is "." or "..", has no dot, or whose only
// dot is its first character. Both "\" and "/" separate directories, a
// leading drive ("C:") is not part of the name, and a ":" inside the name
// ends it (an alternate-stream suffix is not part of the extension). With
// `dropDot` the leading "." of a non-empty extension is removed.
VORN_API std::string GetFileExtension(const std::string& path, bool dropDot);

// Absolute path of `fileName` found by the host path search: in the
// installation directories when `searchPaths` is empty, otherwise in those
// directories in their order. "" when nothing is found.
VORN_API std::string GetFileFullPath(const std::string& fileName, const std::vector<std::string>& searchPaths);

// --- resource directories and JSON resources ------------------------------------

// Calls `callback` once for every entry whose name ends with ".json" (files
// and directories alike) in "resources\<folder>" of every installation
// directory, in installation-path order, each directory's entries in the
// host's order (sorted by name here). The object passed holds "name" and
// "absPath" (absolute, "/" separators). Sub-directories are not descended
// into; a directory that cannot be opened or read is skipped silently. An
// empty callback is reported and nothing is read.
VORN_API void ReadRscDirectory(const std::string& folder, const Function<void(const VornJSONObject&)>& callback);

// The resource "resources\<folder>\<file>" (found as LoadResourceFile
// finds it) parsed strictly: a value holding an empty object when the
// resource cannot be read.
VORN_API VornJSONValue LoadResourceJSON(const std::string& folder, const std::string& file);

// One object per entry ReadRscDirectory finds for `folder`, in its order:
// "fileName" (the entry's name), "filePath" (its absolute path) and
// "fileContent" (the parsed content of that very file). Each entry is read
// from its own path: when two installation directories hold files of the
// same name, each object carries its own file's content.
VORN_API VornJSONArray ParseJSONsFromRscDir(const std::string& folder);

// --- temporary resource files ---------------------------------------------------

// Path of a temporary resource: "<temp>\resources\<folder>\<file>", no
// suffix added; "" when the temporary directory is not set, so that an unset
// "KRTTemp" never sends files to the root of the file system.
VORN_API std::string BuildTempResourcePath(const std::string& folder, const std::string& file);

// Appends `content` and a line feed to the temporary resource, creating it
// and its missing directories. A directory that cannot be created throws
// std::filesystem::filesystem_error ("create_directories"), whatever the
// error policy. Returns the stream, closed; it is failed when the file
// could not be opened (nothing is then written, and this includes an unset
// temporary directory) or when writing or closing failed.
VORN_API std::ofstream CreateTempResourceFile(const std::string& folder, const std::string& file,
                                              const std::string& content);

// The whole content of the temporary resource, or "" when it cannot be
// opened (or is empty).
VORN_API std::string TempResourceFileExists(const std::string& folder, const std::string& file);

}  // namespace Vorn
