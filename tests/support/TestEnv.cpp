#include "support/TestEnv.h"

#include "platform/Socket.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace tavlo::test {

std::string TestDataPath(std::string_view relative) {
    std::string path = TAVLO_TEST_DATA_DIR;
    path += '/';
    path += relative;
    return path;
}

std::optional<std::map<std::string, std::string>> ReadEnvFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (const std::size_t eq = line.find('='); eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

void SetEnvVar(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    // An empty value removes the variable from the C runtime's environment,
    // which is the one the TLS library reads.
    const int rc = _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    const int rc = value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
#endif
    if (rc != 0)
        throw std::runtime_error("cannot set environment variable " + name);
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : m_name(std::move(name)) {
    if (const char* old = std::getenv(m_name.c_str()))
        m_previous = old;
    SetEnvVar(m_name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    try {
        SetEnvVar(m_name, m_previous);
    } catch (const std::exception&) {
        // Nothing sensible to do in a destructor; the next set will tell.
    }
}

void EnsureSocketLayer() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!port::SocketLayerStartup())
            throw std::runtime_error("the socket layer did not start");
    });
}

} // namespace tavlo::test
