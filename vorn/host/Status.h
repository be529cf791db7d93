#pragma once

#include <cerrno>
#include <cstdint>

// Status codes of the host services: 0 is success and every failure is
// negative, so callers may test `< 0` without knowing the codes.
enum KRTStatus : std::int32_t {
  KRT_OK = 0,
  KRT_E_INVALID_ARGUMENT = -1,  // null or malformed argument
  KRT_E_NOT_FOUND = -2,         // no such file, directory, entry or registration
  KRT_E_ACCESS_DENIED = -3,
  KRT_E_IO = -4,                // any other refusal or failure of the system
  KRT_E_END_OF_FILE = -5,
  KRT_E_BUFFER_TOO_SMALL = -6,
  KRT_E_NO_MEMORY = -7,
  KRT_E_UNSUPPORTED = -8,       // the service does not exist on this host object
  KRT_E_INVALID_STATE = -9,     // e.g. reading a directory that is not open
};

// The status for a failed system call's errno value.
inline std::int32_t KRTStatusFromErrno(int error) noexcept {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return KRT_E_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return KRT_E_ACCESS_DENIED;
    case ENOMEM:
      return KRT_E_NO_MEMORY;
    case EINVAL:
      return KRT_E_INVALID_ARGUMENT;
    default:
      return KRT_E_IO;
  }
}
