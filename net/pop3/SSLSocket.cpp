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
    // A certificate that fails verification fails the handshake itself.
    return m_session.SetPeerHost(host) && m_session.Handshake(std::chrono::milliseconds(timeoutMs));
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
