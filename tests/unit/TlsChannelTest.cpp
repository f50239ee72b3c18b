// The TLS channel (TlsChannel, its POP3 face CSSLSocket and its plumbing)
// against a real TLS server on loopback that uses the test CA's
// certificates, and the certificate table and the handshake deadline run
// through both protocols: the POP3 session on its TLS port and the IMAP
// client on its secure port.
#include "net/tls/TlsChannel.h"

#include "UT_IMAP4TestScripts.h"
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_IMAP4Client.h"
#include "net/pop3/Pop3Connection.h"
#include "net/pop3/SSLSocket.h"
#include "net/pop3/WSocket.h"
#include "net/tls/TlsSession.h"
#include "platform/Socket.h"
#include "platform/UniqueSocket.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"
#include "support/TlsPeerCases.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

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
    const std::uint16_t closedPort = tavlo::test::ClosedPort();
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

// The channel runs over a socket that someone else connected. Borrowed,
// the socket outlives the channel and its giver closes it; owned, the
// channel's Close closes it. Either way a read reports the server's close
// notification as the end of the stream, after the bytes before it, and a
// peek returns the bytes the next read returns.
TEST_F(TlsChannelTest, RunsOverAGivenSocketAndClosesItOnlyWhenOwned) {
    for (const bool owned : {false, true}) {
        SCOPED_TRACE(owned ? "owned" : "borrowed");
        ScriptedServer server({Step::Send("+OK\r\n"), Step::CloseConnection()}, TlsWith("server"));
        CWSocket socket;
        socket.Create();
        socket.Connect("127.0.0.1", server.port());
        const port::SocketHandle h = owned ? socket.m_hSocket.Release() : socket.Handle();
        TlsContextHolder context;
        ASSERT_TRUE(CreateClientTlsContext(context));
        TlsChannel channel;
        ASSERT_TRUE(
            channel.Attach(context.Get(), h, TlsChannel::Role::Client,
                           owned ? TlsChannel::Ownership::Owned : TlsChannel::Ownership::Borrowed));
        ASSERT_TRUE(channel.SetPeerHost("127.0.0.1"));
        ASSERT_TRUE(channel.Handshake(std::chrono::seconds(10)));
        EXPECT_EQ(channel.Socket(), h);

        ASSERT_EQ(channel.WaitReadable(std::chrono::seconds(10)), 1);
        char peeked[16] = {};
        char read[16] = {};
        ASSERT_EQ(channel.Read(peeked, sizeof peeked, true), 5);
        ASSERT_EQ(channel.Read(read, sizeof read), 5);
        EXPECT_EQ(std::string(peeked, 5), "+OK\r\n");
        EXPECT_EQ(std::string(read, 5), "+OK\r\n");
        EXPECT_EQ(channel.WaitReadable(std::chrono::seconds(10)), 1) << "the end is readable";
        EXPECT_EQ(channel.Read(read, sizeof read), 0);
        EXPECT_TRUE(channel.PeerSentCloseNotify());

        channel.Close();
        EXPECT_FALSE(channel.IsActive());
        EXPECT_EQ(channel.Socket(), port::kInvalidSocket);
        if (!owned) {
            EXPECT_EQ(socket.Close(), 0) << "the borrowed socket was still open";
        }
        ASSERT_TRUE(server.WaitUntilFinished());
        EXPECT_TRUE(server.connections().at(0).clientClosed);
        EXPECT_TRUE(server.connections().at(0).tlsCloseNotify);
    }
}

TEST_F(TlsChannelTest, AttachRefusesWhatItCannotUseAndTakesNothing) {
    TlsContextHolder context;
    ASSERT_TRUE(CreateClientTlsContext(context));
    port::UniqueSocket socket(port::SocketOpen(port::kSocketStream));
    TlsChannel channel;
    EXPECT_FALSE(channel.Attach(nullptr, socket.Get(), TlsChannel::Role::Client,
                                TlsChannel::Ownership::Owned));
    EXPECT_FALSE(channel.Attach(context.Get(), port::kInvalidSocket));
    EXPECT_FALSE(channel.IsActive());
    EXPECT_FALSE(channel.Handshake(std::chrono::seconds(1)));
    char c = 0;
    EXPECT_EQ(channel.Read(&c, 1), -1);
    EXPECT_EQ(channel.Write("x", 1), -1);
    EXPECT_EQ(channel.WaitReadable(std::chrono::milliseconds(0)), -1);
    channel.Close();
    EXPECT_EQ(socket.Close(), 0) << "a failed Attach leaves the socket with its giver";
}

// --- both protocols over the channel ------------------------------------------

using namespace tavlo::test::imap4;
using tavlo::test::ConnectionRecord;
using tavlo::test::HandshakeTrickle;
using tavlo::test::Script;
using tavlo::test::TlsPeerCase;
using tavlo::test::TlsPeerCases;
using tavlo::test::TlsPeerTrust;

// A client that runs over the channel, driven the same way for both: open
// a session with a handshake limit (the POP3 session's read time-out, the
// IMAP client's connect time-out), ask for the count (4 in the dialogue the
// server plays once TLS is up), close. run is true when the session ran;
// a refused one must have left nothing open.
struct TlsProtocol {
    const char* name;
    Script (*dialogue)();
    bool (*run)(const std::string& host, std::uint16_t port, int limitSeconds);
};

void PrintTo(const TlsProtocol& p, std::ostream* os) {
    *os << p.name;
}

Script Pop3Dialogue() {
    return {Step::Send("+OK POP3 ready\r\n"),
            Step::Expect("USER u"),
            Step::Send("+OK\r\n"),
            Step::Expect("PASS p"),
            Step::Send("+OK logged in\r\n"),
            Step::Expect("STAT"),
            Step::Send("+OK 4 400\r\n"),
            Step::Expect("QUIT"),
            Step::Send("+OK bye\r\n")};
}

bool RunPop3(const std::string& host, std::uint16_t port, int limitSeconds) {
    CPop3Connection pop;
    pop.m_bUseTls = 1;
    pop.m_nReadTimeoutMs = static_cast<std::uint32_t>(limitSeconds) * 1000;
    if (!pop.Connect(host, "u", "p", port)) {
        EXPECT_EQ(pop.m_bSessionOpen, 0);
        return false;
    }
    int count = 0;
    std::uint32_t total = 0;
    EXPECT_TRUE(pop.Statistics(count, total));
    EXPECT_EQ(count, 4);
    EXPECT_TRUE(pop.Disconnect());
    return true;
}

Script ImapDialogue() {
    return LoggedIn(Join({Exchange(2, "STATUS \"INBOX\" (UNSEEN)",
                                   "* STATUS \"INBOX\" (UNSEEN 4)\r\n"
                                   "A0002 OK STATUS completed\r\n"),
                          Logout(3)}));
}

bool RunImap(const std::string& host, std::uint16_t port, int limitSeconds) {
    imap::SetNextTagValue(1);
    CUT_IMAP4Client client;
    EXPECT_EQ(client.UseSecurePort(), UT::Success);
    EXPECT_EQ(client.GetPort(), 993);
    client.SetPort(port);
    client.SetConnectTimeOut(limitSeconds);
    const ResultCode rc = client.OpenSession(host, "u", "p");
    if (rc != UT::Success) {
        EXPECT_EQ(rc, UT::ConnectFailed);
        EXPECT_FALSE(client.IsConnected());
        return false;
    }
    MailboxStatus status;
    EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UNSEEN", status), UT::Success);
    EXPECT_EQ(status.unseen, 4);
    return true; // the client logs out as it goes
}

const TlsProtocol kProtocols[] = {{"Pop3", Pop3Dialogue, RunPop3}, {"Imap", ImapDialogue, RunImap}};

void ExpectNoScriptErrors(const ScriptedServer& server) {
    for (const std::string& e : server.errors())
        ADD_FAILURE() << e;
}

class TlsPeerTest : public TlsChannelTest,
                    public ::testing::WithParamInterface<std::tuple<TlsProtocol, TlsPeerCase>> {};

TEST_P(TlsPeerTest, AcceptsExactlyTheServersItCanVerify) {
    const auto& [protocol, c] = GetParam();
    const TlsPeerTrust trust(c);
    ScriptedServer server(c.accepted ? protocol.dialogue() : Script{}, TlsWith(c.identity));
    EXPECT_EQ(protocol.run(c.host, server.port(), 10), c.accepted);
    ASSERT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(server.connections().size(), 1u);
    const ConnectionRecord record = server.connections()[0];
    EXPECT_EQ(record.tlsHandshakeOk, c.accepted);
    if (c.accepted) {
        ExpectNoScriptErrors(server);
        EXPECT_EQ(record.tlsServerName, c.serverName) << "SNI for names, none for addresses";
        EXPECT_TRUE(record.tlsCloseNotify) << "closing sends the close notification";
    } else {
        EXPECT_EQ(record.received, "") << "not a byte of the dialogue";
    }
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsPeerTest,
                         ::testing::Combine(::testing::ValuesIn(kProtocols),
                                            ::testing::ValuesIn(TlsPeerCases())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// One deadline for the whole handshake: a server that sends its flights in
// small pieces, each soon after the last (far within any single wait), is
// given up at the deadline; the same server is waited for when the
// deadline leaves room for the whole handshake.
constexpr HandshakeTrickle kSlowHandshake{50, 100}; // about 3 s for the server's first flight

class TlsDeadlineTest : public TlsChannelTest, public ::testing::WithParamInterface<TlsProtocol> {
protected:
    static tavlo::test::ScriptedServerOptions Trickling() {
        auto options = TlsWith("server");
        options.handshakeTrickle = kSlowHandshake;
        options.lingerMs = 100;
        return options;
    }
};

TEST_P(TlsDeadlineTest, TrickledHandshakeEndsAtTheDeadline) {
    ScriptedServer server(Script{}, Trickling());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(GetParam().run("localhost", server.port(), 1));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    server.Stop();
    EXPECT_FALSE(server.connections().at(0).tlsHandshakeOk);
}

TEST_P(TlsDeadlineTest, TrickledHandshakeWithinTheDeadlineSucceeds) {
    ScriptedServer server(GetParam().dialogue(), Trickling());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(GetParam().run("localhost", server.port(), 30));
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000))
        << "the trickle outlasts the deadline of the test above by far";
    ASSERT_TRUE(server.WaitUntilFinished());
    ExpectNoScriptErrors(server);
    EXPECT_TRUE(server.connections().at(0).tlsHandshakeOk);
}

INSTANTIATE_TEST_SUITE_P(Protocols, TlsDeadlineTest, ::testing::ValuesIn(kProtocols),
                         [](const auto& info) { return std::string(info.param.name); });

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
