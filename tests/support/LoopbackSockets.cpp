#include "support/LoopbackSockets.h"

#include "platform/Socket.h"
#include "platform/SocketExtra.h"

namespace tavlo::test {

port::UniqueSocket ListenLoopback(std::uint16_t port, std::uint16_t& boundPort) {
    std::uint32_t loopback = 0;
    port::ParseDottedIPv4("127.0.0.1", loopback);
    port::UniqueSocket s(port::SocketOpenTyped(port::kFamilyIPv4, port::kSocketStream, 0));
    std::uint32_t boundAddr = 0;
    if (!s || port::SocketBind(s.Get(), loopback, port) != 0 ||
        port::SocketListen(s.Get(), 16) != 0 ||
        port::SocketLocalAddress(s.Get(), boundAddr, boundPort) != 0)
        return {};
    return s;
}

port::UniqueSocket AcceptConnection(port::SocketHandle listener) {
    std::uint32_t peerAddr = 0;
    std::uint16_t peerPort = 0;
    return port::UniqueSocket(port::SocketAcceptFrom(listener, peerAddr, peerPort));
}

std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    ListenLoopback(0, port); // closed again at once: nobody listens there now
    return port;
}

} // namespace tavlo::test
