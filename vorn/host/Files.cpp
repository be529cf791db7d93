#include "vorn/host/Files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "vorn/host/Paths.h"
#include "vorn/host/Status.h"

struct KRTFile {
  std::FILE* stream;
};

namespace {

// The mode given to fopen ("e": close on exec), or empty when `mode` is not
// one we accept.
std::string CheckedMode(const char* mode) {
  if (!mode || mode[0] == '\0' || !std::strchr("rwa", mode[0])) return {};
  std::string out(1, mode[0]);
  for (const char* p = mode + 1; *p; ++p) {
    if (!std::strchr("+bx", *p) || out.find(*p) != std::string::npos) return {};
    out += *p;
  }
  if (out.find('x') != std::string::npos && out[0] != 'w') return {};  // "x" only with "w"
  return out + 'e';
}

}  // namespace

std::int32_t KRTFOpen(const char* path, const char* mode, KRTFile** file) {
  if (!file) return KRT_E_INVALID_ARGUMENT;
  *file = nullptr;
  if (!path || !*path) return KRT_E_INVALID_ARGUMENT;
  const std::string fopenMode = CheckedMode(mode);
  if (fopenMode.empty()) return KRT_E_INVALID_ARGUMENT;

  std::FILE* stream = std::fopen(KRTNativePath(path).c_str(), fopenMode.c_str());
  if (!stream) return KRTStatusFromErrno(errno);
  // fopen lets a directory be opened for reading; its reads would all fail.
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(stream);
    return KRT_E_INVALID_ARGUMENT;
  }
  KRTFile* handle = new (std::nothrow) KRTFile{stream};
  if (!handle) {
    std::fclose(stream);
    return KRT_E_NO_MEMORY;
  }
  *file = handle;
  return KRT_OK;
}

std::int32_t KRTFSize(KRTFile* file, std::uint64_t* size) {
  if (!file || !size) return KRT_E_INVALID_ARGUMENT;
  // Buffered writes are not yet in the file the system measures.
  if (std::fflush(file->stream) != 0) return KRTStatusFromErrno(errno);
  struct stat st;
  if (fstat(fileno(file->stream), &st) != 0) return KRTStatusFromErrno(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return KRT_OK;
}

std::int32_t KRTFGetc(KRTFile* file, unsigned char* byte) {
  if (!file || !byte) return KRT_E_INVALID_ARGUMENT;
  const int c = std::fgetc(file->stream);
  if (c == EOF) return std::ferror(file->stream) ? KRT_E_IO : KRT_E_END_OF_FILE;
  *byte = static_cast<unsigned char>(c);
  return KRT_OK;
}

std::int32_t KRTFEof(KRTFile* file) {
  if (!file) return KRT_E_INVALID_ARGUMENT;
  const int c = std::fgetc(file->stream);
  if (c == EOF) return std::ferror(file->stream) ? KRT_E_IO : 0;
  std::ungetc(c, file->stream);  // one byte of push-back is always available
  return 1;
}

std::int32_t KRTFWrite(KRTFile* file, const void* data, std::size_t count, std::size_t* written) {
  if (written) *written = 0;
  if (!file || (!data && count != 0)) return KRT_E_INVALID_ARGUMENT;
  if (count == 0) return KRT_OK;
  const std::size_t n = std::fwrite(data, 1, count, file->stream);
  if (written) *written = n;
  return n == count ? KRT_OK : KRTStatusFromErrno(errno);
}

std::int32_t KRTFClose(KRTFile* file) {
  if (!file) return KRT_E_INVALID_ARGUMENT;
  const int rc = std::fclose(file->stream);
  const int error = errno;
  delete file;
  return rc == 0 ? KRT_OK : KRTStatusFromErrno(error);
}
