// The IMAP4 client session against scripted servers on loopback: the exact
// command lines, LOGIN quoting and refusals, the preconditions of the
// commands, the tag counter across a session, the secure port (TLS from the
// first byte, verified), the keep-alive thread and the client's end.
#include "net/imap/UT_IMAP4Client.h"

#include "UT_IMAP4TestScripts.h"
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_DataSource.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tavlo::test;
using namespace tavlo::test::imap4;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

class ImapClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureSocketLayer();
        imap::SetNextTagValue(1);
    }

    static void ExpectScriptRan(ScriptedServer& server) {
        ASSERT_TRUE(server.WaitUntilFinished());
        for (const std::string& e : server.errors())
            ADD_FAILURE() << e;
    }
};

// A client that records every result passing ReportResult.
class ReportingClient : public CUT_IMAP4Client {
public:
    ~ReportingClient() override { EndKeepAlive(); }
    ResultCode ReportResult(ResultCode code) override {
        results.push_back(code);
        return code;
    }
    std::vector<ResultCode> results;
};

// --- LOGIN ------------------------------------------------------------------------------

struct LoginCase {
    const char* name;
    std::string user;
    std::string password;
    std::string line;
};

class ImapLoginTest : public ImapClientTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(ImapLoginTest, SendsUserAndPasswordAsQuotedStrings) {
    const LoginCase& c = GetParam();
    ScriptedServer server(Script{Step::Send(kGreeting), Step::Expect("A0001 " + c.line),
                                 Step::Send("A0001 OK LOGIN completed\r\n")});
    CUT_IMAP4Client client;
    client.SetPort(server.port());
    EXPECT_EQ(client.OpenSession("127.0.0.1", c.user, c.password), UT::Success);
    EXPECT_TRUE(client.IsLoggedIn());
    EXPECT_EQ(client.GetState(), Authenticated);
    ExpectScriptRan(server);
}

INSTANTIATE_TEST_SUITE_P(Credentials, ImapLoginTest,
                         ::testing::Values(LoginCase{"Plain", "u", "p", "LOGIN \"u\" \"p\""},
                                           LoginCase{"SpacesQuotesBackslashes", "john smith",
                                                     "pa ss\"w\\d",
                                                     "LOGIN \"john smith\" \"pa ss\\\"w\\\\d\""},
                                           LoginCase{"EmptyPassword", "u@example.org", "",
                                                     "LOGIN \"u@example.org\" \"\""}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
    const char* name;
    std::string user;
    std::string password;
};

class ImapLoginRefusedTest : public ImapClientTest,
                             public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ImapLoginRefusedTest, LineBreaksAndNulAreRefusedBeforeAnythingIsSent) {
    ScriptedServerOptions options;
    options.acceptTimeoutMs = 500;
    ScriptedServer server(std::vector<Script>{}, options);
    ReportingClient client;
    client.SetPort(server.port());
    EXPECT_EQ(client.OpenSession("127.0.0.1", GetParam().user, GetParam().password),
              UT::LoginRejected);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.results.back(), UT::LoginRejected);
    server.WaitUntilFinished(2000);
    EXPECT_TRUE(server.connections().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Injections, ImapLoginRefusedTest,
    ::testing::Values(RefusedCase{"CrInPassword", "u", "p\rA0002 DELETE INBOX"},
                      RefusedCase{"LfInPassword", "u", "p\nx"},
                      RefusedCase{"NulInPassword", "u", std::string("p\0x", 3)},
                      RefusedCase{"LfInUser", "u\n", "p"},
                      RefusedCase{"CrLfInUser", "u\r\nA0002 LOGOUT", "p"},
                      RefusedCase{"LineTooLong", "u", std::string(1000, 'p')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImapClientTest, WrongPasswordIsRejectedAndTheEndSendsNoLogout) {
    ScriptedServer server(Script{Step::Send(kGreeting), Step::Expect("A0001 LOGIN \"u\" \"bad\""),
                                 Step::Send("A0001 NO [AUTHENTICATIONFAILED] Authentication "
                                            "failed.\r\n"),
                                 Step::WaitForClientClose()});
    {
        CUT_IMAP4Client client;
        client.SetPort(server.port());
        EXPECT_EQ(client.OpenSession("127.0.0.1", "u", "bad"), UT::LoginRejected);
        EXPECT_TRUE(client.IsConnected()); // until the session is closed or the client ends
        EXPECT_FALSE(client.IsLoggedIn());
        MailboxStatus status;
        EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UNSEEN", status), UT::NotLoggedIn);
    }
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), Lines{"A0001 LOGIN \"u\" \"bad\""});
}

TEST_F(ImapClientTest, MissingGreetingWaitsTheResponseTimeOutThenLogsIn) {
    ScriptedServerOptions options;
    options.ioTimeoutMs = 30000;
    ScriptedServer server(
        Script{Step::Expect("A0001 LOGIN \"u\" \"p\""), Step::Send("A0001 OK LOGIN completed\r\n")},
        options);
    CUT_IMAP4Client client; // the default time-out of 15 seconds
    EXPECT_EQ(client.GetResponseTimeOut(), 15);
    client.SetPort(server.port());
    const auto start = Clock::now();
    EXPECT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(14500));
    EXPECT_LT(waited, std::chrono::milliseconds(20000));
    ExpectScriptRan(server);
}

TEST_F(ImapClientTest, LoginReplyThatNeverComesIsRejected) {
    ScriptedServer server(
        Script{Step::Send(kGreeting), Step::Expect("A0001 LOGIN \"u\" \"p\""), Step::Sleep(3000)});
    CUT_IMAP4Client client;
    client.SetResponseTimeOut(1);
    client.SetPort(server.port());
    EXPECT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::LoginRejected);
}

TEST_F(ImapClientTest, ConnectionFailuresKeepTheirCodes) {
    // A port nothing listens on: take one from a listener and close it.
    std::uint16_t freePort = 0;
    {
        ScriptedServerOptions options;
        options.acceptTimeoutMs = 1;
        ScriptedServer probe(std::vector<Script>{}, options);
        freePort = probe.port();
    }
    CUT_IMAP4Client client;
    client.SetPort(freePort);
    EXPECT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::ConnectFailed);
    EXPECT_EQ(client.OpenSession("no-such-host.invalid", "u", "p"), UT::HostUnresolved);
    // A host text with a line break or NUL names no host: nothing is looked
    // up or connected.
    for (const std::string& host :
         {std::string("127.0.0.1\n"), std::string("127.0.0.1\r"), std::string("127.0.0.1\0x", 11)})
        EXPECT_EQ(client.OpenSession(host, "u", "p"), UT::HostUnresolved);
    EXPECT_FALSE(client.IsConnected());
}

// --- the commands --------------------------------------------------------------------------

struct Command {
    std::function<ResultCode(CUT_IMAP4Client&)> call;
    std::string line; // what follows the tag
};

TEST_F(ImapClientTest, EveryCommandSendsItsLine) {
    const std::vector<Command> commands{
        {[](auto& c) { return c.ExamineMailbox("Drafts"); }, "EXAMINE \"Drafts\""},
        {[](auto& c) { return c.SelectMailbox("INBOX"); }, "SELECT \"INBOX\""},
        {[](auto& c) { return c.CreateMailbox("a\"b\\c"); }, "CREATE \"a\\\"b\\\\c\""},
        {[](auto& c) { return c.DeleteMailbox("Old"); }, "DELETE \"Old\""},
        {[](auto& c) { return c.RenameMailbox("Old", "New"); }, "RENAME \"Old\" \"New\""},
        {[](auto& c) { return c.SubscribeMailbox("News"); }, "SUBSCRIBE \"News\""},
        {[](auto& c) { return c.UnsubscribeMailbox("News"); }, "UNSUBSCRIBE \"News\""},
        {[](auto& c) { return c.ListMailboxes("", "*"); }, "LIST \"\" \"*\""},
        {[](auto& c) { return c.ListSubscribed("~", "%"); }, "LSUB \"~\" \"%\""},
        {[](auto& c) {
             MailboxStatus s;
             return c.QueryMailboxStatus("INBOX", "UNSEEN", s);
         },
         "STATUS \"INBOX\" (UNSEEN)"},
        {[](auto& c) { return *c.QueryCapabilities() != '\0' ? UT::Success : UT::Failed; },
         "CAPABILITY"},
        {[](auto& c) { return c.Checkpoint(); }, "CHECK"},
        {[](auto& c) { return c.ExpungeMailbox(); }, "EXPUNGE"},
        {[](auto& c) { return c.SearchMessages("UNSEEN", "UTF-8", true); },
         "UID SEARCH CHARSET UTF-8 UNSEEN"},
        {[](auto& c) { return c.SearchMessages("ALL", nullptr, false); }, "SEARCH ALL"},
        {[](auto& c) { return c.CopyMessages("1:3", "Archive", true); },
         "UID COPY 1:3 \"Archive\""},
        {[](auto& c) { return c.FetchMessages("2", CUT_IMAP4Client::kFetchWhole, true, true); },
         "UID FETCH 2 (RFC822.SIZE FLAGS UID INTERNALDATE BODY[])"},
        {[](auto& c) { return c.FetchMessages("1", CUT_IMAP4Client::kFetchHeader, false, false); },
         "FETCH 1 (RFC822.SIZE FLAGS UID INTERNALDATE BODY.PEEK[HEADER])"},
        {[](auto& c) {
             return c.StoreFlags("1", CUT_IMAP4Client::StoreAddSilent,
                                 ImapFlag::Seen | ImapFlag::Deleted, false);
         },
         "STORE 1 +FLAGS.SILENT (\\Deleted \\Seen)"},
        {[](auto& c) { return c.StoreFlags("4", CUT_IMAP4Client::StoreRemove, 0, true); },
         "UID STORE 4 -FLAGS ()"},
        {[](auto& c) { return c.StoreItems("1", "FLAGS", "\\Seen", true); },
         "UID STORE 1 FLAGS (\\Seen)"},
        {[](auto& c) { return c.KeepAlive(); }, "NOOP"},
        {[](auto& c) { return c.CloseMailbox(); }, "CLOSE"},
    };

    std::vector<Step> steps;
    int tag = 2;
    for (const Command& command : commands) {
        const std::string reply =
            (command.line == "CAPABILITY" ? "* CAPABILITY IMAP4rev1 IDLE\r\n" : "") + Tag(tag) +
            " OK done\r\n";
        for (Step& s : Exchange(tag++, command.line, reply))
            steps.push_back(std::move(s));
    }
    // APPEND: the command, the server's go-ahead, the literal, its line end.
    steps.push_back(
        Step::Expect(Tag(tag) + " APPEND \"Sent\" (\\Seen) \"17-Jul-1996 02:44:25 -0700\" {4}"));
    steps.push_back(Step::Send("+ Ready for literal data\r\n"));
    steps.push_back(Step::ExpectBytes("Hi\r\n\r\n"));
    steps.push_back(Step::Send(Tag(tag) + " OK APPEND completed\r\n"));
    for (Step& s : Logout(tag + 1))
        steps.push_back(std::move(s));
    ScriptedServer server(LoggedIn(std::move(steps)));

    {
        CUT_IMAP4Client client;
        client.SetPort(server.port());
        ASSERT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
        for (const Command& command : commands)
            EXPECT_EQ(command.call(client), UT::Success) << command.line;
        EXPECT_STREQ(client.QueryCapabilities(), "IMAP4rev1 IDLE\r\n");
        EXPECT_EQ(client.GetState(), Authenticated); // CLOSE ends the selection
        char message[] = "Hi\r\n";
        CUT_BufferDataSource source(message, sizeof message);
        EXPECT_EQ(
            client.AppendFlagged("Sent", source, ImapFlag::Seen, "17-Jul-1996 02:44:25 -0700"),
            UT::Success);
    }
    ExpectScriptRan(server);
}

TEST_F(ImapClientTest, AppendWithoutGoAheadFails) {
    ScriptedServer server(
        LoggedIn(Join({{Step::Expect(Tag(2) + " APPEND \"Sent\" {2}"),
                        Step::Send(Tag(2) + " NO [TRYCREATE] no such mailbox\r\n")},
                       Logout(3)})));
    CUT_IMAP4Client client;
    client.SetPort(server.port());
    ASSERT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
    char message[] = "Hi";
    CUT_BufferDataSource source(message, sizeof message);
    EXPECT_EQ(client.AppendMessage("Sent", source, "", nullptr), UT::Failed);
    EXPECT_EQ(client.CloseSession(), UT::Success);
    ExpectScriptRan(server);
}

TEST_F(ImapClientTest, CommandsWithoutASessionSendNothing) {
    ReportingClient client;
    MailboxStatus status{"mine", 1, 2, 3, 4, 5};
    EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UNSEEN", status), UT::NotLoggedIn);
    EXPECT_EQ(status.name, "mine");
    EXPECT_EQ(status.uidNext, 4);
    EXPECT_EQ(client.SelectMailbox("INBOX"), UT::NotLoggedIn);
    EXPECT_EQ(client.ListMailboxes("", "*"), UT::NotLoggedIn);
    EXPECT_EQ(client.Checkpoint(), UT::NotLoggedIn);
    EXPECT_EQ(client.SearchMessages(nullptr, nullptr, false), UT::NotLoggedIn);
    EXPECT_EQ(client.FetchMessages("1", CUT_IMAP4Client::kFetchWhole, false, false),
              UT::NotLoggedIn);
    EXPECT_EQ(client.KeepAlive(), UT::NotLoggedIn);
    EXPECT_STREQ(client.QueryCapabilities(), "");
    EXPECT_EQ(client.CloseSession(), UT::Success);
    EXPECT_EQ(client.results.back(), UT::Success);
    EXPECT_EQ(client.GetState(), NotConnected);
}

TEST_F(ImapClientTest, ArgumentsAreCheckedBeforeAnythingIsSent) {
    // Only LOGIN and LOGOUT reach the server.
    ScriptedServer server(LoggedIn(Logout(2)));
    ReportingClient client;
    client.SetPort(server.port());
    ASSERT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
    MailboxStatus status;
    EXPECT_EQ(client.QueryMailboxStatus(nullptr, "UNSEEN", status), UT::NullArgument);
    EXPECT_EQ(client.QueryMailboxStatus("INBOX", nullptr, status), UT::NullArgument);
    EXPECT_EQ(client.SelectMailbox(nullptr), UT::NullArgument);
    EXPECT_EQ(client.RenameMailbox("a", nullptr), UT::NullArgument);
    EXPECT_EQ(client.SearchMessages(nullptr, nullptr, false), UT::NullArgument);
    EXPECT_EQ(client.SearchMessages("ALL", nullptr, false), UT::NeedsSelected);
    EXPECT_EQ(client.Checkpoint(), UT::NeedsSelected);
    EXPECT_EQ(client.CopyListEntry(0, nullptr), UT::NullArgument);
    // A line break would end the command early and start another.
    EXPECT_EQ(client.SelectMailbox("INBOX\r\nA0099 DELETE INBOX"), UT::Failed);
    EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UNSEEN)\r\nA0099 LOGOUT", status), UT::Failed);
    EXPECT_EQ(client.ListMailboxes("", "*\n"), UT::Failed);
    EXPECT_EQ(client.results.back(), UT::Failed);
    EXPECT_EQ(client.CloseSession(), UT::Success);
    EXPECT_EQ(client.GetState(), LoggedOut);
    ExpectScriptRan(server);
}

TEST_F(ImapClientTest, OverLongCommandLineIsCutAt999Characters) {
    const std::string name(1200, 'm');
    // The line is cut, its line end with it; the server sees the rest of
    // the line only when the next command ends it.
    const std::string sent = (Tag(2) + " CREATE \"" + name).substr(0, 999);
    ScriptedServer server(
        LoggedIn({Step::ExpectBytes(sent), Step::Send(Tag(2) + " BAD line too long\r\n")}));
    CUT_IMAP4Client client;
    client.SetPort(server.port());
    ASSERT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
    EXPECT_EQ(client.CreateMailbox(name.c_str()), UT::CommandBad);
    ExpectScriptRan(server);
}

TEST_F(ImapClientTest, TagsWrapAfterA9999WithinACheck) {
    imap::SetNextTagValue(9999);
    ScriptedServer server(Script{
        Step::Send(kGreeting), Step::Expect("A9999 LOGIN \"u\" \"p\""),
        Step::Send("A9999 OK LOGIN completed\r\n"), Step::Expect("A0000 STATUS \"INBOX\" (UNSEEN)"),
        Step::Send("* STATUS INBOX (UNSEEN 2)\r\nA0000 OK STATUS completed\r\n"),
        Step::Expect("A0001 LOGOUT"), Step::Send("* BYE\r\nA0001 OK LOGOUT completed\r\n")});
    {
        CUT_IMAP4Client client;
        client.SetPort(server.port());
        ASSERT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
        MailboxStatus status;
        ASSERT_EQ(client.QueryMailboxStatus("INBOX", "UNSEEN", status), UT::Success);
        EXPECT_EQ(status.unseen, 2);
    }
    ExpectScriptRan(server);
}

// --- the client's end and the keep-alive thread -------------------------------------------

TEST_F(ImapClientTest, ClientWithoutSessionSendsNothing) {
    ScriptedServerOptions options;
    options.acceptTimeoutMs = 300;
    ScriptedServer server(std::vector<Script>{}, options);
    { CUT_IMAP4Client client; }
    server.WaitUntilFinished(2000);
    EXPECT_TRUE(server.connections().empty());
}

TEST_F(ImapClientTest, EndOfALoggedInClientLogsOutWithinASecond) {
    ScriptedServer server(LoggedIn(Logout(2)));
    auto client = std::make_unique<CUT_IMAP4Client>();
    client->SetPort(server.port());
    ASSERT_EQ(client->OpenSession("127.0.0.1", "u", "p"), UT::Success);
    const auto start = Clock::now();
    client.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    ExpectScriptRan(server);
    EXPECT_TRUE(server.connections().at(0).clientClosed);
}

// A client whose keep-alive hooks count on the keep-alive thread.
class KeepAliveClient : public CUT_IMAP4Client {
public:
    ~KeepAliveClient() override { EndKeepAlive(); }
    bool OnKeepAliveStart() override {
        ++starts;
        return true;
    }
    void OnKeepAliveEnd() override { ++ends; }
    std::atomic<int> starts{0};
    std::atomic<int> ends{0};
};

// Sends the first keep-alive NOOP only, so that a test knows every line.
class OneNoopClient : public KeepAliveClient {
public:
    ~OneNoopClient() override { EndKeepAlive(); }
    ResultCode KeepAlive() override {
        return noops++ == 0 ? CUT_IMAP4Client::KeepAlive() : UT::Success;
    }
    std::atomic<int> noops{0};
};

TEST_F(ImapClientTest, KeepAliveSendsNoopOnlyWhileAMailboxIsSelected) {
    ScriptedServerOptions options;
    options.ioTimeoutMs = 8000;
    ScriptedServer server(
        LoggedIn(Join({// Authenticated only: no NOOP for a while, then SELECT.
                       Exchange(2, "SELECT \"INBOX\"", "A0002 OK [READ-WRITE] done\r\n"),
                       Exchange(3, "NOOP", "A0003 OK NOOP completed\r\n"), Logout(4)})),
        options);
    auto client = std::make_unique<OneNoopClient>();
    client->SetKeepAliveInterval(1);
    client->SetPort(server.port());
    ASSERT_EQ(client->OpenSession("127.0.0.1", "u", "p"), UT::Success);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(client->noops.load(), 0);
    ASSERT_EQ(server.transcript().size(), 1u); // only the LOGIN so far
    ASSERT_EQ(client->SelectMailbox("INBOX"), UT::Success);
    // The next tick of the thread sends the NOOP (tag 3).
    for (int i = 0; i < 40 && server.transcript().size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(server.transcript().size(), 3u);
    EXPECT_EQ(client->starts.load(), 1);
    client.reset();
    ExpectScriptRan(server);
}

// A client whose keep-alive end hook takes its time, so that a wait that
// returned before the thread ended would be seen.
class SlowEndClient : public KeepAliveClient {
public:
    ~SlowEndClient() override { EndKeepAlive(); }
    void OnKeepAliveEnd() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        KeepAliveClient::OnKeepAliveEnd();
    }
    void StopKeepAlive() { EndKeepAlive(); }
};

TEST_F(ImapClientTest, EndingTheKeepAliveWaitsForTheThreadToEnd) {
    ScriptedServer server(LoggedIn(Logout(2)));
    SlowEndClient client;
    client.SetPort(server.port());
    ASSERT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::Success);
    for (int i = 0; i < 50 && client.starts.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(client.starts.load(), 1);
    EXPECT_EQ(client.CloseSession(), UT::Success);
    client.StopKeepAlive();
    EXPECT_EQ(client.ends.load(), 1) << "returned before the thread's end";
    client.StopKeepAlive(); // idempotent
    EXPECT_EQ(client.ends.load(), 1);
    ExpectScriptRan(server);
}

TEST_F(ImapClientTest, EndWaitsForAKeepAliveExchangeInProgress) {
    ScriptedServerOptions options;
    options.ioTimeoutMs = 8000;
    // The server never answers the keep-alive NOOP.
    ScriptedServer server(
        LoggedIn({Step::Expect(Tag(2) + " SELECT \"INBOX\""), Step::Send(Tag(2) + " OK done\r\n"),
                  Step::Expect(Tag(3) + " NOOP"), Step::WaitForClientClose()}),
        options);
    auto client = std::make_unique<KeepAliveClient>();
    client->SetKeepAliveInterval(1);
    client->SetResponseTimeOut(2);
    client->SetPort(server.port());
    ASSERT_EQ(client->OpenSession("127.0.0.1", "u", "p"), UT::Success);
    ASSERT_EQ(client->SelectMailbox("INBOX"), UT::Success);
    for (int i = 0; i < 40 && server.transcript().size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(server.transcript().size(), 3u);
    const auto start = Clock::now();
    client.reset(); // must not return while the thread still uses the client
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    ExpectScriptRan(server);
}

// OnExistsChanged as every thread saw it.
struct ExistsLog {
    std::mutex mutex;
    std::vector<int> numbers;
    int fromOtherThreads = 0;
    const std::thread::id caller = std::this_thread::get_id();
};

class ExistsRecordingClient : public CUT_IMAP4Client {
public:
    explicit ExistsRecordingClient(ExistsLog& log) : m_log(log) {}
    ~ExistsRecordingClient() override { EndKeepAlive(); }
    void OnExistsChanged(int count) override {
        std::lock_guard<std::mutex> lock(m_log.mutex);
        m_log.numbers.push_back(count);
        if (std::this_thread::get_id() != m_log.caller)
            ++m_log.fromOtherThreads;
    }

private:
    ExistsLog& m_log;
};

TEST_F(ImapClientTest, EventsOfCommandsAndKeepAliveReachTheHooksOnceEach) {
    // Every reply carries an EXISTS of its own number, whichever thread's
    // command it answers; the tags come in whatever order the two threads
    // take the lock.
    std::vector<int> sent;
    ScriptedServerOptions options;
    options.ioTimeoutMs = 8000;
    ScriptedServer server(
        LoggedIn({Step::Custom([&sent](ScriptedConnection& c) {
            for (int n = 1;; ++n) {
                const std::optional<std::string> line = c.ReadLine();
                if (!line)
                    return false;
                const std::string tag = line->substr(0, line->find(' '));
                if (line->ends_with(" LOGOUT"))
                    return c.Send("* BYE bye\r\n" + tag + " OK done\r\n");
                sent.push_back(n);
                if (!c.Send("* " + std::to_string(n) + " EXISTS\r\n" + tag + " OK done\r\n"))
                    return false;
            }
        })}),
        options);
    ExistsLog log;
    auto client = std::make_unique<ExistsRecordingClient>(log);
    client->SetKeepAliveInterval(1);
    client->SetPort(server.port());
    ASSERT_EQ(client->OpenSession("127.0.0.1", "u", "p"), UT::Success);
    ASSERT_EQ(client->SelectMailbox("INBOX"), UT::Success);
    // Commands, and reads of what the replies stored, while the keep-alive
    // thread sends its NOOPs, until it has delivered events twice.
    const auto deadline = Clock::now() + std::chrono::seconds(6);
    int keepAliveEvents = 0;
    while (keepAliveEvents < 2 && Clock::now() < deadline) {
        ASSERT_EQ(client->Checkpoint(), UT::Success);
        EXPECT_GT(client->GetMessageCount(), 0);
        EXPECT_EQ(std::string(client->LastResponseText()), "done\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> lock(log.mutex);
        keepAliveEvents = log.fromOtherThreads;
    }
    EXPECT_EQ(keepAliveEvents, 2);
    client.reset();
    ExpectScriptRan(server);
    // Each EXISTS reached the hook exactly once.
    std::sort(log.numbers.begin(), log.numbers.end());
    EXPECT_EQ(log.numbers, sent);
}

// --- the secure port ----------------------------------------------------------------------

// Which servers the secure port accepts (the certificate table) and how
// long a slow handshake may take are tested for both protocols in
// TlsChannelTest.

TEST_F(ImapClientTest, SecurePortFacingASilentServerFailsWithinTheConnectTimeOut) {
    // Plain TCP, never a handshake. The server outlasts the bound by far, so
    // the bound tells a time-out of one second from waiting for the server,
    // with room for a loaded machine (and Wine's first trust-store load).
    ScriptedServer server(Script{Step::Sleep(30000)});
    CUT_IMAP4Client client;
    client.UseSecurePort();
    client.SetPort(server.port());
    client.SetConnectTimeOut(1);
    const auto start = Clock::now();
    EXPECT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::ConnectFailed);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(10000));
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(ImapClientTest, SecurePortFacingAPlainServerFails) {
    ScriptedServer server(Script{Step::Send(kGreeting), Step::Sleep(1000)});
    CUT_IMAP4Client client;
    client.UseSecurePort();
    client.SetPort(server.port());
    client.SetConnectTimeOut(3);
    EXPECT_EQ(client.OpenSession("127.0.0.1", "u", "p"), UT::ConnectFailed);
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.connections().at(0).received.find("LOGIN"), std::string::npos);
}

} // namespace
