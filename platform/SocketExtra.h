// Port: socket operations beyond platform/Socket.h that the line-oriented
// client of the IMAP family needs: sockets of any family and type, listen
// with a backlog, accept with the peer's address, local addresses,
// per-socket send and receive time-outs, the pending-bytes query, a wait for
// a non-blocking connect, and datagrams. IPv4 only; addresses and ports as
// in Socket.h (address in network byte order, port in host order).
#pragma once

#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>

namespace port {

inline constexpr int kFamilyIPv4 = 2;     // AF_INET on both platforms
inline constexpr int kSocketDatagram = 2; // SOCK_DGRAM on both platforms

// socket(family, type, protocol); the family and type numbers are those of
// Windows Sockets (2 IPv4; 1 stream, 2 datagram). kInvalidSocket on failure.
SocketHandle SocketOpenTyped(int family, int type, int protocol);
// listen(): 0, or -1 on failure.
int SocketListen(SocketHandle h, int backlog);
// accept() with the peer's address and port. kInvalidSocket on failure.
SocketHandle SocketAcceptFrom(SocketHandle listener, std::uint32_t& peerAddrNetOrder,
                              std::uint16_t& peerPort);
// getsockname(): 0, or -1 on failure.
int SocketLocalAddress(SocketHandle h, std::uint32_t& addrNetOrder, std::uint16_t& port);
// SO_SNDTIMEO and SO_RCVTIMEO in milliseconds (0: no time-out). 0, or -1.
int SocketSetSendTimeout(SocketHandle h, int milliseconds);
int SocketSetReceiveTimeout(SocketHandle h, int milliseconds);
// FIONREAD: 0 and the count of bytes that can be read at once, or -1.
int SocketPendingBytes(SocketHandle h, unsigned long& count);
// Waits for a non-blocking connect to finish, successfully or not: >0
// finished (SocketPendingError tells how), 0 time ran out, -1 failure. On
// Windows a failed connect is signalled in the exception set, so this is not
// the same as a wait for writability there.
int SocketWaitConnect(SocketHandle h, long seconds, long microseconds);
// One sendto/recvfrom. Bytes moved, -1 on failure.
long SocketSendTo(SocketHandle h, const void* data, std::size_t length, std::uint32_t addrNetOrder,
                  std::uint16_t port);
long SocketReceiveFrom(SocketHandle h, void* buffer, std::size_t capacity);

} // namespace port
