// The socket operations that both halves of the port build from others.
#include "platform/Socket.h"

#include "platform/SocketExtra.h"

#include <cstdint>

namespace port {

SocketHandle SocketAccept(SocketHandle listener) {
    std::uint32_t peerAddrNetOrder = 0;
    std::uint16_t peerPort = 0;
    return SocketAcceptFrom(listener, peerAddrNetOrder, peerPort);
}

} // namespace port
