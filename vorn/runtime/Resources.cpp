#include "vorn/runtime/Resources.h"

#include <cstddef>
#include <exception>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <utility>

#include "vorn/core/ErrorPolicy.h"
#include "vorn/host/CodePage.h"
#include "vorn/host/Directory.h"
#include "vorn/host/Env.h"
#include "vorn/host/Files.h"
#include "vorn/host/Paths.h"
#include "vorn/json/Parser.h"

namespace fs = std::filesystem;

namespace Vorn {

namespace {

struct Settings {
  std::string installPath;
  std::string tempDirectory;
};

std::string ReadVariable(const char* name) {
  const char* value = KRTGetEnv(name);
  return value ? std::string(value) : std::string();
}

// A function-local static, so that code running in other static initialisers
// finds the settings too; the namespace-scope reference below makes the read
// happen at load even when nothing asks for them.
const Settings& GetSettings() {
  static const Settings s{ReadVariable("KRTInstallPath"), ReadVariable("KRTTemp")};
  return s;
}
[[maybe_unused]] const Settings& g_readAtLoad = GetSettings();

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Opens `path` for binary reading; an empty path or a directory leaves the
// stream failed (a directory would open on Linux and then fail every read).
void OpenForReading(std::ifstream& stream, const std::string& path) {
  if (path.empty()) {
    stream.setstate(std::ios::failbit);
    return;
  }
  const std::string native = KRTNativePath(path);
  std::error_code ec;
  if (fs::is_directory(native, ec)) {
    stream.setstate(std::ios::failbit);
    return;
  }
  stream.open(native, std::ios::in | std::ios::binary);
}

std::string ResourceRelativePath(const std::string& folder) {
  std::string relative = "resources\\";
  relative += folder;
  return relative;
}

}  // namespace

const std::string& GetInstallPath() { return GetSettings().installPath; }
const std::string& GetTempDirectory() { return GetSettings().tempDirectory; }

// --- resource paths -------------------------------------------------------------

std::string BuildRscFilePath(const std::string& folder, const std::string& file) {
  std::string relative = ResourceRelativePath(folder);
  if (!file.empty()) {
    relative += '\\';
    relative += file;
    if (!EndsWith(file, kResourceFileSuffix)) relative += kResourceFileSuffix;
  }
  return KRTFindPath(relative.c_str(), GetInstallPath().c_str());
}

std::vector<std::string> SearchPathsFromInstall(const std::string& relativePath) {
  std::vector<std::string> found;
  std::string_view rest = GetInstallPath();
  while (true) {
    const std::size_t separator = rest.find(';');
    // Each piece is searched on its own, so every directory holding the
    // path is listed, not only the first.
    const std::string directory(rest.substr(0, separator));
    std::string match = KRTFindPath(relativePath.c_str(), directory.c_str());
    if (!match.empty()) found.push_back(std::move(match));
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + 1);
  }
  return found;
}

// --- reading and writing files --------------------------------------------------

std::ifstream LoadResourceFile(const std::string& folder, const std::string& file) {
  std::ifstream stream;
  OpenForReading(stream, BuildRscFilePath(folder, file));
  return stream;
}

std::ifstream LoadFile(const std::string& path) {
  std::ifstream stream;
  OpenForReading(stream, path);
  return stream;
}

std::int32_t WriteFile(const KRTUnicodeString& path, const KRTUnicodeString& content) {
  std::ofstream stream(KRTNativePath(path.CastToCharPtr()), std::ios::out | std::ios::trunc | std::ios::binary);
  if (!stream.is_open()) return kWriteFileFailed;
  // Every byte of the UTF-8 text: its character count would cut multi-byte
  // text short.
  const std::string_view bytes = content.View();
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream.close();
  return stream.fail() ? kWriteFileFailed : 0;
}

KRTUnicodeString GetFileAsBase64(const KRTUnicodeString& path) {
  KRTFile* file = nullptr;
  if (KRTFOpen(path.CastToCharPtr(), "rb", &file) < 0) return {};
  // Closes the file on every way out, the throwing ones included.
  struct Closer {
    KRTFile* file;
    ~Closer() { KRTFClose(file); }
  } closer{file};

  std::uint64_t size = 0;
  if (KRTFSize(file, &size) < 0) return {};
  std::vector<unsigned char> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(size));
  } catch (const std::exception&) {  // too large to hold
    return {};
  }
  std::size_t count = 0;
  while (count < buffer.size()) {
    const std::int32_t remaining = KRTFEof(file);
    if (remaining == 0) break;  // the file shrank since its size was taken
    if (remaining < 0) return {};
    if (KRTFGetc(file, &buffer[count]) < 0) return {};
    ++count;
  }

  char* text = nullptr;
  KRTUnicodeString result;
  if (KRTCodePage::ConvertToBase64(buffer.data(), count, &text) >= 0 && text) result = KRTUnicodeString(text);
  KRTCodePage::FreeText(text);
  return result;
}

std::string GetFileExtension(const std::string& path, bool dropDot) {
  std::string_view name = path;
  // A drive ("C:") belongs to the root, not to the file name.
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    name.remove_prefix(2);
  const std::size_t separator = name.find_last_of("\\/");
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  name = name.substr(0, name.find(':'));  // an alternate-stream suffix is not part of the name
  if (name == "." || name == "..") return {};
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return std::string(name.substr(dropDot ? dot + 1 : dot));
}

std::string GetFileFullPath(const std::string& fileName, const std::vector<std::string>& searchPaths) {
  if (searchPaths.empty()) return KRTFindPath(fileName.c_str(), GetInstallPath().c_str());
  std::string list;
  for (std::size_t i = 0; i < searchPaths.size(); ++i) {
    if (i) list += ';';
    list += searchPaths[i];
  }
  return KRTFindPath(fileName.c_str(), list.c_str());
}

// --- resource directories and JSON resources ------------------------------------

void ReadRscDirectory(const std::string& folder, const Function<void(const VornJSONObject&)>& callback) {
  if (!callback) {
    RaiseError("[Vorn - Read Directory] Callback Missing in function ReadRscDirectory");
    return;
  }
  for (const std::string& path : SearchPathsFromInstall(ResourceRelativePath(folder))) {
    KRTUnicodeString hostPath;
    if (!path.empty()) hostPath.BuildFromUTF8(path.data(), path.size());
    KRTDirectory directory;
    if (KRTOpenDirectory(hostPath, &directory) < 0) continue;
    while (true) {
      KRTDirEntry entry;
      int endFlag = 0;
      if (KRTReadDirectory(&directory, &entry, &endFlag, KRT_DIR_READ_ALL) < 0 || endFlag) break;
      const std::string name(entry.name.View());
      if (!EndsWith(name, kResourceFileSuffix)) continue;
      const VornJSONObject found{{"name", name}, {"absPath", std::string(entry.absolutePath.View())}};
      callback(found);
    }
    KRTCloseDirectory(&directory);
  }
}

// Found and opened here, then parsed: the parser knows nothing of resources.
VornJSONValue LoadResourceJSON(const std::string& folder, const std::string& file) {
  std::ifstream stream = LoadResourceFile(folder, file);
  if (!stream) return VornJSONValue(VornJSONObject());
  return VornJSONParser::ParseStream(stream, false);
}

VornJSONArray ParseJSONsFromRscDir(const std::string& folder) {
  VornJSONArray result;
  ReadRscDirectory(folder, [&result](const VornJSONObject& entry) {
    const VornJSONValue& path = entry.Get("absPath");
    VornJSONObject item;
    item.Insert("fileName", entry.Get("name"));
    item.Insert("filePath", path);
    // The entry's own file: searching the name again would give the first
    // installation directory's file for every directory's entry.
    item.Insert("fileContent", VornJSONParser::ParseFile(path.Get<std::string>()));
    result.PushBack(VornJSONValue(std::move(item)));
  });
  return result;
}

// --- temporary resource files ---------------------------------------------------

std::string BuildTempResourcePath(const std::string& folder, const std::string& file) {
  const std::string& temp = GetTempDirectory();
  if (temp.empty()) return {};
  std::string path = temp;
  path.append("\\resources\\").append(folder).append("\\").append(file);
  return path;
}

std::ofstream CreateTempResourceFile(const std::string& folder, const std::string& file,
                                     const std::string& content) {
  std::ofstream stream;
  const std::string path = BuildTempResourcePath(folder, file);
  if (path.empty()) {
    stream.setstate(std::ios::failbit);
    return stream;
  }
  const fs::path native(KRTNativePath(path));
  const fs::path parent = native.parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) throw fs::filesystem_error("create_directories", parent, ec);
  }
  stream.open(native, std::ios::out | std::ios::app | std::ios::binary);
  if (stream.is_open()) {
    stream << content << '\n';
    stream.close();
  }
  return stream;
}

std::string TempResourceFileExists(const std::string& folder, const std::string& file) {
  std::ifstream stream;
  OpenForReading(stream, BuildTempResourcePath(folder, file));
  if (!stream.is_open()) return {};
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}

}  // namespace Vorn
