#pragma once

#include <cstddef>
#include <cstdint>

#include "vorn/host/HostExport.h"

// Host file functions (Linux stand-in over C streams). Every function
// returns a status (Status.h): KRT_OK or another non-negative answer on
// success, a negative code on failure. Null arguments are refused with
// KRT_E_INVALID_ARGUMENT, never dereferenced.

// An open file; only the functions below use it.
struct KRTFile;

// Opens `path` (backslashes read as "/") with an fopen mode: "r", "w" or
// "a", optionally followed by "+", "b" and "x" ("b" changes nothing here).
// The descriptor is not inherited by child processes. A directory is
// refused (KRT_E_INVALID_ARGUMENT) even for reading. On success *file
// receives a handle to release with KRTFClose; on failure it is set to null.
KRT_API std::int32_t KRTFOpen(const char* path, const char* mode, KRTFile** file);

// The file's size in bytes, as the file system reports it now.
KRT_API std::int32_t KRTFSize(KRTFile* file, std::uint64_t* size);

// Reads the next byte into *byte. At the end of the file: KRT_E_END_OF_FILE.
KRT_API std::int32_t KRTFGetc(KRTFile* file, unsigned char* byte);

// Inverted end-of-file test, as the host defines it: answers 1 while at
// least one byte remains to be read and 0 at the end of the file, so that
// readers loop `while (KRTFEof(f))`. Unlike feof() it looks ahead, so an
// empty file answers 0 before any read. A read error or a null file gives a
// negative status, which a `while (KRTFEof(f))` loop treats as "bytes
// remain"; the read that follows then fails too. Test `> 0` to exclude it.
KRT_API std::int32_t KRTFEof(KRTFile* file);

// Writes `count` bytes from `data`; *written (when not null) receives the
// count actually written, which is less than `count` only on failure.
// Writing 0 bytes succeeds even with null data.
KRT_API std::int32_t KRTFWrite(KRTFile* file, const void* data, std::size_t count, std::size_t* written);

// Flushes and closes the file and releases the handle, even when flushing
// fails (that failure is still reported: written data may be lost).
KRT_API std::int32_t KRTFClose(KRTFile* file);
