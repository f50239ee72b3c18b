// POP3, POP3 over TLS and IMAP over TLS through real proxies on loopback
// (dante for SOCKS4 and SOCKS5, microsocks for SOCKS5 with RFC 1929
// credentials, tinyproxy for HTTP CONNECT with Basic credentials) to a real
// Dovecot; and the ways a proxy keeps us from the server: wrong proxy
// credentials, a target it refuses, a proxy that is not running.
//
// The ctest fixture "dovecot" starts the proxies too (scripts/
// proxy_harness.py); without them these tests skip themselves.
#include "config/AccountDialog.h"
#include "config/ProxySetting.h"
#include "net/imap/UT_IMAP4Client.h"
#include "net/pop3/Pop3Connection.h"
#include "platform/Errors.h"
#include "platform/SocketExtra.h"
#include "platform/UniqueSocket.h"
#include "support/DovecotInstance.h"
#include "support/ProxyInstance.h"
#include "support/TestEnv.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using tavlo::test::DovecotInstance;
using tavlo::test::EnsureSocketLayer;
using tavlo::test::ProxyInstance;
using tavlo::test::ScopedEnvironmentVariable;

constexpr const char* kUser = "vera";
constexpr const char* kProxies[] = {"socks4", "socks5", "socks5_auth", "http"};

// A loopback port where nothing listens.
int ClosedPort() {
    port::UniqueSocket s(port::SocketOpen(port::kSocketStream));
    std::uint32_t addr = 0;
    port::ParseDottedIPv4("127.0.0.1", addr);
    port::SocketBind(s.Get(), addr, 0);
    std::uint32_t bound = 0;
    std::uint16_t boundPort = 0;
    port::SocketLocalAddress(s.Get(), bound, boundPort);
    return boundPort;
}

class ProxyDovecotTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto dovecot = DovecotInstance::FromEnvironment("TAVLO_DOVECOT_ENV");
        auto proxies = ProxyInstance::FromEnvironment();
        if (!dovecot || !proxies)
            GTEST_SKIP() << "no Dovecot and proxies (the ctest fixture \"dovecot\" starts them)";
        server = *dovecot;
        proxy = *proxies;
        EnsureSocketLayer();
        trust.emplace("SSL_CERT_FILE", server.Ca());
    }

    CAccount Account(const std::string& type, bool tls, int port) const {
        CAccount a;
        a.m_strAccountName = "proxied";
        a.m_strUserName = kUser;
        a.m_strPassword = server.Password(kUser);
        // The name, not the address: SOCKS5 and HTTP CONNECT hand it to the
        // proxy, and TLS checks the certificate against it.
        a.m_strServer = "localhost:" + std::to_string(port);
        a.m_strSecurity = tls ? "SSL" : "NORMAL";
        a.m_strAccountType = type;
        return a;
    }

    // A POP3 connect through the proxy; its result and the last-error value.
    bool Pop3Through(const ProxyServer& through, bool tls, int port, int& error) {
        CPop3Connection pop;
        pop.m_bUseTls = tls ? 1 : 0;
        UseProxy(pop, through);
        port::SetLastErrorValue(0);
        const bool ok = pop.Connect("localhost", kUser, server.Password(kUser), port);
        error = port::GetLastErrorValue();
        int count = -1;
        std::uint32_t size = 0;
        if (ok) {
            EXPECT_TRUE(pop.Statistics(count, size));
        }
        pop.Disconnect();
        return ok;
    }

    DovecotInstance server;
    ProxyInstance proxy;
    std::optional<ScopedEnvironmentVariable> trust;
};

TEST_F(ProxyDovecotTest, EveryProxyCarriesPop3Pop3sAndImaps) {
    for (const char* name : kProxies) {
        const ProxyServer through = proxy.Server(name);
        ASSERT_NE(through.port, 0) << name;
        int error = 0;
        EXPECT_TRUE(Pop3Through(through, false, server.Port("POP3"), error))
            << name << " " << error;
        EXPECT_TRUE(Pop3Through(through, true, server.Port("POP3S"), error))
            << name << " " << error;
        // The account dialog's Test button, as the "Proxy" setting drives it.
        EXPECT_TRUE(TestAccountSettings(Account("POP3", true, server.Port("POP3S")), through))
            << name;
        EXPECT_TRUE(TestAccountSettings(Account("IMAP", true, server.Port("IMAPS")), through))
            << name;

        CUT_IMAP4Client client;
        client.SetProxy(through);
        client.UseSecurePort();
        client.SetPort(server.Port("IMAPS"));
        ASSERT_EQ(client.OpenSession("localhost", kUser, server.Password(kUser)), UT::Success)
            << name;
        MailboxStatus status;
        EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UIDNEXT", status), UT::Success) << name;
        EXPECT_GT(status.uidNext, 0) << name;
        client.CloseSession();
    }
}

TEST_F(ProxyDovecotTest, WrongProxyCredentialsReachNoAccount) {
    struct Case {
        const char* name;
        int expected;
    };
    const Case cases[] = {
        {"socks5_auth", port::kErrAccessDenied}, // RFC 1929 status not 0
        {"http", port::kErrConnectionRefused},   // 407
    };
    for (const Case& c : cases) {
        ProxyServer through = proxy.Server(c.name);
        through.password += "-wrong";
        int error = 0;
        EXPECT_FALSE(Pop3Through(through, false, server.Port("POP3"), error)) << c.name;
        EXPECT_EQ(error, c.expected) << c.name;
        EXPECT_FALSE(TestAccountSettings(Account("IMAP", true, server.Port("IMAPS")), through))
            << c.name;
        // No credentials at all, where the proxy wants them.
        through.user.clear();
        EXPECT_FALSE(Pop3Through(through, true, server.Port("POP3S"), error)) << c.name;
    }
}

TEST_F(ProxyDovecotTest, ATargetTheProxyRefusesAndAStoppedProxyReachNothing) {
    const int closed = ClosedPort();
    for (const char* name : kProxies) {
        // Nothing listens at the target: each proxy answers with a refusal
        // (tinyproxy refuses ports other than Dovecot's outright).
        int error = 0;
        EXPECT_FALSE(Pop3Through(proxy.Server(name), false, closed, error)) << name;
        EXPECT_EQ(error, std::string(name) == "http" ? port::kErrConnectionRefused
                                                     : port::kErrBadNetResponse)
            << name;
        EXPECT_FALSE(TestAccountSettings(Account("IMAP", true, closed), proxy.Server(name)))
            << name;

        ProxyServer stopped = proxy.Server(name);
        stopped.port = ClosedPort();
        EXPECT_FALSE(Pop3Through(stopped, true, server.Port("POP3S"), error)) << name;
        EXPECT_EQ(error, port::kErrSocketConnRefused) << name;
        CUT_IMAP4Client client;
        client.SetProxy(stopped);
        client.UseSecurePort();
        client.SetPort(server.Port("IMAPS"));
        EXPECT_NE(client.OpenSession("localhost", kUser, server.Password(kUser)), UT::Success)
            << name;
    }
}

} // namespace
