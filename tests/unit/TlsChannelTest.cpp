// The TLS channel (CSSLSocket and its plumbing) against a real TLS server on
// loopback that uses the test CA's certificates.
#include "net/pop3/SSLSocket.h"
#include "net/pop3/WSocket.h"
#include "net/tls/TlsSession.h"
#include "platform/Socket.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <optional>
#include <ostream>
#include <string>

namespace {

using tavlo::test::ScriptedServer;
using tavlo::test::ScriptedServerOptions;
using tavlo::test::Step;
using tavlo::test::TestTlsIdentity;

ScriptedServerOptions TlsWith(const char* identity) {
    ScriptedServerOptions o;
    o.tls = TestTlsIdentity(identity);
    return o;
}

// A client put together the way the POP3 session does it: a context for
// this connection only, released once the handshake has been attempted.
struct TlsClient {
    TlsContextHolder context;
    CWSocket socket;
    CSSLSocket channel; // declared after the socket: closed before it

    bool Open(const char* host, std::uint16_t port) {
        if (!CreateClientTlsContext(context))
            return false;
        socket.Create();
        if (!channel.Create(context, socket))
            return false;
        const bool ok = channel.Connect(host, port);
        context.Release();
        return ok;
    }

    std::string ReadLine() {
        std::string line;
        char c = 0;
        while (line.size() < 1000 && channel.IsReadable(10000) && channel.Receive(&c, 1) == 1) {
            line += c;
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
                break;
        }
        return line;
    }

    int SendText(const std::string& text) { return channel.Send(text.data(), text.size()); }
};

class TlsChannelTest : public ::testing::Test {
protected:
    void SetUp() override { tavlo::test::EnsureSocketLayer(); }

    // Trust for the test CA, as a user with a private CA would add it.
    tavlo::test::ScopedEnvironmentVariable m_trust{"SSL_CERT_FILE",
                                                   tavlo::test::TestDataPath("tls/ca.crt")};
};

TEST_F(TlsChannelTest, HandshakeVerifiesAndCarriesDataBothWays) {
    ScriptedServer server({Step::Send("+OK ready\r\n"), Step::Expect("STAT"),
                           Step::Send("+OK 2 320\r\n"), Step::WaitForClientClose()},
                          TlsWith("server"));
    TlsClient client;
    ASSERT_TRUE(client.Open("localhost", server.port()));
    EXPECT_EQ(client.ReadLine(), "+OK ready\r\n");
    EXPECT_EQ(client.SendText("STAT\r\n"), 6);
    EXPECT_EQ(client.ReadLine(), "+OK 2 320\r\n");
    client.channel.Close();
    EXPECT_EQ(client.channel.Socket(), nullptr);
    EXPECT_EQ(client.socket.Handle(), port::kInvalidSocket) << "Close closes the socket too";

    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
    EXPECT_EQ(server.transcript(), std::vector<std::string>{"STAT"});
    const auto rec = server.connections().at(0);
    EXPECT_TRUE(rec.tlsHandshakeOk);
    EXPECT_TRUE(rec.tlsCloseNotify) << "closing sends the close notification";
}

// The name the server sees, and the certificate entry the client checks:
// a host name is sent (SNI) and matched against the DNS names, an address
// is matched against the IP entries and never sent.
struct PeerCase {
    const char* host;
    const char* serverNameSeen;
};

std::ostream& operator<<(std::ostream& os, const PeerCase& c) {
    return os << c.host;
}

class TlsPeerNameTest : public TlsChannelTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(TlsPeerNameTest, VerifiesAgainstTheNameOrAddressUsed) {
    ScriptedServer server({Step::Send("+OK\r\n"), Step::WaitForClientClose()}, TlsWith("server"));
    TlsClient client;
    ASSERT_TRUE(client.Open(GetParam().host, server.port()));
    EXPECT_EQ(client.ReadLine(), "+OK\r\n");
    client.channel.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.connections().at(0).tlsServerName, GetParam().serverNameSeen);
}

INSTANTIATE_TEST_SUITE_P(Hosts, TlsPeerNameTest,
                         ::testing::Values(PeerCase{"localhost", "localhost"},
                                           PeerCase{"127.0.0.1", ""}));

// Servers the client must refuse: a failed verification is a failed
// handshake, and nothing is sent to such a server.
struct RefusalCase {
    const char* identity;
    const char* host;
    const char* why;
};

std::ostream& operator<<(std::ostream& os, const RefusalCase& c) {
    return os << c.identity << " as " << c.host;
}

class TlsRefusalTest : public TlsChannelTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(TlsRefusalTest, HandshakeFails) {
    const RefusalCase& c = GetParam();
    ScriptedServer server({Step::Send("+OK\r\n"), Step::WaitForClientClose()}, TlsWith(c.identity));
    TlsClient client;
    EXPECT_FALSE(client.Open(c.host, server.port())) << c.why;
    client.channel.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    const auto rec = server.connections().at(0);
    EXPECT_FALSE(rec.tlsHandshakeOk) << c.why;
    EXPECT_TRUE(rec.received.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadCertificates, TlsRefusalTest,
    ::testing::Values(RefusalCase{"impostor", "localhost", "signed by an untrusted CA"},
                      RefusalCase{"impostor", "127.0.0.1", "signed by an untrusted CA"},
                      RefusalCase{"selfsigned", "localhost", "self-signed"},
                      RefusalCase{"wronghost", "localhost", "issued for another host name"},
                      RefusalCase{"wronghost", "127.0.0.1", "has no IP address entry"}));

TEST_F(TlsChannelTest, WithoutTrustInTheTestCaTheServerIsRefused) {
    tavlo::test::ScopedEnvironmentVariable noTrust("SSL_CERT_FILE", std::nullopt);
    ScriptedServer server({Step::Send("+OK\r\n")}, TlsWith("server"));
    TlsClient client;
    EXPECT_FALSE(client.Open("localhost", server.port()));
    client.channel.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_FALSE(server.connections().at(0).tlsHandshakeOk);
}

TEST_F(TlsChannelTest, DecryptedBytesAreReadableWithoutWaitingOnTheSocket) {
    ScriptedServer server({Step::Send("AB\r\n"), Step::Expect("DONE")}, TlsWith("server"));
    TlsClient client;
    ASSERT_TRUE(client.Open("localhost", server.port()));
    ASSERT_TRUE(client.channel.IsReadable(10000));
    char buf[16] = {};
    ASSERT_EQ(client.channel.Receive(buf, 1), 1);
    EXPECT_EQ(buf[0], 'A');
    // The whole record was decrypted; the socket itself has nothing more.
    EXPECT_TRUE(client.channel.IsReadable(0));
    ASSERT_EQ(client.channel.Receive(buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "B\r\n");
    EXPECT_FALSE(client.channel.IsReadable(200));
    EXPECT_EQ(client.SendText("DONE\r\n"), 6);
    client.channel.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
}

TEST_F(TlsChannelTest, CloseDoesNotWaitForeverForASilentServer) {
    // The server neither reads nor answers the close notification.
    ScriptedServer server({Step::Send("+OK\r\n"), Step::Sleep(30000)}, TlsWith("server"));
    TlsClient client;
    ASSERT_TRUE(client.Open("localhost", server.port()));
    EXPECT_EQ(client.ReadLine(), "+OK\r\n");
    const auto start = std::chrono::steady_clock::now();
    client.channel.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(client.socket.Handle(), port::kInvalidSocket);
}

TEST_F(TlsChannelTest, SocketErrorsOfConnectPassThrough) {
    std::uint16_t closedPort = 0;
    port::SocketClose(port::SocketListenLoopback(0, closedPort));
    TlsContextHolder context;
    ASSERT_TRUE(CreateClientTlsContext(context));
    CWSocket socket;
    socket.Create();
    CSSLSocket channel;
    ASSERT_TRUE(channel.Create(context, socket));
    try {
        channel.Connect("127.0.0.1", closedPort);
        ADD_FAILURE() << "no exception";
    } catch (CWSocketException* e) {
        const std::unique_ptr<CWSocketException> owned(e);
        EXPECT_NE(e->m_nErrorCode, 0);
    }
}

TEST_F(TlsChannelTest, ClosingANeverCreatedOrClosedChannelDoesNothing) {
    CSSLSocket never;
    never.Close();
    never.Close();
    EXPECT_EQ(never.Socket(), nullptr);
    EXPECT_FALSE(never.Connect("127.0.0.1", 1)) << "no session, no socket: nothing to connect";

    TlsContextHolder context;
    ASSERT_TRUE(CreateClientTlsContext(context));
    CWSocket socket;
    socket.Create();
    CSSLSocket channel;
    ASSERT_TRUE(channel.Create(context, socket));
    EXPECT_EQ(channel.Socket(), &socket);
    channel.Close();
    EXPECT_EQ(socket.Handle(), port::kInvalidSocket);
    // The socket is reused; a second Close of the channel must leave it be.
    socket.Create();
    channel.Close();
    EXPECT_NE(socket.Handle(), port::kInvalidSocket);
}

TEST_F(TlsChannelTest, CreateWithoutAContextFailsAndLeavesTheSocketAlone) {
    TlsContextHolder empty;
    CWSocket socket;
    socket.Create();
    CSSLSocket channel;
    EXPECT_FALSE(channel.Create(empty, socket));
    EXPECT_EQ(channel.m_session.Get(), nullptr);
    EXPECT_EQ(channel.Socket(), nullptr);
    EXPECT_NE(socket.Handle(), port::kInvalidSocket);
}

// --- set-up of contexts and sessions -----------------------------------------

TEST_F(TlsChannelTest, ClientContextRequiresAVerifiedPeer) {
    TlsContextHolder holder;
    ASSERT_TRUE(CreateClientTlsContext(holder));
    ASSERT_NE(holder.Get(), nullptr);
    EXPECT_EQ(SSL_CTX_get_verify_mode(holder.Get()), SSL_VERIFY_PEER);
}

struct PrepareCase {
    const char* host;
    bool ok;
    const char* sni;         // nullptr: none sent
    const char* checkedHost; // nullptr: no name check
    const char* checkedIp;   // nullptr: no address check
};

std::ostream& operator<<(std::ostream& os, const PrepareCase& c) {
    return os << '"' << c.host << '"';
}

class PrepareSessionTest : public TlsChannelTest,
                           public ::testing::WithParamInterface<PrepareCase> {};

TEST_P(PrepareSessionTest, SetsServerNameAndCheckedIdentity) {
    const PrepareCase& c = GetParam();
    TlsContextHolder context;
    ASSERT_TRUE(CreateClientTlsContext(context));
    TlsSessionHolder session;
    session.Attach(SSL_new(context.Get()));
    ASSERT_NE(session.Get(), nullptr);
    EXPECT_EQ(PrepareTlsSessionForHost(session.Get(), c.host), c.ok);
    if (!c.ok)
        return;
    const char* sni = SSL_get_servername(session.Get(), TLSEXT_NAMETYPE_host_name);
    EXPECT_EQ(sni == nullptr ? std::string("(none)") : std::string(sni),
              c.sni == nullptr ? std::string("(none)") : std::string(c.sni));
    X509_VERIFY_PARAM* param = SSL_get0_param(session.Get());
    const char* host = X509_VERIFY_PARAM_get0_host(param, 0);
    EXPECT_EQ(host == nullptr ? std::string("(none)") : std::string(host),
              c.checkedHost == nullptr ? std::string("(none)") : std::string(c.checkedHost));
    char* ip = X509_VERIFY_PARAM_get1_ip_asc(param);
    EXPECT_EQ(ip == nullptr ? std::string("(none)") : std::string(ip),
              c.checkedIp == nullptr ? std::string("(none)") : std::string(c.checkedIp));
    OPENSSL_free(ip);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, PrepareSessionTest,
    ::testing::Values(PrepareCase{"mail.example.com", true, "mail.example.com", "mail.example.com",
                                  nullptr},
                      PrepareCase{"127.0.0.1", true, nullptr, nullptr, "127.0.0.1"},
                      PrepareCase{"10.1.2.3", true, nullptr, nullptr, "10.1.2.3"},
                      PrepareCase{"", false, nullptr, nullptr, nullptr}));

// --- the handle owners --------------------------------------------------------

// Counts how often the library frees objects marked with a counter. Real
// frees, observed through the library's own ex_data clean-up.
void CountFree(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
    if (ptr != nullptr)
        ++*static_cast<int*>(ptr);
}

int SessionFreeIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, CountFree);
    return index;
}

int ContextFreeIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, CountFree);
    return index;
}

TEST(TlsHolderTest, SessionHolderFreesOnAttachReleaseAndDestruction) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    ASSERT_NE(ctx, nullptr);
    int freedA = 0, freedB = 0, freedC = 0;
    SSL* a = SSL_new(ctx.get());
    SSL* b = SSL_new(ctx.get());
    SSL* c = SSL_new(ctx.get());
    SSL_set_ex_data(a, SessionFreeIndex(), &freedA);
    SSL_set_ex_data(b, SessionFreeIndex(), &freedB);
    SSL_set_ex_data(c, SessionFreeIndex(), &freedC);
    {
        TlsSessionHolder holder;
        holder.Attach(a);
        holder.Attach(b);
        EXPECT_EQ(freedA, 1) << "attaching releases the old session";
        EXPECT_EQ(holder.Get(), b);
        holder.Release();
        EXPECT_EQ(freedB, 1);
        EXPECT_EQ(holder.Get(), nullptr);
        holder.Release();
        holder.Attach(c);
        EXPECT_EQ(freedC, 0);
    }
    EXPECT_EQ(freedC, 1) << "destruction releases";
    EXPECT_EQ(freedA + freedB, 2) << "each freed exactly once";
}

TEST(TlsHolderTest, ContextHolderFreesOnAttachReleaseAndDestruction) {
    int freedA = 0, freedB = 0;
    SSL_CTX* a = SSL_CTX_new(TLS_client_method());
    SSL_CTX* b = SSL_CTX_new(TLS_client_method());
    ASSERT_TRUE(a != nullptr && b != nullptr);
    SSL_CTX_set_ex_data(a, ContextFreeIndex(), &freedA);
    SSL_CTX_set_ex_data(b, ContextFreeIndex(), &freedB);
    {
        TlsContextHolder holder(a);
        holder.Attach(b);
        EXPECT_EQ(freedA, 1);
        EXPECT_EQ(freedB, 0);
    }
    EXPECT_EQ(freedB, 1);
    TlsContextHolder empty;
    empty.Release();
    EXPECT_EQ(empty.Get(), nullptr);
}

} // namespace
