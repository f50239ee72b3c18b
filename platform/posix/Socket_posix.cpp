// BSD socket implementation of the socket port.
#include "platform/Errors.h"
#include "platform/Socket.h"
#include "platform/posix/SocketErrno.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace port {
namespace {

thread_local int t_lastSocketError = 0;

int Fd(SocketHandle h) {
    return static_cast<int>(h);
}

int Fail() {
    return posix::RecordSocketError();
}

sockaddr_in MakeAddress(std::uint32_t addrNetOrder, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addrNetOrder;
    sa.sin_port = htons(port);
    return sa;
}

// poll() rather than select(): select cannot watch a descriptor numbered
// FD_SETSIZE (1024) or above, which a long-running process may well hold.
int Wait(SocketHandle h, bool write, long seconds, long microseconds) {
    if (Fd(h) < 0) {
        t_lastSocketError = EBADF; // poll would skip it and just time out
        return -1;
    }
    if (seconds < 0 || microseconds < 0) {
        t_lastSocketError = EINVAL;
        return -1;
    }
    pollfd watched{Fd(h), static_cast<short>(write ? POLLOUT : POLLIN), 0};
    // Whole milliseconds, rounded up so that a short wait is not no wait.
    const auto wait = std::chrono::seconds(seconds) + std::chrono::ceil<std::chrono::milliseconds>(
                                                          std::chrono::microseconds(microseconds));
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int timeout = left.count() <= 0 ? 0
                            : left.count() > std::numeric_limits<int>::max()
                                ? std::numeric_limits<int>::max()
                                : static_cast<int>(left.count());
        watched.revents = 0;
        const int r = ::poll(&watched, 1, timeout);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return Fail();
        if (r > 0 && (watched.revents & POLLNVAL) != 0) {
            t_lastSocketError = EBADF; // as select reports a closed descriptor
            return -1;
        }
        if (r == 0 && timeout > 0 && std::chrono::steady_clock::now() < deadline)
            continue; // woke early
        // Like select: a hang-up or an error counts as readable and writable,
        // so that the following call reports it.
        return r;
    }
}

} // namespace

int posix::RecordSocketError() {
    t_lastSocketError = errno;
    return -1;
}

bool SocketLayerStartup() {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void SocketLayerCleanup() {}

SocketHandle SocketOpen(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) {
        Fail();
        return kInvalidSocket;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return static_cast<SocketHandle>(fd);
}

int SocketClose(SocketHandle h) {
    return ::close(Fd(h)) == 0 ? 0 : Fail();
}

bool ParseDottedIPv4(const char* text, std::uint32_t& addrNetOrder) {
    in_addr a{};
    if (text == nullptr || ::inet_aton(text, &a) == 0)
        return false;
    addrNetOrder = a.s_addr;
    return true;
}

bool LookupIPv4(const char* host, std::uint32_t& addrNetOrder) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (host == nullptr || host[0] == '\0') {
        t_lastSocketError = kErrHostNotFound;
        return false;
    }
    const int rc = ::getaddrinfo(host, nullptr, &hints, &res);
    if (rc != 0 || res == nullptr) {
        t_lastSocketError = (rc == EAI_SYSTEM && errno != 0) ? errno : kErrHostNotFound;
        return false;
    }
    addrNetOrder = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return true;
}

int SocketBind(SocketHandle h, std::uint32_t addrNetOrder, std::uint16_t port) {
    const sockaddr_in sa = MakeAddress(addrNetOrder, port);
    return ::bind(Fd(h), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : Fail();
}

int SocketConnect(SocketHandle h, std::uint32_t addrNetOrder, std::uint16_t port) {
    const sockaddr_in sa = MakeAddress(addrNetOrder, port);
    if (::connect(Fd(h), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0)
        return 0;
    if (errno != EINTR)
        return Fail();
    // An interrupted connect goes on in the background; calling connect again
    // would fail with EALREADY. Wait for its outcome instead.
    pollfd watched{Fd(h), POLLOUT, 0};
    int r;
    do {
        r = ::poll(&watched, 1, -1);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return Fail();
    const int error = SocketPendingError(h);
    if (error == 0)
        return 0;
    t_lastSocketError = error;
    return -1;
}

int SocketShutdown(SocketHandle h, ShutdownHow how) {
    const int mode = how == ShutdownHow::Receive ? SHUT_RD
                     : how == ShutdownHow::Send  ? SHUT_WR
                                                 : SHUT_RDWR;
    return ::shutdown(Fd(h), mode) == 0 ? 0 : Fail();
}

int SocketSetNonBlocking(SocketHandle h, bool nonBlocking) {
    const int flags = ::fcntl(Fd(h), F_GETFL, 0);
    if (flags < 0)
        return Fail();
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(Fd(h), F_SETFL, wanted) == 0 ? 0 : Fail();
}

int SocketSetReceiveBufferSize(SocketHandle h, int bytes) {
    return ::setsockopt(Fd(h), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0 ? 0 : Fail();
}

int SocketSetSendBufferSize(SocketHandle h, int bytes) {
    return ::setsockopt(Fd(h), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0 ? 0 : Fail();
}

long SocketSend(SocketHandle h, const void* data, std::size_t length) {
    ssize_t r;
    do {
        r = ::send(Fd(h), data, length, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? Fail() : static_cast<long>(r);
}

long SocketReceive(SocketHandle h, void* buffer, std::size_t capacity, bool peek) {
    ssize_t r;
    do {
        r = ::recv(Fd(h), buffer, capacity, peek ? MSG_PEEK : 0);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? Fail() : static_cast<long>(r);
}

int SocketWaitReadable(SocketHandle h, long seconds, long microseconds) {
    return Wait(h, false, seconds, microseconds);
}

int SocketWaitWritable(SocketHandle h, long seconds, long microseconds) {
    return Wait(h, true, seconds, microseconds);
}

int SocketPendingError(SocketHandle h) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(Fd(h), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

int LastSocketError() {
    return t_lastSocketError;
}

bool IsConnectInProgress(int error) {
    return error == EINPROGRESS || error == EWOULDBLOCK;
}

} // namespace port
