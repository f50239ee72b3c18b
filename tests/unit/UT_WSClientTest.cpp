// CUT_WSClient against real sockets on loopback: scripted servers for exact
// transcripts and faults, a second client for listen and accept.
#include "net/imap/UT_WSClient.h"

#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_Queue.h"
#include "platform/NotifyWindow.h"
#include "platform/Socket.h"
#include "platform/SocketExtra.h"
#include "platform/UniqueSocket.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavlo::test::ScriptedServer;
using tavlo::test::Step;
using tavlo::test::TempDir;
using Clock = std::chrono::steady_clock;

// Records every result that passes ReportResult, and lets a test cancel.
class RecordingClient : public CUT_WSClient {
public:
    ResultCode ReportResult(ResultCode code) override {
        reported.push_back(code);
        return CUT_WSClient::ReportResult(code);
    }
    bool IsCancelled() override { return cancelled; }
    void OnSocketEvent(int eventWord, int errorWord) override {
        events.push_back("A " + std::to_string(eventWord) + " " + std::to_string(errorWord));
    }
    void OnSocketEventB(int errorWord) override {
        events.push_back("B " + std::to_string(errorWord));
    }
    void OnSocketEventC(int errorWord) override {
        events.push_back("C " + std::to_string(errorWord));
    }

    std::vector<ResultCode> reported;
    std::vector<std::string> events;
    bool cancelled = false;
};

using tavlo::test::ClosedPort; // a port on loopback where nothing listens

std::uint32_t Loopback() {
    std::uint32_t addr = 0;
    EXPECT_TRUE(port::ParseDottedIPv4("127.0.0.1", addr));
    return addr;
}

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 31 + 7) % 256); // every byte value, NUL and LF too
    return s;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Up to count lines from ReadLine (fewer when it returns 0).
std::vector<std::string> ReadLines(CUT_WSClient& client, int count, int size = 100,
                                   int timeoutSeconds = 5) {
    std::vector<std::string> lines;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    for (int i = 0; i < count; ++i) {
        const int n = client.ReadLine(buffer.data(), size, timeoutSeconds);
        if (n <= 0)
            break;
        EXPECT_LT(n, size);
        EXPECT_EQ(buffer[static_cast<std::size_t>(n)], '\0');
        lines.emplace_back(buffer.data(), static_cast<std::size_t>(n));
    }
    return lines;
}

class WSClientTest : public ::testing::Test {
protected:
    // Connects the client to the server (5 s connect time-out).
    void Connect(CUT_WSClient& c, const ScriptedServer& server) {
        ASSERT_EQ(c.ConnectTo(server.port(), "127.0.0.1", 5), UT::Success);
        ASSERT_TRUE(c.IsConnected());
    }

    RecordingClient client;
};

// ---------------------------------------------------------------------------
// Connecting
// ---------------------------------------------------------------------------

TEST_F(WSClientTest, ConnectRecordsThePeerAndDisconnectClearsIt) {
    ScriptedServer server({Step::Send("hello\r\n"), Step::WaitForClientClose()});
    Connect(client, server);
    EXPECT_STREQ(client.GetAddress(), "127.0.0.1");
    EXPECT_EQ(client.GetRemotePort(), server.port());
    EXPECT_NE(client.GetLocalPort(), 0);
    EXPECT_FALSE(client.IsNonBlocking()) << "back in blocking mode once connected";

    // A second connect leaves the first connection alone.
    const port::SocketHandle before = client.GetSocket();
    EXPECT_EQ(client.ConnectTo(server.port(), "127.0.0.1", 5), UT::AlreadyConnected);
    EXPECT_EQ(client.GetSocket(), before);
    EXPECT_EQ(ReadLines(client, 1), std::vector<std::string>{"hello\r\n"});

    EXPECT_EQ(client.Disconnect(), UT::Success);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_STREQ(client.GetAddress(), "");
    EXPECT_EQ(client.GetRemotePort(), 0);
    EXPECT_EQ(client.GetLocalPort(), 0);
    EXPECT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty());

    // The object can connect again.
    ScriptedServer second({Step::Send("again\r\n"), Step::WaitForClientClose()});
    Connect(client, second);
    EXPECT_EQ(ReadLines(client, 1), std::vector<std::string>{"again\r\n"});
}

TEST_F(WSClientTest, DisconnectWithNothingOpenIsHarmless) {
    EXPECT_EQ(client.Disconnect(), UT::Success);
    EXPECT_EQ(client.Disconnect(), UT::Success);
    EXPECT_STREQ(client.GetAddress(), "");
    EXPECT_EQ(client.GetRemotePort() + client.GetLocalPort() + client.GetListeningPort(), 0);
}

TEST_F(WSClientTest, RefusedConnectFailsAndLeavesNoSocket) {
    const int port = ClosedPort();
    for (int timeout : {5, -1}) {
        const auto start = Clock::now();
        EXPECT_EQ(client.ConnectTo(port, "127.0.0.1", timeout), UT::ConnectFailed) << timeout;
        EXPECT_LT(SecondsSince(start), 4.0) << "a refusal is not a time-out";
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(client.IsNonBlocking());
        EXPECT_STREQ(client.GetAddress(), "127.0.0.1") << "the address text survives";
    }
}

// A loopback listener whose accept queue is full, so that a further connect
// is never answered. Empty when this system answers anyway.
class FullBacklogListener {
public:
    FullBacklogListener() {
        m_listener.Reset(port::SocketOpenTyped(port::kFamilyIPv4, port::kSocketStream, 0));
        std::uint32_t addr = 0;
        if (!m_listener || port::SocketBind(m_listener.Get(), Loopback(), 0) != 0 ||
            port::SocketListen(m_listener.Get(), 0) != 0 ||
            port::SocketLocalAddress(m_listener.Get(), addr, m_port) != 0)
            return;
        for (int i = 0; i < 64 && !m_full; ++i) {
            const port::SocketHandle s =
                port::SocketOpenTyped(port::kFamilyIPv4, port::kSocketStream, 0);
            if (s == port::kInvalidSocket)
                return;
            m_fillers.emplace_back(s);
            port::SocketSetNonBlocking(s, true);
            if (port::SocketConnect(s, Loopback(), m_port) == 0)
                continue;
            if (!port::IsConnectInProgress(port::LastSocketError()))
                return;
            // Not answered within 300 ms: the queue is full.
            m_full = port::SocketWaitConnect(s, 0, 300000) == 0;
        }
    }
    bool full() const { return m_full; }
    int port() const { return m_port; }

private:
    port::UniqueSocket m_listener;
    std::vector<port::UniqueSocket> m_fillers; // closed before the listener
    std::uint16_t m_port = 0;
    bool m_full = false;
};

TEST_F(WSClientTest, ConnectTimesOutWhenTheServerNeverAccepts) {
    FullBacklogListener listener;
    if (!listener.full())
        GTEST_SKIP() << "this system answers connects beyond a full backlog";
    const auto start = Clock::now();
    EXPECT_EQ(client.ConnectTo(listener.port(), "127.0.0.1", 1), UT::ConnectTimedOut);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 10.0);
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(WSClientTest, HostTexts) {
    // A dotted address is used as written, without a look-up (a look-up
    // would give back "127.0.0.1").
    ScriptedServer server({Step::WaitForClientClose()});
    ASSERT_EQ(client.ConnectTo(server.port(), "0x7f.0.0.1", 5), UT::Success);
    EXPECT_STREQ(client.GetAddress(), "0x7f.0.0.1");
    client.Disconnect();

    // "name@host": only the host is looked up.
    ScriptedServer named({Step::WaitForClientClose()});
    ASSERT_EQ(client.ConnectTo(named.port(), "someone@localhost", 5), UT::Success);
    EXPECT_STREQ(client.GetAddress(), "127.0.0.1");
    client.Disconnect();

    for (const char* unresolvable : {"", "someone@"})
        EXPECT_EQ(client.ConnectTo(named.port(), unresolvable, 5), UT::HostUnresolved)
            << unresolvable;
    EXPECT_EQ(client.ConnectTo(named.port(), nullptr, 5), UT::NullArgument);
}

TEST_F(WSClientTest, ResolveHostWritesNoMoreThanItsField) {
    char address[32];
    EXPECT_EQ(client.ResolveHost("user@x@localhost", address, sizeof address), UT::Success);
    EXPECT_STREQ(address, "127.0.0.1");
    char small[8];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(client.ResolveHost("localhost", small, sizeof small), UT::AddressTooLong);
    EXPECT_EQ(std::string(small, sizeof small), "########");
    EXPECT_EQ(client.ResolveHost("", address, sizeof address), UT::NameLookupFailed);
}

TEST_F(WSClientTest, AfterConnectFailureClosesTheSocket) {
    struct Refusing : CUT_WSClient {
        ResultCode AfterConnect(port::SocketHandle, const char* hostText) override {
            host = hostText;
            return UT::ConnectFailed;
        }
        std::string host;
    } refusing;
    ScriptedServer server({Step::WaitForClientClose()});
    EXPECT_EQ(refusing.ConnectTo(server.port(), "127.0.0.1", 5), UT::ConnectFailed);
    EXPECT_EQ(refusing.host, "127.0.0.1");
    EXPECT_FALSE(refusing.IsConnected());
    EXPECT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(server.connections().size(), 1u);
    EXPECT_TRUE(server.connections()[0].clientClosed);
}

// ---------------------------------------------------------------------------
// ReadLine
// ---------------------------------------------------------------------------

TEST_F(WSClientTest, ReadLineSplitsSegmentsAtLineEnds) {
    ScriptedServer server({Step::Send("abc\r\ndef\r\n"), Step::Trickle("trickled line\r\n", 2, 20),
                           Step::Send("x\r\ny"), Step::Sleep(300), Step::Send("z\r\n"),
                           Step::WaitForClientClose()});
    Connect(client, server);
    EXPECT_EQ(
        ReadLines(client, 5),
        (std::vector<std::string>{"abc\r\n", "def\r\n", "trickled line\r\n", "x\r\n", "yz\r\n"}));
}

TEST_F(WSClientTest, ReadLineLongerThanTheBufferComesInPieces) {
    const std::string line = std::string(23, 'L') + "\r\n"; // 25 bytes
    ScriptedServer server({Step::Send(line + "next\r\n"), Step::WaitForClientClose()});
    Connect(client, server);
    char buffer[10 + 6];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(client.ReadLine(buffer, 10, 5), 9);
    EXPECT_EQ(std::string(buffer + 10, 6), "######") << "nothing beyond size bytes";
    EXPECT_EQ(client.ReadLine(buffer, 10, 5), 9);
    ASSERT_EQ(client.ReadLine(buffer, 10, 5), 7);
    EXPECT_STREQ(buffer, "LLLLL\r\n");
    EXPECT_EQ(client.ReadLine(buffer, 10, 5), 6);
    EXPECT_STREQ(buffer, "next\r\n");
    EXPECT_EQ(std::string(buffer + 10, 6), "######");
}

TEST_F(WSClientTest, PeekAndConsumeHandsOverTheRestExactly) {
    const std::string binary = Pattern(1000);
    ScriptedServer server(
        {Step::Send("* 1 FETCH {1000}\r\n" + binary + ")\r\n"), Step::WaitForClientClose()});
    Connect(client, server);
    char line[200];
    ASSERT_EQ(client.ReadLine(line, sizeof line, 5), 18);
    std::string body(1000, '\0');
    ASSERT_EQ(client.ReceiveExactly(body.data(), 1000, 5), 1000);
    EXPECT_EQ(body, binary);
    ASSERT_EQ(client.ReadLine(line, sizeof line, 5), 3);
    EXPECT_STREQ(line, ")\r\n");
}

TEST_F(WSClientTest, ReadLineWhenNothingComes) {
    ScriptedServer server({Step::WaitForClientClose()});
    Connect(client, server);
    char buffer[16];
    std::memset(buffer, 'Z', sizeof buffer);
    const auto start = Clock::now();
    EXPECT_EQ(client.ReadLine(buffer, sizeof buffer, 1), 0);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 10.0);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(16, 'Z')) << "buffer untouched";
    EXPECT_EQ(client.reported.back(), UT::Failed) << "the wait reported through the hook";
}

TEST_F(WSClientTest, ReadLineReturnsWhatCameBeforeThePeerClosed) {
    ScriptedServer server({Step::Send("partial"), Step::CloseConnection()});
    Connect(client, server);
    char buffer[100];
    ASSERT_EQ(client.ReadLine(buffer, sizeof buffer, 5), 7);
    EXPECT_STREQ(buffer, "partial");
    EXPECT_EQ(client.ReadLine(buffer, sizeof buffer, 5), 0);
}

TEST_F(WSClientTest, ReadLineStopsWhenCancelled) {
    ScriptedServer server({Step::Send("line\r\n"), Step::WaitForClientClose()});
    Connect(client, server);
    client.cancelled = true;
    char buffer[100];
    EXPECT_EQ(client.ReadLine(buffer, sizeof buffer, 5), 0);
    client.cancelled = false;
    EXPECT_EQ(client.ReadLine(buffer, sizeof buffer, 5), 6) << "the line is still queued";
}

TEST_F(WSClientTest, ReadLineWithTooSmallABufferOrNoSocket) {
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(client.ReadLine(buffer, sizeof buffer, 1), 0);
    ScriptedServer server({Step::Send("line\r\n"), Step::WaitForClientClose()});
    Connect(client, server);
    EXPECT_EQ(client.ReadLine(buffer, 1, 1), 0);
    EXPECT_EQ(client.ReadLine(nullptr, 10, 1), 0);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
}

// ---------------------------------------------------------------------------
// Receiving blocks
// ---------------------------------------------------------------------------

TEST_F(WSClientTest, ReceiveTimeOuts) {
    ScriptedServer server({Step::WaitForClientClose()});
    Connect(client, server);
    char buffer[16];
    auto start = Clock::now();
    EXPECT_EQ(client.ReceiveSome(buffer, sizeof buffer, 1), 0);
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_EQ(client.WaitReadable(0, 200000), UT::Failed);

    CUT_BufferDataSource source(100);
    start = Clock::now();
    EXPECT_EQ(client.ReceiveToSource(source, CUT_DataSource::kOpenWrite, 1, 10),
              UT::ReceiveTimedOut);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 10.0);
}

TEST_F(WSClientTest, ReceiveToSourceTakesExactlyTheAnnouncedBytes) {
    const std::string body = Pattern(70000);
    const std::string small = Pattern(300);
    ScriptedServer server(
        {Step::Send(body + "tail\r\n" + small + "end\r\n"), Step::WaitForClientClose()});
    Connect(client, server);

    CUT_MapFileDataSource mapped(body.size() + 1);
    ASSERT_EQ(client.ReceiveToSource(mapped, CUT_DataSource::kOpenWrite, 5, 70000), UT::Success);
    EXPECT_EQ(mapped.GetLength(), 70000u);
    char line[100];
    ASSERT_EQ(client.ReadLine(line, sizeof line, 5), 6);
    EXPECT_STREQ(line, "tail\r\n");

    std::string received(70000, '\0');
    ASSERT_EQ(mapped.Open(CUT_DataSource::kOpenRead), 0);
    std::size_t done = 0;
    char block[4096];
    for (int n; (n = mapped.Read(block, sizeof block)) > 0; done += static_cast<std::size_t>(n))
        received.replace(done, static_cast<std::size_t>(n), block, static_cast<std::size_t>(n));
    mapped.Close();
    EXPECT_EQ(done, 70000u);
    EXPECT_EQ(received, body);

    // Appending to a file source keeps what was there.
    TempDir dir;
    CUT_FileDataSource file(dir.file("literal.bin").c_str());
    ASSERT_EQ(file.Open(CUT_DataSource::kOpenWrite), 0);
    file.Write("head:", 5);
    file.Close();
    ASSERT_EQ(client.ReceiveToSource(file, CUT_DataSource::kOpenAppend, 5, 300), UT::Success);
    ASSERT_EQ(client.ReadLine(line, sizeof line, 5), 5);
    EXPECT_STREQ(line, "end\r\n");
    ASSERT_EQ(file.Open(CUT_DataSource::kOpenRead), 0);
    std::string content;
    for (int n; (n = file.Read(block, sizeof block)) > 0;)
        content.append(block, static_cast<std::size_t>(n));
    file.Close();
    EXPECT_EQ(content, "head:" + small);
}

// Counts the receive calls and the largest one asked for.
class ReceiveCountingClient : public CUT_WSClient {
public:
    int RawReceive(port::SocketHandle socket, char* buffer, int size, int flags) override {
        ++calls;
        largest = std::max(largest, size);
        return CUT_WSClient::RawReceive(socket, buffer, size, flags);
    }
    int calls = 0;
    int largest = 0;
};

TEST_F(WSClientTest, ReceiveToSourceTakesWhatHasArrivedInLargeBlocks) {
    // 4 MiB: in blocks of 256 bytes that would be 16,384 receives.
    const std::string body = Pattern(std::size_t{4} << 20);
    ScriptedServer server({Step::Send(body + "next\r\n"), Step::WaitForClientClose()});
    ReceiveCountingClient counting;
    Connect(counting, server);
    CUT_MapFileDataSource mapped(body.size() + 1);
    ASSERT_EQ(counting.ReceiveToSource(mapped, CUT_DataSource::kOpenWrite, 5,
                                       static_cast<long long>(body.size())),
              UT::Success);
    EXPECT_EQ(mapped.GetLength(), body.size());
    EXPECT_EQ(counting.largest, 64 << 10);
    EXPECT_LT(counting.calls, 16384 / 4) << "reads what is there, not 256 bytes at a time";
    // Nothing past the announced bytes was taken.
    char line[32];
    ASSERT_EQ(counting.ReadLine(line, sizeof line, 5), 6);
    EXPECT_STREQ(line, "next\r\n");
    ASSERT_EQ(mapped.Open(CUT_DataSource::kOpenRead), 0);
    ASSERT_EQ(mapped.GetMappedSize(), body.size());
    mapped.Close();
    CUT_FileDataSource check(mapped.GetPath());
    ASSERT_EQ(check.Open(CUT_DataSource::kOpenRead), 0);
    std::string content;
    std::vector<char> block(1 << 16);
    for (int n; (n = check.Read(block.data(), block.size())) > 0;)
        content.append(block.data(), static_cast<std::size_t>(n));
    check.Close();
    EXPECT_EQ(content, body);
}

TEST_F(WSClientTest, PeerCloseMidTransfer) {
    const std::string part = Pattern(100);
    // Announced 500 bytes, 100 came: the reply is lost, not complete.
    ScriptedServer cut({Step::Send(part), Step::CloseConnection()});
    Connect(client, cut);
    CUT_BufferDataSource source(1000);
    EXPECT_EQ(client.ReceiveToSource(source, CUT_DataSource::kOpenWrite, 5, 500),
              UT::ReceiveTimedOut);
    client.Disconnect();

    // Without a byte limit the end of the stream ends the transfer.
    ScriptedServer whole({Step::Send(part), Step::CloseConnection()});
    Connect(client, whole);
    TempDir dir;
    const std::string path = dir.file("whole.bin");
    EXPECT_EQ(client.ReceiveFileAt(path.c_str(), CUT_DataSource::kOpenWrite, 5), UT::Success);
    CUT_FileDataSource file(path.c_str());
    ASSERT_EQ(file.Open(CUT_DataSource::kOpenRead), 0);
    char block[200];
    ASSERT_EQ(file.Read(block, sizeof block), 100);
    EXPECT_EQ(std::string(block, 100), part);
    client.Disconnect();

    // ReceiveExactly stops at the close and reports what it stored.
    ScriptedServer shortReply({Step::Send("12345"), Step::CloseConnection()});
    Connect(client, shortReply);
    char buffer[20];
    EXPECT_EQ(client.ReceiveExactly(buffer, sizeof buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "12345");
}

TEST_F(WSClientTest, ReceiveToSourceFailures) {
    CUT_BufferDataSource source(10);
    EXPECT_EQ(client.ReceiveToSource(source, CUT_DataSource::kOpenWrite, 1), UT::NotConnected);

    ScriptedServer server({Step::Send(Pattern(600)), Step::WaitForClientClose()});
    Connect(client, server);
    EXPECT_EQ(client.ReceiveToSource(source, CUT_DataSource::kOpenRead, 1), UT::BadOpenMode);
    EXPECT_EQ(client.ReceiveToSource(source, 3, 1), UT::BadOpenMode);
    CUT_FileDataSource nowhere("");
    EXPECT_EQ(client.ReceiveToSource(nowhere, CUT_DataSource::kOpenWrite, 1), UT::SourceOpenFailed);

    client.cancelled = true;
    CUT_BufferDataSource roomy(1000);
    EXPECT_EQ(client.ReceiveToSource(roomy, CUT_DataSource::kOpenWrite, 5, 500), UT::Cancelled);
    EXPECT_GT(roomy.GetLength(), 0u) << "stopped after the first block";
    EXPECT_LE(roomy.GetLength(), 500u) << "a block never passes the limit";
    client.cancelled = false;

    // At least 100 bytes are left for room for 10.
    EXPECT_EQ(client.ReceiveToSource(source, CUT_DataSource::kOpenWrite, 5, 100),
              UT::SourceWriteFailed);
    EXPECT_EQ(source.GetLength(), 10u);
}

TEST_F(WSClientTest, ProgressHookCanStopATransfer) {
    struct Stopping : CUT_WSClient {
        bool ReceiveProgress(long long bytesSoFar) override {
            seen.push_back(bytesSoFar);
            return bytesSoFar < 512;
        }
        std::vector<long long> seen;
    } stopping;
    ScriptedServer server({Step::Send(Pattern(2000)), Step::WaitForClientClose()});
    ASSERT_EQ(stopping.ConnectTo(server.port(), "127.0.0.1", 5), UT::Success);
    CUT_BufferDataSource source(3000);
    EXPECT_EQ(stopping.ReceiveToSource(source, CUT_DataSource::kOpenWrite, 5, 2000), UT::Cancelled);
    ASSERT_FALSE(stopping.seen.empty());
    EXPECT_GE(stopping.seen.back(), 512);
    EXPECT_EQ(source.GetLength(), static_cast<std::size_t>(stopping.seen.back()));
}

TEST_F(WSClientTest, DiscardPendingDropsWhatIsQueued) {
    ScriptedServer server({Step::Send(Pattern(3000)), Step::Sleep(300), Step::Send("fresh\r\n"),
                           Step::WaitForClientClose()});
    Connect(client, server);
    ASSERT_EQ(client.WaitReadable(5), UT::Success);
    EXPECT_TRUE(client.RawHasPendingData(client.GetSocket()));
    EXPECT_EQ(client.DiscardPending(), UT::Success);
    EXPECT_FALSE(client.RawHasPendingData(client.GetSocket()));
    // Without the discard the first line would start with the 3000 bytes.
    char line[100];
    ASSERT_EQ(client.ReadLine(line, sizeof line, 5), 7);
    EXPECT_STREQ(line, "fresh\r\n");
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

TEST_F(WSClientTest, SendTextVariants) {
    ScriptedServer server({Step::Expect("zero length"), Step::Expect("minus one"),
                           Step::Expect("part"), Step::Expect("all of it"),
                           Step::ExpectBytes("abc\r\ndef\r\ngh\r\n"), Step::Expect("one line"),
                           Step::WaitForClientClose()});
    EXPECT_EQ(client.SendText("not connected\r\n"), 0);
    Connect(client, server);
    EXPECT_EQ(client.SendText("zero length\r\n", 0), 13);
    EXPECT_EQ(client.SendText("minus one\r\n", -1), 11);
    EXPECT_EQ(client.SendText("part\r\nNOT SENT", 6), 6);
    EXPECT_EQ(client.SendAll("all of it\r\n"), 11);
    EXPECT_EQ(client.SendAsLines("abcdefgh", 8, 3), 8);
    EXPECT_EQ(client.SendAsLines("one line", -1, 0), 8);
    client.Disconnect();
    EXPECT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
}

TEST_F(WSClientTest, SendSourceAndFileSendEverything) {
    TempDir dir;
    const std::string path = dir.file("message.eml");
    const std::string content = Pattern(5000);
    {
        CUT_FileDataSource file(path.c_str());
        ASSERT_EQ(file.Open(CUT_DataSource::kOpenWrite), 0);
        ASSERT_EQ(file.Write(content.data(), content.size()), 5000);
        file.Close();
    }
    CUT_BufferDataSource text(100);
    ASSERT_EQ(text.Open(CUT_DataSource::kOpenWrite), 0);
    text.WriteLine("From a buffer");
    ScriptedServer server(
        {Step::ExpectBytes(content), Step::Expect("From a buffer"), Step::WaitForClientClose()});

    EXPECT_EQ(client.SendFileAt(path.c_str()), UT::NotConnected);
    Connect(client, server);
    EXPECT_EQ(client.SendFileAt(path.c_str()), UT::Success);
    EXPECT_EQ(client.SendSource(text), UT::Success);
    CUT_FileDataSource missing(dir.file("missing").c_str());
    EXPECT_EQ(client.SendSource(missing), UT::SourceOpenFailed);
    client.Disconnect();
    EXPECT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty()) << server.errors().front();
}

TEST_F(WSClientTest, SendSourceStopsWhenCancelled) {
    ScriptedServer server({Step::WaitForClientClose()});
    Connect(client, server);
    client.cancelled = true;
    CUT_BufferDataSource text(1000);
    ASSERT_EQ(text.Open(CUT_DataSource::kOpenWrite), 0);
    text.Write(std::string(600, 'x').c_str(), 600);
    EXPECT_EQ(client.SendSource(text), UT::Cancelled);
    client.Disconnect();
    EXPECT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(server.connections().size(), 1u);
    EXPECT_EQ(server.connections()[0].received.size(), 255u) << "one block went out";
}

TEST_F(WSClientTest, QueueTransfersInBothDirections) {
    ScriptedServer server(
        {Step::Expect("queued line"), Step::Send("0123456789abcdef"), Step::WaitForClientClose()});
    CUT_BoundedQueue out(64);
    ASSERT_EQ(out.Write("queued line\r\n", 13), 13);
    Connect(client, server);
    EXPECT_EQ(client.SendFromQueue(out), UT::Success);
    EXPECT_EQ(out.GetDataSize(), 0);

    // The limit is the queue's free space.
    CUT_BoundedQueue in(10);
    EXPECT_EQ(client.ReceiveToQueue(in, 5), UT::Success);
    char got[16] = {};
    ASSERT_EQ(in.Read(got, sizeof got), 10);
    EXPECT_EQ(std::string(got, 10), "0123456789");
    EXPECT_EQ(client.ReceiveToQueue(in, 5, 4), UT::Success);
    ASSERT_EQ(in.Read(got, sizeof got), 4);
    EXPECT_EQ(std::string(got, 4), "abcd");
}

// ---------------------------------------------------------------------------
// Listening, datagrams, the notification window
// ---------------------------------------------------------------------------

TEST_F(WSClientTest, ListenAndAcceptOnLoopback) {
    RecordingClient server;
    ASSERT_EQ(server.ListenOn(0, 5, 2, Loopback()), UT::Success);
    ASSERT_NE(server.GetListeningPort(), 0);
    EXPECT_EQ(server.ListenOn(0, 5, 2, Loopback()), UT::AlreadyConnected);
    EXPECT_EQ(server.WaitForIncoming(0), UT::Failed) << "nobody has connected yet";

    ASSERT_EQ(client.ConnectTo(server.GetListeningPort(), "127.0.0.1", 5), UT::Success);
    ASSERT_EQ(server.WaitForIncoming(5), UT::Success);
    ASSERT_EQ(server.AcceptIncoming(), UT::Success);
    EXPECT_STREQ(server.GetAddress(), "127.0.0.1");
    EXPECT_EQ(server.GetRemotePort(), client.GetLocalPort());
    EXPECT_EQ(server.GetLocalPort(), server.GetListeningPort());

    EXPECT_EQ(server.SendAll("ping\r\n"), 6);
    char line[20];
    ASSERT_EQ(client.ReadLine(line, sizeof line, 5), 6);
    EXPECT_STREQ(line, "ping\r\n");
    EXPECT_EQ(client.SendAll("pong\r\n"), 6);
    ASSERT_EQ(server.ReadLine(line, sizeof line, 5), 6);
    EXPECT_STREQ(line, "pong\r\n");

    EXPECT_EQ(server.Disconnect(), UT::Success) << "closing a listener is no failure";
    EXPECT_FALSE(server.IsListening());
    EXPECT_EQ(server.GetListeningPort(), 0);
}

TEST_F(WSClientTest, ConnectFromALocalPort) {
    ScriptedServer server({Step::Expect("bound"), Step::WaitForClientClose()});
    ASSERT_EQ(client.ConnectFromLocal(0, server.port(), "127.0.0.1", "127.0.0.1"), UT::Success);
    EXPECT_NE(client.GetLocalPort(), 0);
    EXPECT_EQ(client.GetRemotePort(), server.port());
    EXPECT_EQ(client.ConnectFromLocal(0, server.port(), nullptr, "127.0.0.1"),
              UT::AlreadyConnected);
    EXPECT_EQ(client.SendAll("bound\r\n"), 7);
    client.Disconnect();
    EXPECT_EQ(client.ConnectFromLocal(0, ClosedPort(), nullptr, "127.0.0.1"), UT::ConnectFailed);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(server.WaitUntilFinished());
    EXPECT_TRUE(server.errors().empty());
}

TEST_F(WSClientTest, DatagramsOnLoopback) {
    RecordingClient receiver;
    ASSERT_EQ(receiver.OpenDatagram(0, 9, "127.0.0.1", "127.0.0.1"), UT::Success);
    ASSERT_NE(receiver.GetLocalPort(), 0);
    ASSERT_EQ(client.OpenDatagram(0, receiver.GetLocalPort(), "127.0.0.1"), UT::Success);
    EXPECT_EQ(client.OpenDatagram(0, 1, "127.0.0.1"), UT::AlreadyConnected);

    int length = 7;
    EXPECT_EQ(client.SendDatagram("one dgram", length), UT::Success);
    EXPECT_EQ(length, 7);
    char buffer[64];
    length = sizeof buffer;
    ASSERT_EQ(receiver.ReceiveDatagram(buffer, length, 5), UT::Success);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), "one dgr");
    length = sizeof buffer;
    EXPECT_EQ(receiver.ReceiveDatagram(buffer, length, 1), UT::ReceiveTimedOut);
    EXPECT_EQ(receiver.Disconnect(), UT::Success) << "a datagram socket has no shutdown";
}

#ifdef _WIN32
TEST_F(WSClientTest, NotificationWindowDispatchesToTheHooks) {
    ASSERT_EQ(client.CreateNotifyWindow(), UT::Success);
    ASSERT_NE(client.GetNotifyWindow(), nullptr);
    const std::intptr_t lParam = (7 << 16) | 3;
    port::SendNotifyWindowMessage(client.GetNotifyWindow(), port::kNotifySocketEvent, 0, lParam);
    port::SendNotifyWindowMessage(client.GetNotifyWindow(), port::kNotifyErrorWordB, 0, lParam);
    port::SendNotifyWindowMessage(client.GetNotifyWindow(), port::kNotifyErrorWordC, 0, lParam);
    port::SendNotifyWindowMessage(client.GetNotifyWindow(), 1155, 0, lParam);
    EXPECT_EQ(client.events, (std::vector<std::string>{"A 3 7", "B 7", "C 7"}));
}
#else
// Without a window system the notification window cannot exist.
TEST_F(WSClientTest, NotificationWindowFailsWithoutAWindowSystem) {
    EXPECT_EQ(client.CreateNotifyWindow(), UT::Failed);
    EXPECT_EQ(client.GetNotifyWindow(), nullptr);
}
#endif

// ---------------------------------------------------------------------------
// ReportResult sees every result
// ---------------------------------------------------------------------------

TEST_F(WSClientTest, EveryResultPassesReportResult) {
    TempDir dir;
    ScriptedServer server({Step::Send("data"), Step::WaitForClientClose()});
    CUT_BufferDataSource source(10);
    CUT_BoundedQueue queue(10);
    char buffer[32];
    int length = 4;
    port::SocketHandle made = port::kInvalidSocket;

    struct Op {
        const char* name;
        std::function<ResultCode()> run;
    };
    const std::vector<Op> ops = {
        {"Disconnect", [&] { return client.Disconnect(); }},
        {"ConnectTo refused", [&] { return client.ConnectTo(ClosedPort(), "127.0.0.1", 5); }},
        {"ConnectTo no host", [&] { return client.ConnectTo(1, "", 5); }},
        {"ReceiveToSource", [&] { return client.ReceiveToSource(source, 1, 1); }},
        {"ReceiveToQueue", [&] { return client.ReceiveToQueue(queue, 1); }},
        {"ReceiveFileAt", [&] { return client.ReceiveFileAt(dir.file("f").c_str(), 1, 1); }},
        {"SendSource", [&] { return client.SendSource(source); }},
        {"SendFromQueue", [&] { return client.SendFromQueue(queue); }},
        {"SendFileAt", [&] { return client.SendFileAt(nullptr); }},
        {"SendDatagram", [&] { return client.SendDatagram("x", length); }},
        {"ReceiveDatagram", [&] { return client.ReceiveDatagram(buffer, length, 1); }},
        {"WaitReadable", [&] { return client.WaitReadable(0); }},
        {"WaitWritable", [&] { return client.WaitWritable(0); }},
        {"WaitForIncoming", [&] { return client.WaitForIncoming(0); }},
        {"AcceptIncoming", [&] { return client.AcceptIncoming(); }},
        {"DiscardPending", [&] { return client.DiscardPending(); }},
        {"MakeSocket", [&] { return client.MakeSocket(made); }},
        {"ResolveHost", [&] { return client.ResolveHost("", buffer, sizeof buffer); }},
        {"SetReceiveTimeOut", [&] { return client.SetReceiveTimeOut(-1); }},
        {"CreateNotifyWindow", [&] { return client.CreateNotifyWindow(); }},
        {"ConnectTo", [&] { return client.ConnectTo(server.port(), "127.0.0.1", 5); }},
        {"ConnectTo again", [&] { return client.ConnectTo(server.port(), "127.0.0.1", 5); }},
        {"WaitReadable connected", [&] { return client.WaitReadable(5); }},
        {"ReceiveToSource connected", [&] { return client.ReceiveToSource(source, 1, 5, 4); }},
        {"SendSource connected", [&] { return client.SendSource(source); }},
        {"ConnectFromLocal", [&] { return client.ConnectFromLocal(0, 1, "", "127.0.0.1"); }},
        {"OpenDatagram", [&] { return client.OpenDatagram(0, 1, "127.0.0.1"); }},
        {"ListenOn", [&] { return client.ListenOn(0, 1, 2, Loopback()); }},
        {"ListenOn again", [&] { return client.ListenOn(0, 1, 2, Loopback()); }},
        {"final Disconnect", [&] { return client.Disconnect(); }},
    };
    std::vector<ResultCode> results;
    for (const Op& op : ops) {
        client.reported.clear();
        const ResultCode rc = op.run();
        results.push_back(rc);
        ASSERT_FALSE(client.reported.empty()) << op.name;
        EXPECT_EQ(client.reported.back(), rc) << op.name << " returned " << ResultCodeName(rc);
    }
    if (made != port::kInvalidSocket)
        port::SocketClose(made);
    // The results themselves, so that the table cannot pass on wrong codes.
    const std::vector<ResultCode> expected = {
        UT::Success,          UT::ConnectFailed,    UT::HostUnresolved,   UT::NotConnected,
        UT::NotConnected,     UT::NotConnected,     UT::NotConnected,     UT::NotConnected,
        UT::NullArgument,     UT::NotConnected,     UT::NotConnected,     UT::Failed,
        UT::Failed,           UT::Failed,           UT::Failed,           UT::Success,
        UT::Success,          UT::NameLookupFailed, UT::Failed,           results[19],
        UT::Success,          UT::AlreadyConnected, UT::Success,          UT::Success,
        UT::Success,          UT::AlreadyConnected, UT::AlreadyConnected, UT::Success,
        UT::AlreadyConnected, UT::Success};
    EXPECT_EQ(results, expected);
    EXPECT_STREQ(source.GetBuffer(), "data");
    EXPECT_TRUE(results[19] == UT::Success || results[19] == UT::Failed);
}

TEST(ResultCodeTest, NamesFollowTheTable) {
    EXPECT_STREQ(ResultCodeName(UT::Success), "Success");
    EXPECT_STREQ(ResultCodeName(UT::ReceiveTimedOut), "ReceiveTimedOut");
    EXPECT_STREQ(ResultCodeName(UT::NullArgument), "NullArgument");
    EXPECT_STREQ(ResultCodeName(2), "Unknown");
    EXPECT_EQ(UT::Cancelled, 98);
    EXPECT_EQ(UT::HostUnresolved, 100);
    EXPECT_EQ(UT::SourceWriteFailed, 83);
}

} // namespace
