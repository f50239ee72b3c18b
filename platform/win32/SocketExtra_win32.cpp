// Windows Sockets implementation of the further socket operations.
#include "platform/SocketExtra.h"
#include "platform/win32/WindowsGateway.h"

namespace port {
namespace {

SOCKET S(SocketHandle h) {
    return static_cast<SOCKET>(h);
}

int ClampLength(std::size_t n) {
    return n > 0x7fffffff ? 0x7fffffff : static_cast<int>(n);
}

int SetTimeout(SocketHandle h, int option, int milliseconds) {
    if (milliseconds < 0)
        return -1;
    const DWORD ms = static_cast<DWORD>(milliseconds);
    return ::setsockopt(S(h), SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms) ==
                   0
               ? 0
               : -1;
}

} // namespace

SocketHandle SocketOpenTyped(int family, int type, int protocol) {
    const SOCKET s = ::socket(family, type, protocol);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

int SocketListen(SocketHandle h, int backlog) {
    return ::listen(S(h), backlog) == 0 ? 0 : -1;
}

SocketHandle SocketAcceptFrom(SocketHandle listener, std::uint32_t& peerAddrNetOrder,
                              std::uint16_t& peerPort) {
    sockaddr_in sa{};
    int len = sizeof sa;
    const SOCKET s = ::accept(S(listener), reinterpret_cast<sockaddr*>(&sa), &len);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    peerAddrNetOrder = sa.sin_addr.s_addr;
    peerPort = ntohs(sa.sin_port);
    return static_cast<SocketHandle>(s);
}

int SocketLocalAddress(SocketHandle h, std::uint32_t& addrNetOrder, std::uint16_t& port) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(S(h), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    addrNetOrder = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
    return 0;
}

int SocketSetSendTimeout(SocketHandle h, int milliseconds) {
    return SetTimeout(h, SO_SNDTIMEO, milliseconds);
}

int SocketSetReceiveTimeout(SocketHandle h, int milliseconds) {
    return SetTimeout(h, SO_RCVTIMEO, milliseconds);
}

int SocketPendingBytes(SocketHandle h, unsigned long& count) {
    u_long n = 0;
    if (::ioctlsocket(S(h), FIONREAD, &n) != 0)
        return -1;
    count = n;
    return 0;
}

int SocketWaitConnect(SocketHandle h, long seconds, long microseconds) {
    // Windows reports a failed non-blocking connect in the exception set
    // only; waiting for writability alone would sit out the whole time-out.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(S(h), &writable);
    FD_SET(S(h), &failed);
    timeval tv{seconds, microseconds};
    const int r = ::select(0, nullptr, &writable, &failed, &tv);
    return r == SOCKET_ERROR ? -1 : r;
}

long SocketSendTo(SocketHandle h, const void* data, std::size_t length, std::uint32_t addrNetOrder,
                  std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addrNetOrder;
    sa.sin_port = htons(port);
    const int r = ::sendto(S(h), static_cast<const char*>(data), ClampLength(length), 0,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return r == SOCKET_ERROR ? -1 : r;
}

long SocketReceiveFrom(SocketHandle h, void* buffer, std::size_t capacity) {
    const int r =
        ::recvfrom(S(h), static_cast<char*>(buffer), ClampLength(capacity), 0, nullptr, nullptr);
    return r == SOCKET_ERROR ? -1 : r;
}

} // namespace port
