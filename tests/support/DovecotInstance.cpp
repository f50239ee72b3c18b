#include "support/DovecotInstance.h"

#include "support/TestEnv.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <utility>

namespace tavlo::test {

std::optional<DovecotInstance> DovecotInstance::FromEnvironment(const char* variable) {
    const char* json = std::getenv(variable);
    if (json == nullptr || *json == '\0')
        return std::nullopt;
    std::string path = json;
    path = path.substr(0, path.find_last_of("/\\") + 1) + "env.txt";
    auto values = ReadEnvFile(path);
    if (!values)
        return std::nullopt;
    DovecotInstance instance;
    instance.m_values = std::move(*values);
    return instance;
}

std::string DovecotInstance::Get(const std::string& key) const {
    const auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

int DovecotInstance::Port(const std::string& protocol) const {
    return std::atoi(Get("TAVLO_DOVECOT_" + protocol + "_PORT").c_str());
}

std::string DovecotInstance::Password(std::string user) const {
    for (char& c : user)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return Get("TAVLO_DOVECOT_PASSWORD_" + user);
}

std::vector<DovecotInstance::Pop3Logout>
DovecotInstance::Pop3Logouts(const std::string& user, std::size_t atLeast, int timeoutMs) const {
    const std::string session = "pop3(" + user + ")<";
    const std::string loggedOut = ": Info: Disconnected: Logged out ";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<Pop3Logout> found;
        std::ifstream in(Get("TAVLO_DOVECOT_LOG"), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            const std::size_t at = line.find(session);
            const std::size_t out = line.find(loggedOut);
            if (at == std::string::npos || out == std::string::npos || out < at)
                continue;
            Pop3Logout s;
            int top = 0;
            long long topBytes = 0;
            if (std::sscanf(line.c_str() + out + loggedOut.size(),
                            "top=%d/%lld, retr=%d/%lld, del=%d/%d", &top, &topBytes, &s.retrieved,
                            &s.retrievedBytes, &s.deleted, &s.messages) == 6)
                found.push_back(s);
        }
        if (found.size() >= atLeast || std::chrono::steady_clock::now() >= deadline)
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace tavlo::test
