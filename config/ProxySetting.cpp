#include "config/ProxySetting.h"

#include "config/Settings.h"
#include "net/pop3/Pop3Connection.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace {

struct Scheme {
    const char* prefix;
    ProxyKind kind;
};

constexpr Scheme kSchemes[] = {
    {"socks4://", ProxyKind::Socks4},
    {"socks5://", ProxyKind::Socks5},
    {"http://", ProxyKind::HttpConnect},
};

// A SOCKS5 user name or password is one length byte long (RFC 1929).
constexpr std::size_t kMaxCredential = 255;

bool IsUnreserved(char c) {
    return IsHostCharacter(c) || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Percent-decodes one part of the user information. Characters that a URL
// never carries raw there (blanks, controls, the delimiters '/', '?', '#',
// '@', '[', ']') and NUL after decoding are refused.
bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            const char decoded = static_cast<char>(hi * 16 + lo);
            if (decoded == '\0')
                return false;
            out += decoded;
            i += 2;
            continue;
        }
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '[' ||
            c == ']')
            return false;
        out += c;
    }
    return out.size() <= kMaxCredential;
}

std::string PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        if (IsUnreserved(c)) {
            out += c;
        } else {
            const unsigned char u = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

void ReportToStandardError(const std::string& line) {
    std::fprintf(stderr, "tavlo: %s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace

const char kProxySettingForms[] =
    "socks4://HOST:PORT, socks5://[USER[:PASSWORD]@]HOST:PORT or "
    "http://[USER[:PASSWORD]@]HOST:PORT (user and password percent-encoded), empty for direct "
    "connections";

bool ParseProxySetting(const std::string& text, ProxyServer& server) {
    if (text.empty()) {
        server = ProxyServer{};
        return true;
    }
    const Scheme* scheme = nullptr;
    for (const Scheme& s : kSchemes) {
        if (StartsWithNoCase(text, s.prefix)) {
            scheme = &s;
            break;
        }
    }
    if (scheme == nullptr)
        return false;
    const std::string rest = text.substr(std::char_traits<char>::length(scheme->prefix));

    ProxyServer parsed;
    parsed.kind = scheme->kind;
    std::string hostPort = rest;
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        if (scheme->kind == ProxyKind::Socks4)
            return false; // SOCKS4 carries no credentials
        const std::string userInfo = rest.substr(0, at);
        hostPort = rest.substr(at + 1);
        const std::size_t colon = userInfo.find(':');
        if (!PercentDecode(userInfo.substr(0, colon), parsed.user) || parsed.user.empty())
            return false;
        if (colon != std::string::npos &&
            !PercentDecode(userInfo.substr(colon + 1), parsed.password))
            return false;
    }
    // No default port: a proxy's port must be given.
    if (!ParseHostAndPort(hostPort, 0, parsed.host, parsed.port))
        return false;
    server = std::move(parsed);
    return true;
}

std::string FormatProxySetting(const ProxyServer& server, bool maskPassword) {
    const char* prefix = nullptr;
    for (const Scheme& s : kSchemes) {
        if (s.kind == server.kind)
            prefix = s.prefix;
    }
    if (prefix == nullptr)
        return std::string();
    std::string text = prefix;
    if (!server.user.empty() && server.kind != ProxyKind::Socks4) {
        text += PercentEncode(server.user);
        if (!server.password.empty())
            text += ':' + (maskPassword ? std::string("****") : PercentEncode(server.password));
        text += '@';
    }
    text += server.host;
    text += ':';
    text += std::to_string(server.port);
    return text;
}

ProxyServer ReadProxySetting(port::ProfileStore& store,
                             const std::function<void(const std::string&)>& report) {
    const std::string stored = store.GetString(kSectionApp, kValueProxy, std::string());
    ProxyServer server;
    if (ParseProxySetting(stored, server))
        return server;

    // Every check reads the value again; one line per broken text is enough.
    static std::mutex reportedLock;
    static std::set<std::string> reported;
    bool first = false;
    {
        const std::lock_guard<std::mutex> lock(reportedLock);
        first = reported.insert(stored).second;
    }
    if (first) {
        const std::string line = std::string("the ") + kValueProxy +
                                 " setting is not a proxy URL; connecting directly. It takes " +
                                 kProxySettingForms + ".";
        if (report)
            report(line);
        else
            ReportToStandardError(line);
    }
    return ProxyServer{};
}

void UseProxy(CPop3Connection& connection, const ProxyServer& server) {
    connection.m_nProxyKind = static_cast<int>(server.kind);
    connection.m_strProxyHost = server.host;
    connection.m_nProxyPort = server.port;
    connection.m_strProxyUser = server.user;
    connection.m_strProxyPassword = server.password;
}
