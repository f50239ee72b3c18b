// TLS client plumbing shared by the POP3 channel and the IMAP client:
// owners of the library's context and session handles, and the set-up of a
// client context that verifies the server.
#pragma once

#include <string>

struct ssl_ctx_st;
struct ssl_st;
using SSL_CTX = ssl_ctx_st;
using SSL = ssl_st;

// Owns one TLS context (or none). Releasing frees it.
class TlsContextHolder {
public:
    TlsContextHolder() = default;
    explicit TlsContextHolder(SSL_CTX* ctx) : m_ctx(ctx) {}
    ~TlsContextHolder() { Release(); }
    TlsContextHolder(const TlsContextHolder&) = delete;
    TlsContextHolder& operator=(const TlsContextHolder&) = delete;

    void Attach(SSL_CTX* ctx);
    void Release();
    SSL_CTX* Get() const { return m_ctx; }

private:
    SSL_CTX* m_ctx = nullptr;
};

// Owns one TLS session (or none). Releasing sends the close notification
// (at most three attempts, yielding between them) and frees the session.
class TlsSessionHolder {
public:
    TlsSessionHolder() = default;
    ~TlsSessionHolder() { Release(); }
    TlsSessionHolder(const TlsSessionHolder&) = delete;
    TlsSessionHolder& operator=(const TlsSessionHolder&) = delete;

    void Attach(SSL* ssl);
    void Release();
    SSL* Get() const { return m_ssl; }

private:
    SSL* m_ssl = nullptr;
};

// Initialises the library, checks that its random generator is seeded and
// creates a client context that verifies server certificates against the
// system's trust store (plus the file named by SSL_CERT_FILE). False, with
// the holder empty, when any step fails.
bool CreateClientTlsContext(TlsContextHolder& holder);

// Prepares a session for the server it is about to meet: sends the host
// name (SNI) unless it is an IP address, and requires the certificate to
// match that host name or address. False when the library refuses.
bool PrepareTlsSessionForHost(SSL* ssl, const std::string& host);
