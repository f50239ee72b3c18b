#include "support/TlsPeerCases.h"

#include "support/TestEnv.h"

#include <ostream>
#include <string_view>

namespace tavlo::test {

const std::vector<TlsPeerCase>& TlsPeerCases() {
    static const std::vector<TlsPeerCase> cases = {
        {"TrustedByName", "server", "ca.crt", "localhost", true, "localhost"},
        {"TrustedByAddress", "server", "ca.crt", "127.0.0.1", true, ""},
        {"UntrustedIssuer", "impostor", "ca.crt", "localhost", false, ""},
        {"UntrustedIssuerByAddress", "impostor", "ca.crt", "127.0.0.1", false, ""},
        {"SelfSigned", "selfsigned", "ca.crt", "localhost", false, ""},
        {"OtherHostName", "wronghost", "ca.crt", "localhost", false, ""},
        {"NoAddressEntry", "wronghost", "ca.crt", "127.0.0.1", false, ""},
        {"NoCaTrusted", "server", nullptr, "localhost", false, ""},
        // The impostor once its own CA is trusted: its refusal above is the
        // verification's doing, not a broken server.
        {"IssuerTrustedToo", "impostor", "other-ca.crt", "localhost", true, "localhost"},
    };
    return cases;
}

void PrintTo(const TlsPeerCase& c, std::ostream* os) {
    *os << c.name;
}

std::optional<std::string> DovecotInstanceVariableFor(const TlsPeerCase& c) {
    const std::string_view identity = c.identity;
    if (identity == "server")
        return "TAVLO_DOVECOT_ENV";
    if (identity == "impostor")
        return "TAVLO_DOVECOT_IMPOSTOR_ENV";
    return std::nullopt;
}

namespace {

std::optional<std::string> TrustedCaPath(const TlsPeerCase& c) {
    if (c.trustedCa == nullptr)
        return std::nullopt;
    return TestDataPath(std::string("tls/") + c.trustedCa);
}

} // namespace

TlsPeerTrust::TlsPeerTrust(const TlsPeerCase& c)
    : m_file("SSL_CERT_FILE", TrustedCaPath(c)), m_dir("SSL_CERT_DIR", std::nullopt) {}

} // namespace tavlo::test
