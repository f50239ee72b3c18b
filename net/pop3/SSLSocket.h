// TLS client channel over an already created CWSocket (TLS from the first
// byte, as on the POP3S port 995): the POP3 face of TlsChannel.
#pragma once

#include "net/pop3/WSocket.h"
#include "net/tls/TlsChannel.h"
#include "net/tls/TlsSession.h"

#include <cstddef>
#include <string>

class CSSLSocket {
public:
    CSSLSocket() = default;
    virtual ~CSSLSocket();

    CSSLSocket(const CSSLSocket&) = delete;
    CSSLSocket& operator=(const CSSLSocket&) = delete;

    bool Create(TlsContextHolder& context, CWSocket& socket);
    // Connects the socket, then performs the TLS handshake, which must be
    // complete within timeoutMs.
    bool Connect(const char* host, int port, unsigned long timeoutMs = 5000);
    // The CWSocket tunnels, then the handshake with host as the peer, as
    // Connect does it. The socket's exceptions pass through.
    bool ConnectThroughSocks4(const char* host, int port, const char* proxyHost, int proxyPort,
                              unsigned long timeoutMs);
    bool ConnectThroughSocks5(const char* host, int port, const char* proxyHost, int proxyPort,
                              const char* user, const char* password, unsigned long timeoutMs);
    bool ConnectThroughHttpProxy(const char* host, int port, const char* proxyHost, int proxyPort,
                                 std::string& reply, const char* user, const char* password,
                                 unsigned long timeoutMs, const char* userAgent);
    // Bytes written, or -1 on failure.
    int Send(const void* data, std::size_t length);
    // Bytes read, 0 at the end of the stream, -1 on failure.
    int Receive(void* buffer, std::size_t capacity);
    // True when application data (or the end of the stream, or an error)
    // can be read now or arrives within timeoutMs. A failing wait on the
    // socket raises CWSocketException, as CWSocket::IsReadable does.
    bool IsReadable(unsigned long timeoutMs);
    // Ends the session and closes the socket it sits on.
    void Close();
    CWSocket* Socket() const { return m_pSocket; }

    // The TLS session: the channel borrows the socket of m_pSocket, which
    // Close closes through CWSocket.
    TlsChannel m_session;
    CWSocket* m_pSocket = nullptr;

private:
    bool Handshake(const char* host, unsigned long timeoutMs);
    // Runs a CWSocket tunnel; when it raises, the session goes before the
    // exception passes on.
    template <class Negotiate> void Tunnel(Negotiate negotiate);
};
