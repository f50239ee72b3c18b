// The real proxies of the test harness (scripts/proxy_harness.py), as they
// describe themselves in env.txt (KEY=VALUE lines beside env.json).
#pragma once

#include "net/proxy/ProxyTunnel.h"

#include <map>
#include <optional>
#include <string>

namespace tavlo::test {

class ProxyInstance {
public:
    // The proxies named by TAVLO_PROXY_ENV (their env.json), else those the
    // ctest fixture starts beside the Dovecot instance of TAVLO_DOVECOT_ENV
    // (DIR/main/env.json -> DIR/proxies/env.txt). nullopt when neither is
    // there.
    static std::optional<ProxyInstance> FromEnvironment();

    std::string Get(const std::string& key) const;
    // The proxy NAME ("socks4", "socks5", "socks5_auth", "http") with its
    // credentials.
    ProxyServer Server(const std::string& name) const;

private:
    std::map<std::string, std::string> m_values;
};

} // namespace tavlo::test
