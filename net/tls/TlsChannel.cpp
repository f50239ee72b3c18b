// A TLS session over a connected socket (OpenSSL with a socket BIO: the
// library moves the bytes itself).
#include "net/tls/TlsChannel.h"

#include <climits>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

using Clock = std::chrono::steady_clock;

// Waits until the socket is readable (or writable), polling once even when
// the deadline has passed: >0 ready, 0 time ran out, -1 failure.
int WaitFor(port::SocketHandle h, bool write, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() < 0)
        left = std::chrono::microseconds(0);
    const long seconds = static_cast<long>(left.count() / 1000000);
    const long micros = static_cast<long>(left.count() % 1000000);
    return write ? port::SocketWaitWritable(h, seconds, micros)
                 : port::SocketWaitReadable(h, seconds, micros);
}

// Makes the socket non-blocking for the lifetime of the object, so that the
// library reports "want read/write" instead of blocking on a record that is
// only partly there; the caller then waits with a time-out.
class NonBlockingScope {
public:
    explicit NonBlockingScope(port::SocketHandle h)
        : m_h(h), m_ok(port::SocketSetNonBlocking(h, true) == 0) {}
    ~NonBlockingScope() { Restore(); }
    NonBlockingScope(const NonBlockingScope&) = delete;
    NonBlockingScope& operator=(const NonBlockingScope&) = delete;

    bool ok() const { return m_ok; }
    // Blocking again; false when the platform refuses.
    bool Restore() {
        if (!m_ok)
            return true;
        m_ok = false;
        return port::SocketSetNonBlocking(m_h, false) == 0;
    }

private:
    port::SocketHandle m_h;
    bool m_ok;
};

int ClampToInt(std::size_t n) {
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

TlsChannel::Status Classify(SSL* ssl, int result) {
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
        return TlsChannel::Status::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return TlsChannel::Status::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return TlsChannel::Status::Closed; // the peer's close notification
    case SSL_ERROR_SYSCALL:
        // The socket ended (or was reset) without a TLS-level reason.
        return ERR_peek_error() == 0 ? TlsChannel::Status::Closed : TlsChannel::Status::Failed;
    case SSL_ERROR_SSL:
        // The socket ended without a close notification.
        return ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING
                   ? TlsChannel::Status::Closed
                   : TlsChannel::Status::Failed;
    default:
        return TlsChannel::Status::Failed;
    }
}

bool Waiting(TlsChannel::Status s) {
    return s == TlsChannel::Status::WantRead || s == TlsChannel::Status::WantWrite;
}

} // namespace

bool TlsChannel::Attach(SSL_CTX* context, port::SocketHandle socket, Role role,
                        Ownership ownership) {
    Close();
    if (context == nullptr || socket == port::kInvalidSocket)
        return false;
    SSL* ssl = SSL_new(context);
    if (ssl == nullptr) {
        ERR_clear_error();
        return false;
    }
    m_session.Attach(ssl);
    // The library's socket BIO takes an int; Windows socket handles fit.
    if (SSL_set_fd(ssl, static_cast<int>(socket)) != 1) {
        m_session.Release(); // the socket is not ours: it stays open
        return false;
    }
    if (role == Role::Client)
        SSL_set_connect_state(ssl);
    else
        SSL_set_accept_state(ssl);
    m_socket = socket;
    if (ownership == Ownership::Owned)
        m_ownedSocket.Reset(socket);
    return true;
}

bool TlsChannel::SetPeerHost(const std::string& host) {
    return PrepareTlsSessionForHost(m_session.Get(), host);
}

bool TlsChannel::Handshake(std::chrono::microseconds limit) {
    if (!IsActive())
        return false;
    const auto deadline = Clock::now() + limit;
    NonBlockingScope nonBlocking(m_socket);
    bool ok = nonBlocking.ok();
    while (ok) {
        const Status s = TryHandshake();
        if (s == Status::Ok)
            break;
        ok = Waiting(s) && WaitFor(m_socket, s == Status::WantWrite, deadline) > 0;
    }
    // Reads and writes after the handshake block, as they do on a plain
    // socket.
    if (!nonBlocking.Restore())
        ok = false;
    ERR_clear_error();
    return ok;
}

int TlsChannel::Write(const void* data, std::size_t length) {
    if (!IsActive())
        return -1;
    if (length == 0)
        return 0;
    std::size_t written = 0;
    const Status s = TryWrite(data, static_cast<std::size_t>(ClampToInt(length)), written);
    if (s != Status::Ok) {
        ERR_clear_error();
        return -1;
    }
    return static_cast<int>(written);
}

int TlsChannel::Read(void* buffer, std::size_t capacity, bool peek) {
    if (!IsActive() || capacity == 0)
        return -1;
    std::size_t got = 0;
    const Status s = TryRead(buffer, static_cast<std::size_t>(ClampToInt(capacity)), got, peek);
    if (s == Status::Ok)
        return static_cast<int>(got);
    ERR_clear_error();
    return s == Status::Closed ? 0 : -1;
}

bool TlsChannel::HasBufferedData() const {
    SSL* ssl = m_session.Get();
    return ssl != nullptr && SSL_pending(ssl) > 0;
}

int TlsChannel::WaitReadable(std::chrono::microseconds limit) {
    if (!IsActive())
        return -1;
    // Bytes the library has already decrypted are not in the socket any more.
    if (HasBufferedData())
        return 1;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const int ready = WaitFor(m_socket, false, deadline);
        if (ready <= 0)
            return ready;
        // Look ahead without blocking: the socket counts as readable only
        // when the library has data to hand out, or has met the end of the
        // stream or an error (which the read then reports at once).
        NonBlockingScope nonBlocking(m_socket);
        if (!nonBlocking.ok())
            return 1;
        char probe;
        std::size_t got = 0;
        const Status s = TryRead(&probe, 1, got, true);
        ERR_clear_error();
        if (!Waiting(s))
            return 1;
        if (Clock::now() >= deadline)
            return 0;
    }
}

void TlsChannel::Close() {
    m_session.Release(); // the close notification first: it needs the socket
    m_ownedSocket.Reset();
    m_socket = port::kInvalidSocket;
}

TlsChannel::Status TlsChannel::TryHandshake() {
    SSL* ssl = m_session.Get();
    if (ssl == nullptr)
        return Status::Failed;
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl);
    return r == 1 ? Status::Ok : Classify(ssl, r);
}

TlsChannel::Status TlsChannel::TryRead(void* buffer, std::size_t capacity, std::size_t& got,
                                       bool peek) {
    got = 0;
    SSL* ssl = m_session.Get();
    if (ssl == nullptr)
        return Status::Failed;
    ERR_clear_error();
    const int r =
        peek ? SSL_peek_ex(ssl, buffer, capacity, &got) : SSL_read_ex(ssl, buffer, capacity, &got);
    return r == 1 ? Status::Ok : Classify(ssl, r);
}

TlsChannel::Status TlsChannel::TryWrite(const void* data, std::size_t length,
                                        std::size_t& written) {
    written = 0;
    SSL* ssl = m_session.Get();
    if (ssl == nullptr)
        return Status::Failed;
    ERR_clear_error();
    const int r = SSL_write_ex(ssl, data, length, &written);
    return r == 1 ? Status::Ok : Classify(ssl, r);
}

void TlsChannel::SendCloseNotify() {
    if (SSL* ssl = m_session.Get()) {
        ERR_clear_error();
        SSL_shutdown(ssl);
        ERR_clear_error();
    }
}

bool TlsChannel::PeerSentCloseNotify() const {
    SSL* ssl = m_session.Get();
    return ssl != nullptr && (SSL_get_shutdown(ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
}
