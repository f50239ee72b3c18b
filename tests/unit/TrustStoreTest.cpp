#include "platform/TrustStore.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

namespace {

TEST(TrustStoreTest, SystemRootsAreCertificatesOpenSslReads) {
    const auto roots = port::SystemRootCertificates();
#ifdef _WIN32
    ASSERT_FALSE(roots.empty()) << "the ROOT store holds no certificate";
#else
    // OpenSSL reads the system's trust store itself.
    EXPECT_TRUE(roots.empty());
#endif
    for (const auto& der : roots) {
        const unsigned char* p = der.data();
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        EXPECT_NE(cert, nullptr);
        EXPECT_EQ(p, der.data() + der.size()); // exactly one certificate
        X509_free(cert);
    }
}

} // namespace
