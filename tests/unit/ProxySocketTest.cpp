// The tunnels at the socket surfaces, against scripted proxies on loopback:
// CWSocket's ConnectThrough... operations (their codes and the socket they
// close), the POP3 session choosing a tunnel by its proxy kind, and the
// IMAP family's connect through a proxy.
#include "net/imap/UT_WSClient.h"
#include "net/pop3/Pop3Connection.h"
#include "net/pop3/WSocket.h"
#include "platform/Errors.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using tavlo::test::EnsureSocketLayer;
using tavlo::test::Script;
using tavlo::test::ScriptedServer;
using tavlo::test::ScriptedServerOptions;
using tavlo::test::Step;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values)
        s += static_cast<char>(v);
    return s;
}

// The bytes each tunnel sends for 10.0.0.1:110, and a proxy's yes to them.
const std::string kSocks4Request = Bytes({0x04, 0x01, 0x00, 0x6E, 10, 0, 0, 1, 0x00});
const std::string kSocks4Granted = Bytes({0x00, 0x5A, 0, 0, 0, 0, 0, 0});
const std::string kSocks5Offer = Bytes({0x05, 0x01, 0x00});
const std::string kSocks5OfferWithUser = Bytes({0x05, 0x02, 0x00, 0x02});
const std::string kSocks5Request = Bytes({0x05, 0x01, 0x00, 0x01, 10, 0, 0, 1, 0x00, 0x6E});
const std::string kSocks5Succeeded = Bytes({0x05, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0});
const std::string kHttpRequest = "CONNECT 10.0.0.1:110 HTTP/1.0\r\n\r\n";

// What the caught exception said; the catcher owns it.
int CodeOf(CWSocketException* e) {
    const int code = e->m_nErrorCode;
    delete e;
    return code;
}

class ProxySocketTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureSocketLayer(); }

    ScriptedServerOptions Quick() {
        ScriptedServerOptions options;
        options.ioTimeoutMs = 3000;
        options.lingerMs = 200;
        return options;
    }
};

// A proxy that says nothing, or hangs up, after the request: 1460 and 1226
// (ETIMEDOUT and ECONNRESET here), and the socket is closed before the
// exception leaves.
TEST_F(ProxySocketTest, SilentProxyTimesOutClosingProxyDisconnectsBothCloseTheSocket) {
    struct Case {
        const char* name;
        int kind; // 1 SOCKS4, 2 SOCKS5, 3 HTTP
        std::string request;
    };
    const Case cases[] = {
        {"socks4", 1, kSocks4Request},
        {"socks5", 2, kSocks5Offer},
        {"http", 3, kHttpRequest},
    };
    for (const Case& c : cases) {
        for (const bool closes : {false, true}) {
            Script script{Step::ExpectBytes(c.request)};
            script.push_back(closes ? Step::CloseConnection() : Step::Sleep(1500));
            ScriptedServer proxy(script, Quick());
            CWSocket socket;
            socket.Create();
            int code = 0;
            try {
                std::string reply;
                if (c.kind == 1)
                    socket.ConnectThroughSocks4("10.0.0.1", 110, "127.0.0.1", proxy.port(), 300);
                else if (c.kind == 2)
                    socket.ConnectThroughSocks5("10.0.0.1", 110, "127.0.0.1", proxy.port(), nullptr,
                                                nullptr, 300);
                else
                    socket.ConnectThroughHttpProxy("10.0.0.1", 110, "127.0.0.1", proxy.port(),
                                                   reply, nullptr, nullptr, 300, nullptr);
            } catch (CWSocketException* e) {
                code = CodeOf(e);
            }
            EXPECT_EQ(code, closes ? port::kErrGracefulDisconnect : port::kErrTimeout)
                << c.name << (closes ? " closing" : " silent");
            EXPECT_EQ(socket.Handle(), port::kInvalidSocket) << c.name;
            proxy.Stop();
            EXPECT_TRUE(proxy.errors().empty()) << c.name;
        }
    }
}

TEST_F(ProxySocketTest, FailedProxyConnectIsRaisedUnchanged) {
    std::uint16_t closedPort = 0;
    {
        ScriptedServer gone(Script{}, Quick());
        closedPort = gone.port();
    }
    CWSocket socket;
    socket.Create();
    int code = 0;
    try {
        socket.ConnectThroughSocks5("10.0.0.1", 110, "127.0.0.1", closedPort, nullptr, nullptr,
                                    300);
    } catch (CWSocketException* e) {
        code = CodeOf(e);
    }
    EXPECT_EQ(code, port::kErrSocketConnRefused);
}

// The POP3 session through each kind of tunnel: the proxy's dialogue, then
// the POP3 conversation on the same connection.
TEST_F(ProxySocketTest, Pop3SessionGoesThroughTheTunnelOfItsProxyKind) {
    struct Case {
        const char* name;
        int kind;
        std::string user;
        std::vector<Step> proxySteps;
    };
    const std::string http407 = "HTTP/1.0 407 Proxy Authentication Required\r\n\r\n";
    const Case cases[] = {
        {"socks4", 1, "", {Step::ExpectBytes(kSocks4Request), Step::Send(kSocks4Granted)}},
        {"socks5",
         2,
         "",
         {Step::ExpectBytes(kSocks5Offer), Step::Send(Bytes({0x05, 0x00})),
          Step::ExpectBytes(kSocks5Request), Step::Send(kSocks5Succeeded)}},
        {"socks5 with credentials",
         2,
         "pu",
         {Step::ExpectBytes(kSocks5OfferWithUser), Step::Send(Bytes({0x05, 0x02})),
          Step::ExpectBytes(Bytes({0x01, 2}) + "pu" + Bytes({2}) + "pp"),
          Step::Send(Bytes({0x01, 0x00})), Step::ExpectBytes(kSocks5Request),
          Step::Send(kSocks5Succeeded)}},
        {"http with credentials and agent",
         3,
         "pu",
         {Step::Expect("CONNECT 10.0.0.1:110 HTTP/1.0"),
          Step::Expect("Proxy-authorization: Basic cHU6cHA="), Step::Expect("User-Agent: Tavlo"),
          Step::Expect(""), Step::Send("HTTP/1.0 200 Connection established\r\n\r\n")}},
    };
    for (const Case& c : cases) {
        Script script = c.proxySteps;
        // The greeting may follow the proxy's reply in the same segment.
        for (const Step& s : {Step::Send("+OK POP3 ready\r\n"), Step::Expect("USER u"),
                              Step::Send("+OK\r\n"), Step::Expect("PASS p"), Step::Send("+OK\r\n"),
                              Step::Expect("QUIT"), Step::Send("+OK bye\r\n")})
            script.push_back(s);
        ScriptedServer proxy(script, Quick());
        CPop3Connection pop;
        pop.m_nProxyKind = c.kind;
        pop.m_strProxyHost = "127.0.0.1";
        pop.m_nProxyPort = proxy.port();
        pop.m_strProxyUser = c.user;
        pop.m_strProxyPassword = "pp";
        pop.m_strUserAgent = "Tavlo";
        EXPECT_TRUE(pop.Connect("10.0.0.1", "u", "p", 110)) << c.name;
        EXPECT_TRUE(pop.Disconnect()) << c.name;
        EXPECT_TRUE(proxy.WaitUntilFinished()) << c.name;
        EXPECT_EQ(proxy.errors(), std::vector<std::string>{}) << c.name;
    }

    // A refusal fails the connect with the tunnel's code; nothing of POP3
    // is sent.
    ScriptedServer refusing({Step::Expect("CONNECT 10.0.0.1:110 HTTP/1.0"), Step::Expect(""),
                             Step::Send(http407), Step::WaitForClientClose()},
                            Quick());
    CPop3Connection pop;
    pop.m_nProxyKind = 3;
    pop.m_strProxyHost = "127.0.0.1";
    pop.m_nProxyPort = refusing.port();
    port::SetLastErrorValue(0);
    EXPECT_FALSE(pop.Connect("10.0.0.1", "u", "p", 110));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrConnectionRefused);
    EXPECT_EQ(pop.m_socket.Handle(), port::kInvalidSocket);
    EXPECT_TRUE(refusing.WaitUntilFinished());
    EXPECT_EQ(refusing.transcript(),
              (std::vector<std::string>{"CONNECT 10.0.0.1:110 HTTP/1.0", ""}));
}

// The IMAP family connects to the proxy, tunnels, and only then runs
// AfterConnect; a failed tunnel is its own connect failure.
TEST_F(ProxySocketTest, ImapClientConnectsThroughTheTunnelAndMapsItsFailures) {
    ProxyServer proxy;
    proxy.kind = ProxyKind::Socks5;
    proxy.host = "127.0.0.1";
    {
        ScriptedServer server({Step::ExpectBytes(kSocks5Offer), Step::Send(Bytes({0x05, 0x00})),
                               Step::ExpectBytes(kSocks5Request),
                               Step::Send(kSocks5Succeeded + "* OK IMAP4rev1 ready\r\n"),
                               Step::WaitForClientClose()},
                              Quick());
        proxy.port = server.port();
        CUT_WSClient client;
        client.SetProxy(proxy);
        ASSERT_EQ(client.ConnectTo(110, "10.0.0.1", 2), UT::Success);
        EXPECT_EQ(client.GetRemotePort(), server.port()); // the peer is the proxy
        char line[64] = {};
        EXPECT_EQ(client.ReadLine(line, sizeof line, 2), 22);
        EXPECT_STREQ(line, "* OK IMAP4rev1 ready\r\n");
        client.Disconnect();
        EXPECT_TRUE(server.WaitUntilFinished());
        EXPECT_TRUE(server.errors().empty());
    }
    struct Failure {
        const char* name;
        Step end;
        ResultCode expected;
        int lastError;
    };
    const Failure failures[] = {
        {"silent", Step::Sleep(2500), UT::ConnectTimedOut, port::kErrTimeout},
        {"closing", Step::CloseConnection(), UT::ConnectFailed, port::kErrGracefulDisconnect},
        {"refusing", Step::Send(Bytes({0x05, 0xFF})), UT::ConnectFailed,
         port::kErrSocketConnRefused},
    };
    for (const Failure& f : failures) {
        ScriptedServer server({Step::ExpectBytes(kSocks5Offer), f.end}, Quick());
        proxy.port = server.port();
        CUT_WSClient client;
        client.SetProxy(proxy);
        port::SetLastErrorValue(0);
        EXPECT_EQ(client.ConnectTo(110, "10.0.0.1", 1), f.expected) << f.name;
        EXPECT_EQ(port::GetLastErrorValue(), f.lastError) << f.name;
        EXPECT_FALSE(client.IsConnected()) << f.name;
        server.Stop();
    }
}

} // namespace
