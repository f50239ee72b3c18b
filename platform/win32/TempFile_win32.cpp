// Windows implementation of the temporary-file port (GetTempPath,
// GetTempFileName).
#include "platform/TempFile.h"
#include "platform/win32/WindowsGateway.h"

namespace port {

std::string TempFolder() {
    char buffer[MAX_PATH + 2] = {};
    const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::string(".\\");
    std::string folder(buffer, n);
    if (folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    return folder;
}

bool CreateTempFile(const char* prefix, std::string& path) {
    path.clear();
    const std::string folder = TempFolder();
    char name[MAX_PATH] = {};
    // Creates the file, so the name is reserved.
    if (::GetTempFileNameA(folder.c_str(), prefix != nullptr ? prefix : "", 0, name) == 0)
        return false;
    path.assign(name);
    return true;
}

} // namespace port
