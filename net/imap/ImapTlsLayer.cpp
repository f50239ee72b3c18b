#include "net/imap/ImapTlsLayer.h"

#include <chrono>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

// Runs the handshake on a non-blocking socket so that a server that accepts
// and then stays silent cannot hold it longer than timeoutSeconds.
bool Handshake(SSL* ssl, port::SocketHandle socket, int timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(ssl);
        if (rc == 1)
            return true;
        const int error = SSL_get_error(ssl, rc);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        const long seconds = static_cast<long>(left.count() / 1000000);
        const long micros = static_cast<long>(left.count() % 1000000);
        const int ready = error == SSL_ERROR_WANT_READ
                              ? port::SocketWaitReadable(socket, seconds, micros)
                              : port::SocketWaitWritable(socket, seconds, micros);
        if (ready <= 0)
            return false;
    }
}

} // namespace

bool ImapTlsLayer::Start(port::SocketHandle socket, const std::string& host, int timeoutSeconds) {
    End();
    if (!CreateClientTlsContext(m_context))
        return false;
    SSL* ssl = SSL_new(m_context.Get());
    if (ssl == nullptr) {
        m_context.Release();
        return false;
    }
    m_session.Attach(ssl);
    m_socket = socket;
    // The library's socket BIO takes an int; Windows socket handles fit.
    bool ok = SSL_set_fd(ssl, static_cast<int>(socket)) == 1 && PrepareTlsSessionForHost(ssl, host);
    if (ok) {
        // A certificate that fails verification fails the handshake itself.
        ok = port::SocketSetNonBlocking(socket, true) == 0;
        ok = ok && Handshake(ssl, socket, timeoutSeconds);
        // Reads and writes after the handshake block, bounded by the
        // socket's own time-outs, like those of the plain port.
        if (port::SocketSetNonBlocking(socket, false) != 0)
            ok = false;
    }
    if (!ok) {
        End();
        return false;
    }
    return true;
}

void ImapTlsLayer::End() {
    m_session.Release();
    m_context.Release();
    m_socket = port::kInvalidSocket;
}

int ImapTlsLayer::Send(const char* data, int length) {
    SSL* ssl = m_session.Get();
    if (ssl == nullptr || length < 0)
        return -1;
    if (length == 0)
        return 0;
    ERR_clear_error();
    const int rc = SSL_write(ssl, data, length);
    return rc > 0 ? rc : -1;
}

int ImapTlsLayer::Receive(char* buffer, int size, bool peek) {
    SSL* ssl = m_session.Get();
    if (ssl == nullptr || size <= 0)
        return -1;
    ERR_clear_error();
    const int rc = peek ? SSL_peek(ssl, buffer, size) : SSL_read(ssl, buffer, size);
    if (rc > 0)
        return rc;
    const int error = SSL_get_error(ssl, rc);
    if (error == SSL_ERROR_ZERO_RETURN)
        return 0; // the server's close notification
    // The socket ended without a close notification.
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
        return 0;
    if (error == SSL_ERROR_SSL &&
        ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return 0;
    return -1;
}

bool ImapTlsLayer::HasBufferedData() const {
    SSL* ssl = m_session.Get();
    return ssl != nullptr && SSL_pending(ssl) > 0;
}
