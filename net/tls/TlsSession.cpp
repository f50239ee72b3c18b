// TLS client plumbing over OpenSSL: handle owners, the client context and
// the per-host session set-up (server certificate and name checks, SNI).
#include "net/tls/TlsSession.h"

#include "platform/Socket.h"
#include "platform/TrustStore.h"

#include <cstdint>
#include <cstdlib>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <thread>
#include <vector>

namespace {

// The socket under a session, or the invalid handle when there is none.
port::SocketHandle SessionSocket(SSL* ssl) {
    const int fd = SSL_get_fd(ssl);
    if (fd < 0)
        return port::kInvalidSocket;
    return static_cast<port::SocketHandle>(static_cast<unsigned int>(fd));
}

// The system's root certificates (the Windows ROOT store; none elsewhere,
// where the default paths already cover the system store), decoded once per
// process: opening and walking the system store costs far more than the
// handshake it serves, and every check of a TLS account makes a context.
// A root added to the system while the program runs counts from its next
// start. The certificates live until the process ends.
class SystemRoots {
public:
    static const SystemRoots& Get() {
        static const SystemRoots roots;
        return roots;
    }

    SystemRoots(const SystemRoots&) = delete;
    SystemRoots& operator=(const SystemRoots&) = delete;
    ~SystemRoots() {
        for (X509* cert : m_certs)
            X509_free(cert);
    }

    void AddTo(X509_STORE* store) const {
        for (X509* cert : m_certs)
            X509_STORE_add_cert(store, cert); // takes its own reference; duplicates are harmless
    }

private:
    SystemRoots() {
        for (const auto& der : port::SystemRootCertificates()) {
            const unsigned char* p = der.data();
            if (X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size())))
                m_certs.push_back(cert); // an unreadable root must not cost the others
        }
    }

    std::vector<X509*> m_certs;
};

} // namespace

void TlsContextHolder::Attach(SSL_CTX* ctx) {
    Release();
    m_ctx = ctx;
}

void TlsContextHolder::Release() {
    if (m_ctx != nullptr) {
        SSL_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
}

void TlsSessionHolder::Attach(SSL* ssl) {
    Release();
    m_ssl = ssl;
}

void TlsSessionHolder::Release() {
    if (m_ssl == nullptr)
        return;
    // Send the close notification; 0 means "sent, the server's answer is
    // still to come", so try again after a yield, at most three calls. The
    // socket is made non-blocking first: on a blocking socket a retry waits
    // for the server's answer without any bound, and a server that never
    // sends one would hang the program. Without blocking, a retry either
    // finds the answer or reports that it has not come, which ends the loop.
    const port::SocketHandle h = SessionSocket(m_ssl);
    if (h != port::kInvalidSocket)
        port::SocketSetNonBlocking(h, true);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (SSL_shutdown(m_ssl) != 0)
            break;
        std::this_thread::yield();
    }
    if (h != port::kInvalidSocket)
        port::SocketSetNonBlocking(h, false);
    SSL_free(m_ssl);
    m_ssl = nullptr;
    // A refused shutdown leaves its reasons in the thread's error queue,
    // where they would be mistaken for the next operation's.
    ERR_clear_error();
}

bool CreateClientTlsContext(TlsContextHolder& holder) {
    holder.Release();
    if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                         nullptr) != 1)
        return false;
    const SSL_METHOD* method = TLS_client_method();
    if (method == nullptr)
        return false;
    // OpenSSL 3 seeds its generator from the operating system, so no seed
    // file is read; a generator that still reports itself unseeded is fatal.
    if (RAND_status() != 1)
        return false;
    SSL_CTX* ctx = SSL_CTX_new(method);
    if (ctx == nullptr)
        return false;
    holder.Attach(ctx);

    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // The library's default trust (system store; SSL_CERT_FILE and
    // SSL_CERT_DIR when set), the system's root store where the library
    // cannot find it on its own, and SSL_CERT_FILE explicitly, since the
    // default paths of a cross-built library point at its build prefix.
    SSL_CTX_set_default_verify_paths(ctx);
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    SystemRoots::Get().AddTo(store);
    if (const char* file = std::getenv(X509_get_default_cert_file_env());
        file != nullptr && file[0] != '\0')
        X509_STORE_load_file(store, file);
    // Missing trust files only mean less trust; their errors must not linger.
    ERR_clear_error();
    return true;
}

bool PrepareTlsSessionForHost(SSL* ssl, const std::string& host) {
    if (ssl == nullptr || host.empty())
        return false;
    std::uint32_t addr = 0;
    if (port::ParseDottedIPv4(host.c_str(), addr)) {
        // An address is checked against the certificate's IP entries and
        // never sent as a server name (RFC 6066 section 3).
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        return X509_VERIFY_PARAM_set1_ip(param, reinterpret_cast<const unsigned char*>(&addr),
                                         sizeof addr) == 1;
    }
    return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
           SSL_set1_host(ssl, host.c_str()) == 1;
}
