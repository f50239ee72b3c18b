// The POP3 session against a real Dovecot on loopback (RFC 1939 over plain
// TCP and over TLS from the first byte): real STAT, UIDL, LIST and RETR
// replies, real deletion at QUIT, real certificates.
//
// The ctest fixture "dovecot" (scripts/dovecot_harness.py) starts the server
// and names its env.json in TAVLO_DOVECOT_ENV; the tests skip themselves when
// it is not set. Mailboxes are prepared over IMAP (RFC 3501 APPEND and
// EXPUNGE), which reaches the server the same way natively and under Wine.
// Each test owns one mailbox, so the tests may run in parallel.
#include "net/pop3/Pop3Connection.h"
#include "net/pop3/Pop3Message.h"
#include "platform/Socket.h"
#include "platform/UniqueSocket.h"
#include "support/DovecotInstance.h"
#include "support/TestEnv.h"
#include "support/TlsPeerCases.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using tavlo::test::ScopedEnvironmentVariable;

using tavlo::test::DovecotInstance;
using tavlo::test::TlsPeerCase;

// Just enough of an IMAP client (RFC 3501) to put a mailbox into a known
// state: LOGIN, SELECT, STORE/EXPUNGE, APPEND, LOGOUT. Every wait is bounded.
class MailboxPreparer {
public:
    MailboxPreparer(int port, const std::string& user, const std::string& password) {
        tavlo::test::EnsureSocketLayer();
        m_socket.Reset(port::SocketOpen(port::kSocketStream));
        std::uint32_t addr = 0;
        if (!m_socket || !port::ParseDottedIPv4("127.0.0.1", addr) ||
            port::SocketConnect(m_socket.Get(), addr, static_cast<std::uint16_t>(port)) != 0) {
            m_error = "cannot connect to the IMAP port";
            return;
        }
        if (ReadLine().rfind("* OK", 0) != 0) {
            m_error = "no IMAP greeting";
            return;
        }
        Command("LOGIN " + Quoted(user) + " " + Quoted(password));
        int exists = 0;
        for (const std::string& line : Command("SELECT INBOX")) {
            if (line.size() > 9 && line.compare(line.size() - 7, 7, " EXISTS") == 0)
                exists = std::atoi(line.c_str() + 2);
        }
        if (exists > 0) {
            Command("STORE 1:* +FLAGS.SILENT (\\Deleted)");
            Command("EXPUNGE");
        }
    }

    ~MailboxPreparer() {
        if (m_socket && m_error.empty())
            Command("LOGOUT");
    }

    MailboxPreparer(const MailboxPreparer&) = delete;
    MailboxPreparer& operator=(const MailboxPreparer&) = delete;

    void Append(const std::string& subject) {
        const std::string message = "From: Sender <sender@example.test>\r\n"
                                    "To: someone@localhost\r\n"
                                    "Subject: " +
                                    subject +
                                    "\r\n"
                                    "\r\n"
                                    "Body of " +
                                    subject + ".\r\n";
        const std::string tag = NextTag();
        Send(tag + " APPEND INBOX {" + std::to_string(message.size()) + "}\r\n");
        if (ReadLine().rfind("+", 0) != 0) {
            Fail("APPEND was not continued");
            return;
        }
        Send(message + "\r\n");
        ReadUntilTagged(tag);
    }

    // Empty when every command succeeded.
    const std::string& error() const { return m_error; }

private:
    static std::string Quoted(const std::string& text) {
        std::string out = "\"";
        for (char c : text) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        return out + "\"";
    }

    std::string NextTag() { return "p" + std::to_string(++m_tag); }

    void Fail(const std::string& why) {
        if (m_error.empty())
            m_error = why;
    }

    void Send(const std::string& text) {
        if (!m_error.empty())
            return;
        std::size_t sent = 0;
        while (sent < text.size()) {
            const long n = port::SocketSend(m_socket.Get(), text.data() + sent, text.size() - sent);
            if (n <= 0) {
                Fail("send failed");
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    std::string ReadLine() {
        std::string line;
        while (m_error.empty()) {
            const std::size_t end = m_pending.find("\r\n");
            if (end != std::string::npos) {
                line = m_pending.substr(0, end);
                m_pending.erase(0, end + 2);
                return line;
            }
            char buffer[4096];
            if (port::SocketWaitReadable(m_socket.Get(), 10, 0) <= 0) {
                Fail("the IMAP server did not answer");
                break;
            }
            const long n = port::SocketReceive(m_socket.Get(), buffer, sizeof buffer);
            if (n <= 0) {
                Fail("the IMAP server closed the connection");
                break;
            }
            m_pending.append(buffer, static_cast<std::size_t>(n));
        }
        return line;
    }

    // The untagged lines before the tagged reply.
    std::vector<std::string> ReadUntilTagged(const std::string& tag) {
        std::vector<std::string> untagged;
        while (m_error.empty()) {
            std::string line = ReadLine();
            if (line.rfind(tag + " ", 0) == 0) {
                if (line.rfind(tag + " OK", 0) != 0)
                    Fail(line);
                break;
            }
            untagged.push_back(std::move(line));
        }
        return untagged;
    }

    std::vector<std::string> Command(const std::string& command) {
        const std::string tag = NextTag();
        Send(tag + " " + command + "\r\n");
        return ReadUntilTagged(tag);
    }

    port::UniqueSocket m_socket;
    std::string m_pending;
    std::string m_error;
    int m_tag = 0;
};

class Pop3DovecotTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto instance = DovecotInstance::FromEnvironment("TAVLO_DOVECOT_ENV");
        if (!instance)
            GTEST_SKIP() << "TAVLO_DOVECOT_ENV does not name a running Dovecot test instance";
        m_server = *instance;
        tavlo::test::EnsureSocketLayer();
    }

    // Empties the user's mailbox and fills it with messages of these
    // subjects; the first failure's text, or empty.
    std::string PrepareMailbox(const std::string& user, const std::vector<std::string>& subjects) {
        MailboxPreparer imap(m_server.Port("IMAP"), user, m_server.Password(user));
        for (const std::string& subject : subjects)
            imap.Append(subject);
        return imap.error();
    }

    bool Connect(CPop3Connection& pop3, const std::string& user, const char* protocol = "POP3",
                 const std::string& host = "127.0.0.1") {
        return pop3.Connect(host, user, m_server.Password(user), m_server.Port(protocol));
    }

    std::vector<std::string> AllIds(CPop3Connection& pop3, int count) {
        std::vector<std::string> ids;
        for (int n = 1; n <= count; ++n) {
            std::string id;
            EXPECT_TRUE(pop3.GetMessageId(n, id)) << "message " << n;
            ids.push_back(id);
        }
        return ids;
    }

    DovecotInstance m_server;
};

TEST_F(Pop3DovecotTest, EmptyMailboxHasNoMessagesAndNoIds) {
    ASSERT_EQ(PrepareMailbox("grace", {}), "");
    CPop3Connection pop3;
    ASSERT_TRUE(Connect(pop3, "grace")) << pop3.LastReply();
    int count = -1;
    std::uint32_t size = 99;
    ASSERT_TRUE(pop3.Statistics(count, size));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(size, 0u);
    std::string id = "untouched";
    EXPECT_FALSE(pop3.GetMessageId(1, id));
    EXPECT_EQ(id, "untouched");
    EXPECT_TRUE(pop3.Disconnect());
}

TEST_F(Pop3DovecotTest, StatUidlListAndRetrieveDescribeTheMailbox) {
    ASSERT_EQ(PrepareMailbox("erin", {"First note", "Second note", "Third note"}), "");
    std::vector<std::string> firstIds;
    {
        CPop3Connection pop3;
        ASSERT_TRUE(Connect(pop3, "erin")) << pop3.LastReply();
        int count = 0;
        std::uint32_t total = 0;
        ASSERT_TRUE(pop3.Statistics(count, total));
        ASSERT_EQ(count, 3);

        firstIds = AllIds(pop3, count);
        EXPECT_EQ(std::set<std::string>(firstIds.begin(), firstIds.end()).size(), 3u);
        for (const std::string& id : firstIds)
            EXPECT_FALSE(id.empty());
        std::string beyond = "untouched";
        EXPECT_FALSE(pop3.GetMessageId(4, beyond));

        std::uint32_t sum = 0;
        const char* const subjects[] = {"First note", "Second note", "Third note"};
        for (int n = 1; n <= count; ++n) {
            std::uint32_t size = 0;
            ASSERT_TRUE(pop3.GetMessageSize(n, size));
            sum += size;
            CPop3Message message;
            ASSERT_TRUE(pop3.Retrieve(n, message)) << pop3.LastReply();
            EXPECT_EQ(message.GetHeaderField("Subject"), subjects[n - 1]);
            EXPECT_EQ(message.GetFrom(), "Sender <sender@example.test>");
        }
        EXPECT_EQ(sum, total) << "LIST sizes add up to the STAT total";
        EXPECT_TRUE(pop3.Disconnect());
    }
    // Unique ids are stable across sessions (RFC 1939 section 7).
    CPop3Connection again;
    ASSERT_TRUE(Connect(again, "erin")) << again.LastReply();
    int count = 0;
    std::uint32_t total = 0;
    ASSERT_TRUE(again.Statistics(count, total));
    ASSERT_EQ(count, 3);
    EXPECT_EQ(AllIds(again, count), firstIds);
}

TEST_F(Pop3DovecotTest, DeletionTakesEffectAtQuit) {
    ASSERT_EQ(PrepareMailbox("frank", {"Keep one", "Delete me", "Keep two"}), "");
    std::vector<std::string> before;
    {
        CPop3Connection pop3;
        ASSERT_TRUE(Connect(pop3, "frank")) << pop3.LastReply();
        int count = 0;
        std::uint32_t total = 0;
        ASSERT_TRUE(pop3.Statistics(count, total));
        ASSERT_EQ(count, 3);
        before = AllIds(pop3, count);
        EXPECT_FALSE(pop3.Delete(2)) << "refused before the size list was fetched";
        CPop3Message message;
        ASSERT_TRUE(pop3.Retrieve(2, message));
        ASSERT_EQ(message.GetHeaderField("Subject"), "Delete me");
        ASSERT_TRUE(pop3.Delete(2)) << pop3.LastReply();

        // The server no longer counts the marked message; the cached id
        // list still answers as it was fetched.
        ASSERT_TRUE(pop3.Statistics(count, total));
        EXPECT_EQ(count, 2);
        std::string id;
        ASSERT_TRUE(pop3.GetMessageId(3, id));
        EXPECT_EQ(id, before[2]);
        EXPECT_TRUE(pop3.Disconnect());
    }
    CPop3Connection after;
    ASSERT_TRUE(Connect(after, "frank")) << after.LastReply();
    int count = 0;
    std::uint32_t total = 0;
    ASSERT_TRUE(after.Statistics(count, total));
    ASSERT_EQ(count, 2);
    EXPECT_EQ(AllIds(after, count), (std::vector<std::string>{before[0], before[2]}));
}

TEST_F(Pop3DovecotTest, WrongPasswordIsRefusedAndKeptInLastReply) {
    CPop3Connection pop3;
    EXPECT_FALSE(pop3.Connect("127.0.0.1", "heidi", "not-her-password", m_server.Port("POP3")));
    EXPECT_EQ(pop3.LastReply().rfind("-ERR", 0), 0u) << pop3.LastReply();
    int count = 0;
    std::uint32_t total = 0;
    EXPECT_FALSE(pop3.Statistics(count, total));
}

// The certificate table against the real server: the rows whose
// certificate a Dovecot instance serves (the test CA's and the impostor's).
TEST_F(Pop3DovecotTest, Pop3sAcceptsOnlyServersItCanVerify) {
    ASSERT_EQ(PrepareMailbox("heidi", {"Over TLS"}), "");
    for (const TlsPeerCase& c : tavlo::test::TlsPeerCases()) {
        const auto variable = tavlo::test::DovecotInstanceVariableFor(c);
        if (!variable)
            continue;
        SCOPED_TRACE(c.name);
        const auto instance = DovecotInstance::FromEnvironment(variable->c_str());
        if (!instance) {
            ADD_FAILURE() << *variable << " does not name a running instance";
            continue;
        }
        const tavlo::test::TlsPeerTrust trust(c);
        CPop3Connection pop3;
        pop3.m_bUseTls = 1;
        const bool connected =
            pop3.Connect(c.host, "heidi", instance->Password("heidi"), instance->Port("POP3S"));
        ASSERT_EQ(connected, c.accepted) << pop3.LastReply();
        int count = -1;
        std::uint32_t total = 0;
        EXPECT_EQ(pop3.Statistics(count, total), c.accepted);
        if (c.accepted && instance->Get("TAVLO_DOVECOT_DIR") == m_server.Get("TAVLO_DOVECOT_DIR")) {
            ASSERT_EQ(count, 1);
            CPop3Message message;
            ASSERT_TRUE(pop3.Retrieve(1, message));
            EXPECT_EQ(message.GetHeaderField("Subject"), "Over TLS");
        }
        EXPECT_EQ(pop3.Disconnect(), c.accepted);
    }
}

} // namespace
