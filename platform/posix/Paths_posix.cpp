// POSIX half of the path port.
#include "platform/Paths.h"
#include "platform/posix/ConfigHome.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace port {
namespace {

// An environment variable that names an absolute folder; "" otherwise.
// Relative values are ignored, as the XDG base directory rules ask.
std::string AbsoluteFolderFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/')
        return std::string();
    return value;
}

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::string HomeFolder() {
    std::string home = AbsoluteFolderFromEnvironment("HOME");
    if (!home.empty())
        return home;
    // No HOME (a service, a stripped environment): ask the user database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

} // namespace

namespace posix {

std::string ConfigHomeFolder() {
    const std::string config = AbsoluteFolderFromEnvironment("XDG_CONFIG_HOME");
    if (!config.empty())
        return WithSeparator(config);
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : WithSeparator(home) + ".config/";
}

} // namespace posix

char PathSeparator() {
    return '/';
}

std::string ExecutablePath() {
    std::vector<char> buffer(1024);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        if (buffer.size() >= (1u << 20))
            return std::string();
        buffer.resize(buffer.size() * 2); // the path may have been cut
    }
}

std::string ApplicationName() {
    return FileNameWithoutExtension(ExecutablePath());
}

std::string UserDataFolder() {
    if (const char* own = std::getenv("TAVLO_HOME"); own != nullptr && own[0] != '\0')
        return WithSeparator(own);
    const std::string config = posix::ConfigHomeFolder();
    return config.empty() ? std::string() : config + "tavlo/";
}

} // namespace port
