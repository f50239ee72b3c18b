// The servers a TLS client may meet, and whether it must accept them: one
// table that the POP3 session and the IMAP client both run, against the
// scripted TLS server and against the real Dovecot. A server is accepted
// exactly when its certificate chains to a trusted CA and names the host
// (or, for an address, carries it as an IP entry) the client asked for; the
// server name (SNI) is sent for names, never for addresses.
#pragma once

#include "support/TestEnv.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tavlo::test {

struct TlsPeerCase {
    const char* name;      // also the test's name
    const char* identity;  // the server's certificate (TestTlsIdentity)
    const char* trustedCa; // CA file in tests/data/tls trusted through SSL_CERT_FILE; none: nullptr
    const char* host;      // what the client connects to
    bool accepted;         // the handshake succeeds and the dialogue runs
    const char* serverName; // the SNI the server sees when accepted; "" for none
};

const std::vector<TlsPeerCase>& TlsPeerCases();
void PrintTo(const TlsPeerCase& c, std::ostream* os);

// The variable naming the env.json of the Dovecot instance that serves this
// case's certificate (the ctest fixture starts one with the server's and one
// with the impostor's); nullopt when no instance serves it.
std::optional<std::string> DovecotInstanceVariableFor(const TlsPeerCase& c);

// Trusts the case's CA (and nothing else added by the environment) for the
// lifetime of the object.
class TlsPeerTrust {
public:
    explicit TlsPeerTrust(const TlsPeerCase& c);

private:
    ScopedEnvironmentVariable m_file;
    ScopedEnvironmentVariable m_dir;
};

} // namespace tavlo::test
