// One TLS session over a connected stream socket: the handshake, reads
// (also peeking), writes, the readiness wait and the close notification, for
// the POP3 channel (CSSLSocket), the IMAP secure port (ImapTlsLayer) and the
// server side of the tests' scripted server alike.
//
// The transport seam: the channel runs over a socket handle it is given,
// already connected by whoever gives it (directly, or after talking to a
// proxy through it); the library then reads and writes that socket itself.
// Who closes the socket:
//   Ownership::Borrowed (the default): the giver. Close ends the TLS session
//     and leaves the socket open.
//   Ownership::Owned: the channel, in Close and on destruction. Ownership
//     passes only when Attach succeeds; after a failed Attach the socket is
//     still the giver's.
//
// Time-outs: Handshake has one deadline for the whole handshake, however
// the server spreads its flights; WaitReadable bounds one wait for data.
// Between calls the socket is blocking, so Read and Write block as long as
// the socket's own time-outs allow; the channel makes it non-blocking only
// inside a handshake, a readiness probe and the close notification.
//
// The Try operations are single non-blocking steps for callers that wait on
// their own (the test server keeps its socket non-blocking). They leave the
// library's reasons for a failure in the thread's error queue; the other
// operations clear it.
#pragma once

#include "net/tls/TlsSession.h"
#include "platform/Socket.h"
#include "platform/UniqueSocket.h"

#include <chrono>
#include <cstddef>
#include <string>

class TlsChannel {
public:
    enum class Role { Client, Server };
    enum class Ownership { Borrowed, Owned };
    // Outcome of one step. Closed: the stream ended, with the peer's close
    // notification (PeerSentCloseNotify) or without it.
    enum class Status { Ok, WantRead, WantWrite, Closed, Failed };

    TlsChannel() = default;
    ~TlsChannel() { Close(); }

    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Ends what the channel carried (as Close), then makes a session from
    // the context bound to the socket, in the given role. False, with
    // nothing held, when the library refuses.
    bool Attach(SSL_CTX* context, port::SocketHandle socket, Role role = Role::Client,
                Ownership ownership = Ownership::Borrowed);
    // Client: the server about to be met (SNI for names, and the name or
    // address its certificate must carry). False when the library refuses.
    bool SetPeerHost(const std::string& host);
    // The whole handshake within limit. A server that fails verification
    // fails the handshake.
    bool Handshake(std::chrono::microseconds limit);

    // Bytes written (all of them), 0 for an empty write, -1 on failure.
    int Write(const void* data, std::size_t length);
    // Decrypted bytes read (left queued with peek: the next Read returns
    // them), 0 at the end of the stream (close notification, or the socket
    // ended without one), -1 on failure.
    int Read(void* buffer, std::size_t capacity, bool peek = false);
    // True while decrypted bytes are held that have not been read.
    bool HasBufferedData() const;
    // Waits up to limit for something Read can report at once: data, the
    // end of the stream or an error. A readable socket alone is not enough:
    // it may hold only part of a record, or a record without application
    // data (a TLS 1.3 session ticket), and the read would then block. 1
    // ready, 0 time ran out, -1 the wait on the socket failed (the socket
    // layer's last error tells why).
    int WaitReadable(std::chrono::microseconds limit);
    // Sends the close notification (at most three attempts, a yield
    // between, never blocking), frees the session, and closes the socket if
    // the channel owns it. Harmless when nothing is held.
    void Close();

    Status TryHandshake();
    Status TryRead(void* buffer, std::size_t capacity, std::size_t& got, bool peek = false);
    Status TryWrite(const void* data, std::size_t length, std::size_t& written);
    // One close notification, the session kept (the peer's last bytes can
    // still be read).
    void SendCloseNotify();
    bool PeerSentCloseNotify() const;

    bool IsActive() const { return m_session.Get() != nullptr; }
    SSL* Get() const { return m_session.Get(); }
    port::SocketHandle Socket() const { return m_socket; }

private:
    TlsSessionHolder m_session;
    port::SocketHandle m_socket = port::kInvalidSocket;
    port::UniqueSocket m_ownedSocket; // set with Ownership::Owned
};
