// Win32 half of the trust store port: the system's ROOT certificate store.
#include "platform/TrustStore.h"
#include "platform/win32/WindowsGateway.h"

// wincrypt.h is kept out of the gateway: its macros clash with OpenSSL's
// names (X509_NAME and others) in files that include both.
#include <wincrypt.h>

namespace port {
namespace {

class SystemStore {
public:
    explicit SystemStore(const char* name) : m_store(::CertOpenSystemStoreA(0, name)) {}
    SystemStore(const SystemStore&) = delete;
    SystemStore& operator=(const SystemStore&) = delete;
    ~SystemStore() {
        if (m_store != nullptr)
            ::CertCloseStore(m_store, 0);
    }
    HCERTSTORE Get() const { return m_store; }

private:
    HCERTSTORE m_store;
};

} // namespace

std::vector<std::vector<unsigned char>> SystemRootCertificates() {
    std::vector<std::vector<unsigned char>> certificates;
    const SystemStore store("ROOT");
    if (store.Get() == nullptr)
        return certificates;
    // The enumeration frees the previous context on each step and the last
    // one when it ends.
    for (PCCERT_CONTEXT cert = ::CertEnumCertificatesInStore(store.Get(), nullptr); cert != nullptr;
         cert = ::CertEnumCertificatesInStore(store.Get(), cert)) {
        if (cert->dwCertEncodingType & X509_ASN_ENCODING)
            certificates.emplace_back(cert->pbCertEncoded,
                                      cert->pbCertEncoded + cert->cbCertEncoded);
    }
    return certificates;
}

} // namespace port
