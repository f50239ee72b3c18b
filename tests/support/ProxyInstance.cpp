#include "support/ProxyInstance.h"

#include "support/TestEnv.h"

#include <cctype>
#include <cstdlib>
#include <utility>

namespace tavlo::test {

namespace {

std::string Folder(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

std::optional<ProxyInstance> ProxyInstance::FromEnvironment() {
    std::string file;
    if (const char* env = std::getenv("TAVLO_PROXY_ENV"); env != nullptr && *env != '\0') {
        file = Folder(env) + "env.txt";
    } else if (const char* dovecot = std::getenv("TAVLO_DOVECOT_ENV");
               dovecot != nullptr && *dovecot != '\0') {
        std::string main = Folder(dovecot); // DIR/main/
        if (!main.empty())
            main.pop_back();
        file = Folder(main) + "proxies/env.txt";
    } else {
        return std::nullopt;
    }
    auto values = ReadEnvFile(file);
    if (!values)
        return std::nullopt;
    ProxyInstance instance;
    instance.m_values = std::move(*values);
    return instance;
}

std::string ProxyInstance::Get(const std::string& key) const {
    const auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

ProxyServer ProxyInstance::Server(const std::string& name) const {
    std::string key = "TAVLO_PROXY_";
    for (const char c : name)
        key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ProxyServer server;
    server.kind = name == "socks4" ? ProxyKind::Socks4
                  : name == "http" ? ProxyKind::HttpConnect
                                   : ProxyKind::Socks5;
    server.host = "127.0.0.1";
    server.port = std::atoi(Get(key + "_PORT").c_str());
    server.user = Get(key + "_USER");
    server.password = Get(key + "_PASSWORD");
    return server;
}

} // namespace tavlo::test
