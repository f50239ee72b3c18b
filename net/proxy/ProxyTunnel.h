// Tunnels through a proxy to a target host and port: SOCKS version 4, SOCKS
// version 5 (RFC 1928) with the user-name/password method (RFC 1929), and
// the HTTP CONNECT method (RFC 9110 section 9.3.6) with Basic credentials
// (RFC 7617). Each negotiation runs over a transport already connected to the
// proxy; afterwards the transport carries the tunnelled protocol.
//
// Written once for both mail transports: CWSocket's ConnectThrough...
// operations and the IMAP client family's connect use it.
#pragma once

#include "net/proxy/ProxyTransport.h"

#include <cstddef>
#include <string>

enum class ProxyKind { Direct = 0, Socks4 = 1, Socks5 = 2, HttpConnect = 3 };

// A proxy to go through. User and password are sent only when the user is
// not empty (SOCKS5, HTTP CONNECT; SOCKS4 has no credentials).
struct ProxyServer {
    ProxyKind kind = ProxyKind::Direct;
    std::string host;
    int port = 0;
    std::string user;
    std::string password;

    bool IsDirect() const { return kind == ProxyKind::Direct; }
};

class ProxyTunnel {
public:
    // The longest SOCKS5 reply: 4 bytes, a name of at most 255 bytes with its
    // length byte, the port.
    static constexpr std::size_t kSocks5ReplyBuffer = 262;
    // An HTTP proxy's reply head is read into a text that starts with this
    // much room and may not grow past kMaxHttpReply bytes.
    static constexpr std::size_t kHttpReplyReserve = 4096;
    static constexpr std::size_t kMaxHttpReply = 16384;

    // Each returns 0 when the tunnel stands, else a platform error number
    // (platform/Errors.h): kErrTimeout when a reply does not become readable
    // within timeoutMs, kErrGracefulDisconnect when the proxy closes during
    // its reply, kErrBadNetResponse when a SOCKS proxy refuses,
    // kErrInvalidParameter for an over-long name, user name or password or an
    // unknown SOCKS5 address type, kErrSocketConnRefused when the SOCKS5
    // proxy accepts none of our methods, kErrAccessDenied when it refuses the
    // credentials, kErrConnectionRefused for an HTTP status other than 200,
    // kErrMessageTooLong for an HTTP reply head over kMaxHttpReply, or the
    // transport's own error. Credentials are overwritten with zeros once
    // they have been used.

    // The target host is resolved here (SOCKS4 carries an IPv4 address).
    static int Socks4(ProxyTransport& transport, const char* host, int port,
                      unsigned long timeoutMs);
    // user null or empty: no credentials are offered.
    static int Socks5(ProxyTransport& transport, const char* host, int port, const char* user,
                      const char* password, unsigned long timeoutMs);
    // reply receives the proxy's reply head, up to and with its empty line.
    static int HttpConnect(ProxyTransport& transport, const char* host, int port,
                           std::string& reply, const char* user, const char* password,
                           unsigned long timeoutMs, const char* userAgent);

    // The negotiation server.kind asks for (nothing for Direct).
    static int Open(ProxyTransport& transport, const ProxyServer& server, const char* host,
                    int port, unsigned long timeoutMs, const char* userAgent = nullptr);
};

// Overwrites length bytes with zeros in a way the compiler keeps.
void WipeBytes(void* data, std::size_t length);
