#include "vorn/host/Directory.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "vorn/host/Paths.h"
#include "vorn/host/Status.h"

namespace {

struct DirCloser {
  void operator()(DIR* d) const noexcept { closedir(d); }
};

}  // namespace

std::int32_t KRTOpenDirectory(const KRTUnicodeString& path, KRTDirectory* directory) {
  if (!directory) return KRT_E_INVALID_ARGUMENT;
  if (directory->m_open) return KRT_E_INVALID_STATE;
  if (path.IsEmpty()) return KRT_E_NOT_FOUND;

  std::error_code ec;
  const std::filesystem::path native(KRTNativePath(path.View()));
  std::string absolute = std::filesystem::absolute(native, ec).lexically_normal().string();
  if (ec) return KRT_E_IO;
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();

  std::unique_ptr<DIR, DirCloser> dir(opendir(absolute.c_str()));
  if (!dir) return KRTStatusFromErrno(errno);
  try {
    std::vector<std::string> names;
    while (true) {
      errno = 0;
      const dirent* e = readdir(dir.get());
      if (!e) {
        if (errno != 0) return KRTStatusFromErrno(errno);
        break;
      }
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      names.emplace_back(e->d_name);
    }
    std::sort(names.begin(), names.end());
    directory->m_path = std::move(absolute);
    directory->m_names = std::move(names);
  } catch (const std::bad_alloc&) {
    return KRT_E_NO_MEMORY;
  }
  directory->m_next = 0;
  directory->m_open = true;
  return KRT_OK;
}

std::int32_t KRTReadDirectory(KRTDirectory* directory, KRTDirEntry* entry, int* endFlag, int mode) {
  if (!directory || !entry || !endFlag || mode != KRT_DIR_READ_ALL) return KRT_E_INVALID_ARGUMENT;
  if (!directory->m_open) return KRT_E_INVALID_STATE;
  if (directory->m_next >= directory->m_names.size()) {
    *endFlag = 1;
    return KRT_OK;
  }
  const std::string& name = directory->m_names[directory->m_next];
  try {
    std::string full = directory->m_path;
    if (full.back() != '/') full += '/';
    full += name;
    entry->name = KRTUnicodeString(std::string_view(name));
    entry->absolutePath = KRTUnicodeString(std::string_view(full));
  } catch (const std::bad_alloc&) {
    return KRT_E_NO_MEMORY;
  }
  ++directory->m_next;
  *endFlag = 0;
  return KRT_OK;
}

std::int32_t KRTCloseDirectory(KRTDirectory* directory) {
  if (!directory) return KRT_E_INVALID_ARGUMENT;
  if (!directory->m_open) return KRT_E_INVALID_STATE;
  directory->m_open = false;
  directory->m_path.clear();
  directory->m_names.clear();
  directory->m_next = 0;
  return KRT_OK;
}
