// POSIX implementation of the mapped-file port (mmap).
#include "platform/MappedFile.h"

#include <sys/mman.h>

namespace port {

MappedFile::~MappedFile() {
    Unmap();
}

bool MappedFile::Map(FileHandle file, std::uint64_t size, bool writable) {
    Unmap();
    if (file == kInvalidFile)
        return false;
    if (size > 0) {
        void* view =
            ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | (writable ? PROT_WRITE : 0),
                   MAP_SHARED, static_cast<int>(file), 0);
        if (view == MAP_FAILED)
            return false;
        m_pView = view;
    }
    m_nSize = size;
    m_bWritable = writable;
    m_bMapped = true;
    return true;
}

bool MappedFile::Flush() {
    if (m_pView == nullptr || !m_bWritable)
        return true;
    return ::msync(m_pView, static_cast<std::size_t>(m_nSize), MS_SYNC) == 0;
}

bool MappedFile::Unmap() {
    if (!m_bMapped)
        return true;
    bool ok = Flush();
    if (m_pView != nullptr && ::munmap(m_pView, static_cast<std::size_t>(m_nSize)) != 0)
        ok = false;
    m_pView = nullptr;
    m_nSize = 0;
    m_bWritable = false;
    m_bMapped = false;
    return ok;
}

} // namespace port
