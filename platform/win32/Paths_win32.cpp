// Win32 half of the path port.
#include "platform/Paths.h"
#include "platform/win32/WindowsGateway.h"

#include <vector>

namespace port {

char PathSeparator() {
    return '\\';
}

std::string ExecutablePath() {
    // Paths may exceed MAX_PATH (long path support, "\\?\" starts): grow
    // the buffer until the name fits. A cut name fills the whole buffer.
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::string();
        if (n < buffer.size())
            return std::string(buffer.data(), n);
        if (buffer.size() > 65536)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

std::string ApplicationName() {
    return FileNameWithoutExtension(ExecutablePath());
}

std::string UserDataFolder() {
    return ParentFolder(ExecutablePath());
}

} // namespace port
