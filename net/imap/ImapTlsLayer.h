// The TLS session under the IMAP4 client on its secure port 993 (RFC 8314:
// TLS from the first byte): the IMAP face of TlsChannel. CUT_IMAP4Client
// routes its raw socket operations through this layer once Start has
// succeeded.
#pragma once

#include "net/tls/TlsChannel.h"
#include "net/tls/TlsSession.h"
#include "platform/Socket.h"

#include <string>

class ImapTlsLayer {
public:
    ImapTlsLayer() = default;
    ~ImapTlsLayer() { End(); }

    ImapTlsLayer(const ImapTlsLayer&) = delete;
    ImapTlsLayer& operator=(const ImapTlsLayer&) = delete;

    // Makes a verifying client context and session on the connected socket,
    // names the host (SNI and the certificate's name or address check) and
    // runs the handshake, which must be complete within timeoutSeconds.
    // False, with nothing left active, when any step fails, the server's
    // certificate included. The socket stays the caller's: End never closes
    // it.
    bool Start(port::SocketHandle socket, const std::string& host, int timeoutSeconds);
    // Sends the close notification and frees the session and context.
    void End();

    bool IsActive() const { return m_channel.IsActive(); }
    // True when the layer carries the traffic of this socket.
    bool Carries(port::SocketHandle socket) const {
        return IsActive() && socket == m_channel.Socket();
    }

    // Like the platform calls, on decrypted bytes: bytes moved, 0 at the
    // end of the stream (close notification or closed socket), -1 on
    // failure. Peek returns the bytes the next Receive will return.
    int Send(const char* data, int length);
    int Receive(char* buffer, int size, bool peek);
    // True while decrypted bytes are held that have not been read yet.
    bool HasBufferedData() const { return m_channel.HasBufferedData(); }
    // One wait of up to seconds + microseconds for something a receive can
    // report at once: 0 ready, 1 time ran out or the wait failed (the
    // convention of CUT_Socket::RawWaitReadable).
    int WaitReadable(long seconds, long microseconds);

private:
    TlsContextHolder m_context;
    TlsChannel m_channel;
};
