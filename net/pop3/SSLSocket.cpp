// TLS client channel over a CWSocket: the library reads and writes the
// socket's handle itself; CSSLSocket never moves bytes through CWSocket.
#include "net/pop3/SSLSocket.h"

#include <chrono>

CSSLSocket::~CSSLSocket() {
    Close();
}

bool CSSLSocket::Create(TlsContextHolder& context, CWSocket& socket) {
    if (!m_session.Attach(context.Get(), socket.Handle()))
        return false; // the socket is not remembered: it stays open
    m_pSocket = &socket;
    return true;
}

bool CSSLSocket::Connect(const char* host, int port, unsigned long timeoutMs) {
    if (m_pSocket == nullptr || !m_session.IsActive())
        return false;
    m_pSocket->Connect(host, port); // its exceptions are the caller's
    return Handshake(host, timeoutMs);
}

bool CSSLSocket::Handshake(const char* host, unsigned long timeoutMs) {
    // A certificate that fails verification fails the handshake itself. The
    // peer is the mail server, never the proxy in between.
    return m_session.SetPeerHost(host) && m_session.Handshake(std::chrono::milliseconds(timeoutMs));
}

template <class Negotiate> void CSSLSocket::Tunnel(Negotiate negotiate) {
    try {
        negotiate();
    } catch (CWSocketException*) {
        // A failed tunnel has closed the socket; a session left bound to
        // its descriptor number could reach whatever reuses it.
        m_session.Close();
        throw;
    }
}

bool CSSLSocket::ConnectThroughSocks4(const char* host, int port, const char* proxyHost,
                                      int proxyPort, unsigned long timeoutMs) {
    if (m_pSocket == nullptr || !m_session.IsActive())
        return false;
    Tunnel([&] { m_pSocket->ConnectThroughSocks4(host, port, proxyHost, proxyPort, timeoutMs); });
    return Handshake(host, timeoutMs);
}

bool CSSLSocket::ConnectThroughSocks5(const char* host, int port, const char* proxyHost,
                                      int proxyPort, const char* user, const char* password,
                                      unsigned long timeoutMs) {
    if (m_pSocket == nullptr || !m_session.IsActive())
        return false;
    Tunnel([&] {
        m_pSocket->ConnectThroughSocks5(host, port, proxyHost, proxyPort, user, password,
                                        timeoutMs);
    });
    return Handshake(host, timeoutMs);
}

bool CSSLSocket::ConnectThroughHttpProxy(const char* host, int port, const char* proxyHost,
                                         int proxyPort, std::string& reply, const char* user,
                                         const char* password, unsigned long timeoutMs,
                                         const char* userAgent) {
    if (m_pSocket == nullptr || !m_session.IsActive())
        return false;
    Tunnel([&] {
        m_pSocket->ConnectThroughHttpProxy(host, port, proxyHost, proxyPort, reply, user, password,
                                           timeoutMs, userAgent);
    });
    return Handshake(host, timeoutMs);
}

int CSSLSocket::Send(const void* data, std::size_t length) {
    return m_session.Write(data, length);
}

int CSSLSocket::Receive(void* buffer, std::size_t capacity) {
    return m_session.Read(buffer, capacity);
}

bool CSSLSocket::IsReadable(unsigned long timeoutMs) {
    if (m_pSocket == nullptr)
        return m_session.HasBufferedData();
    if (!m_session.IsActive())
        return m_pSocket->IsReadable(timeoutMs);
    const int ready = m_session.WaitReadable(std::chrono::milliseconds(timeoutMs));
    if (ready < 0)
        ThrowSocketError(0);
    return ready > 0;
}

void CSSLSocket::Close() {
    m_session.Close();
    if (m_pSocket != nullptr) {
        m_pSocket->Close();
        m_pSocket = nullptr;
    }
}
