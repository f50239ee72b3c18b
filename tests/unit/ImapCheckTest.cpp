// The IMAP branch of the check cycle against scripted servers: the exact
// dialogue, the count and the marker, the report line, the "Error Message"
// box and its guard against nested cycles, the secure port.
#include "UT_IMAP4TestScripts.h"
#include "config/Account.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "net/imap/ImapResponse.h"
#include "platform/headless/HeadlessUi.h"
#include "support/MemoryProfileStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace tavlo::test;
using namespace tavlo::test::imap4;
using Lines = std::vector<std::string>;

const std::string kBoxText =
    ": Connection error! Verify your user name, password and incoming mail server.\n\n"
    "If you have a firewall on your computer, allow Tavlo full access to the Internet.";

struct Report {
    bool manual;
    bool anyMail;
    std::string text;
};

struct Box {
    std::string text;
    std::string caption;
};

class ImapCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureSocketLayer();
        imap::SetNextTagValue(1);
        dlg.SetReportHandler([this](bool manual, bool anyMail, const std::string& text) {
            reports.push_back({manual, anyMail, text});
        });
        dlg.SetMessageBoxHandler([this](const std::string& text, const std::string& caption) {
            boxes.push_back({text, caption});
        });
    }

    static CAccount Imap(const std::string& name, const std::string& server,
                         const std::string& marker = "0", const std::string& security = "NORMAL") {
        CAccount a;
        a.m_strAccountName = name;
        a.m_strUserName = "user";
        a.m_strPassword = "pass";
        a.m_strServer = server;
        a.m_strSecurity = security;
        a.m_strLastMessage = marker;
        a.m_strAccountType = "IMAP";
        return a;
    }

    static std::string At(const ScriptedServer& server) {
        return "127.0.0.1:" + std::to_string(server.port());
    }

    // A check of tag t: LOGIN, STATUS UNSEEN, maybe STATUS UIDNEXT, LOGOUT.
    static Script Check(int t, const std::string& unseenReply,
                        const std::string& uidNextReply = "") {
        Script s{Step::Send(kGreeting), Step::Expect(Tag(t) + " LOGIN \"user\" \"pass\""),
                 Step::Send(Tag(t) + " OK LOGIN completed\r\n"),
                 Step::Expect(Tag(t + 1) + " STATUS \"INBOX\" (UNSEEN)"),
                 Step::Send(unseenReply + Tag(t + 1) + " OK STATUS completed\r\n")};
        int next = t + 2;
        if (!uidNextReply.empty()) {
            s.push_back(Step::Expect(Tag(next) + " STATUS \"INBOX\" (UIDNEXT)"));
            s.push_back(Step::Send(uidNextReply));
            ++next;
        }
        for (Step& step : Logout(next))
            s.push_back(std::move(step));
        return s;
    }

    static void ExpectScriptRan(ScriptedServer& server) {
        ASSERT_TRUE(server.WaitUntilFinished());
        for (const std::string& e : server.errors())
            ADD_FAILURE() << e;
    }

    std::size_t AccountWrites() const {
        std::size_t n = 0;
        for (const auto& w : profile.Writes())
            n += w.section == "User" ? 1 : 0;
        return n;
    }

    MemoryProfileStore profile;
    port::headless::HeadlessUi ui;
    CVeskApp app{profile, ui, "tavlo"};
    CVeskDlg dlg{app, CVeskDlg::CheckOnly{}};
    std::vector<Report> reports;
    std::vector<Box> boxes;
};

TEST_F(ImapCheckTest, UnseenMailGivesTheCountTheMarkerAndTheExactDialogue) {
    ScriptedServer server(std::vector<Script>{
        Check(1, "* STATUS \"INBOX\" (UNSEEN 4)\r\n",
              "* STATUS \"INBOX\" (UIDNEXT 120)\r\nA0003 OK STATUS completed\r\n"),
        Check(5, "* STATUS \"INBOX\" (UNSEEN 4)\r\n",
              "* STATUS \"INBOX\" (UIDNEXT 120)\r\nA0007 OK STATUS completed\r\n")});
    dlg.m_accounts = {Imap("Work", At(server))};
    dlg.m_bMailAnnounced = true;

    dlg.CheckMail(false);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].anyMail);
    EXPECT_FALSE(reports[0].manual);
    EXPECT_EQ(reports[0].text, "Work 4 mail.");
    EXPECT_EQ(dlg.m_accounts[0].m_strLastMessage, "120");
    EXPECT_FALSE(dlg.m_bMailAnnounced);
    EXPECT_EQ(AccountWrites(), 1u);

    // The same INBOX again: reported again, nothing new.
    dlg.m_bMailAnnounced = true;
    dlg.CheckMail(true);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[1].manual);
    EXPECT_EQ(reports[1].text, "Work 4 mail.");
    EXPECT_EQ(dlg.m_accounts[0].m_strLastMessage, "120");
    EXPECT_TRUE(dlg.m_bMailAnnounced);
    EXPECT_EQ(AccountWrites(), 1u);

    ExpectScriptRan(server);
    EXPECT_EQ(server.connections()[0].lines,
              (Lines{"A0001 LOGIN \"user\" \"pass\"", "A0002 STATUS \"INBOX\" (UNSEEN)",
                     "A0003 STATUS \"INBOX\" (UIDNEXT)", "A0004 LOGOUT"}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ImapCheckTest, NoUnseenMailAsksNoUidNextAndKeepsTheMarker) {
    ScriptedServer server(Check(1, "* STATUS \"INBOX\" (UNSEEN 0)\r\n"));
    dlg.m_accounts = {Imap("Home", At(server), "77")};
    dlg.m_bMailAnnounced = true;
    dlg.CheckMail(false);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].anyMail);
    EXPECT_EQ(reports[0].text, "");
    EXPECT_EQ(dlg.m_accounts[0].m_strLastMessage, "77");
    EXPECT_TRUE(dlg.m_bMailAnnounced);
    EXPECT_EQ(AccountWrites(), 0u);
    ExpectScriptRan(server);
    EXPECT_EQ(server.transcript(), (Lines{"A0001 LOGIN \"user\" \"pass\"",
                                          "A0002 STATUS \"INBOX\" (UNSEEN)", "A0003 LOGOUT"}));
}

struct QueryCase {
    const char* name;
    std::string unseenReply;
    std::string uidNextReply;
    std::string report;
    std::string marker; // from "77"
};

class ImapCheckQueryTest : public ImapCheckTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(ImapCheckQueryTest, ReadsTheCounters) {
    const QueryCase& c = GetParam();
    ScriptedServer server(Check(1, c.unseenReply, c.uidNextReply));
    dlg.m_accounts = {Imap("Box", At(server), "77")};
    dlg.CheckMail(false);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, c.report);
    EXPECT_EQ(dlg.m_accounts[0].m_strLastMessage, c.marker);
    ExpectScriptRan(server);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ImapCheckQueryTest,
    ::testing::Values(
        // The UIDNEXT query fails: the record keeps the UNSEEN reply's values.
        QueryCase{"UidNextRefused", "* STATUS INBOX (UNSEEN 2)\r\n", "A0003 NO busy\r\n",
                  "Box 2 mail.", "0"},
        // A server that names both counters in its first reply.
        QueryCase{"BothCountersAtOnce", "* STATUS INBOX (UNSEEN 1 UIDNEXT 9)\r\n",
                  "A0003 OK nothing more\r\n", "Box 1 mail.", "9"},
        // UIDNEXT beyond the signed 32-bit range: taken modulo 2^32, so each
        // value still gives a marker of its own.
        QueryCase{"UidNextBeyond31Bits", "* STATUS INBOX (UNSEEN 3)\r\n",
                  "* STATUS INBOX (UIDNEXT 3000000000)\r\nA0003 OK done\r\n", "Box 3 mail.",
                  "-1294967296"},
        // The UNSEEN query fails: nothing counts.
        QueryCase{"UnseenRefused", "A0002 NO [NONEXISTENT] no INBOX\r\n", "", "", "77"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImapCheckTest, RefusedLoginShowsTheBoxAndTheNextAccountsAreStillAsked) {
    ScriptedServer refusing(Script{
        Step::Send(kGreeting), Step::Expect("A0001 LOGIN \"user\" \"pass\""),
        Step::Send("A0001 NO [AUTHENTICATIONFAILED] failed\r\n"), Step::WaitForClientClose()});
    ScriptedServer second(Check(2, "* STATUS INBOX (UNSEEN 0)\r\n"));
    ScriptedServer third(Check(5, "* STATUS INBOX (UNSEEN 5)\r\n",
                               "* STATUS INBOX (UIDNEXT 6)\r\nA0007 OK done\r\n"));
    dlg.m_accounts = {Imap("Work", At(refusing)), Imap("Home", At(second)),
                      Imap("Club", At(third))};
    dlg.CheckMail(false);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error Message");
    EXPECT_EQ(boxes[0].text, "Work" + kBoxText);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "Club 5 mail.");
    EXPECT_EQ(dlg.m_accounts[0].m_strLastMessage, "0");
    EXPECT_EQ(dlg.m_accounts[2].m_strLastMessage, "6");
    ExpectScriptRan(refusing);
    ExpectScriptRan(second);
    ExpectScriptRan(third);
    EXPECT_EQ(refusing.transcript(), Lines{"A0001 LOGIN \"user\" \"pass\""}); // no LOGOUT
}

TEST_F(ImapCheckTest, NoSecondBoxWhileOneIsOpen) {
    // Nothing listens on this port: every check of the account fails.
    std::uint16_t closedPort = 0;
    {
        ScriptedServerOptions options;
        options.acceptTimeoutMs = 1;
        ScriptedServer probe(std::vector<Script>{}, options);
        closedPort = probe.port();
    }
    dlg.m_accounts = {Imap("Work", "127.0.0.1:" + std::to_string(closedPort)),
                      Imap("Other", "127.0.0.1:" + std::to_string(closedPort))};
    int nested = 0;
    dlg.SetMessageBoxHandler([&](const std::string& text, const std::string& caption) {
        boxes.push_back({text, caption});
        // A timer tick in the box's message loop starts another cycle.
        if (nested++ == 0)
            dlg.CheckMail(false);
    });
    dlg.CheckMail(false);
    // The nested cycle, run while Work's box was open, showed none for
    // either account; once that box was closed, the outer cycle went on
    // to Other and showed its box.
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Work" + kBoxText);
    EXPECT_EQ(boxes[1].text, "Other" + kBoxText);
    EXPECT_EQ(reports.size(), 2u); // the nested cycle and the outer one both ended
}

TEST_F(ImapCheckTest, ServerThatSaysByeFailsLikeARefusal) {
    ScriptedServer bye(
        Script{Step::Send("* BYE too many connections\r\n"), Step::CloseConnection()});
    ScriptedServer good(Check(2, "* STATUS INBOX (UNSEEN 1)\r\n",
                              "* STATUS INBOX (UIDNEXT 2)\r\nA0004 OK done\r\n"));
    dlg.m_accounts = {Imap("Busy", At(bye)), Imap("Good", At(good))};
    dlg.CheckMail(false);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Busy" + kBoxText);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "Good 1 mail.");
    ExpectScriptRan(good);
}

TEST_F(ImapCheckTest, UnusableServerTextShowsTheBoxAndSendsNothing) {
    dlg.m_accounts = {Imap("Bad", "127.0.0.1:0"), Imap("Worse", "127.0.0.1:http")};
    dlg.CheckMail(false);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Bad" + kBoxText);
    EXPECT_EQ(boxes[1].text, "Worse" + kBoxText);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].anyMail);
}

TEST_F(ImapCheckTest, SslAccountTalksTlsFromTheFirstByte) {
    ScopedEnvironmentVariable trust("SSL_CERT_FILE", TestDataPath("tls/ca.crt"));
    ScriptedServerOptions options;
    options.tls = TestTlsIdentity("server");
    ScriptedServer server(Check(1, "* STATUS INBOX (UNSEEN 2)\r\n",
                                "* STATUS INBOX (UIDNEXT 31)\r\nA0003 OK done\r\n"),
                          options);
    ScriptedServerOptions impostorOptions;
    impostorOptions.tls = TestTlsIdentity("impostor");
    ScriptedServer impostor(Script{Step::Send(kGreeting)}, impostorOptions);
    dlg.m_accounts = {Imap("Secure", "localhost:" + std::to_string(server.port()), "0", "SSL"),
                      Imap("Fake", "localhost:" + std::to_string(impostor.port()), "0", "SSL")};
    dlg.CheckMail(false);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "Secure 2 mail.");
    EXPECT_EQ(dlg.m_accounts[0].m_strLastMessage, "31");
    ExpectScriptRan(server);
    EXPECT_TRUE(server.connections()[0].tlsHandshakeOk);
    EXPECT_EQ(server.connections()[0].tlsServerName, "localhost");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Fake" + kBoxText);
    ASSERT_TRUE(impostor.WaitUntilFinished());
    EXPECT_EQ(impostor.connections().at(0).received, "");
}

} // namespace
