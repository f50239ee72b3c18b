// Port: a view of a whole file mapped into memory (CreateFileMapping and
// MapViewOfFile on Windows, mmap on POSIX).
#pragma once

#include "platform/FileIO.h"

#include <cstdint>

namespace port {

// Owns one mapping of bytes [0, size) of a file and its view. Unmapping (also
// on destruction) flushes a writable view first. A mapping of size 0 is
// valid and has no view.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();

    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the first size bytes of the file, which must be at least that
    // long; writable needs a file opened for writing. Unmaps a previous
    // view first. False (nothing mapped) on failure.
    bool Map(FileHandle file, std::uint64_t size, bool writable);
    // Writes a writable view's changes to the file. False on failure.
    bool Flush();
    // Flushes and unmaps. False when the flush or the unmap failed; the view
    // is gone either way.
    bool Unmap();

    char* Data() const { return static_cast<char*>(m_pView); }
    std::uint64_t Size() const { return m_nSize; }
    bool IsMapped() const { return m_bMapped; }

private:
#ifdef _WIN32
    std::intptr_t m_hMapping = 0; // the file-mapping object behind the view
#endif
    void* m_pView = nullptr;
    std::uint64_t m_nSize = 0;
    bool m_bWritable = false;
    bool m_bMapped = false;
};

} // namespace port
