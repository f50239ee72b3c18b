// Sockets that tests open on loopback: a listener for servers run
// in-process, the accept of one connection, a port where nothing listens.
// Built on the port's own listen and accept operations.
#pragma once

#include "platform/UniqueSocket.h"

#include <cstdint>

namespace tavlo::test {

// A listening stream socket on 127.0.0.1 (port 0: the system picks one);
// boundPort is the port it got. Empty on failure (the socket layer's last
// error tells why).
port::UniqueSocket ListenLoopback(std::uint16_t port, std::uint16_t& boundPort);
// One connection from a listening socket; empty on failure.
port::UniqueSocket AcceptConnection(port::SocketHandle listener);
// A loopback port where nothing listens (a connect there is refused).
std::uint16_t ClosedPort();

} // namespace tavlo::test
