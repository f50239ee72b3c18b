// POSIX implementation of the temporary-file port ($TMPDIR, mkstemp).
#include "platform/TempFile.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace port {

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

bool CreateTempFile(const char* prefix, std::string& path) {
    path.clear();
    std::string pattern = TempFolder() + (prefix != nullptr ? prefix : "") + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    path.assign(name.data());
    return true;
}

} // namespace port
