#include "net/proxy/ProxyTransport.h"

#include "platform/Errors.h"

namespace {

// The socket layer's error; never 0, so that a failure can not read as
// success.
int SocketFailure() {
    const int code = port::LastSocketError();
    return code != 0 ? code : port::kErrBadNetResponse;
}

} // namespace

int SocketProxyTransport::SendAll(const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const long n = port::SocketSend(m_socket, bytes, length);
        if (n <= 0)
            return n < 0 ? SocketFailure() : port::kErrGracefulDisconnect;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

int SocketProxyTransport::ReceiveSome(void* buffer, std::size_t capacity, std::size_t& received) {
    received = 0;
    const long n = port::SocketReceive(m_socket, buffer, capacity);
    if (n < 0)
        return SocketFailure();
    received = static_cast<std::size_t>(n);
    return 0;
}

int SocketProxyTransport::WaitReadable(unsigned long timeoutMs, bool& readable) {
    readable = false;
    const int r = port::SocketWaitReadable(m_socket, static_cast<long>(timeoutMs / 1000),
                                           static_cast<long>((timeoutMs % 1000) * 1000));
    if (r < 0)
        return SocketFailure();
    readable = r > 0;
    return 0;
}
