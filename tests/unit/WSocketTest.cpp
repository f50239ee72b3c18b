// CWSocket and CWSocketException against real sockets on loopback.
#include "net/pop3/WSocket.h"

#include "platform/Errors.h"
#include "platform/Socket.h"
#include "platform/SocketExtra.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

namespace {

using tavlo::test::ScriptedServer;
using tavlo::test::Step;

// The error number of the CWSocketException that f raises (the exception is
// deleted, as its catcher must); nullopt when nothing is raised.
template <class F> std::optional<int> SocketErrorOf(F&& f) {
    try {
        f();
    } catch (CWSocketException* e) {
        const std::unique_ptr<CWSocketException> owned(e);
        return e->m_nErrorCode;
    }
    return std::nullopt;
}

// Reads until CR-LF or end of stream.
std::string ReceiveLine(CWSocket& s) {
    std::string line;
    char c = 0;
    while (line.size() < 1000 && s.Receive(&c, 1) == 1) {
        line += c;
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
            break;
    }
    return line;
}

using tavlo::test::ClosedPort; // a port on loopback where nothing listens

class WSocketTest : public ::testing::Test {
protected:
    void SetUp() override { tavlo::test::EnsureSocketLayer(); }
};

// A dotted address is used as it stands; a name goes through the resolver.
class WSocketConnectTest : public WSocketTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WSocketConnectTest, ConnectsAndMovesBytesBothWays) {
    ScriptedServer server(
        {Step::Send("+OK hello\r\n"), Step::Expect("PING"), Step::Send("+OK\r\n")});
    CWSocket s;
    EXPECT_NE(s.Create(), port::kInvalidSocket);
    s.Connect(GetParam(), server.port());
    EXPECT_EQ(ReceiveLine(s), "+OK hello\r\n");
    EXPECT_EQ(s.Send("PING\r\n", 6), 6);
    EXPECT_EQ(ReceiveLine(s), "+OK\r\n");
    EXPECT_EQ(s.Close(), 0);
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.transcript(), std::vector<std::string>{"PING"});
    EXPECT_TRUE(server.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Hosts, WSocketConnectTest, ::testing::Values("127.0.0.1", "localhost"));

TEST_F(WSocketTest, UnresolvableNameRaisesTheResolverErrorAndKeepsTheSocket) {
    CWSocket s;
    s.Create();
    // Leave a different, stale error behind first: the look-up must report
    // its own.
    EXPECT_EQ(SocketErrorOf([&] { s.Connect("127.0.0.1", ClosedPort()); }),
              port::kErrSocketConnRefused);
    CWSocket other;
    other.Create();
    const auto code = SocketErrorOf([&] { other.Connect("no-such-host.invalid", 110); });
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, port::kErrHostNotFound);
    EXPECT_NE(other.Handle(), port::kInvalidSocket) << "a failure leaves the socket open";
}

TEST_F(WSocketTest, FailuresRaiseTheSocketLayersLastError) {
    CWSocket s;
    s.Create();
    EXPECT_EQ(SocketErrorOf([&] { s.Connect("127.0.0.1", ClosedPort()); }),
              port::kErrSocketConnRefused);

    CWSocket unconnected;
    unconnected.Create();
    char buf[4];
    for (const auto& code : {SocketErrorOf([&] { unconnected.Send("x", 1); }),
                             SocketErrorOf([&] { unconnected.Receive(buf, sizeof buf); })}) {
        ASSERT_TRUE(code.has_value());
        EXPECT_NE(*code, 0);
    }
    EXPECT_NE(unconnected.Handle(), port::kInvalidSocket);
}

TEST_F(WSocketTest, ThrowSocketErrorTakesTheLastErrorOnlyForCodeZero) {
    CWSocket s;
    s.Create();
    SocketErrorOf([&] { s.Connect("127.0.0.1", ClosedPort()); });
    EXPECT_EQ(SocketErrorOf([] { ThrowSocketError(0); }), port::LastSocketError());
    EXPECT_EQ(SocketErrorOf([] { ThrowSocketError(1460); }), 1460);
}

TEST_F(WSocketTest, ConnectRejectsPortsOutsideTheTcpRange) {
    CWSocket s;
    s.Create();
    for (const int port : {-1, 65536, 70000})
        EXPECT_EQ(SocketErrorOf([&] { s.Connect("127.0.0.1", port); }), port::kErrInvalidArgument)
            << port;
}

TEST_F(WSocketTest, BindWithoutAddressTakesTheWildcardAddressAndAnyPort) {
    CWSocket s;
    s.Create();
    s.Bind();
    std::uint32_t addr = 1;
    std::uint16_t port = 0;
    ASSERT_EQ(port::SocketLocalAddress(s.Handle(), addr, port), 0);
    EXPECT_EQ(addr, 0u);
    EXPECT_NE(port, 0);
}

TEST_F(WSocketTest, BindResolvesItsAddressLikeConnect) {
    ScriptedServer server({Step::Expect("HELLO")});
    CWSocket s;
    s.Create();
    s.Bind("localhost");
    std::uint32_t addr = 0;
    std::uint16_t port = 0;
    ASSERT_EQ(port::SocketLocalAddress(s.Handle(), addr, port), 0);
    std::uint32_t loopback = 0;
    ASSERT_TRUE(port::ParseDottedIPv4("127.0.0.1", loopback));
    EXPECT_EQ(addr, loopback);
    s.Connect("127.0.0.1", server.port());
    s.Send("HELLO\r\n", 7);
    s.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.transcript(), std::vector<std::string>{"HELLO"});
}

TEST_F(WSocketTest, BindToAnUnresolvableAddressRaisesInvalidArgument) {
    CWSocket s;
    s.Create();
    EXPECT_EQ(SocketErrorOf([&] { s.Bind("no-such-host.invalid"); }), port::kErrInvalidArgument);
    // A second bind of a bound socket is the socket layer's own refusal.
    s.Bind();
    const auto again = SocketErrorOf([&] { s.Bind(); });
    ASSERT_TRUE(again.has_value());
    EXPECT_NE(*again, 0);
}

TEST_F(WSocketTest, IsReadableReportsDataAndEndOfStreamAtOnce) {
    ScriptedServer server(
        {Step::Send("x"), Step::Expect("GO"), Step::CloseConnection(), Step::WaitForClientClose()});
    CWSocket s;
    s.Create();
    s.Connect("127.0.0.1", server.port());
    EXPECT_TRUE(s.IsReadable(10000));
    char c = 0;
    EXPECT_EQ(s.Receive(&c, 1), 1);
    s.Send("GO\r\n", 4);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(s.IsReadable(10000)) << "end of stream is readable";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(s.Receive(&c, 1), 0);
}

TEST_F(WSocketTest, IsReadableWaitsSecondsPlusMillisecondsThenGivesUp) {
    ScriptedServer server({Step::WaitForClientClose()});
    CWSocket s;
    s.Create();
    s.Connect("127.0.0.1", server.port());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.IsReadable(1500));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(waited.count(), 1400);
    EXPECT_LT(waited.count(), 6000);
}

TEST_F(WSocketTest, IsReadableOnAClosedSocketRaises) {
    CWSocket s;
    const auto code = SocketErrorOf([&] { s.IsReadable(0); });
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(*code, 0);
}

TEST_F(WSocketTest, CloseReturnsMinusOneWhenNothingIsOpen) {
    CWSocket never;
    EXPECT_EQ(never.Close(), -1);

    CWSocket s;
    s.Create();
    EXPECT_EQ(s.Close(), 0);
    EXPECT_EQ(s.Handle(), port::kInvalidSocket);
    EXPECT_EQ(s.Close(), -1);
}

TEST_F(WSocketTest, DestructorClosesTheConnection) {
    ScriptedServer server({Step::WaitForClientClose()});
    {
        CWSocket s;
        s.Create();
        s.Connect("127.0.0.1", server.port());
    }
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty());
    EXPECT_TRUE(server.connections().at(0).clientClosed);
}

// A second Create must not leak the socket it replaces: the old
// connection is closed, as its peer sees.
TEST_F(WSocketTest, CreateOnAnOpenSocketClosesTheOldOne) {
    ScriptedServer server({Step::WaitForClientClose()});
    CWSocket s;
    const port::SocketHandle first = s.Create();
    s.Connect("127.0.0.1", server.port());
    const port::SocketHandle second = s.Create();
    EXPECT_NE(first, second);
    EXPECT_EQ(s.Handle(), second);
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
    EXPECT_TRUE(server.connections().at(0).clientClosed);
}

// --- CWSocketException::GetErrorMessage -------------------------------------

TEST(WSocketExceptionTest, MessageIsTheSystemTextCutToTheBuffer) {
    const CWSocketException e(port::kErrSocketConnRefused);
    std::string full;
    ASSERT_TRUE(port::SystemErrorText(port::kErrSocketConnRefused, full));
    ASSERT_GT(full.size(), 4u);

    struct Case {
        unsigned size;
        std::string expected;
    };
    for (const Case& c : {Case{1024, full}, Case{static_cast<unsigned>(full.size() + 1), full},
                          Case{static_cast<unsigned>(full.size()), full.substr(0, full.size() - 1)},
                          Case{5, full.substr(0, 4)}, Case{1, ""}}) {
        char buf[2048];
        std::memset(buf, '#', sizeof buf);
        unsigned help = 77;
        EXPECT_TRUE(e.GetErrorMessage(buf, c.size, &help)) << c.size;
        EXPECT_EQ(std::string(buf), c.expected) << c.size;
        EXPECT_EQ(help, 0u);
        EXPECT_EQ(buf[c.size], '#') << "nothing written past size " << c.size;
    }
}

TEST(WSocketExceptionTest, NoTextOrNoRoomGivesFalse) {
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    unsigned help = 77;
    EXPECT_FALSE(CWSocketException(port::kErrSocketConnRefused).GetErrorMessage(buf, 0, &help));
    EXPECT_EQ(buf[0], '#') << "size 0: nothing written";
    EXPECT_EQ(help, 0u);

    std::string text;
    const int unknown = 987654;
    ASSERT_FALSE(port::SystemErrorText(unknown, text));
    EXPECT_FALSE(CWSocketException(unknown).GetErrorMessage(buf, sizeof buf));
    EXPECT_EQ(buf[0], '\0');
}

} // namespace

// --- the scripted test server, driven through CWSocket ------------------------

class ScriptedServerTest : public WSocketTest {
protected:
    static void Open(CWSocket& s, const ScriptedServer& server) {
        s.Create();
        s.Connect("127.0.0.1", server.port());
    }

    // Everything until the server closes.
    static std::string ReceiveAll(CWSocket& s) {
        std::string all;
        char buf[4096];
        while (s.IsReadable(10000)) {
            const long n = s.Receive(buf, sizeof buf);
            if (n <= 0)
                break;
            all.append(buf, static_cast<std::size_t>(n));
        }
        return all;
    }
};

TEST_F(ScriptedServerTest, PlaysOneScriptPerConnectionAndKeepsOneTranscript) {
    ScriptedServer server({{Step::Trickle("+OK slow\r\n", 3, 10), Step::Expect("FIRST")},
                           {Step::Send("+OK again\r\n"), Step::ReadLine(), Step::ReadLine()}});
    CWSocket a;
    Open(a, server);
    EXPECT_EQ(ReceiveLine(a), "+OK slow\r\n");
    a.Send("FIRST\r\n", 7);
    EXPECT_EQ(ReceiveAll(a), "") << "the server closes after the last step";
    a.Close();

    CWSocket b;
    Open(b, server);
    EXPECT_EQ(ReceiveLine(b), "+OK again\r\n");
    const std::string lines = "bare\nLINE\r\n";
    b.Send(lines.data(), lines.size());
    EXPECT_EQ(ReceiveAll(b), "");
    b.Close();

    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
    // A line ended by a bare LF keeps it, so it never passes for a proper one.
    EXPECT_EQ(server.transcript(), (std::vector<std::string>{"FIRST", "bare\n", "LINE"}));
    const auto records = server.connections();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].received, lines);
    EXPECT_TRUE(records[0].scriptCompleted && records[1].scriptCompleted);
    EXPECT_TRUE(records[0].clientClosed && records[1].clientClosed);
}

TEST_F(ScriptedServerTest, AnUnexpectedLineEndsTheScriptAndIsReported) {
    ScriptedServer server({Step::Expect("USER bob"), Step::Send("+OK\r\n")});
    CWSocket s;
    Open(s, server);
    s.Send("USER eve\r\n", 10);
    EXPECT_EQ(ReceiveAll(s), "") << "nothing after the mismatch";
    s.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(server.errors().size(), 1u);
    EXPECT_NE(server.errors()[0].find("USER eve"), std::string::npos) << server.errors()[0];
    EXPECT_FALSE(server.connections().at(0).scriptCompleted);
}

TEST_F(ScriptedServerTest, FloodStopsAtItsCapOrWhenTheClientHangsUp) {
    ScriptedServer server({{Step::SendForever("x", 100000), Step::Send("\r\nEND\r\n")},
                           {Step::Send("+OK "), Step::SendForever("y")}});
    CWSocket capped;
    Open(capped, server);
    EXPECT_EQ(ReceiveAll(capped), std::string(100000, 'x') + "\r\nEND\r\n");
    capped.Close();

    CWSocket quitter;
    Open(quitter, server);
    char buf[8192];
    long got = 0;
    while (got < 200000 && quitter.IsReadable(10000)) {
        const long n = quitter.Receive(buf, sizeof buf);
        if (n <= 0)
            break;
        got += n;
    }
    EXPECT_GE(got, 200000);
    quitter.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
    EXPECT_TRUE(server.connections().at(1).clientClosed);
}

TEST_F(ScriptedServerTest, RawBytesAndCustomStepsForBinaryDialogues) {
    ScriptedServer server({Step::ExpectBytes(std::string("\x05\x01\x00", 3)),
                           Step::Custom([](tavlo::test::ScriptedConnection& c) {
                               const auto n = c.ReadBytes(1);
                               return n && c.Send(std::string(1, static_cast<char>((*n)[0] + 1)));
                           })});
    CWSocket s;
    Open(s, server);
    s.Send("\x05\x01\x00\x41", 4);
    EXPECT_EQ(ReceiveAll(s), "B");
    s.Close();
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
}

TEST_F(ScriptedServerTest, GivesUpOnAMissingClientAndStopsWithoutHanging) {
    tavlo::test::ScriptedServerOptions quick;
    quick.acceptTimeoutMs = 200;
    ScriptedServer nobody({Step::Send("+OK\r\n")}, quick);
    ASSERT_TRUE(nobody.WaitUntilFinished());
    EXPECT_EQ(nobody.errors().size(), 1u);
    EXPECT_TRUE(nobody.connections().empty());

    const auto start = std::chrono::steady_clock::now();
    {
        ScriptedServer waiting({Step::Expect("never sent")});
        CWSocket s;
        Open(s, waiting);
    } // the server is stopped here while it waits for a line
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
