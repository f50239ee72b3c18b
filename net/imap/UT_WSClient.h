// CUT_WSClient: the line-oriented client connection under the IMAP client.
// It connects with a time-out, sends text, receives CR LF terminated lines
// and byte blocks with time-outs, moves data sources and files over the
// connection, and reports every outcome as a ResultCode through one hook,
// ReportResult. Sockets are blocking; each time-out is a wait for readiness
// before the blocking call. All traffic goes through the raw operations of
// CUT_Socket, which a subclass may route through another transport.
//
// Not thread-safe: one thread uses a client at a time.
#pragma once

#include "net/imap/ResultCode.h"
#include "net/imap/UT_Socket.h"
#include "net/proxy/ProxyTunnel.h"
#include "platform/UniqueSocket.h"

#include <cstddef>
#include <cstdint>

class CUT_DataSource;
class CUT_Queue;

// An IPv4 socket address as the platform keeps it.
struct UT_SocketAddress {
    int nFamily = 0;
    std::uint16_t nPortNetOrder = 0; // network byte order
    std::uint32_t nAddrNetOrder = 0; // network byte order
};

class CUT_WSClient : public CUT_Socket {
public:
    static constexpr int kAddressSize = 32;    // the address text field
    static constexpr int kMaxAddressText = 30; // longest address text kept
    static constexpr int kDefaultTimeOutMs = 30000;
    static constexpr int kTransferBlock = 256; // receive block of the transfers
    static constexpr int kSendBlock = 255;     // send block of the transfers
    static constexpr int kFileLineBuffer = 4096;

    // Starts the platform socket layer (a failure is not reported).
    CUT_WSClient();
    // Runs CUT_WSClient::Disconnect, releases the socket layer and destroys
    // the notification window. A subclass that routes the raw operations
    // elsewhere must end its own transport in its destructor: by then only
    // the raw operations of this class are reached.
    ~CUT_WSClient() override;

    // Connects a stream socket to host:port. host is a dotted IPv4 address
    // (used without a look-up) or a host name (looked up; in "name@host"
    // only the part after the last at sign). With timeoutSeconds >= 0 the
    // connect is non-blocking and waits that long; a negative value blocks.
    // Then AfterConnect runs; its failure closes the socket.
    // With a proxy set (SetProxy), the socket connects to the proxy instead
    // and a tunnel to host:port is negotiated before AfterConnect; the target
    // name then goes to the proxy as it stands (SOCKS4 resolves it here). A
    // failed negotiation closes the socket and gives UT::ConnectTimedOut
    // when the proxy did not answer in time, else UT::ConnectFailed, with
    // the reason in the thread's last-error value.
    virtual ResultCode ConnectTo(int port, const char* host, int timeoutSeconds = -1,
                                 int family = 2, int type = 1);
    // Binds to localAddress:localPort (any address when null or empty), then
    // a blocking connect to remoteAddress:remotePort (dotted texts). No
    // time-out, no AfterConnect.
    virtual ResultCode ConnectFromLocal(int localPort, int remotePort, const char* localAddress,
                                        const char* remoteAddress, int family = 2, int type = 1);
    // A datagram socket bound to localAddress:localPort (any address when
    // null or empty) that sends to remoteAddress:remotePort.
    virtual ResultCode OpenDatagram(int localPort, int remotePort, const char* remoteAddress,
                                    const char* localAddress = nullptr);
    // Creates a socket into socketOut; UT::Failed when the platform refuses.
    virtual ResultCode MakeSocket(port::SocketHandle& socketOut, int family = 2, int type = 1,
                                  int protocol = 0);
    // Shuts down and closes the connected and the listening socket; clears
    // the ports and the address text. UT::Failed when a shutdown or close
    // failed. Harmless with nothing open.
    virtual ResultCode Disconnect();
    // Creates the hidden notification window (Windows only; UT::Failed where
    // no window system exists).
    virtual ResultCode CreateNotifyWindow(void* instance = nullptr);
    // A listening stream socket bound to port on address (32-bit IPv4 value
    // in network byte order; 0 is any address).
    virtual ResultCode ListenOn(int port, int backlog = 5, int family = 2,
                                std::uint32_t address = 0);
    // UT::Success when a connection is pending on the listening socket
    // within seconds.
    virtual ResultCode WaitForIncoming(int seconds);
    // Accepts one connection into the connected socket (closing a connected
    // one first) and returns AfterConnect's result.
    virtual ResultCode AcceptIncoming();
    // Sends what the queue yields, up to kSendBlock bytes per read.
    virtual ResultCode SendFromQueue(CUT_Queue& queue);
    // Opens the source for reading and sends all of it in blocks of
    // kSendBlock bytes; closes it.
    virtual ResultCode SendSource(CUT_DataSource& source);
    // One send of length bytes (the text's length when length <= 0). Returns
    // the bytes the platform accepted, 0 when the send failed. Partial sends
    // are not continued.
    virtual int SendText(const char* data, int length = 0);
    // Sends until all length bytes (the text's length when length <= 0) are
    // sent or a send takes nothing; returns the bytes sent.
    virtual int SendAll(const char* data, int length = 0);
    // Sends the text (its length when length < 0) in lines of lineLength
    // bytes, each followed by CR LF; returns the payload bytes sent.
    virtual int SendAsLines(const char* data, int length, int lineLength);
    // SendSource over the file at path.
    virtual ResultCode SendFileAt(const char* path);
    // Sends one datagram to the remembered remote address; lengthInOut
    // becomes the count sent.
    virtual ResultCode SendDatagram(const char* data, int& lengthInOut);
    // UT::Success when the socket becomes writable within the time.
    virtual ResultCode WaitWritable(int seconds, int microseconds = 0);
    // Receives into the queue until its free space (or maxBytes when
    // positive and smaller) is filled or the stream ends.
    virtual ResultCode ReceiveToQueue(CUT_Queue& queue, int timeoutSeconds, int maxBytes = 0);
    // Receives into the source opened with openMode (CUT_DataSource::
    // kOpenWrite or kOpenAppend) until maxBytes bytes (when positive) or the
    // end of the stream; each wait lasts up to timeoutSeconds (when
    // positive). A stream that ends before maxBytes bytes came gives
    // UT::ReceiveTimedOut. The source is closed afterwards.
    virtual ResultCode ReceiveToSource(CUT_DataSource& source, int openMode, int timeoutSeconds,
                                       long long maxBytes = 0);
    // With timeoutSeconds > 0 waits for readability first (0 when nothing
    // came); then one receive: bytes stored, 0 at end of stream, -1 on
    // failure.
    virtual int ReceiveSome(char* buffer, int size, int timeoutSeconds);
    // ReceiveSome until size bytes are stored, a wait fails, a receive fails
    // or the stream ends; returns the bytes stored.
    virtual int ReceiveExactly(char* buffer, int size, int timeoutSeconds);
    // ReceiveToSource into the file at path, without a byte limit.
    virtual ResultCode ReceiveFileAt(const char* path, int openMode, int timeoutSeconds);
    // Reads one line, CR LF kept, NUL-terminated, at most size - 1 bytes;
    // bytes after the LF stay queued. A longer line comes in pieces of
    // size - 1 bytes. Each wait lasts up to timeoutSeconds (when positive).
    // Returns the bytes stored: short or 0 on time-out, end of stream,
    // failure or cancellation (0 leaves the buffer as it was).
    virtual int ReadLine(char* buffer, int size, int timeoutSeconds);
    // Receives and drops what is already queued on the socket.
    virtual ResultCode DiscardPending();
    // Receives one datagram; lengthInOut holds the buffer size and becomes
    // the datagram's length.
    virtual ResultCode ReceiveDatagram(char* buffer, int& lengthInOut, int timeoutSeconds);
    // UT::Success when the socket becomes readable (data or end of stream)
    // within the time.
    virtual ResultCode WaitReadable(int seconds, int microseconds = 0);
    // Every operation that yields a ResultCode hands it through here as its
    // last step. Returns code unchanged; a subclass may observe or translate.
    virtual ResultCode ReportResult(ResultCode code);
    // Progress of the transfers; false stops them with UT::Cancelled.
    // Defaults: not IsCancelled().
    virtual bool ReceiveProgress(long long bytesSoFar);
    virtual bool SendProgress(long long bytesSoFar);
    // True stops ReadLine and the transfers. Default false.
    virtual bool IsCancelled();
    // Hooks of the notification window's messages (port::kNotify...):
    // OnSocketEvent gets the event word and the error word of a socket
    // event (message 1152, the low and the high word of its lParam);
    // OnSocketEventB and OnSocketEventC get the error word of the notices
    // 1153 and 1154 (the high word; their low word is not read).
    virtual void OnSocketEvent(int eventWord, int errorWord);
    virtual void OnSocketEventB(int errorWord);
    virtual void OnSocketEventC(int errorWord);

    // Looks name up (in "user@host" only the part after the last at sign)
    // and writes the first IPv4 address as dotted text into addressOut of
    // size bytes. UT::NameLookupFailed, UT::AddressTooLong (the text needs
    // more than kMaxAddressText + 1 bytes, or more than size), UT::Success.
    ResultCode ResolveHost(const char* name, char* addressOut, std::size_t size);

    // Sets a time-out for every single send or receive; applied at once to a
    // connected socket (UT::Failed, value unchanged, when the platform
    // refuses) and to every socket connected later.
    ResultCode SetSendTimeOut(int milliseconds);
    // The proxy later connects go through; Direct (the default) connects
    // straight to the server.
    void SetProxy(const ProxyServer& proxy) { m_proxy = proxy; }
    const ProxyServer& GetProxy() const { return m_proxy; }
    ResultCode SetReceiveTimeOut(int milliseconds);
    int GetSendTimeOut() const { return m_nSendTimeOut; }
    int GetReceiveTimeOut() const { return m_nReceiveTimeOut; }

    port::SocketHandle GetSocket() const { return m_clientSocket.Get(); }
    bool IsConnected() const { return m_clientSocket.Valid(); }
    bool IsListening() const { return m_serverSocket.Valid(); }
    // The peer's dotted IPv4 address text.
    const char* GetAddress() const { return m_szAddress; }
    int GetRemotePort() const { return m_nRemotePort; }
    int GetLocalPort() const { return m_nLocalPort; }
    int GetListeningPort() const { return m_nAcceptPort; }
    bool IsNonBlocking() const { return m_nBlockingMode != 0; }
    void* GetNotifyWindow() const { return m_hWndNotify; }

protected:
    // Closes the connected socket without a shutdown (a half-made one).
    void AbandonSocket();
    // Applies both time-outs to the connected socket.
    void ApplyTimeOuts();

    int m_nRemotePort = 0;
    int m_nLocalPort = 0;
    int m_nAcceptPort = 0; // the listening port
    char m_szAddress[kAddressSize] = {};
    int m_nProtocol = 0; // protocol of the listening socket
    int m_nFamily = 2;
    int m_nSockType = 1;
    bool m_bSocketLayerStarted = false;
    // The connected and the listening socket. Owned: whatever is left open
    // is closed with the object, though the operations close them through
    // RawClose so that a subclass's transport ends first.
    port::UniqueSocket m_clientSocket;
    UT_SocketAddress m_clientSocketAddr;
    port::UniqueSocket m_serverSocket;
    UT_SocketAddress m_serverSocketAddr;
    int m_nBlockingMode = 0; // 1 while the socket is non-blocking
    void* m_hWndNotify = nullptr;
    int m_nSendTimeOut = kDefaultTimeOutMs;
    int m_nReceiveTimeOut = kDefaultTimeOutMs;
    ProxyServer m_proxy;

private:
    template <class Sink>
    ResultCode ReceiveInto(Sink& sink, int timeoutSeconds, long long limit, bool limitRequired);
    ResultCode SendBlocks(int (*read)(void* from, char* buffer, int size), void* from);
    static void DispatchNotify(void* owner, unsigned message, std::uintptr_t wParam,
                               std::intptr_t lParam);
};
