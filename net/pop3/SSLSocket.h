// TLS client channel over an already created CWSocket (TLS from the first
// byte, as on the POP3S port 995).
#pragma once

#include "net/pop3/WSocket.h"
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
    // Connects the socket, then performs the TLS handshake; each wait for
    // the server during the handshake is bounded by timeoutMs.
    bool Connect(const char* host, int port, unsigned long timeoutMs = 5000);
    int Send(const void* data, std::size_t length);
    int Receive(void* buffer, std::size_t capacity);
    // True when application data (or the end of the stream, or an error)
    // can be read now or arrives within timeoutMs.
    bool IsReadable(unsigned long timeoutMs);
    void Close();
    CWSocket* Socket() const { return m_pSocket; }

    TlsSessionHolder m_session;
    CWSocket* m_pSocket = nullptr;
};
