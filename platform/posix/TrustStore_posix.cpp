// POSIX half of the trust store port: OpenSSL finds the system's trust store
// (its default paths, SSL_CERT_FILE, SSL_CERT_DIR) on its own.
#include "platform/TrustStore.h"

namespace port {

std::vector<std::vector<unsigned char>> SystemRootCertificates() {
    return {};
}

} // namespace port
