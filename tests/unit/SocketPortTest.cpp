#include "platform/Errors.h"
#include "platform/Socket.h"
#include "platform/SocketExtra.h"
#include "platform/UniqueSocket.h"
#include "support/LoopbackSockets.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#endif

namespace {

using port::UniqueSocket;

std::uint32_t Loopback() {
    std::uint32_t addr = 0;
    EXPECT_TRUE(port::ParseDottedIPv4("127.0.0.1", addr));
    return addr;
}

class SocketPortTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(port::SocketLayerStartup()); }
    static void TearDownTestSuite() { port::SocketLayerCleanup(); }

    // A connected pair over loopback: m_client and m_server.
    void Connect() {
        std::uint16_t portNumber = 0;
        m_listener = tavlo::test::ListenLoopback(0, portNumber);
        ASSERT_TRUE(m_listener.Valid()) << port::LastSocketError();
        ASSERT_NE(portNumber, 0);
        m_client.Reset(port::SocketOpen(port::kSocketStream));
        ASSERT_TRUE(m_client.Valid());
        ASSERT_EQ(port::SocketBind(m_client.Get(), 0, 0), 0) << port::LastSocketError();
        ASSERT_EQ(port::SocketConnect(m_client.Get(), Loopback(), portNumber), 0)
            << port::LastSocketError();
        m_server = tavlo::test::AcceptConnection(m_listener.Get());
        ASSERT_TRUE(m_server.Valid()) << port::LastSocketError();
    }

    std::string ReceiveSome(port::SocketHandle h, bool peek = false) {
        char buffer[64];
        EXPECT_GT(port::SocketWaitReadable(h, 5, 0), 0);
        const long n = port::SocketReceive(h, buffer, sizeof buffer, peek);
        EXPECT_GE(n, 0) << port::LastSocketError();
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

    UniqueSocket m_listener;
    UniqueSocket m_client;
    UniqueSocket m_server;
};

TEST_F(SocketPortTest, LoopbackPairCarriesBytesBothWaysAndPeekLeavesThem) {
    Connect();
    ASSERT_EQ(port::SocketSend(m_client.Get(), "hello", 5), 5);
    EXPECT_EQ(ReceiveSome(m_server.Get(), true), "hello");
    EXPECT_EQ(ReceiveSome(m_server.Get()), "hello"); // still there after the peek
    ASSERT_EQ(port::SocketSend(m_server.Get(), "world\r\n", 7), 7);
    EXPECT_EQ(ReceiveSome(m_client.Get()), "world\r\n");
    EXPECT_EQ(port::SocketSetReceiveBufferSize(m_client.Get(), 65536), 0);
    EXPECT_EQ(port::SocketSetSendBufferSize(m_client.Get(), 65536), 0);
}

// The owner closes what it holds exactly when it lets go of it without
// handing it on: on reset, on destruction and on a move-assignment over it;
// Release and moves hand the handle on open. A closed handle shows as the
// peer's end of stream.
TEST_F(SocketPortTest, UniqueSocketClosesWhatItOwnsAndNothingElse) {
    const auto peerSawClose = [this] {
        char buffer[8];
        return port::SocketWaitReadable(m_server.Get(), 5, 0) > 0 &&
               port::SocketReceive(m_server.Get(), buffer, sizeof buffer) == 0;
    };
    // Each action returns where the handle went, kept during the check.
    struct Case {
        const char* name;
        std::function<UniqueSocket(UniqueSocket&)> act;
        bool closes;
    };
    const Case cases[] = {
        {"destruction",
         [](UniqueSocket& s) {
             { UniqueSocket gone(std::move(s)); }
             return UniqueSocket();
         },
         true},
        {"reset",
         [](UniqueSocket& s) {
             s.Reset();
             return UniqueSocket();
         },
         true},
        {"reset to the same handle",
         [](UniqueSocket& s) {
             s.Reset(s.Get());
             return UniqueSocket();
         },
         false},
        {"move-assignment over it",
         [](UniqueSocket& s) {
             s = UniqueSocket(port::SocketOpen(port::kSocketStream));
             return UniqueSocket();
         },
         true},
        {"self move-assignment",
         [](UniqueSocket& s) {
             UniqueSocket& same = s;
             s = std::move(same);
             return UniqueSocket();
         },
         false},
        {"release", [](UniqueSocket& s) { return UniqueSocket(s.Release()); }, false},
        {"move", [](UniqueSocket& s) { return UniqueSocket(std::move(s)); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connect();
        const port::SocketHandle h = m_client.Get();
        const UniqueSocket holder = c.act(m_client);
        if (c.closes) {
            EXPECT_TRUE(peerSawClose());
        } else {
            ASSERT_EQ(port::SocketSend(h, "x", 1), 1) << "the handle is still open";
            EXPECT_EQ(ReceiveSome(m_server.Get()), "x");
        }
    }
    UniqueSocket empty;
    EXPECT_FALSE(empty.Valid());
    EXPECT_EQ(empty.Close(), -1);
}

TEST_F(SocketPortTest, WaitReadableRunsOutWhenNothingArrives) {
    Connect();
    EXPECT_EQ(port::SocketWaitReadable(m_client.Get(), 0, 200000), 0);
    EXPECT_EQ(port::SocketWaitReadable(m_client.Get(), 0, 0), 0);
}

TEST_F(SocketPortTest, PeerCloseIsReadableAndReceiveGivesEndOfStream) {
    Connect();
    m_server.Close();
    EXPECT_GT(port::SocketWaitReadable(m_client.Get(), 5, 0), 0);
    char buffer[8];
    EXPECT_EQ(port::SocketReceive(m_client.Get(), buffer, sizeof buffer), 0);
}

TEST_F(SocketPortTest, ShutdownOfSendingEndsThePeersStream) {
    Connect();
    ASSERT_EQ(port::SocketSend(m_client.Get(), "bye", 3), 3);
    ASSERT_EQ(port::SocketShutdown(m_client.Get(), port::ShutdownHow::Send), 0);
    EXPECT_EQ(ReceiveSome(m_server.Get()), "bye");
    EXPECT_GT(port::SocketWaitReadable(m_server.Get(), 5, 0), 0);
    char buffer[8];
    EXPECT_EQ(port::SocketReceive(m_server.Get(), buffer, sizeof buffer), 0);
}

TEST_F(SocketPortTest, SendingToAClosedPeerFailsWithAnErrorNotASignal) {
#ifndef _WIN32
    // The default action of SIGPIPE would end this test program.
    const auto oldHandler = std::signal(SIGPIPE, SIG_DFL);
#endif
    Connect();
    m_server.Close();
    const std::string block(4096, 'x');
    long result = 0;
    for (int i = 0; i < 200 && result >= 0; ++i)
        result = port::SocketSend(m_client.Get(), block.data(), block.size());
#ifndef _WIN32
    std::signal(SIGPIPE, oldHandler);
#endif
    EXPECT_EQ(result, -1);
    EXPECT_NE(port::LastSocketError(), 0);
}

struct DottedCase {
    const char* text;
    bool valid;
    unsigned char bytes[4];
};

TEST_F(SocketPortTest, ParseDottedIPv4HasInetAddrSemantics) {
    const DottedCase cases[] = {
        {"127.0.0.1", true, {127, 0, 0, 1}},
        {"255.255.255.255", true, {255, 255, 255, 255}}, // not a failure
        {"0.0.0.0", true, {0, 0, 0, 0}},
        {"10.1.2.3", true, {10, 1, 2, 3}},
        {"127.1", true, {127, 0, 0, 1}}, // the short forms inet_addr takes
        {"localhost", false, {}},
        {"mail.example.com", false, {}},
        {"1.2.3.256", false, {}},
        {"1.2.3.4.5", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t addr = 0xa5a5a5a5;
        ASSERT_EQ(port::ParseDottedIPv4(c.text, addr), c.valid);
        if (c.valid) {
            EXPECT_EQ(std::memcmp(&addr, c.bytes, 4), 0); // network byte order
        }
    }
    std::uint32_t addr = 0;
    EXPECT_FALSE(port::ParseDottedIPv4(nullptr, addr));
}

TEST_F(SocketPortTest, LookupOfLocalhostGivesALoopbackAddress) {
    std::uint32_t addr = 0;
    ASSERT_TRUE(port::LookupIPv4("localhost", addr)) << port::LastSocketError();
    unsigned char bytes[4];
    std::memcpy(bytes, &addr, 4);
    EXPECT_EQ(bytes[0], 127);
}

bool IsResolverError(int code) {
    if (code == port::kErrHostNotFound)
        return true;
#ifdef _WIN32
    return code >= 11001 && code <= 11004; // WSAHOST_NOT_FOUND .. WSANO_DATA
#else
    return code > 0 && code < 4096; // an errno from the resolver's system call
#endif
}

TEST_F(SocketPortTest, FailedLookupReportsAResolverError) {
    for (const char* host : {"no-such-host.invalid", ""}) {
        SCOPED_TRACE(host);
        std::uint32_t addr = 0;
        EXPECT_FALSE(port::LookupIPv4(host, addr));
        EXPECT_TRUE(IsResolverError(port::LastSocketError())) << port::LastSocketError();
    }
    std::uint32_t addr = 0;
    EXPECT_FALSE(port::LookupIPv4(nullptr, addr));
    EXPECT_EQ(port::LastSocketError(), port::kErrHostNotFound);
}

TEST_F(SocketPortTest, NonBlockingConnectFinishesAsWritable) {
    std::uint16_t portNumber = 0;
    m_listener = tavlo::test::ListenLoopback(0, portNumber);
    ASSERT_TRUE(m_listener.Valid());
    m_client.Reset(port::SocketOpen(port::kSocketStream));
    ASSERT_EQ(port::SocketSetNonBlocking(m_client.Get(), true), 0);
    if (port::SocketConnect(m_client.Get(), Loopback(), portNumber) != 0) {
        ASSERT_TRUE(port::IsConnectInProgress(port::LastSocketError())) << port::LastSocketError();
    }
    ASSERT_GT(port::SocketWaitWritable(m_client.Get(), 10, 0), 0);
    EXPECT_EQ(port::SocketPendingError(m_client.Get()), 0);
    ASSERT_EQ(port::SocketSetNonBlocking(m_client.Get(), false), 0);
    m_server = tavlo::test::AcceptConnection(m_listener.Get());
    ASSERT_TRUE(m_server.Valid());
    ASSERT_EQ(port::SocketSend(m_client.Get(), "ok", 2), 2);
    EXPECT_EQ(ReceiveSome(m_server.Get()), "ok");
}

TEST_F(SocketPortTest, NonBlockingConnectToAClosedPortEndsTheWaitWithTheRefusal) {
    std::uint16_t portNumber = 0;
    m_listener = tavlo::test::ListenLoopback(0, portNumber);
    ASSERT_TRUE(m_listener.Valid());
    m_listener.Close(); // nobody listens there now
    m_client.Reset(port::SocketOpen(port::kSocketStream));
    ASSERT_EQ(port::SocketSetNonBlocking(m_client.Get(), true), 0);
    ASSERT_NE(port::SocketConnect(m_client.Get(), Loopback(), portNumber), 0)
        << "connected to a closed port";
    const int immediate = port::LastSocketError();
    if (port::IsConnectInProgress(immediate)) {
        // Windows tells a failed connect in select's exception set: the
        // wait must end there too, not run out.
        ASSERT_GT(port::SocketWaitWritable(m_client.Get(), 10, 0), 0);
        EXPECT_EQ(port::SocketPendingError(m_client.Get()), port::kErrSocketConnRefused);
    } else {
        EXPECT_EQ(immediate, port::kErrSocketConnRefused);
    }
}

TEST_F(SocketPortTest, WaitsOnAnInvalidSocketFail) {
    EXPECT_EQ(port::SocketWaitReadable(port::kInvalidSocket, 0, 1000), -1);
    EXPECT_EQ(port::SocketWaitWritable(port::kInvalidSocket, 0, 1000), -1);
    EXPECT_EQ(port::SocketClose(port::kInvalidSocket), -1);
}

} // namespace

// The further operations report their failures through LastSocketError()
// like the basic ones: a failure after another failure names its own cause,
// never the stale one.
TEST_F(SocketPortTest, FailedFurtherOperationsRecordTheirOwnError) {
    UniqueSocket unbound(port::SocketOpen(port::kSocketStream));
    ASSERT_TRUE(unbound.Valid());

    // Accepting on a socket that does not listen: an invalid argument.
    std::uint32_t peer = 0;
    std::uint16_t peerPort = 0;
    EXPECT_EQ(port::SocketAcceptFrom(unbound.Get(), peer, peerPort), port::kInvalidSocket);
    const int acceptError = port::LastSocketError();
    EXPECT_NE(acceptError, 0);

    // Listening on a handle that was closed: no socket at all.
    const port::SocketHandle closed = port::SocketOpen(port::kSocketStream);
    ASSERT_NE(closed, port::kInvalidSocket);
    port::SocketClose(closed);
    EXPECT_EQ(port::SocketListen(closed, 1), -1);
    EXPECT_NE(port::LastSocketError(), 0);
    EXPECT_NE(port::LastSocketError(), acceptError);
}
