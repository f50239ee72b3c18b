#include "platform/Errors.h"
#include "platform/Socket.h"
#include "platform/SocketExtra.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#endif

namespace {

// Closes the socket it owns.
class Sock {
public:
    explicit Sock(port::SocketHandle h = port::kInvalidSocket) : m_h(h) {}
    Sock(const Sock&) = delete;
    Sock& operator=(const Sock&) = delete;
    ~Sock() { Close(); }
    port::SocketHandle get() const { return m_h; }
    bool valid() const { return m_h != port::kInvalidSocket; }
    void Close() {
        if (valid())
            port::SocketClose(m_h);
        m_h = port::kInvalidSocket;
    }
    void Reset(port::SocketHandle h) {
        Close();
        m_h = h;
    }

private:
    port::SocketHandle m_h;
};

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
        m_listener.Reset(port::SocketListenLoopback(0, portNumber));
        ASSERT_TRUE(m_listener.valid()) << port::LastSocketError();
        ASSERT_NE(portNumber, 0);
        m_client.Reset(port::SocketOpen(port::kSocketStream));
        ASSERT_TRUE(m_client.valid());
        ASSERT_EQ(port::SocketBind(m_client.get(), 0, 0), 0) << port::LastSocketError();
        ASSERT_EQ(port::SocketConnect(m_client.get(), Loopback(), portNumber), 0)
            << port::LastSocketError();
        m_server.Reset(port::SocketAccept(m_listener.get()));
        ASSERT_TRUE(m_server.valid()) << port::LastSocketError();
    }

    std::string ReceiveSome(port::SocketHandle h, bool peek = false) {
        char buffer[64];
        EXPECT_GT(port::SocketWaitReadable(h, 5, 0), 0);
        const long n = port::SocketReceive(h, buffer, sizeof buffer, peek);
        EXPECT_GE(n, 0) << port::LastSocketError();
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

    Sock m_listener;
    Sock m_client;
    Sock m_server;
};

TEST_F(SocketPortTest, LoopbackPairCarriesBytesBothWaysAndPeekLeavesThem) {
    Connect();
    ASSERT_EQ(port::SocketSend(m_client.get(), "hello", 5), 5);
    EXPECT_EQ(ReceiveSome(m_server.get(), true), "hello");
    EXPECT_EQ(ReceiveSome(m_server.get()), "hello"); // still there after the peek
    ASSERT_EQ(port::SocketSend(m_server.get(), "world\r\n", 7), 7);
    EXPECT_EQ(ReceiveSome(m_client.get()), "world\r\n");
    EXPECT_EQ(port::SocketSetReceiveBufferSize(m_client.get(), 65536), 0);
    EXPECT_EQ(port::SocketSetSendBufferSize(m_client.get(), 65536), 0);
}

TEST_F(SocketPortTest, WaitReadableRunsOutWhenNothingArrives) {
    Connect();
    EXPECT_EQ(port::SocketWaitReadable(m_client.get(), 0, 200000), 0);
    EXPECT_EQ(port::SocketWaitReadable(m_client.get(), 0, 0), 0);
}

TEST_F(SocketPortTest, PeerCloseIsReadableAndReceiveGivesEndOfStream) {
    Connect();
    m_server.Close();
    EXPECT_GT(port::SocketWaitReadable(m_client.get(), 5, 0), 0);
    char buffer[8];
    EXPECT_EQ(port::SocketReceive(m_client.get(), buffer, sizeof buffer), 0);
}

TEST_F(SocketPortTest, ShutdownOfSendingEndsThePeersStream) {
    Connect();
    ASSERT_EQ(port::SocketSend(m_client.get(), "bye", 3), 3);
    ASSERT_EQ(port::SocketShutdown(m_client.get(), port::ShutdownHow::Send), 0);
    EXPECT_EQ(ReceiveSome(m_server.get()), "bye");
    EXPECT_GT(port::SocketWaitReadable(m_server.get(), 5, 0), 0);
    char buffer[8];
    EXPECT_EQ(port::SocketReceive(m_server.get(), buffer, sizeof buffer), 0);
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
        result = port::SocketSend(m_client.get(), block.data(), block.size());
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
    m_listener.Reset(port::SocketListenLoopback(0, portNumber));
    ASSERT_TRUE(m_listener.valid());
    m_client.Reset(port::SocketOpen(port::kSocketStream));
    ASSERT_EQ(port::SocketSetNonBlocking(m_client.get(), true), 0);
    if (port::SocketConnect(m_client.get(), Loopback(), portNumber) != 0) {
        ASSERT_TRUE(port::IsConnectInProgress(port::LastSocketError())) << port::LastSocketError();
    }
    ASSERT_GT(port::SocketWaitWritable(m_client.get(), 10, 0), 0);
    EXPECT_EQ(port::SocketPendingError(m_client.get()), 0);
    ASSERT_EQ(port::SocketSetNonBlocking(m_client.get(), false), 0);
    m_server.Reset(port::SocketAccept(m_listener.get()));
    ASSERT_TRUE(m_server.valid());
    ASSERT_EQ(port::SocketSend(m_client.get(), "ok", 2), 2);
    EXPECT_EQ(ReceiveSome(m_server.get()), "ok");
}

TEST_F(SocketPortTest, NonBlockingConnectToAClosedPortEndsTheWaitWithTheRefusal) {
    std::uint16_t portNumber = 0;
    m_listener.Reset(port::SocketListenLoopback(0, portNumber));
    ASSERT_TRUE(m_listener.valid());
    m_listener.Close(); // nobody listens there now
    m_client.Reset(port::SocketOpen(port::kSocketStream));
    ASSERT_EQ(port::SocketSetNonBlocking(m_client.get(), true), 0);
    ASSERT_NE(port::SocketConnect(m_client.get(), Loopback(), portNumber), 0)
        << "connected to a closed port";
    const int immediate = port::LastSocketError();
    if (port::IsConnectInProgress(immediate)) {
        // Windows tells a failed connect in select's exception set: the
        // wait must end there too, not run out.
        ASSERT_GT(port::SocketWaitWritable(m_client.get(), 10, 0), 0);
        EXPECT_EQ(port::SocketPendingError(m_client.get()), port::kErrSocketConnRefused);
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
    Sock unbound(port::SocketOpen(port::kSocketStream));
    ASSERT_TRUE(unbound.valid());

    // Accepting on a socket that does not listen: an invalid argument.
    std::uint32_t peer = 0;
    std::uint16_t peerPort = 0;
    EXPECT_EQ(port::SocketAcceptFrom(unbound.get(), peer, peerPort), port::kInvalidSocket);
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
