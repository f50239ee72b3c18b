// The blocked-sender sweep of the check cycle against a real Dovecot on
// loopback: POP3 (RFC 1939) over plain TCP and over TLS, real RETR, DELE and
// deletion at QUIT, renumbering after it, and an IMAP account beside them.
//
// Two observers that do not go through the POP3 code under test: the
// mailbox as the server's IMAP side shows it after the cycle (RFC 3501
// EXAMINE and FETCH BODY.PEEK[HEADER], FLAGS: which messages are left and
// which were read), and the server's log line of every POP3 session, which
// counts its RETR and DELE commands.
//
// The ctest fixture "dovecot" (scripts/dovecot_harness.py) starts the server
// and names its env.json in TAVLO_DOVECOT_ENV; the tests skip themselves
// without it. Each test owns its mailboxes (nora, olga, pia, quinn and
// ulla, rosa, sven), so the tests may run in parallel.
#include "config/Account.h"
#include "config/BlockedSenders.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_IMAP4Client.h"
#include "net/pop3/Pop3Connection.h"
#include "platform/headless/HeadlessUi.h"
#include "support/DovecotInstance.h"
#include "support/MemoryProfileStore.h"
#include "support/SourceContent.h"
#include "support/TestEnv.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using tavlo::test::DovecotInstance;
using tavlo::test::ScopedEnvironmentVariable;
using Pop3Logout = DovecotInstance::Pop3Logout;

struct Mail {
    std::string from;
    std::string subject;
    bool seen = false; // read on the server (POP3 RETR sets \Seen)
};

bool operator==(const Mail& a, const Mail& b) {
    return a.from == b.from && a.subject == b.subject && a.seen == b.seen;
}

void PrintTo(const Mail& m, std::ostream* os) {
    *os << "{" << m.from << " | " << m.subject << (m.seen ? " | seen}" : "}");
}

// The value of a header field as this file writes them ("Name: value").
std::string HeaderField(const std::string& header, const std::string& name) {
    const std::string key = name + ": ";
    std::size_t at = header.rfind(key, 0) == 0 ? 0 : header.find("\r\n" + key);
    if (at == std::string::npos)
        return "<no " + name + ">";
    at += at == 0 ? key.size() : key.size() + 2;
    return header.substr(at, header.find("\r\n", at) - at);
}

// The user's INBOX through the server's IMAP side.
class ImapInbox {
public:
    ImapInbox(const DovecotInstance& server, const std::string& user, bool readOnly = false)
        : m_user(user) {
        m_client.SetPort(server.Port("IMAP"));
        m_ok = m_client.OpenSession("127.0.0.1", user, server.Password(user)) == UT::Success &&
               (readOnly ? m_client.ExamineMailbox("INBOX") : m_client.SelectMailbox("INBOX")) ==
                   UT::Success;
    }
    ~ImapInbox() { m_client.CloseSession(); }
    ImapInbox(const ImapInbox&) = delete;
    ImapInbox& operator=(const ImapInbox&) = delete;

    bool ok() const { return m_ok; }

    bool Clear() {
        if (!m_ok)
            return false;
        if (m_client.GetMessageCount() == 0)
            return true;
        return m_client.StoreFlags("1:*", CUT_IMAP4Client::StoreAddSilent, ImapFlag::Deleted,
                                   false) == UT::Success &&
               m_client.ExpungeMailbox() == UT::Success && m_client.GetMessageCount() == 0;
    }

    bool Append(const Mail& mail) {
        const std::string text = "From: " + mail.from + "\r\nTo: " + m_user +
                                 "@localhost\r\nSubject: " + mail.subject + "\r\n\r\nBody of " +
                                 mail.subject + ".\r\n";
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        CUT_BufferDataSource source(buffer.data(), buffer.size());
        return m_ok && m_client.AppendFlagged("INBOX", source, 0, "") == UT::Success;
    }

    // Clears \Seen everywhere, so that the next reads show up again.
    bool MarkAllUnread() {
        return m_ok && (m_client.GetMessageCount() == 0 ||
                        m_client.StoreFlags("1:*", CUT_IMAP4Client::StoreRemoveSilent,
                                            ImapFlag::Seen, false) == UT::Success);
    }

    // The messages in order, without marking them read; nullopt on failure.
    std::optional<std::vector<Mail>> Messages() {
        if (!m_ok)
            return std::nullopt;
        std::vector<Mail> mails;
        if (m_client.GetMessageCount() == 0)
            return mails;
        if (m_client.FetchMessages("1:*", CUT_IMAP4Client::kFetchHeader, false, false) !=
            UT::Success)
            return std::nullopt;
        for (int i = 0; i < m_client.MessageRecordCount(); ++i) {
            const MessageRecord* record = nullptr;
            if (m_client.GetMessageRecord(i, record) != UT::Success)
                return std::nullopt;
            const std::string header = tavlo::test::Content(record->body);
            mails.push_back({HeaderField(header, "From"), HeaderField(header, "Subject"),
                             (record->flags & ImapFlag::Seen) != 0});
        }
        return mails;
    }

private:
    std::string m_user;
    CUT_IMAP4Client m_client;
    bool m_ok = false;
};

// The main window as the check runs it, reporting through a handler.
struct CheckWindow {
    CheckWindow() {
        dlg.SetReportHandler([this](bool, bool any, const std::string& text) {
            anyMail = any;
            report = text;
        });
    }

    tavlo::test::MemoryProfileStore store;
    port::headless::HeadlessUi ui;
    CVeskApp app{store, ui, "Tavlo"};
    CVeskDlg dlg{app, CVeskDlg::CheckOnly{}};
    bool anyMail = false;
    std::string report = "<no report>";
};

std::vector<BlockedSender> List(std::initializer_list<const char*> texts) {
    std::vector<BlockedSender> list;
    for (const char* text : texts)
        list.push_back(BlockedSender{text});
    return list;
}

// The blocked list of most tests: a full address written in other letter
// case than the mail uses, and a domain.
const std::vector<BlockedSender> kBlocked = List({"Joe@Blocked-Address.TEST", "spam.test"});

std::vector<Mail> Unread(std::vector<Mail> mails) {
    for (Mail& m : mails)
        m.seen = false;
    return mails;
}

std::vector<Mail> Read(std::vector<Mail> mails) {
    for (Mail& m : mails)
        m.seen = true;
    return mails;
}

class BlockedSweepDovecotTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto instance = DovecotInstance::FromEnvironment("TAVLO_DOVECOT_ENV");
        if (!instance)
            GTEST_SKIP() << "TAVLO_DOVECOT_ENV does not name a running Dovecot test instance";
        m_server = *instance;
        tavlo::test::EnsureSocketLayer();
        m_trust.emplace("SSL_CERT_FILE", m_server.Ca());
    }

    // Empties the user's mailbox and appends the mails in order.
    ::testing::AssertionResult Fill(const std::string& user, const std::vector<Mail>& mails) {
        ImapInbox inbox(m_server, user);
        if (!inbox.Clear())
            return ::testing::AssertionFailure() << "cannot empty the mailbox of " << user;
        for (const Mail& mail : mails) {
            if (!inbox.Append(mail))
                return ::testing::AssertionFailure() << "cannot append " << mail.subject;
        }
        return ::testing::AssertionSuccess();
    }

    std::vector<Mail> OnServer(const std::string& user) {
        ImapInbox inbox(m_server, user, true);
        auto mails = inbox.Messages();
        EXPECT_TRUE(mails.has_value()) << "cannot read the mailbox of " << user;
        return mails.value_or(std::vector<Mail>{});
    }

    // The unique ids as a session that retrieves nothing sees them.
    std::vector<std::string> UniqueIds(const std::string& user) {
        std::vector<std::string> ids;
        Logged(user, [&] {
            CPop3Connection pop3;
            int count = 0;
            std::uint32_t size = 0;
            if (pop3.Connect("127.0.0.1", user, m_server.Password(user), m_server.Port("POP3")) &&
                pop3.Statistics(count, size)) {
                for (int n = 1; n <= count; ++n) {
                    std::string id;
                    pop3.GetMessageId(n, id);
                    ids.push_back(id);
                }
            }
            pop3.Disconnect();
        });
        return ids;
    }

    // Runs what opens one POP3 session of user and waits until the server
    // logged its end; the session as logged.
    template <class Action> Pop3Logout Logged(const std::string& user, Action action) {
        const std::size_t before = m_server.Pop3Logouts(user).size();
        action();
        const std::vector<Pop3Logout> after = m_server.Pop3Logouts(user, before + 1);
        EXPECT_EQ(after.size(), before + 1) << "one POP3 session of " << user;
        return after.size() > before ? after[before] : Pop3Logout{-1, -1, -1, -1};
    }

    CAccount Account(const std::string& name, const std::string& user, bool tls = false,
                     const char* type = "POP3") const {
        const bool imap = std::string(type) == "IMAP";
        CAccount a;
        a.m_strAccountName = name;
        a.m_strUserName = user;
        a.m_strPassword = m_server.Password(user);
        // The certificate names localhost; plain connections use the address.
        a.m_strServer =
            std::string(tls ? "localhost:" : "127.0.0.1:") +
            std::to_string(m_server.Port(std::string(imap ? "IMAP" : "POP3") + (tls ? "S" : "")));
        a.m_strSecurity = tls ? "SSL" : "NORMAL";
        a.m_strLastMessage = "0";
        a.m_strAccountType = type;
        return a;
    }

    // One check cycle of the window; the POP3 session of user it caused, as
    // the server logged it.
    Pop3Logout Cycle(CheckWindow& window, const std::string& user) {
        window.report = "<no report>";
        return Logged(user, [&] { window.dlg.CheckMail(false); });
    }

    DovecotInstance m_server;
    std::optional<ScopedEnvironmentVariable> m_trust;
};

// The senders the rule blocks and those it does not, through the real
// server: a full address and a domain entry, its direct sub-domain, letter
// case ignored; a deeper sub-domain, another address of the blocked
// address's domain and a look-alike domain stay. Plain POP3 and POP3 over
// TLS alike.
TEST_F(BlockedSweepDovecotTest, BlockedSendersMailIsDeletedOnTheServerAndTheRestCounted) {
    const std::vector<Mail> mailbox = {
        {"Friend <friend@ok.test>", "keep first"},
        {"joe@blocked-address.test", "drop the full address"},
        {"Ann <ann@blocked-address.test>", "keep another address of that domain"},
        {"Offers <offers@spam.test>", "drop the domain"},
        {"news@mail.spam.test", "drop a direct sub-domain"},
        {"Deep <x@a.b.spam.test>", "keep a deeper sub-domain"},
        {"SHOUTING <LOUD@SPAM.TEST>", "drop in capitals"},
        {"pal@notspam.test", "keep a look-alike domain"},
        {"Friend <friend@ok.test>", "keep last"},
    };
    const std::vector<Mail> kept = {mailbox[0], mailbox[2], mailbox[5], mailbox[7], mailbox[8]};

    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "POP3 over TLS" : "plain POP3");
        ASSERT_TRUE(Fill("nora", mailbox));
        const std::vector<std::string> ids = UniqueIds("nora");
        ASSERT_EQ(ids.size(), mailbox.size());

        CheckWindow window;
        window.dlg.m_accounts = {Account("Box", "nora", tls)};
        window.dlg.m_blockedSenders = kBlocked;
        const Pop3Logout session = Cycle(window, "nora");

        EXPECT_TRUE(window.anyMail);
        EXPECT_EQ(window.report, "Box 5 mail.");
        EXPECT_EQ(OnServer("nora"), Read(kept));
        EXPECT_EQ(session.retrieved, 9);
        EXPECT_EQ(session.deleted, 4);
        EXPECT_EQ(session.messages, 9);
        // The id of message number 5 of the listing taken before the
        // deletions (a deleted one): the next cycle counts as new once.
        EXPECT_EQ(window.dlg.m_accounts[0].m_strLastMessage, ids[4]);
    }
}

// All of a mailbox from blocked senders: emptied at QUIT, no report line,
// the marker and the announced flag as they were.
TEST_F(BlockedSweepDovecotTest, MailboxEmptiedByTheSweepGivesNoLineAndKeepsTheMarker) {
    ASSERT_TRUE(Fill("olga", {{"a@spam.test", "one"},
                              {"Joe <joe@blocked-address.test>", "two"},
                              {"b@lists.spam.test", "three"}}));
    CheckWindow window;
    window.dlg.m_accounts = {Account("Box", "olga")};
    window.dlg.m_accounts[0].m_strLastMessage = "an earlier marker";
    window.dlg.m_blockedSenders = kBlocked;
    window.dlg.m_bMailAnnounced = true;

    const Pop3Logout session = Cycle(window, "olga");

    EXPECT_FALSE(window.anyMail);
    EXPECT_EQ(window.report, "");
    EXPECT_EQ(OnServer("olga"), std::vector<Mail>{});
    EXPECT_EQ(session.retrieved, 3);
    EXPECT_EQ(session.deleted, 3);
    EXPECT_EQ(window.dlg.m_accounts[0].m_strLastMessage, "an earlier marker");
    EXPECT_TRUE(window.dlg.m_bMailAnnounced);
    EXPECT_TRUE(window.store.Writes().empty()) << "nothing stored";
}

// A blocked message in the middle: the cycle that deletes it takes the
// marker from the listing before the deletion; the next cycle sees the
// renumbered mailbox, takes the newest id and counts as new once; the one
// after is quiet. The later cycles retrieve nothing: both messages left
// were examined by the first.
TEST_F(BlockedSweepDovecotTest, BlockedMessageInTheMiddleMakesTheNextCycleNewOnce) {
    const std::vector<Mail> mailbox = {{"first@ok.test", "first"},
                                       {"Offers <offers@spam.test>", "blocked"},
                                       {"last@ok.test", "last"}};
    ASSERT_TRUE(Fill("pia", mailbox));
    const std::vector<std::string> ids = UniqueIds("pia");
    ASSERT_EQ(ids.size(), 3u);
    CheckWindow window;
    window.dlg.m_accounts = {Account("Box", "pia")};
    window.dlg.m_blockedSenders = kBlocked;

    struct Expected {
        std::string marker;
        bool announcedCleared;
        int retrieved;
        int deleted;
    };
    const Expected cycles[] = {{ids[1], true, 3, 1}, {ids[2], true, 0, 0}, {ids[2], false, 0, 0}};
    int n = 0;
    for (const Expected& e : cycles) {
        SCOPED_TRACE("cycle " + std::to_string(++n));
        window.dlg.m_bMailAnnounced = true; // as the announcement leaves it
        const Pop3Logout session = Cycle(window, "pia");
        EXPECT_EQ(window.report, "Box 2 mail.");
        EXPECT_EQ(window.dlg.m_accounts[0].m_strLastMessage, e.marker);
        EXPECT_EQ(window.dlg.m_bMailAnnounced, !e.announcedCleared);
        EXPECT_EQ(session.retrieved, e.retrieved);
        EXPECT_EQ(session.deleted, e.deleted);
    }
    EXPECT_EQ(OnServer("pia"), Read({mailbox[0], mailbox[2]}));
}

// IMAP accounts are never swept: mail from blocked senders stays, unread,
// and no POP3 session is opened for it. A POP3 account in the same cycle
// is swept.
TEST_F(BlockedSweepDovecotTest, ImapAccountIsNeverSwept) {
    const std::vector<Mail> mailbox = {{"offers@spam.test", "blocked one"},
                                       {"joe@blocked-address.test", "blocked two"},
                                       {"friend@ok.test", "welcome"}};
    ASSERT_TRUE(Fill("quinn", mailbox));
    ASSERT_TRUE(Fill("ulla", {{"offers@spam.test", "swept"}, {"friend@ok.test", "stays"}}));
    CheckWindow window;
    window.dlg.m_accounts = {Account("Imap", "quinn", false, "IMAP"),
                             Account("Secure imap", "quinn", true, "IMAP"), Account("Pop", "ulla")};
    window.dlg.m_blockedSenders = kBlocked;

    const Pop3Logout swept = Cycle(window, "ulla");

    EXPECT_EQ(window.report, "Imap 3 mail.\nSecure imap 3 mail.\nPop 1 mail.");
    EXPECT_EQ(OnServer("quinn"), Unread(mailbox));
    EXPECT_EQ(swept.deleted, 1);
    EXPECT_EQ(m_server.Pop3Logouts("quinn").size(), 0u);
    EXPECT_EQ(OnServer("ulla"), Read({{"friend@ok.test", "stays"}}));
}

// With an empty list the sweep does not run: no RETR, no DELE, every
// message left unread, blocked-looking senders included.
TEST_F(BlockedSweepDovecotTest, EmptyListRetrievesAndDeletesNothing) {
    const std::vector<Mail> mailbox = {{"offers@spam.test", "one"},
                                       {"joe@blocked-address.test", "two"},
                                       {"friend@ok.test", "three"}};
    ASSERT_TRUE(Fill("rosa", mailbox));
    CheckWindow window;
    window.dlg.m_accounts = {Account("Box", "rosa")};

    const Pop3Logout session = Cycle(window, "rosa");

    EXPECT_EQ(window.report, "Box 3 mail.");
    EXPECT_EQ(session.retrieved, 0);
    EXPECT_EQ(session.retrievedBytes, 0);
    EXPECT_EQ(session.deleted, 0);
    EXPECT_EQ(OnServer("rosa"), Unread(mailbox));
}

// A running program retrieves a message it found not blocked only once:
// the next cycles retrieve only what arrived since, blocked or not. A new
// window (a new process) knows nothing and retrieves every message again.
TEST_F(BlockedSweepDovecotTest, MessagesFoundNotBlockedAreRetrievedOncePerProcess) {
    std::vector<Mail> mailbox = {{"a@ok.test", "a"},
                                 {"Offers <offers@spam.test>", "blocked"},
                                 {"b@ok.test", "b"},
                                 {"c@ok.test", "c"}};
    ASSERT_TRUE(Fill("sven", mailbox));
    CheckWindow window;
    window.dlg.m_accounts = {Account("Box", "sven", true)};
    window.dlg.m_blockedSenders = kBlocked;

    Pop3Logout session = Cycle(window, "sven");
    EXPECT_EQ(window.report, "Box 3 mail.");
    EXPECT_EQ(session.retrieved, 4);
    EXPECT_EQ(session.deleted, 1);
    mailbox.erase(mailbox.begin() + 1);

    // Each cycle below starts from a mailbox where nothing is marked read,
    // so that what is read afterwards is what that cycle retrieved.
    const Mail arrivals[] = {{"d@ok.test", "d"}, {"news@mail.spam.test", "blocked too"}};
    const int counts[] = {4, 4};
    const int deleted[] = {0, 1};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(arrivals[i].subject);
        {
            ImapInbox inbox(m_server, "sven");
            ASSERT_TRUE(inbox.MarkAllUnread());
            ASSERT_TRUE(inbox.Append(arrivals[i]));
        }
        session = Cycle(window, "sven");
        EXPECT_EQ(window.report, "Box " + std::to_string(counts[i]) + " mail.");
        EXPECT_EQ(session.retrieved, 1);
        EXPECT_EQ(session.deleted, deleted[i]);
        if (deleted[i] == 0)
            mailbox.push_back(arrivals[i]);
        std::vector<Mail> expected = Unread(mailbox);
        if (deleted[i] == 0)
            expected.back().seen = true;
        EXPECT_EQ(OnServer("sven"), expected);
    }

    CheckWindow fresh;
    fresh.dlg.m_accounts = window.dlg.m_accounts;
    fresh.dlg.m_blockedSenders = kBlocked;
    session = Cycle(fresh, "sven");
    EXPECT_EQ(fresh.report, "Box 4 mail.");
    EXPECT_EQ(session.retrieved, 4);
    EXPECT_EQ(session.deleted, 0);
}

} // namespace
