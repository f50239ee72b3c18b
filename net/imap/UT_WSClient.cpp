#include "net/imap/UT_WSClient.h"

#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_Queue.h"
#include "net/imap/UT_Text.h"
#include "platform/Errors.h"
#include "platform/NotifyWindow.h"
#include "platform/SocketExtra.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Largest receive of the transfers into a source or a queue (64 KiB).
constexpr int kReceiveBlock = 64 << 10;
constexpr int kStream = 1;

int TextLength(const char* text) {
    return static_cast<int>(std::min<std::size_t>(std::strlen(text), INT_MAX));
}

std::uint16_t ToNetworkOrder(std::uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value & 0xff)};
    std::uint16_t result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}

// The dotted text of an address in network byte order (inet_ntoa).
void FormatDotted(std::uint32_t addrNetOrder, char* out, std::size_t size) {
    unsigned char b[4];
    std::memcpy(b, &addrNetOrder, sizeof b);
    std::snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

bool ValidPort(int port) {
    return port >= 0 && port <= 0xffff;
}

UT_SocketAddress MakeAddress(int family, int port, std::uint32_t addrNetOrder) {
    UT_SocketAddress a;
    a.nFamily = family;
    a.nPortNetOrder = ToNetworkOrder(static_cast<std::uint16_t>(port));
    a.nAddrNetOrder = addrNetOrder;
    return a;
}

// Where ReceiveInto puts the bytes: a data source or a queue.
struct SourceSink {
    CUT_DataSource& source;
    int Write(const char* data, int length) {
        return source.Write(data, static_cast<std::size_t>(length));
    }
};

struct QueueSink {
    CUT_Queue& queue;
    int Write(const char* data, int length) { return queue.Write(data, length); }
};

// Readers for SendBlocks; buffer holds CUT_WSClient::kSendBlock + 1 bytes.
int ReadFromSource(void* from, char* buffer, int size) {
    // Read stores up to size - 1 bytes and a NUL.
    return static_cast<CUT_DataSource*>(from)->Read(buffer, static_cast<std::size_t>(size));
}

int ReadFromQueue(void* from, char* buffer, int size) {
    return static_cast<CUT_Queue*>(from)->Read(buffer, size - 1);
}

} // namespace

CUT_WSClient::CUT_WSClient() {
    m_bSocketLayerStarted = port::SocketLayerStartup();
    SetSendTimeOut(m_nSendTimeOut);
    SetReceiveTimeOut(m_nReceiveTimeOut);
}

CUT_WSClient::~CUT_WSClient() {
    CUT_WSClient::Disconnect();
    if (m_bSocketLayerStarted)
        port::SocketLayerCleanup();
    if (m_hWndNotify != nullptr)
        port::DestroyNotifyWindow(m_hWndNotify);
}

void CUT_WSClient::AbandonSocket() {
    if (m_clientSocket) {
        RawClose(m_clientSocket.Get());
        m_clientSocket.Release(); // closed through the transport above
    }
    m_nBlockingMode = 0;
}

void CUT_WSClient::ApplyTimeOuts() {
    if (!m_clientSocket)
        return;
    port::SocketSetSendTimeout(m_clientSocket.Get(), m_nSendTimeOut);
    port::SocketSetReceiveTimeout(m_clientSocket.Get(), m_nReceiveTimeOut);
}

ResultCode CUT_WSClient::SetSendTimeOut(int milliseconds) {
    if (milliseconds < 0 ||
        (IsConnected() && port::SocketSetSendTimeout(m_clientSocket.Get(), milliseconds) != 0))
        return ReportResult(UT::Failed);
    m_nSendTimeOut = milliseconds;
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::SetReceiveTimeOut(int milliseconds) {
    if (milliseconds < 0 ||
        (IsConnected() && port::SocketSetReceiveTimeout(m_clientSocket.Get(), milliseconds) != 0))
        return ReportResult(UT::Failed);
    m_nReceiveTimeOut = milliseconds;
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::ResolveHost(const char* name, char* addressOut, std::size_t size) {
    if (addressOut == nullptr || size == 0)
        return ReportResult(UT::NullArgument);
    if (name == nullptr)
        return ReportResult(UT::NameLookupFailed);
    // "user@host": only the host is looked up.
    const char* host = name;
    const char* at = std::strrchr(name, '@');
    if (at != nullptr && at != name)
        host = at + 1;
    std::uint32_t addr = 0;
    if (*host == '\0' || !port::LookupIPv4(host, addr))
        return ReportResult(UT::NameLookupFailed);
    char text[32];
    FormatDotted(addr, text, sizeof text);
    const std::size_t needed = std::strlen(text) + 1;
    if (needed > kMaxAddressText || needed > size)
        return ReportResult(UT::AddressTooLong);
    std::memcpy(addressOut, text, needed);
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::ConnectTo(int port, const char* host, int timeoutSeconds, int family,
                                   int type) {
    if (IsConnected())
        return ReportResult(UT::AlreadyConnected);
    if (host == nullptr)
        return ReportResult(UT::NullArgument);

    // Through a proxy the socket's peer is the proxy; the server is reached
    // by the tunnel.
    const bool proxied = !m_proxy.IsDirect();
    const char* peer = proxied ? m_proxy.host.c_str() : host;
    const int peerPort = proxied ? m_proxy.port : port;

    // The numeric address comes from the full host text, never from a cut
    // copy of it.
    std::uint32_t addr = 0;
    if (port::ParseDottedIPv4(peer, addr)) {
        UT_CopyCut(m_szAddress, sizeof m_szAddress, peer, kMaxAddressText);
    } else if (ResolveHost(peer, m_szAddress, sizeof m_szAddress) != UT::Success ||
               !port::ParseDottedIPv4(m_szAddress, addr)) {
        return ReportResult(UT::HostUnresolved);
    }
    if (!ValidPort(port) || !ValidPort(peerPort))
        return ReportResult(UT::ConnectFailed);

    m_nFamily = family;
    m_nSockType = type;
    m_clientSocketAddr = MakeAddress(family, peerPort, addr);

    port::SocketHandle made = port::kInvalidSocket;
    if (MakeSocket(made, family, type, 0) != UT::Success)
        return ReportResult(UT::SocketCreateFailed);
    m_clientSocket.Reset(made);
    if (timeoutSeconds >= 0) {
        if (port::SocketSetNonBlocking(m_clientSocket.Get(), true) != 0) {
            AbandonSocket();
            return ReportResult(UT::Failed);
        }
        m_nBlockingMode = 1;
    }

    if (port::SocketConnect(m_clientSocket.Get(), addr, static_cast<std::uint16_t>(peerPort)) !=
        0) {
        if (timeoutSeconds < 0 || !port::IsConnectInProgress(port::LastSocketError())) {
            AbandonSocket();
            return ReportResult(UT::ConnectFailed);
        }
        if (port::SocketWaitConnect(m_clientSocket.Get(), timeoutSeconds, 0) <= 0) {
            AbandonSocket();
            return ReportResult(UT::ConnectTimedOut);
        }
        // The wait also ends when the connect failed (refused, unreachable):
        // that is no connection.
        if (port::SocketPendingError(m_clientSocket.Get()) != 0) {
            AbandonSocket();
            return ReportResult(UT::ConnectFailed);
        }
    }

    if (m_nBlockingMode != 0) {
        if (port::SocketSetNonBlocking(m_clientSocket.Get(), false) != 0) {
            AbandonSocket();
            return ReportResult(UT::Failed);
        }
        m_nBlockingMode = 0;
    }
    ApplyTimeOuts();
    m_nRemotePort = peerPort;
    std::uint32_t localAddr = 0;
    std::uint16_t localPort = 0;
    if (port::SocketLocalAddress(m_clientSocket.Get(), localAddr, localPort) == 0)
        m_nLocalPort = localPort;

    if (proxied) {
        // As ResolveHost reads it: in "name@host" the server is the part
        // after the last at sign.
        const char* target = host;
        if (const char* at = std::strrchr(host, '@'); at != nullptr && at != host)
            target = at + 1;
        SocketProxyTransport transport(m_clientSocket.Get());
        const unsigned long waitMs = timeoutSeconds >= 0
                                         ? static_cast<unsigned long>(timeoutSeconds) * 1000
                                         : static_cast<unsigned long>(m_nReceiveTimeOut);
        const int failure = ProxyTunnel::Open(transport, m_proxy, target, port, waitMs);
        if (failure != 0) {
            AbandonSocket();
            m_nRemotePort = 0;
            m_nLocalPort = 0;
            port::SetLastErrorValue(failure);
            return ReportResult(failure == port::kErrTimeout ? UT::ConnectTimedOut
                                                             : UT::ConnectFailed);
        }
    }

    const ResultCode rc = AfterConnect(m_clientSocket.Get(), host);
    if (rc != UT::Success) {
        AbandonSocket();
        m_nRemotePort = 0;
        m_nLocalPort = 0;
    }
    return ReportResult(rc);
}

ResultCode CUT_WSClient::ConnectFromLocal(int localPort, int remotePort, const char* localAddress,
                                          const char* remoteAddress, int family, int type) {
    if (IsConnected())
        return ReportResult(UT::AlreadyConnected);
    if (remoteAddress == nullptr)
        return ReportResult(UT::NullArgument);
    UT_CopyCut(m_szAddress, sizeof m_szAddress, remoteAddress, kMaxAddressText);
    m_nFamily = family;
    m_nSockType = type;

    std::uint32_t remoteAddr = 0;
    if (!port::ParseDottedIPv4(remoteAddress, remoteAddr) || !ValidPort(remotePort))
        return ReportResult(UT::ConnectFailed);
    std::uint32_t localAddr = 0;
    const bool anyLocal = localAddress == nullptr || *localAddress == '\0';
    if ((!anyLocal && !port::ParseDottedIPv4(localAddress, localAddr)) || !ValidPort(localPort))
        return ReportResult(UT::BindFailed);

    port::SocketHandle made = port::kInvalidSocket;
    if (MakeSocket(made, family, type, 0) != UT::Success)
        return ReportResult(UT::SocketCreateFailed);
    m_clientSocket.Reset(made);
    if (port::SocketBind(m_clientSocket.Get(), localAddr, static_cast<std::uint16_t>(localPort)) !=
        0) {
        AbandonSocket();
        return ReportResult(UT::BindFailed);
    }
    if (port::SocketConnect(m_clientSocket.Get(), remoteAddr,
                            static_cast<std::uint16_t>(remotePort)) != 0) {
        AbandonSocket();
        return ReportResult(UT::ConnectFailed);
    }
    m_clientSocketAddr = MakeAddress(family, remotePort, remoteAddr);
    m_nRemotePort = remotePort;
    std::uint16_t boundPort = 0;
    if (port::SocketLocalAddress(m_clientSocket.Get(), localAddr, boundPort) == 0)
        m_nLocalPort = boundPort;
    ApplyTimeOuts();
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::OpenDatagram(int localPort, int remotePort, const char* remoteAddress,
                                      const char* localAddress) {
    if (IsConnected())
        return ReportResult(UT::AlreadyConnected);
    if (remoteAddress == nullptr)
        return ReportResult(UT::NullArgument);
    UT_CopyCut(m_szAddress, sizeof m_szAddress, remoteAddress, kMaxAddressText);
    m_nRemotePort = remotePort;
    m_nFamily = port::kFamilyIPv4;
    m_nSockType = port::kSocketDatagram;

    std::uint32_t localAddr = 0;
    const bool anyLocal = localAddress == nullptr || *localAddress == '\0';
    if ((!anyLocal && !port::ParseDottedIPv4(localAddress, localAddr)) || !ValidPort(localPort))
        return ReportResult(UT::BindFailed);
    port::SocketHandle made = port::kInvalidSocket;
    if (MakeSocket(made, m_nFamily, m_nSockType, 0) != UT::Success)
        return ReportResult(UT::SocketCreateFailed);
    m_clientSocket.Reset(made);
    if (port::SocketBind(m_clientSocket.Get(), localAddr, static_cast<std::uint16_t>(localPort)) !=
        0) {
        AbandonSocket();
        return ReportResult(UT::BindFailed);
    }
    std::uint16_t boundPort = 0;
    if (port::SocketLocalAddress(m_clientSocket.Get(), localAddr, boundPort) == 0)
        m_nLocalPort = boundPort;
    ApplyTimeOuts();
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::MakeSocket(port::SocketHandle& socketOut, int family, int type,
                                    int protocol) {
    socketOut = port::SocketOpenTyped(family, type, protocol);
    return ReportResult(socketOut == port::kInvalidSocket ? UT::Failed : UT::Success);
}

ResultCode CUT_WSClient::Disconnect() {
    bool failed = false;
    // The sockets are closed through the transport (RawClose), so their
    // owners give them up instead of closing them themselves.
    if (m_clientSocket) {
        if (m_nSockType == kStream && RawShutdown(m_clientSocket.Get(), kShutdownBoth) == -1)
            failed = true;
        if (RawClose(m_clientSocket.Get()) == -1)
            failed = true;
        m_clientSocket.Release();
    }
    if (m_serverSocket) {
        // A listening socket has no connection: its shutdown always fails
        // (not connected) and says nothing about whether it was released.
        RawShutdown(m_serverSocket.Get(), kShutdownBoth);
        if (RawClose(m_serverSocket.Get()) == -1)
            failed = true;
        m_serverSocket.Release();
    }
    m_nBlockingMode = 0;
    m_nRemotePort = 0;
    m_nLocalPort = 0;
    m_nAcceptPort = 0;
    m_szAddress[0] = '\0';
    return ReportResult(failed ? UT::Failed : UT::Success);
}

void CUT_WSClient::DispatchNotify(void* owner, unsigned message, std::uintptr_t,
                                  std::intptr_t lParam) {
    auto* client = static_cast<CUT_WSClient*>(owner);
    const int low = static_cast<int>(lParam & 0xffff);
    const int high = static_cast<int>((lParam >> 16) & 0xffff);
    switch (message) {
    case port::kNotifySocketEvent:
        client->OnSocketEvent(low, high);
        break;
    case port::kNotifyErrorWordB:
        client->OnSocketEventB(high);
        break;
    case port::kNotifyErrorWordC:
        client->OnSocketEventC(high);
        break;
    default:
        break;
    }
}

ResultCode CUT_WSClient::CreateNotifyWindow(void* instance) {
    if (m_hWndNotify != nullptr)
        return ReportResult(UT::Success);
    m_hWndNotify = port::CreateNotifyWindow(instance, &CUT_WSClient::DispatchNotify);
    if (m_hWndNotify == nullptr)
        return ReportResult(UT::Failed);
    port::SendNotifyWindowMessage(m_hWndNotify, port::kNotifySetOwner, 0,
                                  reinterpret_cast<std::intptr_t>(this));
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::ListenOn(int port, int backlog, int family, std::uint32_t address) {
    if (IsListening())
        return ReportResult(UT::AlreadyConnected);
    if (!ValidPort(port))
        return ReportResult(UT::BindFailed);
    port::SocketHandle s = port::SocketOpenTyped(family, kStream, m_nProtocol);
    if (s == port::kInvalidSocket)
        return ReportResult(UT::SocketCreateFailed);
    if (port::SocketBind(s, address, static_cast<std::uint16_t>(port)) != 0) {
        RawClose(s);
        return ReportResult(UT::BindFailed);
    }
    if (port::SocketListen(s, backlog) != 0) {
        RawClose(s);
        return ReportResult(UT::ListenFailed);
    }
    m_serverSocket.Reset(s);
    std::uint32_t boundAddr = address;
    std::uint16_t boundPort = static_cast<std::uint16_t>(port);
    port::SocketLocalAddress(s, boundAddr, boundPort);
    m_nAcceptPort = boundPort;
    m_serverSocketAddr = MakeAddress(family, boundPort, boundAddr);
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::WaitForIncoming(int seconds) {
    if (!IsListening())
        return ReportResult(UT::Failed);
    return ReportResult(
        port::SocketWaitReadable(m_serverSocket.Get(), seconds, 0) > 0 ? UT::Success : UT::Failed);
}

ResultCode CUT_WSClient::AcceptIncoming() {
    if (!IsListening())
        return ReportResult(UT::Failed);
    if (IsConnected()) {
        if (m_nSockType == kStream)
            RawShutdown(m_clientSocket.Get(), kShutdownBoth);
        const int closed = RawClose(m_clientSocket.Get());
        m_clientSocket.Release();
        if (closed == -1)
            return ReportResult(UT::Failed);
    }
    std::uint32_t peerAddr = 0;
    std::uint16_t peerPort = 0;
    const port::SocketHandle s = port::SocketAcceptFrom(m_serverSocket.Get(), peerAddr, peerPort);
    if (s == port::kInvalidSocket)
        return ReportResult(UT::Failed);
    m_clientSocket.Reset(s);
    m_nSockType = kStream;
    FormatDotted(peerAddr, m_szAddress, sizeof m_szAddress);
    m_nRemotePort = peerPort;
    m_clientSocketAddr = MakeAddress(port::kFamilyIPv4, peerPort, peerAddr);
    std::uint32_t localAddr = 0;
    std::uint16_t localPort = 0;
    if (port::SocketLocalAddress(s, localAddr, localPort) == 0)
        m_nLocalPort = localPort;
    ApplyTimeOuts();
    const ResultCode rc = AfterConnect(s, m_szAddress);
    if (rc != UT::Success)
        AbandonSocket();
    return ReportResult(rc);
}

ResultCode CUT_WSClient::SendBlocks(int (*read)(void* from, char* buffer, int size), void* from) {
    char block[kSendBlock + 1];
    long long total = 0;
    for (;;) {
        const int n = read(from, block, sizeof block);
        if (n < 0)
            return UT::Failed;
        if (n == 0)
            return UT::Success;
        // A block sent only in part would lose its tail: the rest is sent too.
        if (SendAll(block, n) != n)
            return UT::SendFailed;
        total += n;
        if (!SendProgress(total) || IsCancelled())
            return UT::Cancelled;
    }
}

ResultCode CUT_WSClient::SendFromQueue(CUT_Queue& queue) {
    if (!IsConnected())
        return ReportResult(UT::NotConnected);
    return ReportResult(SendBlocks(&ReadFromQueue, &queue));
}

ResultCode CUT_WSClient::SendSource(CUT_DataSource& source) {
    if (!IsConnected())
        return ReportResult(UT::NotConnected);
    if (source.Open(CUT_DataSource::kOpenRead) != 0)
        return ReportResult(UT::SourceOpenFailed);
    const ResultCode rc = SendBlocks(&ReadFromSource, &source);
    source.Close();
    return ReportResult(rc);
}

int CUT_WSClient::SendText(const char* data, int length) {
    if (data == nullptr || !IsConnected())
        return 0;
    if (length <= 0)
        length = TextLength(data);
    if (length == 0)
        return 0;
    const int sent = RawSend(m_clientSocket.Get(), data, length, 0);
    return sent > 0 ? sent : 0;
}

int CUT_WSClient::SendAll(const char* data, int length) {
    if (data == nullptr)
        return 0;
    if (length <= 0)
        length = TextLength(data);
    int sent = 0;
    while (sent < length) {
        const int n = SendText(data + sent, length - sent);
        if (n <= 0)
            break;
        sent += n;
    }
    return sent;
}

int CUT_WSClient::SendAsLines(const char* data, int length, int lineLength) {
    if (data == nullptr)
        return 0;
    if (length < 0)
        length = TextLength(data);
    // A line length of 0 or less would never advance: the text is one line.
    if (lineLength <= 0)
        lineLength = length;
    int sent = 0;
    while (sent < length) {
        if (IsCancelled())
            break;
        const int chunk = std::min(lineLength, length - sent);
        const int n = SendAll(data + sent, chunk);
        sent += n;
        if (n < chunk || SendAll("\r\n", 2) < 2)
            break;
    }
    return sent;
}

ResultCode CUT_WSClient::SendFileAt(const char* path) {
    if (path == nullptr)
        return ReportResult(UT::NullArgument);
    CUT_FileDataSource source(path, kFileLineBuffer);
    return ReportResult(SendSource(source));
}

ResultCode CUT_WSClient::SendDatagram(const char* data, int& lengthInOut) {
    if (!IsConnected())
        return ReportResult(UT::NotConnected);
    if (data == nullptr || lengthInOut < 0)
        return ReportResult(UT::NullArgument);
    std::uint32_t addr = 0;
    long sent = -1;
    if (port::ParseDottedIPv4(m_szAddress, addr) && ValidPort(m_nRemotePort))
        sent = port::SocketSendTo(m_clientSocket.Get(), data, static_cast<std::size_t>(lengthInOut),
                                  addr, static_cast<std::uint16_t>(m_nRemotePort));
    if (sent < 0) {
        lengthInOut = 0;
        return ReportResult(UT::SendFailed);
    }
    lengthInOut = static_cast<int>(sent);
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::WaitWritable(int seconds, int microseconds) {
    if (!IsConnected())
        return ReportResult(UT::Failed);
    return ReportResult(port::SocketWaitWritable(m_clientSocket.Get(), seconds, microseconds) > 0
                            ? UT::Success
                            : UT::Failed);
}

template <class Sink>
ResultCode CUT_WSClient::ReceiveInto(Sink& sink, int timeoutSeconds, long long limit,
                                     bool limitRequired) {
    // Each receive takes what has arrived, up to a large block: a literal of
    // tens of megabytes then costs hundreds of calls, not hundreds of
    // thousands. Never more than the limit: what follows it belongs to the
    // next reader.
    const int blockSize = static_cast<int>(
        limit > 0 ? std::min<long long>(kReceiveBlock, limit) : kReceiveBlock);
    const std::unique_ptr<char[]> block(new (std::nothrow) char[static_cast<std::size_t>(blockSize)]);
    if (block == nullptr)
        return UT::ReceiveFailed;
    long long total = 0;
    for (;;) {
        if (limit > 0 && total >= limit)
            return UT::Success;
        if (timeoutSeconds > 0 && WaitReadable(timeoutSeconds, 0) != UT::Success)
            return UT::ReceiveTimedOut;
        int want = blockSize;
        if (limit > 0)
            want = static_cast<int>(std::min<long long>(want, limit - total));
        const int n = ReceiveSome(block.get(), want, 0);
        if (n == 0) {
            // The peer ended the connection. Short of the bytes that were
            // announced this is a lost reply, not a finished one.
            return limitRequired && total < limit ? UT::ReceiveTimedOut : UT::Success;
        }
        if (n < 0)
            return UT::ReceiveFailed;
        if (sink.Write(block.get(), n) != n)
            return UT::SourceWriteFailed;
        total += n;
        if (!ReceiveProgress(total) || IsCancelled())
            return UT::Cancelled;
    }
}

ResultCode CUT_WSClient::ReceiveToQueue(CUT_Queue& queue, int timeoutSeconds, int maxBytes) {
    if (!IsConnected())
        return ReportResult(UT::NotConnected);
    long long limit = queue.GetFreeSpace();
    if (maxBytes > 0 && maxBytes < limit)
        limit = maxBytes;
    if (limit <= 0)
        return ReportResult(UT::Success);
    QueueSink sink{queue};
    return ReportResult(ReceiveInto(sink, timeoutSeconds, limit, maxBytes > 0));
}

ResultCode CUT_WSClient::ReceiveToSource(CUT_DataSource& source, int openMode, int timeoutSeconds,
                                         long long maxBytes) {
    if (!IsConnected())
        return ReportResult(UT::NotConnected);
    if (openMode != CUT_DataSource::kOpenWrite && openMode != CUT_DataSource::kOpenAppend)
        return ReportResult(UT::BadOpenMode);
    if (source.Open(openMode) != 0)
        return ReportResult(UT::SourceOpenFailed);
    SourceSink sink{source};
    ResultCode rc = ReceiveInto(sink, timeoutSeconds, maxBytes > 0 ? maxBytes : 0, maxBytes > 0);
    // A source that cannot be closed (a mapped file not cut to its length)
    // did not keep what it was given.
    if (source.Close() != 0 && rc == UT::Success)
        rc = UT::SourceWriteFailed;
    return ReportResult(rc);
}

int CUT_WSClient::ReceiveSome(char* buffer, int size, int timeoutSeconds) {
    if (buffer == nullptr || size <= 0 || !IsConnected())
        return -1;
    if (timeoutSeconds > 0 && WaitReadable(timeoutSeconds, 0) != UT::Success)
        return 0;
    return RawReceive(m_clientSocket.Get(), buffer, size, 0);
}

int CUT_WSClient::ReceiveExactly(char* buffer, int size, int timeoutSeconds) {
    if (buffer == nullptr || size <= 0)
        return 0;
    int stored = 0;
    while (stored < size) {
        const int n = ReceiveSome(buffer + stored, size - stored, timeoutSeconds);
        if (n <= 0)
            break;
        stored += n;
    }
    return stored;
}

ResultCode CUT_WSClient::ReceiveFileAt(const char* path, int openMode, int timeoutSeconds) {
    if (path == nullptr)
        return ReportResult(UT::NullArgument);
    CUT_FileDataSource source(path, kFileLineBuffer);
    return ReportResult(ReceiveToSource(source, openMode, timeoutSeconds, 0));
}

int CUT_WSClient::ReadLine(char* buffer, int size, int timeoutSeconds) {
    // Peek, then consume only up to the line end, so the bytes of the next
    // line stay queued. The scratch buffer is as large as the caller's: a
    // line longer than that comes in pieces, never in a growing buffer.
    if (buffer == nullptr || size <= 1 || !IsConnected())
        return 0;
    std::unique_ptr<char[]> scratch(new (std::nothrow) char[static_cast<std::size_t>(size)]);
    if (scratch == nullptr)
        return 0;
    int room = size - 1;
    int count = 0;
    while (room > 0) {
        if (IsCancelled())
            break;
        if (timeoutSeconds > 0 && WaitReadable(timeoutSeconds, 0) != UT::Success)
            break;
        const int peeked = RawReceive(m_clientSocket.Get(), scratch.get(), room, kPeek);
        if (peeked < 1)
            break;
        const void* lf = std::memchr(scratch.get(), '\n', static_cast<std::size_t>(peeked));
        const int take = lf != nullptr
                             ? static_cast<int>(static_cast<const char*>(lf) - scratch.get()) + 1
                             : peeked;
        // The peeked bytes are queued: receiving them does not wait.
        int got = 0;
        while (got < take) {
            const int n = RawReceive(m_clientSocket.Get(), buffer + count + got, take - got, 0);
            if (n <= 0)
                break;
            got += n;
        }
        if (got > 0) {
            count += got;
            room -= got;
            buffer[count] = '\0';
        }
        if (got < take || lf != nullptr)
            break;
    }
    return count;
}

ResultCode CUT_WSClient::DiscardPending() {
    if (IsConnected()) {
        char scrap[kTransferBlock];
        while (RawHasPendingData(m_clientSocket.Get())) {
            if (RawReceive(m_clientSocket.Get(), scrap, sizeof scrap, 0) <= 0)
                break;
        }
    }
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::ReceiveDatagram(char* buffer, int& lengthInOut, int timeoutSeconds) {
    if (!IsConnected())
        return ReportResult(UT::NotConnected);
    if (buffer == nullptr || lengthInOut <= 0)
        return ReportResult(UT::NullArgument);
    if (timeoutSeconds > 0 && WaitReadable(timeoutSeconds, 0) != UT::Success) {
        lengthInOut = 0;
        return ReportResult(UT::ReceiveTimedOut);
    }
    const long n = port::SocketReceiveFrom(m_clientSocket.Get(), buffer,
                                           static_cast<std::size_t>(lengthInOut));
    if (n < 0) {
        lengthInOut = 0;
        return ReportResult(UT::ReceiveFailed);
    }
    lengthInOut = static_cast<int>(n);
    return ReportResult(UT::Success);
}

ResultCode CUT_WSClient::WaitReadable(int seconds, int microseconds) {
    if (!IsConnected())
        return ReportResult(UT::Failed);
    return ReportResult(RawWaitReadable(m_clientSocket.Get(), seconds, microseconds) == 0
                            ? UT::Success
                            : UT::Failed);
}

ResultCode CUT_WSClient::ReportResult(ResultCode code) {
    return code;
}

bool CUT_WSClient::ReceiveProgress(long long) {
    return !IsCancelled();
}

bool CUT_WSClient::SendProgress(long long) {
    return !IsCancelled();
}

bool CUT_WSClient::IsCancelled() {
    return false;
}

void CUT_WSClient::OnSocketEvent(int, int) {}

void CUT_WSClient::OnSocketEventB(int) {}

void CUT_WSClient::OnSocketEventC(int) {}
