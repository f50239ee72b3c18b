// Port: the system's trusted root certificates for TLS verification.
#pragma once

#include <string>
#include <vector>

namespace port {

// DER encodings of the certificates in the system's ROOT store (Windows).
// Empty on platforms where the TLS library finds the system's trust store
// on its own.
std::vector<std::vector<unsigned char>> SystemRootCertificates();

} // namespace port
