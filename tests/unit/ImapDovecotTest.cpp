// The IMAP4 client against a real Dovecot on loopback (RFC 3501 over plain
// TCP and over TLS from the first byte on the IMAPS port, RFC 8314): real
// LOGIN with a quoted password, APPEND, SELECT, STORE, EXPUNGE, STATUS,
// SEARCH, FETCH with literals, LIST, LOGOUT, real certificates, and the
// check cycle's IMAP branch. Run natively and under Wine.
//
// The ctest fixture "dovecot" (scripts/dovecot_harness.py) starts the
// servers and names their env.json files in TAVLO_DOVECOT_ENV and
// TAVLO_DOVECOT_IMPOSTOR_ENV; the tests skip themselves without them. This
// file owns the mailbox of ivan; dave (whose password holds spaces, double
// quotes and a backslash) is only logged in.
#include "config/Account.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_IMAP4Client.h"
#include "platform/headless/HeadlessUi.h"
#include "support/DovecotInstance.h"
#include "support/MemoryProfileStore.h"
#include "support/SourceContent.h"
#include "support/TestEnv.h"
#include "support/TlsPeerCases.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace tavlo::test;

using Dovecot = DovecotInstance;

class ImapDovecotTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto found = Dovecot::FromEnvironment("TAVLO_DOVECOT_ENV");
        if (!found)
            GTEST_SKIP() << "TAVLO_DOVECOT_ENV is not set (the ctest fixture \"dovecot\" sets it)";
        server = *found;
        EnsureSocketLayer();
        trust.emplace("SSL_CERT_FILE", server.Ca());
    }

    // A client logged in as user, over TLS on the IMAPS port when secure.
    void Open(CUT_IMAP4Client& client, const std::string& user, bool secure) {
        if (secure) {
            client.UseSecurePort();
            client.SetPort(server.Port("IMAPS"));
        } else {
            client.SetPort(server.Port("IMAP"));
        }
        ASSERT_EQ(
            client.OpenSession(secure ? "localhost" : "127.0.0.1", user, server.Password(user)),
            UT::Success);
    }

    Dovecot server;
    std::optional<ScopedEnvironmentVariable> trust;
};

std::string Message(const std::string& subject, std::size_t bodyBytes = 0) {
    std::string text =
        "From: Sender <sender@example.test>\r\nTo: ivan@localhost\r\nSubject: " + subject +
        "\r\n\r\n";
    std::string line = "Body of " + subject + ".\r\n";
    do
        text += line;
    while (text.size() < bodyBytes);
    return text;
}

ResultCode Append(CUT_IMAP4Client& client, const std::string& message, int flags,
                  const char* mailbox = "INBOX") {
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back('\0');
    CUT_BufferDataSource source(buffer.data(), buffer.size());
    return client.AppendFlagged(mailbox, source, flags, "");
}

// Records the expunged message numbers.
class ExpungeRecordingClient : public CUT_IMAP4Client {
public:
    ~ExpungeRecordingClient() override { EndKeepAlive(); }
    void OnExpunged(int number) override { expunged.push_back(number); }
    std::vector<int> expunged;
};

TEST_F(ImapDovecotTest, LongSearchExpungeCountsAndCloseOfAMailbox) {
    // A mailbox of its own, so that the INBOX of the other test stays as it
    // expects it.
    constexpr const char* kMailbox = "Mends";
    constexpr int kMessages = 407; // "* SEARCH 1 ... 407" runs past one 999-byte piece
    ExpungeRecordingClient client;
    Open(client, "ivan", false);
    client.CreateMailbox(kMailbox); // it may be left from an earlier run
    ASSERT_EQ(client.SelectMailbox(kMailbox), UT::Success);
    if (client.GetMessageCount() > 0) {
        ASSERT_EQ(
            client.StoreFlags("1:*", CUT_IMAP4Client::StoreAddSilent, ImapFlag::Deleted, false),
            UT::Success);
        ASSERT_EQ(client.ExpungeMailbox(), UT::Success);
    }
    EXPECT_EQ(client.GetMessageCount(), 0);
    for (int i = 0; i < kMessages; ++i)
        ASSERT_EQ(Append(client, Message("m" + std::to_string(i)), 0, kMailbox), UT::Success);
    ASSERT_EQ(client.KeepAlive(), UT::Success);
    EXPECT_EQ(client.GetMessageCount(), kMessages);

    ASSERT_EQ(client.SearchMessages("ALL", nullptr, false), UT::Success);
    ASSERT_EQ(client.SearchResultCount(), kMessages);
    for (int i = 0; i < kMessages; ++i) {
        int number = 0;
        ASSERT_EQ(client.GetSearchResult(i, number), UT::Success);
        ASSERT_EQ(number, i + 1);
    }

    // Three messages go: three EXPUNGE replies, the count three lower, and
    // the completion counts as none.
    ASSERT_EQ(
        client.StoreFlags("2,5,400", CUT_IMAP4Client::StoreAddSilent, ImapFlag::Deleted, false),
        UT::Success);
    client.expunged.clear();
    ASSERT_EQ(client.ExpungeMailbox(), UT::Success);
    EXPECT_EQ(client.expunged.size(), 3u);
    EXPECT_EQ(std::count(client.expunged.begin(), client.expunged.end(), 0), 0);
    EXPECT_EQ(client.GetMessageCount(), kMessages - 3);
    MailboxStatus status;
    ASSERT_EQ(client.QueryMailboxStatus(kMailbox, "MESSAGES", status), UT::Success);
    EXPECT_EQ(status.messages, kMessages - 3);

    // After CLOSE nothing is selected: CHECK is refused here, not sent.
    ASSERT_EQ(client.CloseMailbox(), UT::Success);
    EXPECT_EQ(client.GetState(), Authenticated);
    EXPECT_EQ(client.Checkpoint(), UT::NeedsSelected);
    // A failed SELECT leaves nothing selected either.
    ASSERT_EQ(client.ExamineMailbox(kMailbox), UT::Success);
    EXPECT_EQ(client.SelectMailbox("No such mailbox"), UT::Failed);
    EXPECT_EQ(client.GetState(), Authenticated);
    EXPECT_EQ(client.Checkpoint(), UT::NeedsSelected);
    EXPECT_EQ(client.DeleteMailbox(kMailbox), UT::Success);
    EXPECT_EQ(client.CloseSession(), UT::Success);
    EXPECT_EQ(client.GetState(), LoggedOut);
    EXPECT_EQ(client.Checkpoint(), UT::NotLoggedIn);
}

TEST_F(ImapDovecotTest, MailboxRoundTripOverTlsAndTheCheckOfIt) {
    const std::string small1 = Message("one");
    const std::string seen = Message("two");
    const std::string large = Message("three", 100000); // above the 30000 bytes kept in memory
    MailboxStatus before;
    {
        CUT_IMAP4Client client;
        Open(client, "ivan", true);
        // Empty the mailbox.
        ASSERT_EQ(client.SelectMailbox("INBOX"), UT::Success);
        EXPECT_EQ(client.IsReadWrite(), 1);
        if (client.GetMessageCount() > 0) {
            ASSERT_EQ(
                client.StoreFlags("1:*", CUT_IMAP4Client::StoreAddSilent, ImapFlag::Deleted, false),
                UT::Success);
            ASSERT_EQ(client.ExpungeMailbox(), UT::Success);
        }
        ASSERT_EQ(client.QueryMailboxStatus("INBOX", "MESSAGES UIDNEXT", before), UT::Success);
        EXPECT_EQ(before.messages, 0);

        ASSERT_EQ(Append(client, small1, 0), UT::Success);
        ASSERT_EQ(Append(client, seen, ImapFlag::Seen), UT::Success);
        ASSERT_EQ(Append(client, large, 0), UT::Success);

        MailboxStatus after;
        ASSERT_EQ(client.QueryMailboxStatus("INBOX", "MESSAGES UNSEEN UIDNEXT UIDVALIDITY", after),
                  UT::Success);
        EXPECT_EQ(after.messages, 3);
        EXPECT_EQ(after.unseen, 2);
        EXPECT_EQ(after.uidNext, before.uidNext + 3);
        EXPECT_NE(after.uidValidity, 0);

        ASSERT_EQ(client.SearchMessages("UNSEEN", nullptr, false), UT::Success);
        ASSERT_EQ(client.SearchResultCount(), 2);

        ASSERT_EQ(client.FetchMessages("1:3", CUT_IMAP4Client::kFetchWhole, false, false),
                  UT::Success);
        ASSERT_EQ(client.MessageRecordCount(), 3);
        const std::string expected[] = {small1, seen, large};
        for (int i = 0; i < 3; ++i) {
            const MessageRecord* record = nullptr;
            ASSERT_EQ(client.GetMessageRecord(i, record), UT::Success);
            EXPECT_EQ(record->number, i + 1);
            EXPECT_EQ(record->uid, before.uidNext + i);
            EXPECT_EQ(record->size, static_cast<int>(expected[i].size()));
            EXPECT_EQ((record->flags & ImapFlag::Seen) != 0, i == 1);
            EXPECT_FALSE(record->internalDate.empty());
            EXPECT_EQ(Content(record->body), expected[i]);
        }
        const MessageRecord* last = nullptr;
        ASSERT_EQ(client.GetMessageRecord(2, last), UT::Success);
        EXPECT_NE(dynamic_cast<CUT_MapFileDataSource*>(last->body), nullptr);

        ASSERT_EQ(client.ListMailboxes("", "*"), UT::Success);
        bool inbox = false;
        for (int i = 0; i < client.ListEntryCount(); ++i) {
            MailboxListEntry entry;
            ASSERT_EQ(client.CopyListEntry(i, &entry), UT::Success);
            inbox = inbox || entry.name == "INBOX";
        }
        EXPECT_TRUE(inbox);
        EXPECT_EQ(client.CloseSession(), UT::Success);
        EXPECT_EQ(client.GetState(), LoggedOut);
    }

    // The check cycle sees the same mailbox over plain TCP and over TLS.
    MemoryProfileStore profile;
    port::headless::HeadlessUi ui;
    CVeskApp app(profile, ui, "tavlo");
    CVeskDlg dlg(app, CVeskDlg::CheckOnly{});
    std::string report;
    std::vector<std::string> boxes;
    dlg.SetReportHandler([&](bool, bool, const std::string& text) { report = text; });
    dlg.SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { boxes.push_back(text); });
    for (const bool secure : {false, true}) {
        CAccount account;
        account.m_strAccountName = secure ? "Secure" : "Plain";
        account.m_strUserName = "ivan";
        account.m_strPassword = server.Password("ivan");
        account.m_strServer = std::string(secure ? "localhost:" : "127.0.0.1:") +
                              std::to_string(server.Port(secure ? "IMAPS" : "IMAP"));
        account.m_strSecurity = secure ? "SSL" : "NORMAL";
        account.m_strLastMessage = "0";
        account.m_strAccountType = "IMAP";
        dlg.m_accounts.push_back(account);
    }
    dlg.CheckMail(false);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(report, "Plain 2 mail.\nSecure 2 mail.");
    for (const CAccount& account : dlg.m_accounts)
        EXPECT_EQ(account.m_strLastMessage, std::to_string(before.uidNext + 3));
}

TEST_F(ImapDovecotTest, PasswordWithSpacesQuotesAndBackslashLogsIn) {
    ASSERT_NE(server.Password("dave").find('"'), std::string::npos);
    ASSERT_NE(server.Password("dave").find('\\'), std::string::npos);
    CUT_IMAP4Client client;
    Open(client, "dave", false);
    MailboxStatus status;
    EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UIDNEXT", status), UT::Success);
    EXPECT_GT(status.uidNext, 0);

    CUT_IMAP4Client wrong;
    wrong.SetPort(server.Port("IMAP"));
    EXPECT_EQ(wrong.OpenSession("127.0.0.1", "dave", "two words"), UT::LoginRejected);
}

// The certificate table against the real server on its IMAPS port: the
// rows whose certificate a Dovecot instance serves (the test CA's and the
// impostor's).
TEST_F(ImapDovecotTest, SecurePortAcceptsOnlyServersItCanVerify) {
    for (const TlsPeerCase& c : TlsPeerCases()) {
        const auto variable = DovecotInstanceVariableFor(c);
        if (!variable)
            continue;
        SCOPED_TRACE(c.name);
        const auto instance = Dovecot::FromEnvironment(variable->c_str());
        if (!instance) {
            ADD_FAILURE() << *variable << " does not name a running instance";
            continue;
        }
        const TlsPeerTrust peerTrust(c);
        CUT_IMAP4Client client;
        client.UseSecurePort();
        client.SetPort(instance->Port("IMAPS"));
        EXPECT_EQ(client.OpenSession(c.host, "ivan", instance->Password("ivan")),
                  c.accepted ? UT::Success : UT::ConnectFailed);
        EXPECT_EQ(client.IsConnected(), c.accepted);
        MailboxStatus status;
        EXPECT_EQ(client.QueryMailboxStatus("INBOX", "UIDNEXT", status),
                  c.accepted ? UT::Success : UT::NotLoggedIn);
    }
}

} // namespace
