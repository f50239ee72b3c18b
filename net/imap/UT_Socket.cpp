#include "net/imap/UT_Socket.h"

#include "platform/SocketExtra.h"

CUT_Socket::~CUT_Socket() = default;

ResultCode CUT_Socket::AfterConnect(port::SocketHandle, const char*) {
    return UT::Success;
}

int CUT_Socket::RawClose(port::SocketHandle socket) {
    return port::SocketClose(socket) == 0 ? 0 : -1;
}

int CUT_Socket::RawShutdown(port::SocketHandle socket, int how) {
    if (how < kShutdownReceive || how > kShutdownBoth)
        return -1;
    return port::SocketShutdown(socket, static_cast<port::ShutdownHow>(how)) == 0 ? 0 : -1;
}

int CUT_Socket::RawReceive(port::SocketHandle socket, char* buffer, int size, int flags) {
    if (buffer == nullptr || size < 0 || (flags != 0 && flags != kPeek))
        return -1;
    return static_cast<int>(
        port::SocketReceive(socket, buffer, static_cast<std::size_t>(size), flags == kPeek));
}

int CUT_Socket::RawSend(port::SocketHandle socket, const char* data, int length, int flags) {
    if (data == nullptr || length < 0 || flags != 0)
        return -1;
    return static_cast<int>(port::SocketSend(socket, data, static_cast<std::size_t>(length)));
}

bool CUT_Socket::RawHasPendingData(port::SocketHandle socket) {
    unsigned long count = 0;
    return port::SocketPendingBytes(socket, count) == 0 && count > 0;
}

int CUT_Socket::RawWaitReadable(port::SocketHandle socket, long seconds, long microseconds) {
    return port::SocketWaitReadable(socket, seconds, microseconds) > 0 ? 0 : 1;
}
