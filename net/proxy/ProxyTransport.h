// The byte transport a proxy handshake runs over: send all, receive some,
// wait until readable. The socket port implements it (SocketProxyTransport);
// tests and the fuzz target put an in-memory peer behind it.
#pragma once

#include "platform/Socket.h"

#include <cstddef>

class ProxyTransport {
public:
    virtual ~ProxyTransport() = default;

    // Every operation returns 0 or the platform error number of its failure.

    // Sends all length bytes.
    virtual int SendAll(const void* data, std::size_t length) = 0;
    // One receive of at most capacity bytes into received; 0 received means
    // the peer closed the connection.
    virtual int ReceiveSome(void* buffer, std::size_t capacity, std::size_t& received) = 0;
    // Waits up to timeoutMs for readability (data or end of stream).
    virtual int WaitReadable(unsigned long timeoutMs, bool& readable) = 0;
};

// The transport over a connected socket of the port. It does not own the
// socket.
class SocketProxyTransport : public ProxyTransport {
public:
    explicit SocketProxyTransport(port::SocketHandle socket) : m_socket(socket) {}

    int SendAll(const void* data, std::size_t length) override;
    int ReceiveSome(void* buffer, std::size_t capacity, std::size_t& received) override;
    int WaitReadable(unsigned long timeoutMs, bool& readable) override;

private:
    port::SocketHandle m_socket;
};
