// The blocked-sender sweep against a scripted POP3 mailbox on loopback: the
// exact dialogue (which RETR and DELE, in which order), what the check then
// reports, how the markers move, and what a running program downloads again
// on the next cycle.
#include "core/BlockedSweep.h"

#include "config/BlockedSenders.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "net/pop3/Pop3Connection.h"
#include "platform/headless/HeadlessUi.h"
#include "support/MemoryProfileStore.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using tavlo::test::MemoryProfileStore;
using tavlo::test::Script;
using tavlo::test::ScriptedConnection;
using tavlo::test::ScriptedServer;
using tavlo::test::Step;
using Lines = std::vector<std::string>;

struct Message {
    std::string uid;
    std::string from; // the From field's value; empty: no From field
};

// A POP3 server's mailbox (RFC 1939) that answers whatever the client asks,
// in one or more sessions: DELE marks, QUIT removes the marked messages and
// renumbers the rest. Faults of broken servers are switched on by fields.
class Mailbox {
public:
    explicit Mailbox(std::vector<Message> messages) : m_messages(std::move(messages)) {}

    void Deliver(Message message) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    Lines Uids() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        Lines uids;
        for (const Message& m : m_messages)
            uids.push_back(m.uid);
        return uids;
    }

    std::set<int> failingRetr; // message numbers whose RETR is refused
    int listingsShortBy = 0;   // LIST and UIDL leave out the last messages

    // One session as a script step.
    Step Session() {
        return Step::Custom([this](ScriptedConnection& c) { return Serve(c); });
    }

private:
    static std::string Text(const Message& m) {
        std::string text;
        if (!m.from.empty())
            text += "From: " + m.from + "\r\n";
        text += "Subject: message " + m.uid + "\r\n\r\nBody of " + m.uid + ".\r\n";
        return text;
    }

    bool Serve(ScriptedConnection& c) {
        std::set<std::size_t> deleted;
        if (!c.Send("+OK ready\r\n"))
            return false;
        for (;;) {
            const std::optional<std::string> line = c.ReadLine();
            if (!line)
                return false;
            std::lock_guard<std::mutex> lock(m_mutex);
            const std::string command = line->substr(0, line->find(' '));
            const std::string argument =
                line->find(' ') == std::string::npos ? "" : line->substr(line->find(' ') + 1);
            const std::size_t listed =
                m_messages.size() - static_cast<std::size_t>(listingsShortBy);
            std::string reply;
            if (command == "USER" || command == "PASS") {
                reply = "+OK\r\n";
            } else if (command == "STAT") {
                std::size_t count = 0, size = 0;
                for (std::size_t i = 0; i < m_messages.size(); ++i) {
                    if (deleted.count(i) == 0) {
                        ++count;
                        size += Text(m_messages[i]).size();
                    }
                }
                reply = "+OK " + std::to_string(count) + " " + std::to_string(size) + "\r\n";
            } else if (command == "LIST" || command == "UIDL") {
                reply = "+OK\r\n";
                for (std::size_t i = 0; i < listed; ++i) {
                    if (deleted.count(i) == 0)
                        reply += std::to_string(i + 1) + " " +
                                 (command == "LIST" ? std::to_string(Text(m_messages[i]).size())
                                                    : m_messages[i].uid) +
                                 "\r\n";
                }
                reply += ".\r\n";
            } else if (command == "RETR" || command == "DELE") {
                const std::size_t n = std::stoul(argument);
                if (n < 1 || n > m_messages.size() || deleted.count(n - 1) != 0 ||
                    (command == "RETR" && failingRetr.count(static_cast<int>(n)) != 0)) {
                    reply = "-ERR no such message\r\n";
                } else if (command == "RETR") {
                    reply = "+OK\r\n" + Text(m_messages[n - 1]) + ".\r\n";
                } else {
                    deleted.insert(n - 1);
                    reply = "+OK marked\r\n";
                }
            } else if (command == "QUIT") {
                std::vector<Message> kept;
                for (std::size_t i = 0; i < m_messages.size(); ++i) {
                    if (deleted.count(i) == 0)
                        kept.push_back(m_messages[i]);
                }
                m_messages = std::move(kept);
                return c.Send("+OK bye\r\n");
            } else {
                reply = "-ERR unknown command\r\n";
            }
            if (!c.Send(reply))
                return false;
        }
    }

    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
};

// The mailbox the cases share: two messages of blocked senders among three.
std::vector<Message> MixedMessages() {
    return {{"u1", "Ann <ann@friends.org>"},
            {"u2", "Spammer <offers@spam.example>"},
            {"u3", "bob@work.org"},
            {"u4", "news@mail.SPAM.example"},
            {"u5", "\"Carl\" <carl@friends.org>"}};
}

class BlockedSweepTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavlo::test::EnsureSocketLayer();
        m_dlg.SetReportHandler(
            [this](bool, bool, const std::string& report) { m_reports.push_back(report); });
    }

    void Block(const Lines& entries) {
        for (const std::string& entry : entries)
            m_dlg.m_blockedSenders.push_back(BlockedSender{entry});
        m_dlg.ForgetExaminedMessages();
    }

    // A server for the given number of sessions on the mailbox (one per
    // cycle), and the account that checks it: the remembered messages
    // belong to that server and user.
    void Serve(Mailbox& mailbox, int sessions) {
        m_server = std::make_unique<ScriptedServer>(
            std::vector<Script>(static_cast<std::size_t>(sessions), Script{mailbox.Session()}));
        CAccount a;
        a.m_strAccountName = "Work";
        a.m_strUserName = "u";
        a.m_strPassword = "p";
        a.m_strServer = "127.0.0.1:" + std::to_string(m_server->port());
        a.m_strSecurity = "NORMAL";
        a.m_strLastMessage = "0";
        a.m_strAccountType = "POP3";
        m_dlg.m_accounts = {a};
    }

    // One check cycle; the lines the client sent in it.
    Lines Cycle() {
        m_dlg.CheckMail(false);
        const Lines all = m_server->transcript();
        const Lines lines(all.begin() + static_cast<std::ptrdiff_t>(m_linesSeen), all.end());
        m_linesSeen = all.size();
        EXPECT_EQ(m_server->errors(), Lines{});
        return lines;
    }

    MemoryProfileStore m_store;
    port::headless::HeadlessUi m_ui;
    CVeskApp m_app{m_store, m_ui, "Tavlo"};
    CVeskDlg m_dlg{m_app, CVeskDlg::CheckOnly{}};
    Lines m_reports;
    std::unique_ptr<ScriptedServer> m_server;
    std::size_t m_linesSeen = 0;
};

TEST_F(BlockedSweepTest, EverySenderIsReadAndTheBlockedOnesAreDeletedInOrder) {
    // The sweep on its own, with nothing remembered: every message is
    // downloaded, and the unique-id listing is read at the first blocked one.
    Mailbox mailbox(MixedMessages());
    ScriptedServer server(Script{mailbox.Session()});
    {
        CPop3Connection connection;
        ASSERT_TRUE(connection.Connect("127.0.0.1", "u", "p", server.port()));
        SweepBlockedSenders(connection, BlockedSenderMatcher({{"spam.example"}}), nullptr);
        connection.Disconnect();
    }
    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.errors(), Lines{});
    EXPECT_EQ(server.transcript(),
              (Lines{"USER u", "PASS p", "STAT", "LIST", "RETR 1", "RETR 2", "UIDL", "DELE 2",
                     "RETR 3", "RETR 4", "DELE 4", "RETR 5", "QUIT"}));
    EXPECT_EQ(mailbox.Uids(), (Lines{"u1", "u3", "u5"}));
}

TEST_F(BlockedSweepTest, TheCheckCountsWhatIsLeftAndTheNextCycleDownloadsOnlyNewMail) {
    Mailbox mailbox(MixedMessages());
    Block({"SPAM.example"});
    Serve(mailbox, 4);

    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 1", "RETR 2",
                              "DELE 2", "RETR 3", "RETR 4", "DELE 4", "RETR 5", "STAT", "QUIT"}));
    EXPECT_EQ(m_reports.back(), "Work 3 mail.");
    EXPECT_EQ(mailbox.Uids(), (Lines{"u1", "u3", "u5"}));
    // The marker is the id of number 3 in the listing read before the
    // deletions: the server renumbers only after QUIT.
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "u3");

    // Next cycle: one new message; only it is downloaded, and the marker
    // moves to the real last message, which counts as new once.
    mailbox.Deliver({"u6", "dan@work.org"});
    m_dlg.m_bMailAnnounced = true;
    EXPECT_EQ(Cycle(),
              (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 4", "STAT", "QUIT"}));
    EXPECT_EQ(m_reports.back(), "Work 4 mail.");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "u6");
    EXPECT_FALSE(m_dlg.m_bMailAnnounced);

    // Nothing new: nothing downloaded.
    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "STAT", "QUIT"}));
    EXPECT_EQ(m_reports.back(), "Work 4 mail.");

    // A changed list: every message is examined again against it.
    Block({"work.org"});
    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 1", "RETR 2",
                              "DELE 2", "RETR 3", "RETR 4", "DELE 4", "STAT", "QUIT"}));
    EXPECT_EQ(mailbox.Uids(), (Lines{"u1", "u5"}));
}

TEST_F(BlockedSweepTest, AMailboxOfBlockedSendersEndsEmptyWithoutAReportOrANewMarker) {
    Mailbox mailbox({{"s1", "a@spam.example"}, {"s2", "b@spam.example"}});
    Block({"spam.example"});
    Serve(mailbox, 1);
    m_dlg.m_accounts[0].m_strLastMessage = "old-marker";

    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 1", "DELE 1",
                              "RETR 2", "DELE 2", "STAT", "QUIT"}));
    EXPECT_EQ(m_reports.back(), "");
    EXPECT_EQ(m_dlg.m_accounts[0].m_strLastMessage, "old-marker");
    EXPECT_EQ(mailbox.Uids(), Lines{});
}

TEST_F(BlockedSweepTest, AnEmptyListDownloadsNothing) {
    Mailbox mailbox(MixedMessages());
    Serve(mailbox, 1);
    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "QUIT"}));
    EXPECT_EQ(m_reports.back(), "Work 5 mail.");
}

TEST_F(BlockedSweepTest, SendersWithoutAnAddressOrWithoutAFromFieldStay) {
    // A From field without angle brackets is looked up whole; one without
    // an address and a message without From have no sender, and an empty
    // line in the file must not make them blocked.
    Mailbox mailbox({{"m1", "joe@spam.example"},
                     {"m2", ""},
                     {"m3", "Joe Spammer <>"},
                     {"m4", "undisclosed-recipients:;"},
                     {"m5", "Two <a@ok.org>, <b@spam.example>"}});
    Block({"", "spam.example"});
    Serve(mailbox, 1);

    Cycle();
    // m3's brackets hold nothing, so its whole text is looked up; m5's
    // first bracketed address counts.
    EXPECT_EQ(mailbox.Uids(), (Lines{"m2", "m3", "m4", "m5"}));
}

TEST_F(BlockedSweepTest, FailedDownloadsStayAndAreTriedAgainNextCycle) {
    Mailbox mailbox(MixedMessages());
    mailbox.failingRetr = {2};
    Block({"spam.example"});
    Serve(mailbox, 2);

    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 1", "RETR 2",
                              "RETR 3", "RETR 4", "DELE 4", "RETR 5", "STAT", "QUIT"}));
    EXPECT_EQ(mailbox.Uids(), (Lines{"u1", "u2", "u3", "u5"}));

    mailbox.failingRetr.clear();
    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 2", "DELE 2",
                              "STAT", "QUIT"}));
    EXPECT_EQ(mailbox.Uids(), (Lines{"u1", "u3", "u5"}));
}

TEST_F(BlockedSweepTest, AListingShorterThanTheCountEndsNothingButItsOwnMessages) {
    // STAT counts five, the listings hold four: the fifth cannot be read
    // (no RETR 5), the rest is swept and the cycle reports.
    Mailbox mailbox(MixedMessages());
    mailbox.listingsShortBy = 1;
    Block({"spam.example", "friends.org"});
    Serve(mailbox, 1);

    EXPECT_EQ(Cycle(), (Lines{"USER u", "PASS p", "STAT", "UIDL", "LIST", "RETR 1", "DELE 1",
                              "RETR 2", "DELE 2", "RETR 3", "RETR 4", "DELE 4", "STAT", "QUIT"}));
    EXPECT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(mailbox.Uids(), (Lines{"u3", "u5"}));
}

} // namespace
