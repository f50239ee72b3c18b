// TLS client channel over a CWSocket: the library reads and writes the
// socket's handle itself.
#include "net/pop3/SSLSocket.h"

#include "platform/Socket.h"

#include <chrono>
#include <climits>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

int ClampToInt(std::size_t n) {
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

using Clock = std::chrono::steady_clock;

long RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<long>(left) : 0;
}

// Waits for the socket to become readable (or writable) until the
// deadline: true when it did.
bool WaitFor(port::SocketHandle h, bool write, Clock::time_point deadline) {
    const long ms = RemainingMs(deadline);
    const int r = write ? port::SocketWaitWritable(h, ms / 1000, (ms % 1000) * 1000)
                        : port::SocketWaitReadable(h, ms / 1000, (ms % 1000) * 1000);
    return r > 0;
}

// Puts the socket into non-blocking mode for the lifetime of the object,
// so that the library can never block on a record that is only partly
// there: it reports "want read" and we wait with a time-out instead.
class NonBlockingScope {
public:
    explicit NonBlockingScope(port::SocketHandle h) : m_h(h) {
        m_ok = port::SocketSetNonBlocking(h, true) == 0;
    }
    ~NonBlockingScope() { port::SocketSetNonBlocking(m_h, false); }
    NonBlockingScope(const NonBlockingScope&) = delete;
    NonBlockingScope& operator=(const NonBlockingScope&) = delete;
    bool ok() const { return m_ok; }

private:
    port::SocketHandle m_h;
    bool m_ok = false;
};

} // namespace

CSSLSocket::~CSSLSocket() {
    Close();
}

bool CSSLSocket::Create(TlsContextHolder& context, CWSocket& socket) {
    SSL* ssl = SSL_new(context.Get());
    if (ssl == nullptr)
        return false;
    m_session.Attach(ssl);
    // The library's socket BIO takes an int; Windows socket handles fit.
    if (SSL_set_fd(ssl, static_cast<int>(socket.Handle())) != 1) {
        m_session.Release(); // the socket is not ours yet: it stays open
        return false;
    }
    m_pSocket = &socket;
    return true;
}

bool CSSLSocket::Connect(const char* host, int port, unsigned long timeoutMs) {
    if (m_pSocket == nullptr || m_session.Get() == nullptr)
        return false;
    m_pSocket->Connect(host, port); // its exceptions are the caller's
    // A certificate that fails verification fails the handshake itself.
    if (!PrepareTlsSessionForHost(m_session.Get(), host))
        return false;

    // The handshake must not hang on a server that accepts the connection
    // and then stays silent: it runs non-blocking, and every wait for the
    // server's next flight is bounded by the time-out.
    SSL* ssl = m_session.Get();
    const port::SocketHandle h = m_pSocket->Handle();
    NonBlockingScope nonBlocking(h);
    if (!nonBlocking.ok())
        return SSL_connect(ssl) == 1;
    for (;;) {
        const int r = SSL_connect(ssl);
        if (r == 1)
            return true;
        const int error = SSL_get_error(ssl, r);
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (error == SSL_ERROR_WANT_READ) {
            if (!WaitFor(h, false, deadline))
                return false;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            if (!WaitFor(h, true, deadline))
                return false;
        } else {
            ERR_clear_error();
            return false;
        }
    }
}

int CSSLSocket::Send(const void* data, std::size_t length) {
    if (m_session.Get() == nullptr)
        return -1;
    return SSL_write(m_session.Get(), data, ClampToInt(length));
}

int CSSLSocket::Receive(void* buffer, std::size_t capacity) {
    if (m_session.Get() == nullptr)
        return -1;
    return SSL_read(m_session.Get(), buffer, ClampToInt(capacity));
}

bool CSSLSocket::IsReadable(unsigned long timeoutMs) {
    SSL* ssl = m_session.Get();
    // Bytes the library has already decrypted are not in the socket any more.
    if (ssl != nullptr && SSL_pending(ssl) > 0)
        return true;
    if (m_pSocket == nullptr)
        return false;
    if (ssl == nullptr)
        return m_pSocket->IsReadable(timeoutMs);

    // A readable socket does not mean application data: it may hold a
    // record that carries none (a TLS 1.3 session ticket, say) or only part
    // of a record. Either would leave the following read blocked on the
    // socket without any time-out. So look ahead without blocking, and
    // count the socket as readable only when the library has data to hand
    // out, or has met the end of the stream or an error (which the read
    // then reports at once).
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const port::SocketHandle h = m_pSocket->Handle();
    for (;;) {
        if (!m_pSocket->IsReadable(static_cast<unsigned long>(RemainingMs(deadline))))
            return false;
        NonBlockingScope nonBlocking(h);
        if (!nonBlocking.ok())
            return true;
        char probe;
        const int r = SSL_peek(ssl, &probe, 1);
        if (r > 0)
            return true;
        const int error = SSL_get_error(ssl, r);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return true;
        if (RemainingMs(deadline) == 0)
            return false;
    }
}

void CSSLSocket::Close() {
    m_session.Release();
    if (m_pSocket != nullptr) {
        m_pSocket->Close();
        m_pSocket = nullptr;
    }
}
