// CUT_Socket: the raw socket operations under the IMAP client family. Every
// byte the family moves goes through these eight overridable operations, so
// a subclass can put another transport (TLS on the IMAP secure port) under
// the whole family.
#pragma once

#include "net/imap/ResultCode.h"
#include "platform/Socket.h"

class CUT_Socket {
public:
    // Flag of RawReceive: the bytes stay queued (the platform's MSG_PEEK).
    static constexpr int kPeek = 2;
    // Directions of RawShutdown (the platform's SD_RECEIVE, SD_SEND, SD_BOTH).
    static constexpr int kShutdownReceive = 0;
    static constexpr int kShutdownSend = 1;
    static constexpr int kShutdownBoth = 2;

    CUT_Socket() = default;
    virtual ~CUT_Socket();

    CUT_Socket(const CUT_Socket&) = delete;
    CUT_Socket& operator=(const CUT_Socket&) = delete;

    // Runs on every freshly connected or accepted socket before the connect
    // operation reports. A result other than UT::Success makes the connect
    // operation close the socket and return that result.
    virtual ResultCode AfterConnect(port::SocketHandle socket, const char* hostText);

    // The platform close: 0, or -1 on failure.
    virtual int RawClose(port::SocketHandle socket);
    // The platform shutdown with kShutdownReceive/Send/Both: 0, or -1.
    virtual int RawShutdown(port::SocketHandle socket, int how);
    // One platform receive: bytes stored, 0 at end of stream, -1 on failure.
    // flags is 0 or kPeek; any other value fails with -1.
    virtual int RawReceive(port::SocketHandle socket, char* buffer, int size, int flags);
    // One platform send: bytes accepted, -1 on failure. flags must be 0.
    virtual int RawSend(port::SocketHandle socket, const char* data, int length, int flags);
    // True when the platform reports unread bytes; false also when the
    // query fails.
    virtual bool RawHasPendingData(port::SocketHandle socket);
    // One wait for readability: 0 when the socket became readable (data or
    // end of stream), 1 otherwise (time ran out or the wait failed).
    virtual int RawWaitReadable(port::SocketHandle socket, long seconds, long microseconds);
};
