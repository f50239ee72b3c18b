// Win32 half of the file port.
#include "platform/Files.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WindowsGateway.h"

#include <atomic>
#include <string>

namespace port {
namespace {

bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
}

// A file that another process holds open without FILE_SHARE_DELETE cannot be
// replaced or moved until it is closed; such holds are short (a reader, a
// virus scanner), so these errors are worth a few retries.
bool IsTransientShareError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

constexpr int kShareRetries = 100;
constexpr DWORD kShareRetryPauseMs = 20;

bool WriteAll(HANDLE file, const std::string& content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        left -= written;
    }
    return true;
}

std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1));
}

} // namespace

FileReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    UniqueHandle file;
    for (int attempt = 0;; ++attempt) {
        // FILE_SHARE_DELETE lets a writer rename a new file over this one
        // while it is being read.
        file.Reset(::CreateFileA(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            break;
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return FileReadResult::Missing;
        // Only a sharing violation passes; access denied is for good here.
        if (error != ERROR_SHARING_VIOLATION || attempt >= kShareRetries)
            return FileReadResult::Failed;
        ::Sleep(kShareRetryPauseMs);
    }
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            content.clear();
            return FileReadResult::Failed;
        }
        if (got == 0)
            return FileReadResult::Ok;
        content.append(buffer, got);
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
    std::string temp;
    UniqueHandle file;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        temp = TemporaryName(path);
        file.Reset(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (!file)
        return false;
    bool ok = WriteAll(file.Get(), content) && ::FlushFileBuffers(file.Get());
    DWORD error = ::GetLastError();
    if (!file.Close() && ok) {
        ok = false;
        error = ::GetLastError();
    }
    for (int attempt = 0; ok; ++attempt) {
        if (::MoveFileExA(temp.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        error = ::GetLastError();
        // A folder in the way denies access for good.
        if (!IsTransientShareError(error) || attempt >= kShareRetries || IsFolder(path))
            ok = false;
        else
            ::Sleep(kShareRetryPauseMs);
    }
    ::DeleteFileA(temp.c_str());
    return Fail(error);
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if (!IsTransientShareError(error) || attempt >= kShareRetries)
            return Fail(error);
        ::Sleep(kShareRetryPauseMs);
    }
}

bool RemoveFile(const std::string& path) {
    if (::DeleteFileA(path.c_str()))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || Fail(error);
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolder(const std::string& path) {
    if (::CreateDirectoryA(path.c_str(), nullptr))
        return true;
    const DWORD error = ::GetLastError();
    return IsFolder(path) || Fail(error);
}

FileLock::FileLock(const std::string& lockFilePath)
    : m_handle(reinterpret_cast<std::intptr_t>(
          ::CreateFileA(lockFilePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {
    const HANDLE h = reinterpret_cast<HANDLE>(m_handle);
    if (h == INVALID_HANDLE_VALUE)
        return;
    // Byte locks conflict between handles, also within one process.
    OVERLAPPED at{};
    m_held = ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}

FileLock::~FileLock() {
    const HANDLE h = reinterpret_cast<HANDLE>(m_handle);
    if (h == INVALID_HANDLE_VALUE)
        return;
    if (m_held) {
        OVERLAPPED at{};
        ::UnlockFileEx(h, 0, 1, 0, &at);
    }
    ::CloseHandle(h);
}

} // namespace port
