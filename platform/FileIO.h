// Port: file I/O by handle (CreateFile and its kin on Windows, open(2) on
// POSIX). Thin functions with the platform's semantics; paths are 8-bit
// texts in the system code page. Whole-file operations, removal and
// existence checks are in platform/Files.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace port {

// A HANDLE on Windows, a file descriptor on POSIX. -1 is "none" on both
// (INVALID_HANDLE_VALUE).
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Access bits.
inline constexpr unsigned kFileRead = 1;
inline constexpr unsigned kFileWrite = 2;

// What to do about an existing or missing file (CreateFile's dispositions).
enum class FileCreation {
    OpenExisting, // fail when missing
    CreateAlways, // create, or truncate an existing file
    OpenAlways,   // open, or create when missing
};

// Opens with shared reading (others may read while it is open) and normal
// attributes. kInvalidFile on failure.
FileHandle FileOpen(const char* path, unsigned access, FileCreation creation);
// 0, or -1 on failure.
int FileClose(FileHandle h);
// Bytes moved (Read: 0 at the end), -1 on failure. One call moves at most
// 0x7fffffff bytes.
long FileRead(FileHandle h, void* buffer, std::size_t size);
long FileWrite(FileHandle h, const void* data, std::size_t size);
// method: 0 from the start, 1 from the current position, 2 from the end.
// The new position, or -1 on failure.
long long FileSeek(FileHandle h, long long distance, int method);
// The file's size, or -1.
long long FileSize(FileHandle h);
// Makes the file exactly size bytes long (zeros when it grows); the file
// position is kept. 0, or -1 on failure.
int FileSetSize(FileHandle h, long long size);

} // namespace port
