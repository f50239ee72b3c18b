// Blocking IPv4 TCP client socket over the socket port.
#include "net/pop3/WSocket.h"

#include "net/proxy/ProxyTunnel.h"
#include "platform/Errors.h"

#include <cstdint>
#include <cstring>

namespace {

// The address of a host text: a dotted IPv4 address as it stands, else the
// first IPv4 address the resolver gives. The text is copied first so that
// the resolver's static answer can never alias the caller's buffer.
bool ResolveIPv4(const char* host, std::uint32_t& addr) {
    const std::string copy(host);
    if (port::ParseDottedIPv4(copy.c_str(), addr))
        return true;
    return port::LookupIPv4(copy.c_str(), addr);
}

std::uint16_t CheckedPort(int port) {
    if (port < 0 || port > 0xFFFF)
        ThrowSocketError(port::kErrInvalidArgument);
    return static_cast<std::uint16_t>(port);
}

} // namespace

void ThrowSocketError(int code) {
    if (code == 0)
        code = port::LastSocketError();
    throw new CWSocketException(code);
}

bool CWSocketException::GetErrorMessage(char* buffer, unsigned size, unsigned* helpContext) const {
    if (helpContext != nullptr)
        *helpContext = 0;
    if (buffer == nullptr || size == 0)
        return false;
    std::string text;
    if (!port::SystemErrorText(m_nErrorCode, text)) {
        buffer[0] = '\0';
        return false;
    }
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return true;
}

port::SocketHandle CWSocket::Create(int type) {
    const port::SocketHandle h = port::SocketOpen(type);
    if (h == port::kInvalidSocket)
        ThrowSocketError(0);
    // A socket already open would leak if it were merely forgotten.
    m_hSocket.Reset(h);
    return h;
}

void CWSocket::Bind(const char* address) {
    std::uint32_t addr = 0; // 0.0.0.0, the wildcard address
    if (address != nullptr && address[0] != '\0' && !ResolveIPv4(address, addr))
        ThrowSocketError(port::kErrInvalidArgument);
    if (port::SocketBind(m_hSocket.Get(), addr, 0) != 0)
        ThrowSocketError(0);
}

void CWSocket::Connect(const char* host, int port) {
    if (host == nullptr)
        ThrowSocketError(port::kErrInvalidArgument);
    const std::uint16_t portNumber = CheckedPort(port);
    std::uint32_t addr = 0;
    if (!ResolveIPv4(host, addr))
        ThrowSocketError(0); // the resolver's error
    if (port::SocketConnect(m_hSocket.Get(), addr, portNumber) != 0)
        ThrowSocketError(0);
}

long CWSocket::Send(const void* data, std::size_t length) {
    const long n = port::SocketSend(m_hSocket.Get(), data, length);
    if (n < 0)
        ThrowSocketError(0);
    return n;
}

long CWSocket::Receive(void* buffer, std::size_t capacity) {
    const long n = port::SocketReceive(m_hSocket.Get(), buffer, capacity);
    if (n < 0)
        ThrowSocketError(0);
    return n;
}

bool CWSocket::IsReadable(unsigned long timeoutMs) {
    const int r = port::SocketWaitReadable(m_hSocket.Get(), static_cast<long>(timeoutMs / 1000),
                                           static_cast<long>((timeoutMs % 1000) * 1000));
    if (r < 0)
        ThrowSocketError(0);
    return r > 0;
}

int CWSocket::Close() {
    return m_hSocket.Close();
}

namespace {

// After the proxy connect every failure closes the socket before it is
// raised.
void FinishTunnel(CWSocket& socket, int code) {
    if (code == 0)
        return;
    socket.Close();
    ThrowSocketError(code);
}

} // namespace

void CWSocket::ConnectThroughSocks4(const char* host, int port, const char* proxyHost,
                                    int proxyPort, unsigned long timeoutMs) {
    Connect(proxyHost, proxyPort);
    SocketProxyTransport transport(Handle());
    FinishTunnel(*this, ProxyTunnel::Socks4(transport, host, port, timeoutMs));
}

void CWSocket::ConnectThroughSocks5(const char* host, int port, const char* proxyHost,
                                    int proxyPort, const char* user, const char* password,
                                    unsigned long timeoutMs) {
    Connect(proxyHost, proxyPort);
    SocketProxyTransport transport(Handle());
    FinishTunnel(*this, ProxyTunnel::Socks5(transport, host, port, user, password, timeoutMs));
}

void CWSocket::ConnectThroughHttpProxy(const char* host, int port, const char* proxyHost,
                                       int proxyPort, std::string& reply, const char* user,
                                       const char* password, unsigned long timeoutMs,
                                       const char* userAgent) {
    Connect(proxyHost, proxyPort);
    SocketProxyTransport transport(Handle());
    FinishTunnel(*this, ProxyTunnel::HttpConnect(transport, host, port, reply, user, password,
                                                 timeoutMs, userAgent));
}
