// SOCKS4, SOCKS5 (RFC 1928, RFC 1929) and HTTP CONNECT (RFC 9110, RFC 7617)
// negotiations over a ProxyTransport.
#include "net/proxy/ProxyTunnel.h"

#include "platform/Errors.h"
#include "platform/Socket.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Wipes a text when the scope ends, whichever way it ends.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& text) : m_text(text) {}
    ~WipeOnExit() { WipeBytes(m_text.data(), m_text.size()); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& m_text;
};

bool ValidPort(int port) {
    return port >= 0 && port <= 0xFFFF;
}

// One receive, after waiting for readability for at most timeoutMs: no
// reply in time is kErrTimeout, a closed connection kErrGracefulDisconnect.
int ReadWithWait(ProxyTransport& transport, unsigned char* buffer, std::size_t capacity,
                 std::size_t& received, unsigned long timeoutMs) {
    received = 0;
    bool readable = false;
    if (const int e = transport.WaitReadable(timeoutMs, readable); e != 0)
        return e;
    if (!readable)
        return port::kErrTimeout;
    if (const int e = transport.ReceiveSome(buffer, capacity, received); e != 0)
        return e;
    return received == 0 ? port::kErrGracefulDisconnect : 0;
}

int ReadExactly(ProxyTransport& transport, unsigned char* buffer, std::size_t length,
                unsigned long timeoutMs) {
    std::size_t have = 0;
    while (have < length) {
        std::size_t got = 0;
        if (const int e = ReadWithWait(transport, buffer + have, length - have, got, timeoutMs);
            e != 0)
            return e;
        have += got;
    }
    return 0;
}

void PutPort(unsigned char* at, int port) {
    at[0] = static_cast<unsigned char>((port >> 8) & 0xFF);
    at[1] = static_cast<unsigned char>(port & 0xFF);
}

// A text that goes into a request line as it stands: no line break, NUL or
// blank may end the line early or add a header.
bool IsSafeRequestText(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n' || *p == ' ' || *p == '\t')
            return false;
    }
    return true;
}

bool IsSafeHeaderValue(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n')
            return false;
    }
    return true;
}

// RFC 4648 Base64 with "=" padding, no line breaks, into out (which must
// have room: the caller reserves it so that no copy of a secret is left
// behind by a reallocation).
void AppendBase64(const std::string& in, std::string& out) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        const std::uint32_t v = (static_cast<unsigned char>(in[i]) << 16) |
                                (static_cast<unsigned char>(in[i + 1]) << 8) |
                                static_cast<unsigned char>(in[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = in.size() - i;
    if (rest == 0)
        return;
    std::uint32_t v = static_cast<unsigned char>(in[i]) << 16;
    if (rest == 2)
        v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
}

// The status of an HTTP reply head: the number after its first blank, read
// as atoi does (leading white space, a sign, digits), without overflow. A
// head without a blank has no status and is taken as accepted.
bool HttpStatusAccepted(const std::string& reply) {
    const std::size_t blank = reply.find(' ');
    if (blank == std::string::npos)
        return true;
    std::size_t i = blank + 1;
    while (i < reply.size() && (reply[i] == ' ' || reply[i] == '\t' || reply[i] == '\n' ||
                                reply[i] == '\v' || reply[i] == '\f' || reply[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < reply.size() && (reply[i] == '+' || reply[i] == '-'))
        negative = reply[i++] == '-';
    long status = 0;
    for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9'; ++i) {
        status = status * 10 + (reply[i] - '0');
        if (status > 100000)
            return false; // far beyond any status, and no overflow
    }
    return !negative && status == 200;
}

} // namespace

void WipeBytes(void* data, std::size_t length) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i)
        p[i] = 0;
}

int ProxyTunnel::Socks4(ProxyTransport& transport, const char* host, int port,
                        unsigned long timeoutMs) {
    if (host == nullptr || !ValidPort(port))
        return port::kErrInvalidArgument;
    std::uint32_t addr = 0; // network order
    const std::string copy(host);
    if (!port::ParseDottedIPv4(copy.c_str(), addr) && !port::LookupIPv4(copy.c_str(), addr)) {
        const int e = port::LastSocketError();
        return e != 0 ? e : port::kErrHostNotFound;
    }
    unsigned char request[9] = {0x04, 0x01};
    PutPort(request + 2, port);
    std::memcpy(request + 4, &addr, 4);
    request[8] = 0x00; // empty user id
    if (const int e = transport.SendAll(request, sizeof request); e != 0)
        return e;
    unsigned char reply[8] = {};
    if (const int e = ReadExactly(transport, reply, sizeof reply, timeoutMs); e != 0)
        return e;
    return reply[0] == 0x00 && reply[1] == 0x5A ? 0 : port::kErrBadNetResponse;
}

int ProxyTunnel::Socks5(ProxyTransport& transport, const char* host, int port, const char* user,
                        const char* password, unsigned long timeoutMs) {
    if (host == nullptr || !ValidPort(port))
        return port::kErrInvalidArgument;
    const bool withUser = user != nullptr && user[0] != '\0';

    // Method offer: no authentication, and user name/password when we have
    // a user name.
    if (withUser) {
        static constexpr unsigned char kOffer[] = {0x05, 0x02, 0x00, 0x02};
        if (const int e = transport.SendAll(kOffer, sizeof kOffer); e != 0)
            return e;
    } else {
        static constexpr unsigned char kOffer[] = {0x05, 0x01, 0x00};
        if (const int e = transport.SendAll(kOffer, sizeof kOffer); e != 0)
            return e;
    }
    unsigned char choice[2] = {};
    if (const int e = ReadExactly(transport, choice, sizeof choice, timeoutMs); e != 0)
        return e;
    const unsigned char method = choice[1];
    if (method != 0x00 && !(withUser && method == 0x02))
        return port::kErrSocketConnRefused;

    if (method == 0x02) {
        // RFC 1929: VER 1, ULEN, UNAME, PLEN, PASSWD.
        std::string name(user);
        std::string secret(password != nullptr ? password : "");
        const WipeOnExit wipeName(name);
        const WipeOnExit wipeSecret(secret);
        if (name.size() > 255 || secret.size() > 255)
            return port::kErrInvalidParameter;
        std::string request;
        request.reserve(name.size() + secret.size() + 3);
        const WipeOnExit wipeRequest(request);
        request += '\x01';
        request += static_cast<char>(name.size());
        request += name;
        request += static_cast<char>(secret.size());
        request += secret;
        if (const int e = transport.SendAll(request.data(), request.size()); e != 0)
            return e;
        unsigned char status[2] = {};
        if (const int e = ReadExactly(transport, status, sizeof status, timeoutMs); e != 0)
            return e;
        if (status[1] != 0x00)
            return port::kErrAccessDenied;
    }

    // CONNECT request: an IPv4 address as it stands, any other text as a
    // name for the proxy to resolve.
    std::string request;
    std::uint32_t addr = 0;
    if (port::ParseDottedIPv4(host, addr)) {
        request.assign("\x05\x01\x00\x01", 4);
        request.append(reinterpret_cast<const char*>(&addr), 4);
    } else {
        const std::size_t length = std::strlen(host);
        if (length > 255)
            return port::kErrInvalidParameter;
        request.assign("\x05\x01\x00\x03", 4);
        request += static_cast<char>(length);
        request.append(host, length);
    }
    unsigned char portBytes[2];
    PutPort(portBytes, port);
    request.append(reinterpret_cast<const char*>(portBytes), 2);
    if (const int e = transport.SendAll(request.data(), request.size()); e != 0)
        return e;

    // The reply: VER, REP, RSV, ATYP, the bound address, the bound port. Only
    // the reply's own bytes are read: whatever the target sends right behind
    // it (a POP3 greeting may share its segment) stays for the session.
    const std::unique_ptr<unsigned char[]> reply(
        new (std::nothrow) unsigned char[kSocks5ReplyBuffer]);
    if (!reply)
        return port::kErrOutOfMemory;
    std::size_t have = 0;
    std::size_t total = 0; // unknown until the address type is in
    while (total == 0 || have < total) {
        const std::size_t want = total != 0 ? total - have : (have < 4 ? 4 - have : 5 - have);
        std::size_t got = 0;
        if (const int e = ReadWithWait(transport, reply.get() + have, want, got, timeoutMs); e != 0)
            return e;
        have += got;
        if (total == 0 && have >= 4) {
            switch (reply[3]) {
            case 0x01: // IPv4 address
                total = 10;
                break;
            case 0x04: // IPv6 address (RFC 1928 section 5)
                total = 22;
                break;
            case 0x03: // name: its length byte first
                if (have >= 5)
                    total = std::size_t{reply[4]} + 7;
                break;
            default:
                return port::kErrInvalidParameter;
            }
        }
    }
    return reply[1] == 0x00 ? 0 : port::kErrBadNetResponse;
}

int ProxyTunnel::HttpConnect(ProxyTransport& transport, const char* host, int port,
                             std::string& reply, const char* user, const char* password,
                             unsigned long timeoutMs, const char* userAgent) {
    reply.clear();
    if (host == nullptr || !ValidPort(port) || !IsSafeRequestText(host) ||
        (userAgent != nullptr && !IsSafeHeaderValue(userAgent)))
        return port::kErrInvalidParameter;
    const bool withUser = user != nullptr && user[0] != '\0';

    std::string credentials;
    std::string encoded;
    std::string request;
    const WipeOnExit wipeCredentials(credentials);
    const WipeOnExit wipeEncoded(encoded);
    const WipeOnExit wipeRequest(request);

    char line[32];
    std::snprintf(line, sizeof line, ":%d HTTP/1.0\r\n", port);
    std::size_t room = 8 + std::strlen(host) + std::strlen(line) + 2;
    if (withUser) {
        const std::size_t secretLength = password != nullptr ? std::strlen(password) : 0;
        credentials.reserve(std::strlen(user) + 1 + secretLength);
        credentials += user;
        credentials += ':';
        if (password != nullptr)
            credentials += password;
        encoded.reserve((credentials.size() + 2) / 3 * 4);
        AppendBase64(credentials, encoded);
        room += 35 + encoded.size();
    }
    if (userAgent != nullptr)
        room += 14 + std::strlen(userAgent);
    request.reserve(room);
    request += "CONNECT ";
    request += host;
    request += line;
    if (withUser) {
        request += "Proxy-authorization: Basic ";
        request += encoded;
        request += "\r\n";
        WipeBytes(credentials.data(), credentials.size());
        WipeBytes(encoded.data(), encoded.size());
    }
    if (userAgent != nullptr) {
        request += "User-Agent: ";
        request += userAgent;
        request += "\r\n";
    }
    request += "\r\n";
    if (const int e = transport.SendAll(request.data(), request.size()); e != 0)
        return e;

    // One byte at a time up to the empty line: nothing of the tunnelled
    // protocol behind the reply head is taken.
    reply.reserve(kHttpReplyReserve);
    for (;;) {
        if (reply.size() >= kMaxHttpReply)
            return port::kErrMessageTooLong;
        unsigned char byte = 0;
        std::size_t got = 0;
        if (const int e = ReadWithWait(transport, &byte, 1, got, timeoutMs); e != 0)
            return e;
        reply += static_cast<char>(byte);
        if (reply.size() >= 4 && reply.compare(reply.size() - 4, 4, "\r\n\r\n") == 0)
            break;
    }
    return HttpStatusAccepted(reply) ? 0 : port::kErrConnectionRefused;
}

int ProxyTunnel::Open(ProxyTransport& transport, const ProxyServer& server, const char* host,
                      int port, unsigned long timeoutMs, const char* userAgent) {
    const char* user = server.user.empty() ? nullptr : server.user.c_str();
    const char* password = server.user.empty() ? nullptr : server.password.c_str();
    switch (server.kind) {
    case ProxyKind::Direct:
        return 0;
    case ProxyKind::Socks4:
        return Socks4(transport, host, port, timeoutMs);
    case ProxyKind::Socks5:
        return Socks5(transport, host, port, user, password, timeoutMs);
    case ProxyKind::HttpConnect: {
        std::string reply;
        return HttpConnect(transport, host, port, reply, user, password, timeoutMs, userAgent);
    }
    }
    return port::kErrInvalidParameter;
}
