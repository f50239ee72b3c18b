#include "support/DovecotInstance.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace tavlo::test {

std::optional<DovecotInstance> DovecotInstance::FromEnvironment(const char* variable) {
    const char* json = std::getenv(variable);
    if (json == nullptr || *json == '\0')
        return std::nullopt;
    std::string path = json;
    path = path.substr(0, path.find_last_of("/\\") + 1) + "env.txt";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    DovecotInstance instance;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (const std::size_t eq = line.find('='); eq != std::string::npos)
            instance.m_values[line.substr(0, eq)] = line.substr(eq + 1);
    }
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

} // namespace tavlo::test
