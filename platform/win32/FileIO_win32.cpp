// Windows implementation of the file port (CreateFile and its kin).
#include "platform/FileIO.h"
#include "platform/win32/WindowsGateway.h"

namespace port {
namespace {

HANDLE H(FileHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

constexpr std::size_t kMaxTransfer = 0x7fffffff;

} // namespace

FileHandle FileOpen(const char* path, unsigned access, FileCreation creation) {
    if (path == nullptr || *path == '\0')
        return kInvalidFile;
    DWORD desired = 0;
    if (access & kFileRead)
        desired |= GENERIC_READ;
    if (access & kFileWrite)
        desired |= GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (creation == FileCreation::CreateAlways)
        disposition = CREATE_ALWAYS;
    else if (creation == FileCreation::OpenAlways)
        disposition = OPEN_ALWAYS;
    const HANDLE h = ::CreateFileA(path, desired, FILE_SHARE_READ, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return kInvalidFile;
    return reinterpret_cast<FileHandle>(h);
}

int FileClose(FileHandle h) {
    if (h == kInvalidFile)
        return -1;
    return ::CloseHandle(H(h)) ? 0 : -1;
}

long FileRead(FileHandle h, void* buffer, std::size_t size) {
    DWORD done = 0;
    const DWORD n = static_cast<DWORD>(size > kMaxTransfer ? kMaxTransfer : size);
    if (!::ReadFile(H(h), buffer, n, &done, nullptr))
        return -1;
    return static_cast<long>(done);
}

long FileWrite(FileHandle h, const void* data, std::size_t size) {
    DWORD done = 0;
    const DWORD n = static_cast<DWORD>(size > kMaxTransfer ? kMaxTransfer : size);
    if (!::WriteFile(H(h), data, n, &done, nullptr))
        return -1;
    return static_cast<long>(done);
}

long long FileSeek(FileHandle h, long long distance, int method) {
    const DWORD how = method == 0   ? FILE_BEGIN
                      : method == 1 ? FILE_CURRENT
                      : method == 2 ? FILE_END
                                    : 0xffffffffu;
    if (how == 0xffffffffu)
        return -1;
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER now;
    if (!::SetFilePointerEx(H(h), move, &now, how))
        return -1;
    return now.QuadPart;
}

long long FileSize(FileHandle h) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(H(h), &size))
        return -1;
    return size.QuadPart;
}

int FileSetSize(FileHandle h, long long size) {
    if (size < 0)
        return -1;
    LARGE_INTEGER zero{};
    LARGE_INTEGER kept;
    if (!::SetFilePointerEx(H(h), zero, &kept, FILE_CURRENT))
        return -1;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool ok = ::SetFilePointerEx(H(h), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(H(h));
    ::SetFilePointerEx(H(h), kept, nullptr, FILE_BEGIN);
    return ok ? 0 : -1;
}

} // namespace port
