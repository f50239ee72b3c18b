// POP3 session against scripted servers on loopback: exact transcripts,
// reply reading, listings, faults and TLS.
#include "net/pop3/Pop3Connection.h"

#include "net/pop3/Pop3Message.h"
#include "platform/Errors.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace {

using tavlo::test::EnsureSocketLayer;
using tavlo::test::Script;
using tavlo::test::ScriptedServer;
using tavlo::test::ScriptedServerOptions;
using tavlo::test::Step;
using Lines = std::vector<std::string>;

// A value no operation sets, to see that an operation set one.
constexpr int kUntouched = 424242;

// Greeting, USER u, PASS p, then `middle`, then QUIT.
Script Session(std::vector<Step> middle, std::string greeting = "+OK POP3 ready\r\n") {
    Script s{Step::Send(std::move(greeting)), Step::Expect("USER u"), Step::Send("+OK\r\n"),
             Step::Expect("PASS p"), Step::Send("+OK logged in\r\n")};
    s.insert(s.end(), middle.begin(), middle.end());
    s.push_back(Step::Expect("QUIT"));
    s.push_back(Step::Send("+OK bye\r\n"));
    return s;
}

// The raw bytes of a multi-line reply: status line, lines, dot line.
std::string MultiLine(const std::string& status, const std::string& body) {
    return status + "\r\n" + body + (body.empty() ? "" : "\r\n") + ".\r\n";
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out;
}

// A session that records every reply read: the buffer sizes, the step, the
// bound, and the text. It can also lower the bound to test it cheaply.
class RecordingConnection : public CPop3Connection {
public:
    struct Read {
        std::size_t initialSize = 0;
        std::size_t finalSize = 0;
        std::size_t growthStep = 0;
        std::size_t maxLength = 0;
        std::string terminator;
        std::string text;
        bool ok = false;
    };
    std::vector<Read> reads;
    std::size_t maxLengthOverride = 0;

protected:
    bool ReadReply(ReplyBuffer& reply, std::string_view terminator, std::size_t growthStep,
                   std::size_t maxLength) override {
        Read r;
        r.initialSize = reply.size;
        r.growthStep = growthStep;
        r.maxLength = maxLength;
        r.terminator = terminator;
        r.ok = CPop3Connection::ReadReply(reply, terminator, growthStep,
                                          maxLengthOverride != 0 ? maxLengthOverride : maxLength);
        r.finalSize = reply.size;
        r.text = reply.Text();
        reads.push_back(std::move(r));
        return reads.back().ok;
    }
};

// The buffer size after reading `raw` bytes: a buffer grows whenever a read
// fills it, that is whenever size - 1 bytes have arrived, by its own size
// but at least by `step`.
std::size_t GrownSize(std::size_t initial, std::size_t step, std::size_t raw) {
    std::size_t size = initial;
    while (size - 1 <= raw)
        size += std::max(step, size);
    return size;
}

class Pop3ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureSocketLayer();
        pop.m_nReadTimeoutMs = 2000;
    }

    bool Connect(CPop3Connection& session, const ScriptedServer& server,
                 const std::string& user = "u", const std::string& password = "p") {
        return session.Connect("127.0.0.1", user, password, server.port());
    }
    bool Connect(const ScriptedServer& server) { return Connect(pop, server); }

    // Waits for the server to finish its script and checks it had no
    // complaints.
    static void ExpectScriptRan(ScriptedServer& server) {
        ASSERT_TRUE(server.WaitUntilFinished());
        EXPECT_TRUE(server.errors().empty()) << Joined(server.errors());
    }

    CPop3Connection pop;
};

// --- transcripts ---------------------------------------------------------------

TEST_F(Pop3ConnectionTest, CheckCycleSessionSendsExactlyItsCommands) {
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Send("+OK 2 320\r\n"), Step::Expect("UIDL"),
                 Step::Send(MultiLine("+OK", "1 uid-a\r\n2 uid-b"))}));
    ASSERT_TRUE(Connect(server));
    int count = 0;
    std::uint32_t total = 0;
    ASSERT_TRUE(pop.Statistics(count, total));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(total, 320u);
    std::string id;
    ASSERT_TRUE(pop.GetMessageId(count, id));
    EXPECT_EQ(id, "uid-b");
    EXPECT_TRUE(pop.Disconnect());
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "QUIT"}));
    EXPECT_EQ(server.connections().at(0).received, "USER u\r\nPASS p\r\nSTAT\r\nUIDL\r\nQUIT\r\n");
}

TEST_F(Pop3ConnectionTest, ListingWithoutAnEarlierStatRunsItsOwn) {
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send("+OK 1 10\r\n"),
                                   Step::Expect("UIDL"), Step::Send(MultiLine("+OK", "1 x"))}));
    ASSERT_TRUE(Connect(server));
    std::string id;
    ASSERT_TRUE(pop.GetMessageId(1, id));
    EXPECT_EQ(id, "x");
    pop.Disconnect();
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "QUIT"}));
}

TEST_F(Pop3ConnectionTest, SweepSessionSendsExactlyItsCommands) {
    // Count, fetch each message, find and delete a blocked one, count again.
    const std::string text = "From: Anna <anna@example.com>\r\nSubject: hi\r\n\r\nHello";
    ScriptedServer server(Session({
        Step::Expect("STAT"),
        Step::Send("+OK 2 400\r\n"),
        Step::Expect("LIST"),
        Step::Send(MultiLine("+OK 2 messages", "1 100\r\n2 300")),
        Step::Expect("RETR 1"),
        Step::Send(MultiLine("+OK", "From: x@y\r\n\r\nHi")),
        Step::Expect("RETR 2"),
        Step::Send(MultiLine("+OK 300 octets", text)),
        Step::Expect("UIDL"),
        Step::Send(MultiLine("+OK", "1 a\r\n2 b")),
        Step::Expect("DELE 2"),
        Step::Send("+OK marked\r\n"),
        Step::Expect("STAT"),
        Step::Send("+OK 1 100\r\n"),
    }));
    ASSERT_TRUE(Connect(server));
    int count = 0;
    std::uint32_t total = 0;
    ASSERT_TRUE(pop.Statistics(count, total));
    CPop3Message first;
    ASSERT_TRUE(pop.Retrieve(1, first));
    EXPECT_STREQ(first.Text(), "From: x@y\r\n\r\nHi");
    CPop3Message message;
    ASSERT_TRUE(pop.Retrieve(2, message));
    EXPECT_STREQ(message.Text(), text.c_str());
    EXPECT_EQ(ExtractAddress(message.GetFrom()), "anna@example.com");
    std::string id;
    ASSERT_TRUE(pop.GetMessageId(2, id));
    int n = 0;
    ASSERT_TRUE(pop.FindMessageById(id, n));
    EXPECT_EQ(n, 2);
    EXPECT_TRUE(pop.Delete(n));
    ASSERT_TRUE(pop.Statistics(count, total));
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(pop.Disconnect());
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"USER u", "PASS p", "STAT", "LIST", "RETR 1", "RETR 2",
                                          "UIDL", "DELE 2", "STAT", "QUIT"}));
}

TEST_F(Pop3ConnectionTest, RefusedRetrieveAndListingEndAtTheirStatusLine) {
    // A negative reply is one line even where a positive one would be a
    // listing or a message: the read ends there, long before the time-out,
    // and the next command reads its own reply.
    ScriptedServer server(Session({
        Step::Expect("STAT"),
        Step::Send("+OK 2 200\r\n"),
        Step::Expect("LIST"),
        Step::Send(MultiLine("+OK", "1 100\r\n2 100")),
        Step::Expect("RETR 1"),
        Step::Send("-ERR message is locked\r\n"),
        Step::Expect("RETR 2"),
        Step::Send(MultiLine("+OK", "From: b@example.org\r\n\r\nHi")),
        Step::Expect("UIDL"),
        Step::Send("-ERR no unique ids here\r\n"),
        Step::Expect("STAT"),
        Step::Send("+OK 2 200\r\n"),
    }));
    pop.m_nReadTimeoutMs = 20000;
    ASSERT_TRUE(Connect(server));
    int count = 0;
    std::uint32_t total = 0;
    ASSERT_TRUE(pop.Statistics(count, total));
    const auto start = std::chrono::steady_clock::now();
    CPop3Message message;
    EXPECT_FALSE(pop.Retrieve(1, message));
    EXPECT_EQ(pop.LastReply(), "-ERR message is locked");
    ASSERT_TRUE(pop.Retrieve(2, message));
    EXPECT_STREQ(message.Text(), "From: b@example.org\r\n\r\nHi");
    std::string id = "unchanged";
    EXPECT_FALSE(pop.GetMessageId(1, id));
    EXPECT_EQ(id, "unchanged");
    EXPECT_EQ(pop.LastReply(), "-ERR no unique ids here");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_TRUE(pop.Statistics(count, total));
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(pop.Disconnect());
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, DeleteBeforeSizesAreKnownSendsNothing) {
    ScriptedServer server(Session({}));
    ASSERT_TRUE(Connect(server));
    EXPECT_FALSE(pop.Delete(1));
    pop.Disconnect();
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"USER u", "PASS p", "QUIT"}));
}

TEST_F(Pop3ConnectionTest, DestructorEndsAnOpenSessionWithQuit) {
    ScriptedServer server(Session({}));
    {
        CPop3Connection session;
        ASSERT_TRUE(Connect(session, server));
    }
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"USER u", "PASS p", "QUIT"}));
}

TEST_F(Pop3ConnectionTest, SameObjectConnectsAgainAndEndsAnOpenSessionFirst) {
    ScriptedServer server(std::vector<Script>{Session({}), Session({}), Session({})});
    ASSERT_TRUE(Connect(server));
    EXPECT_TRUE(pop.Disconnect());
    EXPECT_FALSE(pop.Disconnect()); // nothing open any more
    ASSERT_TRUE(Connect(server));
    ASSERT_TRUE(Connect(server)); // the second session is ended, not leaked
    EXPECT_TRUE(pop.Disconnect());
    ExpectScriptRan(server);
    for (const auto& c : server.connections())
        EXPECT_EQ(c.lines, (Lines{"USER u", "PASS p", "QUIT"}));
}

// --- replies -------------------------------------------------------------------

TEST_F(Pop3ConnectionTest, EmptyMailboxGivesZeroAndEmptyListings) {
    ScriptedServer server(Session({
        Step::Expect("STAT"),
        Step::Send("+OK 0 0\r\n"),
        Step::Expect("LIST"),
        Step::Send("+OK 0 messages\r\n.\r\n"),
        Step::Expect("UIDL"),
        Step::Send("+OK\r\n.\r\n"),
    }));
    ASSERT_TRUE(Connect(server));
    int count = -1;
    std::uint32_t total = 99;
    ASSERT_TRUE(pop.Statistics(count, total));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(total, 0u);
    std::uint32_t size = 0;
    EXPECT_FALSE(pop.GetMessageSize(1, size));
    EXPECT_EQ(pop.m_bHaveSizes, 1);
    EXPECT_TRUE(pop.m_sizeList.empty());
    int n = 0;
    EXPECT_FALSE(pop.FindMessageById("x", n));
    EXPECT_EQ(pop.m_bHaveIds, 1);
    EXPECT_TRUE(pop.m_idList.empty());
    pop.Disconnect();
    ExpectScriptRan(server);
}

struct StatCase {
    const char* name;
    const char* reply;
    bool ok;
    int count;           // when ok
    std::uint32_t total; // when ok
    bool protocolError;  // when not ok: the refusal code is set
};
void PrintTo(const StatCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3StatTest : public Pop3ConnectionTest, public ::testing::WithParamInterface<StatCase> {};

TEST_P(Pop3StatTest, ReadsCountAndTotal) {
    const StatCase& c = GetParam();
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send(c.reply)}));
    ASSERT_TRUE(Connect(server));
    int count = -7;
    std::uint32_t total = 7;
    port::SetLastErrorValue(kUntouched);
    EXPECT_EQ(pop.Statistics(count, total), c.ok);
    if (c.ok) {
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(total, c.total);
        EXPECT_EQ(pop.m_nMailCount, c.count);
    } else {
        EXPECT_EQ(count, -7); // a failed operation leaves its out-arguments alone
        EXPECT_EQ(total, 7u);
    }
    if (!c.ok && c.protocolError) {
        EXPECT_EQ(port::GetLastErrorValue(), port::kErrProtocolNotSupported);
    } else if (!c.ok) {
        EXPECT_NE(port::GetLastErrorValue(), port::kErrProtocolNotSupported);
    }
    pop.Disconnect();
    ExpectScriptRan(server);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Pop3StatTest,
    ::testing::Values(StatCase{"Plain", "+OK 2 320\r\n", true, 2, 320, false},
                      StatCase{"Tabs", "+OK\t3\t99\r\n", true, 3, 99, false},
                      StatCase{"TrailingText", "+OK 5 1000 messages\r\n", true, 5, 1000, false},
                      StatCase{"HugeNumbersSaturate", "+OK 99999999999 99999999999\r\n", true,
                               INT_MAX, UINT32_MAX, false},
                      StatCase{"NegativeCountAsAtoi", "+OK -3 0\r\n", true, -3, 0, false},
                      StatCase{"LowerCaseRefused", "+ok 2 320\r\n", false, 0, 0, false},
                      StatCase{"OneNumberOnly", "+OK 2\r\n", false, 0, 0, false},
                      StatCase{"Negative", "-ERR mailbox locked\r\n", false, 0, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3ConnectionTest, LowerCaseGreetingIsAccepted) {
    ScriptedServer server(Session({}, "+ok hello\r\n"));
    EXPECT_TRUE(Connect(server));
    pop.Disconnect();
    ExpectScriptRan(server);
}

struct RefusalCase {
    const char* name;
    Script script;
    Lines transcript;
};
void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3RefusalTest : public Pop3ConnectionTest,
                        public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Pop3RefusalTest, ConnectFailsSendsQuitAndKeepsTheRefusal) {
    ScriptedServer server(GetParam().script);
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(Connect(server));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrProtocolNotSupported);
    EXPECT_EQ(pop.LastReply(), "-ERR refused"); // not the QUIT reply
    EXPECT_EQ(pop.m_bSessionOpen, 0);
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), GetParam().transcript);
}

INSTANTIATE_TEST_SUITE_P(
    Login, Pop3RefusalTest,
    ::testing::Values(
        RefusalCase{
            "Greeting",
            {Step::Send("-ERR refused\r\n"), Step::Expect("QUIT"), Step::Send("+OK bye\r\n")},
            {"QUIT"}},
        RefusalCase{"User",
                    {Step::Send("+OK\r\n"), Step::Expect("USER u"), Step::Send("-ERR refused\r\n"),
                     Step::Expect("QUIT"), Step::Send("+OK bye\r\n")},
                    {"USER u", "QUIT"}},
        RefusalCase{"Password",
                    {Step::Send("+OK\r\n"), Step::Expect("USER u"), Step::Send("+OK\r\n"),
                     Step::Expect("PASS p"), Step::Send("-ERR refused\r\n"), Step::Expect("QUIT"),
                     Step::Send("+OK bye\r\n")},
                    {"USER u", "PASS p", "QUIT"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3ConnectionTest, SilentServerGivesUpAfterEachReadTimeOut) {
    pop.m_nReadTimeoutMs = 300;
    // No greeting; the QUIT that follows gets no answer either.
    ScriptedServer server({Step::Expect("QUIT"), Step::WaitForClientClose()});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Connect(server));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(550)); // two waits of 300 ms
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_EQ(pop.LastReply(), "");
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, SilentServerWithDefaultTimeOutGivesUpAfterAboutFiveSeconds) {
    CPop3Connection session; // m_nReadTimeoutMs as constructed
    ASSERT_EQ(session.m_nReadTimeoutMs, 5000u);
    ScriptedServer server(Session({Step::Expect("STAT")}));
    ASSERT_TRUE(Connect(session, server));
    const auto start = std::chrono::steady_clock::now();
    int count = 0;
    std::uint32_t total = 0;
    EXPECT_FALSE(session.Statistics(count, total));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(4900));
    EXPECT_LT(elapsed, std::chrono::seconds(9));
    session.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, RepliesSplitIntoSmallPiecesAreReassembled) {
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Trickle("+OK 3 600\r\n", 1, 2), Step::Expect("UIDL"),
                 Step::Trickle(MultiLine("+OK", "1 first\r\n2 second\r\n3 third"), 2, 2)},
                "+OK ready\r\n"));
    ASSERT_TRUE(Connect(server));
    std::string id;
    ASSERT_TRUE(pop.GetMessageId(3, id));
    EXPECT_EQ(pop.m_idList, (Lines{"first", "second", "third"}));
    pop.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, ReadersStartAtTheirSizesAndGrowByTheirSteps) {
    const std::string greeting = "+OK " + std::string(2500, 'g') + "\r\n";
    const std::string stat = "+OK 2 320 " + std::string(200, 's') + "\r\n";
    const std::string list = MultiLine("+OK " + std::string(300, 'l'), "1 10\r\n2 20");
    const std::string uidl = MultiLine("+OK", "1 a\r\n2 b");
    std::string body;
    for (int i = 0; body.size() < 70000; ++i)
        body += "line " + std::to_string(i) + "\r\n..dotted\r\n";
    const std::string retr = MultiLine("+OK", body);

    RecordingConnection session;
    session.m_nReadTimeoutMs = 2000;
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Send(stat), Step::Expect("LIST"), Step::Send(list),
                 Step::Expect("RETR 1"), Step::Send(retr), Step::Expect("UIDL"), Step::Send(uidl)},
                greeting));
    ASSERT_TRUE(Connect(session, server));
    CPop3Message message;
    ASSERT_TRUE(session.Retrieve(1, message));
    std::string id;
    ASSERT_TRUE(session.GetMessageId(2, id));
    EXPECT_EQ(id, "b");
    session.Disconnect();
    ExpectScriptRan(server);

    struct Expected {
        std::size_t initial, step;
        std::string raw;
        std::string terminator;
    };
    const std::vector<Expected> expected{
        {1000, 4096, greeting, "\r\n"},
        {1000, 4096, "+OK\r\n", "\r\n"},
        {1000, 4096, "+OK logged in\r\n", "\r\n"},
        {100, 4096, stat, "\r\n"},
        {CPop3Connection::kSizeListingBytesPerMessage * 2 + 100, 4096, list, "\r\n.\r\n"},
        {10 + 100, 32000, retr, "\r\n.\r\n"},
        {CPop3Connection::kIdListingBytesPerMessage * 2 + 100, 4096, uidl, "\r\n.\r\n"},
        {1000, 4096, "+OK bye\r\n", "\r\n"},
    };
    ASSERT_EQ(session.reads.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("read " + std::to_string(i));
        const auto& got = session.reads[i];
        const auto& want = expected[i];
        EXPECT_TRUE(got.ok);
        EXPECT_EQ(got.initialSize, want.initial);
        EXPECT_EQ(got.growthStep, want.step);
        EXPECT_EQ(got.terminator, want.terminator);
        EXPECT_EQ(got.finalSize, GrownSize(want.initial, want.step, want.raw.size()));
        EXPECT_EQ(got.text, want.raw.substr(0, want.raw.size() - want.terminator.size()));
    }
    EXPECT_GT(session.reads[0].finalSize, 1000u); // the greeting did grow its buffer
    EXPECT_EQ(std::string(message.Text()), body); // doubled dots kept
}

TEST_F(Pop3ConnectionTest, MessageTextKeepsDoubledDots) {
    const std::string text = "Subject: dots\r\n\r\n..leading\r\n...\r\nend.";
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send("+OK 1 50\r\n"),
                                   Step::Expect("LIST"), Step::Send(MultiLine("+OK", "1 50")),
                                   Step::Expect("RETR 1"), Step::Send(MultiLine("+OK", text))}));
    ASSERT_TRUE(Connect(server));
    CPop3Message message;
    ASSERT_TRUE(pop.Retrieve(1, message));
    EXPECT_STREQ(message.Text(), text.c_str());
    pop.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, FindMessageByIdComparesBytesExactly) {
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Send("+OK 3 30\r\n"), Step::Expect("UIDL"),
                 Step::Send(MultiLine("+OK", "1 AbC\r\n2 abc\r\n3 abc"))}));
    ASSERT_TRUE(Connect(server));
    int n = 0;
    EXPECT_TRUE(pop.FindMessageById("abc", n));
    EXPECT_EQ(n, 2); // the first equal entry
    EXPECT_TRUE(pop.FindMessageById("AbC", n));
    EXPECT_EQ(n, 1);
    n = 0;
    EXPECT_FALSE(pop.FindMessageById("ABC", n));
    EXPECT_FALSE(pop.FindMessageById("ab", n));
    EXPECT_EQ(n, 0);
    pop.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, ListingsAreNotRefreshedByDeleteAndStatistics) {
    ScriptedServer server(Session({
        Step::Expect("STAT"),
        Step::Send("+OK 3 300\r\n"),
        Step::Expect("UIDL"),
        Step::Send(MultiLine("+OK", "1 a\r\n2 b\r\n3 c")),
        Step::Expect("LIST"),
        Step::Send(MultiLine("+OK", "1 100\r\n2 100\r\n3 100")),
        Step::Expect("DELE 1"),
        Step::Send("+OK\r\n"),
        Step::Expect("STAT"),
        Step::Send("+OK 2 200\r\n"),
    }));
    ASSERT_TRUE(Connect(server));
    std::string id;
    ASSERT_TRUE(pop.GetMessageId(3, id));
    std::uint32_t size = 0;
    ASSERT_TRUE(pop.GetMessageSize(1, size));
    ASSERT_TRUE(pop.Delete(1));
    int count = 0;
    std::uint32_t total = 0;
    ASSERT_TRUE(pop.Statistics(count, total));
    EXPECT_EQ(count, 2);
    ASSERT_TRUE(pop.GetMessageId(1, id));
    EXPECT_EQ(id, "a"); // the list fetched before the deletion
    ASSERT_TRUE(pop.GetMessageId(count, id));
    EXPECT_EQ(id, "b");
    pop.Disconnect();
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(),
              (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "DELE 1", "STAT", "QUIT"}));
}

// --- listings --------------------------------------------------------------------

struct IdListingCase {
    const char* name;
    const char* stat;
    std::string body;
    Lines ids;
};
void PrintTo(const IdListingCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3IdListingTest : public Pop3ConnectionTest,
                          public ::testing::WithParamInterface<IdListingCase> {};

TEST_P(Pop3IdListingTest, ParsesTheSecondWordOfCountLines) {
    const IdListingCase& c = GetParam();
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send(c.stat), Step::Expect("UIDL"),
                                   Step::Send(MultiLine("+OK", c.body))}));
    ASSERT_TRUE(Connect(server));
    int n = 0;
    pop.FindMessageById("none", n);
    EXPECT_EQ(pop.m_bHaveIds, 1);
    EXPECT_EQ(pop.m_idList, c.ids);
    // Access beyond the list fails; it never throws.
    std::string id = "kept";
    EXPECT_FALSE(pop.GetMessageId(static_cast<int>(c.ids.size()) + 1, id));
    EXPECT_EQ(id, "kept");
    pop.Disconnect();
    ExpectScriptRan(server);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Pop3IdListingTest,
    ::testing::Values(
        IdListingCase{"Plain", "+OK 2 0\r\n", "1 a-1\r\n2 b-2", {"a-1", "b-2"}},
        IdListingCase{"FewerLinesThanCount", "+OK 3 0\r\n", "1 a\r\n2 b", {"a", "b"}},
        IdListingCase{"HostileCount", "+OK 2147483647 0\r\n", "1 a\r\n2 b", {"a", "b"}},
        IdListingCase{"MoreLinesThanCount", "+OK 1 0\r\n", "1 a\r\n2 b", {"a"}},
        IdListingCase{"NoSecondWordGivesEmptyId", "+OK 2 0\r\n", "1\r\n2 b", {"", "b"}},
        IdListingCase{"BlanksAndTabs", "+OK 1 0\r\n", "  1 \t x  y", {"x"}},
        IdListingCase{"LongFirstWord", "+OK 1 0\r\n", std::string(40, '9') + " id", {"id"}},
        IdListingCase{"LongIdCutAt999",
                      "+OK 1 0\r\n",
                      "1 " + std::string(1500, 'u'),
                      {std::string(999, 'u')}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeListingCase {
    const char* name;
    std::string body;
    std::vector<std::uint32_t> sizes;
};
void PrintTo(const SizeListingCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3SizeListingTest : public Pop3ConnectionTest,
                            public ::testing::WithParamInterface<SizeListingCase> {};

TEST_P(Pop3SizeListingTest, EveryBlankStartsAnEntry) {
    const SizeListingCase& c = GetParam();
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Send("+OK 2 0\r\n"), Step::Expect("LIST"),
                 Step::Send(MultiLine("+OK 2 messages (x octets)", c.body))}));
    ASSERT_TRUE(Connect(server));
    std::uint32_t size = 0;
    pop.GetMessageSize(1, size);
    EXPECT_EQ(pop.m_bHaveSizes, 1);
    EXPECT_EQ(pop.m_sizeList, c.sizes);
    pop.Disconnect();
    ExpectScriptRan(server);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Pop3SizeListingTest,
    ::testing::Values(SizeListingCase{"Plain", "1 1200\r\n2 300", {1200, 300}},
                      SizeListingCase{"NumberAtLineStartUnused", "7 5\r\n9 6", {5, 6}},
                      SizeListingCase{"ExtraWordAddsEntry", "1 100 7\r\n2 200", {100, 7, 200}},
                      SizeListingCase{"TabSeparated", "1\t42", {42}},
                      SizeListingCase{"HugeSizeSaturates", "1 99999999999", {UINT32_MAX}},
                      SizeListingCase{"NegativeSizeIsZero", "1 -5", {0}},
                      // atoi skips white space, line ends too: each blank of a
                      // run reads the number after the whole run.
                      SizeListingCase{"RunOfBlanksRepeatsTheNumber", "1   5\r\n2 6", {5, 5, 5, 6}},
                      SizeListingCase{"BlankBeforeLineEndReadsNextLine",
                                      "1 5 \r\n2 6",
                                      {5, 2, 6}},
                      SizeListingCase{"RunEndingTheListing", "1 5\r\n2   ", {5, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// Large listings: both run in well under a second. Before the parse was
// linear and the buffer grew geometrically, the first took about 30 s and
// the second copied gigabytes.
TEST_F(Pop3ConnectionTest, ListingOfBlankRunsIsParsedInOnePass) {
    constexpr std::size_t kBlanks = 400000;
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send("+OK 1 0\r\n"),
                                   Step::Expect("LIST"),
                                   Step::Send("+OK\r\n" + std::string(kBlanks, ' ') + "\r\n.\r\n"),
                                   Step::Expect("RETR 2"), Step::Send(MultiLine("+OK", "x"))}));
    ASSERT_TRUE(Connect(server));
    CPop3Message message;
    ASSERT_TRUE(pop.Retrieve(2, message)); // the sweep's way in: LIST on first use
    EXPECT_STREQ(message.Text(), "x");
    ASSERT_EQ(pop.m_sizeList.size(), kBlanks); // every blank an entry, as atoi reads them
    EXPECT_EQ(pop.m_sizeList.front(), 0u);
    EXPECT_EQ(pop.m_sizeList.back(), 0u);
    pop.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, LongStatusLinesOfListingsAreSearchedOnce) {
    // The line end of the status line is looked for in new bytes only; a
    // refusal of that length is still cut at its line end.
    const std::string words(std::size_t{8} << 20, 'w');
    ScriptedServer server(Session(
        {Step::Expect("STAT"), Step::Send("+OK 1 5\r\n"), Step::Expect("LIST"),
         Step::Send(MultiLine("+OK " + words, "1 5")), Step::Expect("UIDL"),
         Step::Send("-ERR " + words + "\r\n")}));
    ASSERT_TRUE(Connect(server));
    std::uint32_t size = 0;
    ASSERT_TRUE(pop.GetMessageSize(1, size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(pop.m_sizeList, std::vector<std::uint32_t>{5});
    std::string id;
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(pop.GetMessageId(1, id));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrProtocolNotSupported);
    EXPECT_EQ(pop.LastReply().substr(0, 6), "-ERR w");
    pop.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, ListingOfTensOfMegabytesIsReadWhole) {
    // 500,000 UIDL lines of about 50 bytes, 25 MB: the buffer starts at its
    // first-size bound and must grow many times.
    constexpr int kMessages = 500000;
    const auto idOf = [](int n) {
        return std::to_string(1700000000 + n) + ".M" + std::to_string(n * 7) +
               "P4242.mail.example.test";
    };
    std::string listing;
    listing.reserve(std::size_t{26} << 20);
    for (int n = 1; n <= kMessages; ++n)
        listing += std::to_string(n) + " " + idOf(n) + "\r\n";
    listing.resize(listing.size() - 2);
    ASSERT_GT(listing.size(), std::size_t{20} << 20);
    RecordingConnection session;
    session.m_nReadTimeoutMs = 5000;
    ScriptedServer server(Session({Step::Expect("STAT"),
                                   Step::Send("+OK " + std::to_string(kMessages) + " 0\r\n"),
                                   Step::Expect("UIDL"), Step::Send(MultiLine("+OK", listing))}));
    ASSERT_TRUE(Connect(session, server));
    int n = 0;
    ASSERT_TRUE(session.FindMessageById(idOf(kMessages - 1), n));
    EXPECT_EQ(n, kMessages - 1);
    ASSERT_EQ(session.m_idList.size(), static_cast<std::size_t>(kMessages));
    EXPECT_EQ(session.m_idList.front(), idOf(1));
    EXPECT_EQ(session.m_idList[200000 - 1], idOf(200000));
    EXPECT_EQ(session.m_idList.back(), idOf(kMessages));
    const auto& uidl = session.reads.back();
    EXPECT_EQ(uidl.initialSize, CPop3Connection::kMaxInitialListingBuffer);
    // Grown by doubling: a handful of growths, not thousands of 4096 bytes.
    EXPECT_LE(uidl.finalSize, 2 * (listing.size() + 100));
    session.Disconnect();
    ExpectScriptRan(server);
}

TEST(Pop3BufferGrowthTest, GrowsByItsSizeAtLeastByTheStepAndNeverPastTheBound) {
    struct Case {
        std::size_t size, step, maxLength, grown;
    };
    const Case cases[] = {
        {100, 4096, 1 << 20, 4196},          // small: by the step
        {10000, 4096, 1 << 20, 20000},       // larger: doubles
        {700000, 4096, 1 << 20, (1 << 20) + 1}, // capped one byte past the bound
        {(1 << 20), 4096, 1 << 20, (1 << 20) + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(CPop3Connection::GrownBufferSize(c.size, c.step, c.maxLength), c.grown);
    }
}

// --- faults ----------------------------------------------------------------------

TEST_F(Pop3ConnectionTest, MessageNumberOutsideTheListFailsWithoutSending) {
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Send("+OK 2 0\r\n"), Step::Expect("LIST"),
                 Step::Send(MultiLine("+OK", "1 10\r\n2 20")), Step::Expect("UIDL"),
                 Step::Send(MultiLine("+OK", "1 a\r\n2 b"))}));
    ASSERT_TRUE(Connect(server));
    for (const int n : {0, -1, 3, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(n);
        std::uint32_t size = 77;
        std::string id = "kept";
        CPop3Message message;
        EXPECT_FALSE(pop.GetMessageSize(n, size));
        EXPECT_EQ(size, 77u);
        EXPECT_FALSE(pop.Retrieve(n, message));
        EXPECT_EQ(message.Text(), nullptr);
        EXPECT_FALSE(pop.GetMessageId(n, id));
        EXPECT_EQ(id, "kept");
    }
    pop.Disconnect();
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"USER u", "PASS p", "STAT", "LIST", "UIDL", "QUIT"}));
}

TEST_F(Pop3ConnectionTest, EndlessLineFailsWithinItsBound) {
    RecordingConnection session;
    session.m_nReadTimeoutMs = 2000;
    ScriptedServer server({Step::SendForever("x", std::size_t{8} << 20)});
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(Connect(session, server));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrMessageTooLong);
    EXPECT_LE(session.LastReply().size(), CPop3Connection::kMaxStatusReply);
    EXPECT_EQ(session.LastReply().substr(0, 3), "xxx");
    ASSERT_FALSE(session.reads.empty());
    const auto& greeting = session.reads.front();
    EXPECT_FALSE(greeting.ok);
    EXPECT_GE(greeting.text.size(), CPop3Connection::kMaxStatusReply);
    EXPECT_LE(greeting.finalSize, CPop3Connection::kMaxStatusReply + 4096 + 1);
    ASSERT_TRUE(server.WaitUntilFinished());
}

TEST_F(Pop3ConnectionTest, OversizedMessageFailsAtItsBound) {
    RecordingConnection session;
    session.m_nReadTimeoutMs = 2000;
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send("+OK 1 10\r\n"),
                                   Step::Expect("LIST"), Step::Send(MultiLine("+OK", "1 10")),
                                   Step::Expect("RETR 1"), Step::Send("+OK\r\n"),
                                   Step::SendForever("line of text\r\n", std::size_t{1} << 20)}));
    ASSERT_TRUE(Connect(session, server));
    session.maxLengthOverride = 100000; // the real bound is 128 MiB
    CPop3Message message;
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(session.Retrieve(1, message));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrMessageTooLong);
    EXPECT_EQ(message.Text(), nullptr);
    const auto& retr = session.reads.back();
    EXPECT_EQ(retr.growthStep, 32000u);
    EXPECT_LE(retr.finalSize, 100000u + 32000u + 1);
    EXPECT_EQ(session.LastReply().substr(0, 17), "+OK\r\nline of text");
    session.maxLengthOverride = 0;
    session.Disconnect(); // the flood goes on; the QUIT reply fails too
    ASSERT_TRUE(server.WaitUntilFinished());
}

TEST_F(Pop3ConnectionTest, HostileCountsAndSizesDoNotAllocateUpFront) {
    RecordingConnection session;
    session.m_nReadTimeoutMs = 2000;
    ScriptedServer server(
        Session({Step::Expect("STAT"), Step::Send("+OK 2147483647 0\r\n"), Step::Expect("LIST"),
                 Step::Send(MultiLine("+OK", "1 4294967295\r\n2 20")), Step::Expect("RETR 2"),
                 Step::Send(MultiLine("+OK", "Hi")), Step::Expect("RETR 1"),
                 Step::Send(MultiLine("+OK", "Big?")), Step::Expect("UIDL"),
                 Step::Send(MultiLine("+OK", "1 a"))}));
    ASSERT_TRUE(Connect(session, server));
    CPop3Message message;
    ASSERT_TRUE(session.Retrieve(2, message));
    EXPECT_STREQ(message.Text(), "Hi");
    EXPECT_EQ(session.reads.back().initialSize, 20u + 100u);
    // A claimed size of 4 GiB starts no larger than the bound on a message.
    ASSERT_TRUE(session.Retrieve(1, message));
    EXPECT_STREQ(message.Text(), "Big?");
    EXPECT_EQ(session.reads.back().initialSize, CPop3Connection::kMaxMessageText + 1);
    std::string id;
    ASSERT_TRUE(session.GetMessageId(1, id));
    EXPECT_FALSE(session.GetMessageId(2, id));
    session.Disconnect();
    ExpectScriptRan(server);

    int listings = 0;
    for (const auto& read : session.reads) {
        if (read.terminator == "\r\n.\r\n" && read.growthStep == 4096) { // LIST, UIDL
            EXPECT_EQ(read.initialSize, CPop3Connection::kMaxInitialListingBuffer);
            ++listings;
        }
    }
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(session.m_sizeList, (std::vector<std::uint32_t>{UINT32_MAX, 20}));
    EXPECT_LT(session.m_idList.capacity(), 1000u);
}

TEST_F(Pop3ConnectionTest, NegativeCountStartsAnEmptyListingBuffer) {
    RecordingConnection session;
    session.m_nReadTimeoutMs = 2000;
    ScriptedServer server(Session({Step::Expect("STAT"), Step::Send("+OK -5 0\r\n"),
                                   Step::Expect("UIDL"), Step::Send(MultiLine("+OK", "1 a"))}));
    ASSERT_TRUE(Connect(session, server));
    int n = 0;
    EXPECT_FALSE(session.FindMessageById("a", n)); // a count below 1 takes no lines
    EXPECT_TRUE(session.m_idList.empty());
    session.Disconnect();
    ExpectScriptRan(server);
    ASSERT_GE(session.reads.size(), 5u);
    EXPECT_EQ(session.reads[4].initialSize, 100u);
}

struct CloseCase {
    const char* name;
    std::vector<Step> steps; // after login
    std::string partial;     // what LastReply then holds
};
void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3CloseTest : public Pop3ConnectionTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(Pop3CloseTest, CloseMidReplyFailsKeepingWhatArrived) {
    Script script{Step::Send("+OK\r\n"), Step::Expect("USER u"), Step::Send("+OK\r\n"),
                  Step::Expect("PASS p"), Step::Send("+OK\r\n")};
    script.insert(script.end(), GetParam().steps.begin(), GetParam().steps.end());
    script.push_back(Step::CloseConnection());
    ScriptedServer server(script);
    ASSERT_TRUE(Connect(server));
    std::string id;
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(pop.GetMessageId(1, id));
    EXPECT_EQ(pop.LastReply(), GetParam().partial);
    EXPECT_NE(port::GetLastErrorValue(), port::kErrProtocolNotSupported); // not a refusal
    pop.Disconnect();
    ASSERT_TRUE(server.WaitUntilFinished());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Pop3CloseTest,
    ::testing::Values(CloseCase{"InStat", {Step::Expect("STAT"), Step::Send("+OK 2 ")}, "+OK 2 "},
                      CloseCase{"InListing",
                                {Step::Expect("STAT"), Step::Send("+OK 2 0\r\n"),
                                 Step::Expect("UIDL"), Step::Send("+OK\r\n1 a\r\n2 b")},
                                "+OK\r\n1 a\r\n2 b"}),
    [](const auto& info) { return std::string(info.param.name); });

struct CredentialsCase {
    const char* name;
    std::string user;
    std::string password;
};
void PrintTo(const CredentialsCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3UnsafeCredentialsTest : public Pop3ConnectionTest,
                                  public ::testing::WithParamInterface<CredentialsCase> {};

TEST_P(Pop3UnsafeCredentialsTest, ConnectRefusesBeforeAnythingIsSent) {
    ScriptedServerOptions options;
    options.acceptTimeoutMs = 500;
    ScriptedServer server(Session({}), options);
    EXPECT_FALSE(Connect(pop, server, GetParam().user, GetParam().password));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrInvalidParameter);
    server.Stop();
    EXPECT_TRUE(server.connections().empty()); // not even a connection
}

INSTANTIATE_TEST_SUITE_P(
    Refused, Pop3UnsafeCredentialsTest,
    ::testing::Values(CredentialsCase{"UserCrLf", "u\r\nDELE 1", "p"},
                      CredentialsCase{"UserLf", "u\nQUIT", "p"},
                      CredentialsCase{"UserNul", std::string("u\0x", 3), "p"},
                      CredentialsCase{"PasswordCr", "u", "p\rDELE 1"},
                      CredentialsCase{"PasswordNul", "u", std::string("p\0", 2)},
                      CredentialsCase{"UserTooLong", std::string(125, 'u'), "p"},
                      CredentialsCase{"PasswordTooLong", "u", std::string(125, 'p')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3ConnectionTest, CredentialsOf124CharactersFitTheCommandLine) {
    const std::string user(124, 'u');
    const std::string password(124, 'p');
    ScriptedServer server({Step::Send("+OK\r\n"), Step::Expect("USER " + user),
                           Step::Send("+OK\r\n"), Step::Expect("PASS " + password),
                           Step::Send("+OK\r\n"), Step::Expect("QUIT"), Step::Send("+OK\r\n")});
    EXPECT_TRUE(Connect(pop, server, user, password));
    pop.Disconnect();
    ExpectScriptRan(server);
}

TEST_F(Pop3ConnectionTest, RefusedConnectionReportsTheSocketError) {
    std::uint16_t closedPort = 0;
    {
        ScriptedServer server(Script{});
        closedPort = server.port();
    } // listener closed: nothing listens there now
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(pop.Connect("127.0.0.1", "u", "p", closedPort));
    EXPECT_EQ(port::GetLastErrorValue(), port::kErrSocketConnRefused);
    EXPECT_FALSE(pop.Disconnect()); // no session was open
}

class Pop3ProxyKindTest : public Pop3ConnectionTest, public ::testing::WithParamInterface<int> {};

// A kind that names no tunnel connects nothing: neither the proxy nor the
// server is reached, and the greeting read fails. (The tunnels themselves:
// ProxySocketTest, ProxyDovecotTest.)
TEST_P(Pop3ProxyKindTest, UnknownKindConnectsNothing) {
    ScriptedServerOptions options;
    options.acceptTimeoutMs = 500;
    ScriptedServer server(Session({}), options);
    pop.m_nReadTimeoutMs = 200;
    pop.m_nProxyKind = GetParam();
    pop.m_strProxyHost = "127.0.0.1";
    pop.m_nProxyPort = server.port();
    port::SetLastErrorValue(kUntouched);
    EXPECT_FALSE(Connect(server));
    pop.Disconnect();
    server.Stop();
    EXPECT_TRUE(server.connections().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, Pop3ProxyKindTest, ::testing::Values(-1, 4, 7));

// --- TLS -------------------------------------------------------------------------

// Which servers the session accepts (the certificate table) and how long a
// slow handshake may take are tested for both protocols in TlsChannelTest.

// A server that completes the handshake (its TLS 1.3 session tickets make
// the socket readable without any application data) and then stays
// silent, and one that accepts the connection but never answers the
// handshake: both must cost no more than the read time-outs.
struct TlsSilenceCase {
    const char* name;
    bool handshake;
};
void PrintTo(const TlsSilenceCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3TlsSilenceTest : public Pop3ConnectionTest,
                           public ::testing::WithParamInterface<TlsSilenceCase> {};

TEST_P(Pop3TlsSilenceTest, SilentServerEndsWithinTheReadTimeOut) {
    tavlo::test::ScopedEnvironmentVariable trust("SSL_CERT_FILE",
                                                 tavlo::test::TestDataPath("tls/ca.crt"));
    ScriptedServerOptions options;
    options.lingerMs = 100;
    if (GetParam().handshake)
        options.tls = tavlo::test::TestTlsIdentity("server");
    ScriptedServer server(Script{Step::Sleep(6000)}, options);
    pop.m_bUseTls = 1;
    pop.m_nReadTimeoutMs = 500;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pop.Connect("localhost", "u", "p", server.port()));
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_EQ(pop.m_bSessionOpen, 0);
    server.Stop();
}

INSTANTIATE_TEST_SUITE_P(Servers, Pop3TlsSilenceTest,
                         ::testing::Values(TlsSilenceCase{"AfterHandshake", true},
                                           TlsSilenceCase{"NoHandshake", false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
