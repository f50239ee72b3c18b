// Windows Sockets implementation of the socket port.
#include "platform/Socket.h"
#include "platform/win32/WindowsGateway.h"

#include <cstring>
#include <string_view>

namespace port {
namespace {

SOCKET S(SocketHandle h) {
    return static_cast<SOCKET>(h);
}

sockaddr_in MakeAddress(std::uint32_t addrNetOrder, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addrNetOrder;
    sa.sin_port = htons(port);
    return sa;
}

int Wait(SocketHandle h, bool write, long seconds, long microseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(S(h), &set);
    // Windows reports a failed non-blocking connect in the exception set, not
    // the write set; watch both so that a failure ends the wait as on POSIX.
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(S(h), &failed);
    timeval tv{seconds, microseconds};
    const int r =
        ::select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr, &tv);
    if (r == SOCKET_ERROR)
        return -1;
    return r > 0 ? 1 : 0; // one socket: ready in one set or both
}

} // namespace

bool SocketLayerStartup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void SocketLayerCleanup() {
    ::WSACleanup();
}

SocketHandle SocketOpen(int type) {
    const SOCKET s = ::socket(AF_INET, type, 0);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

int SocketClose(SocketHandle h) {
    return ::closesocket(S(h)) == 0 ? 0 : -1;
}

bool ParseDottedIPv4(const char* text, std::uint32_t& addrNetOrder) {
    if (text == nullptr)
        return false;
    const unsigned long a = ::inet_addr(text);
    if (a == INADDR_NONE) {
        // inet_addr cannot tell the broadcast address from a failure.
        if (std::string_view(text) != "255.255.255.255")
            return false;
    }
    addrNetOrder = static_cast<std::uint32_t>(a);
    return true;
}

bool LookupIPv4(const char* host, std::uint32_t& addrNetOrder) {
    // gethostbyname answers an empty or missing name with this machine's own
    // address; a missing host must not become a local connection.
    if (host == nullptr || host[0] == '\0') {
        ::WSASetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    const hostent* he = ::gethostbyname(host);
    if (he == nullptr)
        return false; // WSAGetLastError holds the resolver's error
    if (he->h_addrtype != AF_INET || he->h_addr_list[0] == nullptr) {
        ::WSASetLastError(WSANO_DATA);
        return false;
    }
    std::memcpy(&addrNetOrder, he->h_addr_list[0], sizeof addrNetOrder);
    return true;
}

int SocketBind(SocketHandle h, std::uint32_t addrNetOrder, std::uint16_t port) {
    const sockaddr_in sa = MakeAddress(addrNetOrder, port);
    return ::bind(S(h), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int SocketConnect(SocketHandle h, std::uint32_t addrNetOrder, std::uint16_t port) {
    const sockaddr_in sa = MakeAddress(addrNetOrder, port);
    return ::connect(S(h), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int SocketShutdown(SocketHandle h, ShutdownHow how) {
    const int mode = how == ShutdownHow::Receive ? SD_RECEIVE
                     : how == ShutdownHow::Send  ? SD_SEND
                                                 : SD_BOTH;
    return ::shutdown(S(h), mode) == 0 ? 0 : -1;
}

int SocketSetNonBlocking(SocketHandle h, bool nonBlocking) {
    u_long arg = nonBlocking ? 1 : 0;
    return ::ioctlsocket(S(h), FIONBIO, &arg) == 0 ? 0 : -1;
}

int SocketSetReceiveBufferSize(SocketHandle h, int bytes) {
    return ::setsockopt(S(h), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                        sizeof bytes) == 0
               ? 0
               : -1;
}

int SocketSetSendBufferSize(SocketHandle h, int bytes) {
    return ::setsockopt(S(h), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                        sizeof bytes) == 0
               ? 0
               : -1;
}

long SocketSend(SocketHandle h, const void* data, std::size_t length) {
    const int n = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
    const int r = ::send(S(h), static_cast<const char*>(data), n, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

long SocketReceive(SocketHandle h, void* buffer, std::size_t capacity, bool peek) {
    const int n = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
    const int r = ::recv(S(h), static_cast<char*>(buffer), n, peek ? MSG_PEEK : 0);
    return r == SOCKET_ERROR ? -1 : r;
}

int SocketWaitReadable(SocketHandle h, long seconds, long microseconds) {
    return Wait(h, false, seconds, microseconds);
}

int SocketWaitWritable(SocketHandle h, long seconds, long microseconds) {
    return Wait(h, true, seconds, microseconds);
}

int SocketPendingError(SocketHandle h) {
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(S(h), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return ::WSAGetLastError();
    return err;
}

int LastSocketError() {
    return ::WSAGetLastError();
}

bool IsConnectInProgress(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

} // namespace port
