// The check cycle over POP3 accounts, against scripted servers on loopback:
// what is sent, what is reported, and how markers and the announced flag
// move.
#include "config/AccountStore.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/Socket.h"
#include "platform/headless/HeadlessUi.h"
#include "support/LoopbackSockets.h"
#include "support/MemoryProfileStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using tavlo::test::MemoryProfileStore;
using tavlo::test::Script;
using tavlo::test::ScriptedServer;
using tavlo::test::Step;

// One POP3 login that ends in STAT; the caller appends the rest.
Script LoginAndStat(const std::string& user, const std::string& pass, const std::string& stat) {
    return {Step::Send("+OK ready\r\n"),  Step::Expect("USER " + user),    Step::Send("+OK\r\n"),
            Step::Expect("PASS " + pass), Step::Send("+OK logged in\r\n"), Step::Expect("STAT"),
            Step::Send(stat + "\r\n")};
}

// A mailbox of the given unique ids, as a check without blocked senders
// sees it: STAT, UIDL (only when not empty), QUIT.
Script Mailbox(const std::vector<std::string>& ids, const std::string& user = "u",
               const std::string& pass = "p") {
    Script s = LoginAndStat(user, pass, "+OK " + std::to_string(ids.size()) + " 4242");
    if (!ids.empty()) {
        std::string listing = "+OK\r\n";
        for (std::size_t i = 0; i < ids.size(); ++i)
            listing += std::to_string(i + 1) + " " + ids[i] + "\r\n";
        listing += ".\r\n";
        s.push_back(Step::Expect("UIDL"));
        s.push_back(Step::Send(listing));
    }
    s.push_back(Step::Expect("QUIT"));
    s.push_back(Step::Send("+OK bye\r\n"));
    return s;
}

CAccount Pop3Account(const std::string& name, std::uint16_t port, const std::string& marker = "0") {
    CAccount a;
    a.m_strAccountName = name;
    a.m_strUserName = "u";
    a.m_strPassword = "p";
    a.m_strServer = "127.0.0.1:" + std::to_string(port);
    a.m_strSecurity = "NORMAL";
    a.m_strLastMessage = marker;
    a.m_strAccountType = "POP3";
    return a;
}

using tavlo::test::ClosedPort; // a loopback port with nothing listening on it

class CheckMailTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavlo::test::EnsureSocketLayer();
        m_dlg.SetReportHandler([this](bool manual, bool anyMail, const std::string& report) {
            m_calls.push_back({manual, anyMail, report});
        });
    }

    // Accounts as they were stored after the cycle.
    std::vector<CAccount> StoredAccounts() {
        std::vector<CAccount> accounts;
        LoadAccounts(m_store, accounts);
        return accounts;
    }

    int AccountWrites() const {
        int n = 0;
        for (const auto& w : m_store.Writes())
            n += w.name == "Accounts" ? 1 : 0;
        return n;
    }

    struct Call {
        bool manual;
        bool anyMail;
        std::string report;
    };

    MemoryProfileStore m_store;
    port::headless::HeadlessUi m_ui;
    CVeskApp m_app{m_store, m_ui, "Tavlo"};
    CVeskDlg m_dlg{m_app, CVeskDlg::CheckOnly{}};
    std::vector<Call> m_calls;
};

TEST_F(CheckMailTest, NoAccountsHandsOverAnEmptyReport) {
    m_dlg.CheckMail(false);
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_FALSE(m_calls[0].manual);
    EXPECT_FALSE(m_calls[0].anyMail);
    EXPECT_EQ(m_calls[0].report, "");
}

TEST_F(CheckMailTest, NewAccountSendsExactlyTheCheckDialogueAndTakesTheLastId) {
    ScriptedServer server(Mailbox({"uid-a", "uid-b"}));
    m_dlg.m_accounts.push_back(Pop3Account("Work", server.port()));
    m_dlg.m_bMailAnnounced = true;

    m_dlg.CheckMail(true);

    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.errors(), std::vector<std::string>{});
    EXPECT_EQ(server.transcript(),
              (std::vector<std::string>{"USER u", "PASS p", "STAT", "UIDL", "QUIT"}));
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_TRUE(m_calls[0].manual);
    EXPECT_TRUE(m_calls[0].anyMail);
    EXPECT_EQ(m_calls[0].report, "Work 2 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "uid-b");
    EXPECT_FALSE(m_dlg.m_bMailAnnounced);
    ASSERT_EQ(StoredAccounts().size(), 1u);
    EXPECT_EQ(StoredAccounts()[0].m_strLastMessage, "uid-b");
}

TEST_F(CheckMailTest, UniqueIdHoldingANulIsKeptUpToItAndEveryMarkerIsStored) {
    // A broken server's id with a NUL in it: the marker ends before the
    // NUL, so it can be stored, and the other account's marker is stored
    // as well.
    ScriptedServer broken(Mailbox({"a", std::string("bad\0id", 6)}));
    ScriptedServer good(Mailbox({"y", "z"}));
    m_dlg.m_accounts = {Pop3Account("Broken", broken.port()), Pop3Account("Good", good.port())};

    m_dlg.CheckMail(false);

    for (ScriptedServer* server : {&broken, &good}) {
        ASSERT_TRUE(server->WaitUntilFinished());
        EXPECT_EQ(server->errors(), std::vector<std::string>{});
        EXPECT_EQ(server->transcript(),
                  (std::vector<std::string>{"USER u", "PASS p", "STAT", "UIDL", "QUIT"}));
    }
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Broken 2 mail.\nGood 2 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "bad");
    EXPECT_EQ(m_dlg.m_accounts[1].m_strLastMessage, "z");
    const std::vector<CAccount> stored = StoredAccounts();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].m_strLastMessage, "bad");
    EXPECT_EQ(stored[1].m_strLastMessage, "z");
}

TEST_F(CheckMailTest, UnchangedMarkerReportsAgainWithoutSavingOrClearingTheFlag) {
    ScriptedServer server(Mailbox({"x1", "x2", "x3"}));
    m_dlg.m_accounts.push_back(Pop3Account("Home", server.port(), "x3"));
    m_dlg.m_bMailAnnounced = true;

    m_dlg.CheckMail(false);

    ASSERT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Home 3 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "x3");
    EXPECT_TRUE(m_dlg.m_bMailAnnounced);
    EXPECT_EQ(AccountWrites(), 0);
}

TEST_F(CheckMailTest, EmptyMailboxContributesNothingAndAsksNoListing) {
    ScriptedServer server(Mailbox({}));
    m_dlg.m_accounts.push_back(Pop3Account("Work", server.port(), "old"));

    m_dlg.CheckMail(false);

    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.transcript(), (std::vector<std::string>{"USER u", "PASS p", "STAT", "QUIT"}));
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_FALSE(m_calls[0].anyMail);
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "old");
}

TEST_F(CheckMailTest, AccountsWithoutCredentialsArePassedOverAndTheNextIsAsked) {
    ScriptedServer server(Mailbox({"m1"}));
    const std::uint16_t unused = ClosedPort();
    CAccount noPassword = Pop3Account("NoPass", unused);
    noPassword.m_strPassword.clear();
    CAccount noUser = Pop3Account("NoUser", unused);
    noUser.m_strUserName.clear();
    CAccount noServer = Pop3Account("NoServer", unused);
    noServer.m_strServer.clear();
    m_dlg.m_accounts = {noPassword, noUser, noServer, Pop3Account("Good", server.port())};

    m_dlg.CheckMail(false);

    ASSERT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Good 1 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "0");
}

TEST_F(CheckMailTest, UnreachableAccountAfterAMailboxKeepsItsMarker) {
    ScriptedServer server(Mailbox({"a", "b", "c", "d", "e"}));
    m_dlg.m_accounts = {Pop3Account("First", server.port()),
                        Pop3Account("Down", ClosedPort(), "kept")};

    m_dlg.CheckMail(false);

    ASSERT_TRUE(server.WaitUntilFinished());
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "First 5 mail.");
    EXPECT_EQ(m_dlg.m_accounts[1].m_strLastMessage, "kept");
}

TEST_F(CheckMailTest, AccountsWithTheSameNameReportEachOnItsOwnLine) {
    ScriptedServer one(Mailbox({"a", "b", "c"}));
    ScriptedServer two(Mailbox({"z"}));
    m_dlg.m_accounts = {Pop3Account("Work", one.port()), Pop3Account("Work", two.port())};

    m_dlg.CheckMail(false);

    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Work 3 mail.\nWork 1 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "c");
    EXPECT_EQ(m_dlg.m_accounts[1].m_strLastMessage, "z");
}

TEST_F(CheckMailTest, RefusedLoginContributesNothingAndKeepsTheMarker) {
    ScriptedServer server(Script{Step::Send("+OK ready\r\n"), Step::Expect("USER u"),
                                 Step::Send("+OK\r\n"), Step::Expect("PASS p"),
                                 Step::Send("-ERR invalid password\r\n"), Step::Expect("QUIT"),
                                 Step::Send("+OK\r\n")});
    m_dlg.m_accounts.push_back(Pop3Account("Work", server.port(), "m"));

    m_dlg.CheckMail(false);

    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.transcript(), (std::vector<std::string>{"USER u", "PASS p", "QUIT"}));
    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_FALSE(m_calls[0].anyMail);
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "m");
}

// A UIDL listing shorter than STAT: the id of the last message cannot be
// had. That fails the look-up (it never throws), the empty id replaces the
// marker, and the cycle goes on with the next account.
TEST_F(CheckMailTest, ListingShorterThanStatDoesNotEndTheCycle) {
    Script shortListing = LoginAndStat("u", "p", "+OK 3 300");
    shortListing.push_back(Step::Expect("UIDL"));
    shortListing.push_back(Step::Send("+OK\r\n1 only-one\r\n.\r\n"));
    shortListing.push_back(Step::Expect("QUIT"));
    shortListing.push_back(Step::Send("+OK\r\n"));
    ScriptedServer broken(shortListing);
    ScriptedServer good(Mailbox({"g1", "g2"}));
    m_dlg.m_accounts = {Pop3Account("Broken", broken.port(), "before"),
                        Pop3Account("Good", good.port())};

    m_dlg.CheckMail(false);

    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Broken 3 mail.\nGood 2 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "");
    EXPECT_EQ(m_dlg.m_accounts[1].m_strLastMessage, "g2");
}

// A server that accepts and never says a word costs one greeting wait and
// one QUIT wait of the session's read time-out; the next account is still
// checked.
TEST_F(CheckMailTest, SilentServerEndsWithinTheReadTimeOuts) {
    ScriptedServer silent(Script{Step::Sleep(15000)});
    // The good server is reached only after the silent one's ten seconds.
    tavlo::test::ScriptedServerOptions patient;
    patient.acceptTimeoutMs = 30000;
    ScriptedServer good(Mailbox({"g1"}), patient);
    m_dlg.m_accounts = {Pop3Account("Silent", silent.port()), Pop3Account("Good", good.port())};

    const auto start = std::chrono::steady_clock::now();
    m_dlg.CheckMail(false);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Good 1 mail.");
    EXPECT_GE(seconds, 9.0);
    EXPECT_LT(seconds, 14.0);
    silent.Stop();
}

TEST_F(CheckMailTest, InvalidServerPortContributesNothing) {
    ScriptedServer good(Mailbox({"g1"}));
    CAccount bad = Pop3Account("Bad", 0);
    for (const char* server :
         {"127.0.0.1:", "127.0.0.1:0", "127.0.0.1:70000", "127.0.0.1:x1", ":110"}) {
        bad.m_strServer = server;
        m_dlg.m_accounts.push_back(bad);
    }
    m_dlg.m_accounts.push_back(Pop3Account("Good", good.port()));

    m_dlg.CheckMail(false);

    ASSERT_EQ(m_calls.size(), 1u);
    EXPECT_EQ(m_calls[0].report, "Good 1 mail.");
}

} // namespace
