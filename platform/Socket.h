// Port: the socket layer (Windows Sockets 1.1 on Windows, BSD sockets on
// POSIX), IPv4 only. Thin functions with the platform's semantics; the
// classes of net/ build their behaviour on top of these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace port {

// SOCKET on Windows (an unsigned pointer-sized value), a file descriptor on
// POSIX. The invalid value has all bits set on both.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

inline constexpr int kSocketStream = 1; // SOCK_STREAM on both platforms

enum class ShutdownHow { Receive = 0, Send = 1, Both = 2 };

// Process-wide start and stop of the socket layer (WSAStartup/WSACleanup;
// on POSIX: SIGPIPE is ignored so that writes to a closed peer fail with an
// error instead of ending the process). Startup returns false on failure.
bool SocketLayerStartup();
void SocketLayerCleanup();

// socket(AF_INET, type, 0). kInvalidSocket on failure.
SocketHandle SocketOpen(int type);
// closesocket/close: 0 on success, -1 on failure.
int SocketClose(SocketHandle h);

// inet_addr semantics: true and the address in network byte order when the
// text is a dotted IPv4 address. "255.255.255.255" is accepted.
bool ParseDottedIPv4(const char* text, std::uint32_t& addrNetOrder);
// Host name look-up, first IPv4 address of the answer (network order).
// On failure returns false and LastSocketError() reports the resolver error.
// An empty or null name fails with kErrHostNotFound (Windows would answer it
// with this machine's own address).
bool LookupIPv4(const char* host, std::uint32_t& addrNetOrder);

// 0 on success, -1 on failure (LastSocketError() tells why).
int SocketBind(SocketHandle h, std::uint32_t addrNetOrder, std::uint16_t port);
int SocketConnect(SocketHandle h, std::uint32_t addrNetOrder, std::uint16_t port);
int SocketShutdown(SocketHandle h, ShutdownHow how);
int SocketSetNonBlocking(SocketHandle h, bool nonBlocking);
int SocketSetReceiveBufferSize(SocketHandle h, int bytes);
int SocketSetSendBufferSize(SocketHandle h, int bytes);

// One send/recv. Bytes moved, 0 from Receive when the peer closed, -1 on
// failure. Send never raises SIGPIPE.
long SocketSend(SocketHandle h, const void* data, std::size_t length);
long SocketReceive(SocketHandle h, void* buffer, std::size_t capacity, bool peek = false);

// Waits until this one socket is ready, with select()'s meaning (poll() on
// POSIX, so that any descriptor number works): >0 ready, 0 time ran out, -1
// failure. Readable includes end of stream; writable includes a finished (or
// failed) non-blocking connect, on Windows too.
int SocketWaitReadable(SocketHandle h, long seconds, long microseconds);
int SocketWaitWritable(SocketHandle h, long seconds, long microseconds);
// The pending error of a socket (SO_ERROR), 0 when none.
int SocketPendingError(SocketHandle h);

// The socket layer's last error number (WSAGetLastError on Windows, errno on
// POSIX, with resolver failures reported as kErrHostNotFound).
int LastSocketError();

// True when the error of a non-blocking connect means "in progress".
bool IsConnectInProgress(int error);

} // namespace port
