#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vorn/host/HostExport.h"
#include "vorn/host/UnicodeString.h"

// Host directory listing (Linux stand-in). Statuses as in Status.h; null
// arguments are refused with KRT_E_INVALID_ARGUMENT.

// One directory entry: its name and its absolute path ("/" separators).
struct KRT_API KRTDirEntry {
  KRTUnicodeString name;
  KRTUnicodeString absolutePath;
};

// Read modes of KRTReadDirectory.
inline constexpr int KRT_DIR_READ_ALL = 1;  // every entry but "." and "..", of any kind

class KRTDirectory;

// Opens the directory at `path` (backslashes read as "/"; a relative path
// is taken from the working directory). A directory that is already open
// is refused with KRT_E_INVALID_STATE; a path that is missing or is not a
// directory gives KRT_E_NOT_FOUND.
KRT_API std::int32_t KRTOpenDirectory(const KRTUnicodeString& path, KRTDirectory* directory);

// Reads the next entry. *endFlag is set to 1 when no entry remains (the
// entry is then left unchanged) and to 0 when an entry was read. `mode`
// must be KRT_DIR_READ_ALL. A directory that is not open gives
// KRT_E_INVALID_STATE.
KRT_API std::int32_t KRTReadDirectory(KRTDirectory* directory, KRTDirEntry* entry, int* endFlag, int mode);

// Closes the directory; it may then be opened again. Closing a directory
// that is not open gives KRT_E_INVALID_STATE.
KRT_API std::int32_t KRTCloseDirectory(KRTDirectory* directory);

// A directory being read; filled by KRTOpenDirectory. The listing is taken
// when the directory is opened and served sorted by name (byte order), so
// the order does not depend on the file system; entries created or removed
// afterwards are not seen. No system handle stays open between calls, so a
// directory dropped without KRTCloseDirectory leaks nothing.
class KRT_API KRTDirectory {
public:
  KRTDirectory() = default;
  ~KRTDirectory() = default;
  KRTDirectory(const KRTDirectory&) = delete;
  KRTDirectory& operator=(const KRTDirectory&) = delete;

  bool IsOpen() const noexcept { return m_open; }
  // Absolute path of the open directory; empty when closed.
  const std::string& Path() const noexcept { return m_path; }

private:
  friend std::int32_t KRTOpenDirectory(const KRTUnicodeString&, KRTDirectory*);
  friend std::int32_t KRTReadDirectory(KRTDirectory*, KRTDirEntry*, int*, int);
  friend std::int32_t KRTCloseDirectory(KRTDirectory*);

  std::string m_path;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
  bool m_open = false;
};
