// Windows implementation of the mapped-file port (CreateFileMapping,
// MapViewOfFile).
#include "platform/MappedFile.h"
#include "platform/win32/WindowsGateway.h"

namespace port {

MappedFile::~MappedFile() {
    Unmap();
}

bool MappedFile::Map(FileHandle file, std::uint64_t size, bool writable) {
    Unmap();
    if (file == kInvalidFile)
        return false;
    if (size > 0) {
        // A mapping object of size 0 cannot exist; an empty view needs none.
        const HANDLE mapping = ::CreateFileMappingA(
            reinterpret_cast<HANDLE>(file), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
            static_cast<DWORD>(size >> 32), static_cast<DWORD>(size & 0xffffffffu), nullptr);
        if (mapping == nullptr)
            return false;
        void* view = ::MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                                     static_cast<SIZE_T>(size));
        if (view == nullptr) {
            ::CloseHandle(mapping);
            return false;
        }
        m_hMapping = reinterpret_cast<std::intptr_t>(mapping);
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
    return ::FlushViewOfFile(m_pView, 0) != 0;
}

bool MappedFile::Unmap() {
    if (!m_bMapped)
        return true;
    bool ok = Flush();
    if (m_pView != nullptr && !::UnmapViewOfFile(m_pView))
        ok = false;
    // The file's end can only move once the mapping object is gone.
    if (m_hMapping != 0 && !::CloseHandle(reinterpret_cast<HANDLE>(m_hMapping)))
        ok = false;
    m_hMapping = 0;
    m_pView = nullptr;
    m_nSize = 0;
    m_bWritable = false;
    m_bMapped = false;
    return ok;
}

} // namespace port
