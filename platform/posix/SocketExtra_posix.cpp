// BSD socket implementation of the further socket operations.
#include "platform/SocketExtra.h"
#include "platform/posix/SocketErrno.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace port {
namespace {

int Fd(SocketHandle h) {
    return static_cast<int>(h);
}

int MapFamily(int family) {
    return family == kFamilyIPv4 ? AF_INET : family;
}

int MapType(int type) {
    if (type == kSocketStream)
        return SOCK_STREAM;
    if (type == kSocketDatagram)
        return SOCK_DGRAM;
    return type;
}

int SetTimeout(SocketHandle h, int option, int milliseconds) {
    if (milliseconds < 0) {
        errno = EINVAL;
        return posix::RecordSocketError();
    }
    timeval tv{milliseconds / 1000, static_cast<suseconds_t>((milliseconds % 1000) * 1000)};
    return ::setsockopt(Fd(h), SOL_SOCKET, option, &tv, sizeof tv) == 0
               ? 0
               : posix::RecordSocketError();
}

} // namespace

SocketHandle SocketOpenTyped(int family, int type, int protocol) {
    const int fd = ::socket(MapFamily(family), MapType(type), protocol);
    if (fd < 0) {
        posix::RecordSocketError();
        return kInvalidSocket;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return static_cast<SocketHandle>(fd);
}

int SocketListen(SocketHandle h, int backlog) {
    return ::listen(Fd(h), backlog) == 0 ? 0 : posix::RecordSocketError();
}

SocketHandle SocketAcceptFrom(SocketHandle listener, std::uint32_t& peerAddrNetOrder,
                              std::uint16_t& peerPort) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd;
    do {
        fd = ::accept(Fd(listener), reinterpret_cast<sockaddr*>(&sa), &len);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        posix::RecordSocketError();
        return kInvalidSocket;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    peerAddrNetOrder = sa.sin_addr.s_addr;
    peerPort = ntohs(sa.sin_port);
    return static_cast<SocketHandle>(fd);
}

int SocketLocalAddress(SocketHandle h, std::uint32_t& addrNetOrder, std::uint16_t& port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(Fd(h), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return posix::RecordSocketError();
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
    int n = 0;
    if (::ioctl(Fd(h), FIONREAD, &n) != 0)
        return posix::RecordSocketError();
    if (n < 0)
        return -1;
    count = static_cast<unsigned long>(n);
    return 0;
}

int SocketWaitConnect(SocketHandle h, long seconds, long microseconds) {
    return SocketWaitWritable(h, seconds, microseconds);
}

long SocketSendTo(SocketHandle h, const void* data, std::size_t length, std::uint32_t addrNetOrder,
                  std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addrNetOrder;
    sa.sin_port = htons(port);
    ssize_t r;
    do {
        r = ::sendto(Fd(h), data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                     sizeof sa);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? posix::RecordSocketError() : static_cast<long>(r);
}

long SocketReceiveFrom(SocketHandle h, void* buffer, std::size_t capacity) {
    ssize_t r;
    do {
        r = ::recvfrom(Fd(h), buffer, capacity, 0, nullptr, nullptr);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? posix::RecordSocketError() : static_cast<long>(r);
}

} // namespace port
