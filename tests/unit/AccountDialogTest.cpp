// The account dialog ADD on the headless window system: its texts and the
// template's items, the provider presets and the help link, the IMAP
// warning, OK's checks (the store's refusal among them), and the test
// button against scripted servers (exact dialogues) and a real Dovecot.
#include "config/AccountDialog.h"

#include "UT_IMAP4TestScripts.h"
#include "config/AccountStore.h"
#include "net/imap/ImapResponse.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/DovecotInstance.h"
#include "support/ListBoxes.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using port::headless::HeadlessUi;
using port::headless::MessageBoxCall;
using tavlo::test::ScriptedServer;
using tavlo::test::ScriptedServerOptions;
using tavlo::test::Step;
using Lines = std::vector<std::string>;

const std::string kSucceeded =
    "Congratulations! The test of your account settings completed successfully.";
const std::string kFailed =
    "The test of your account settings failed! Verify your user name, password and incoming "
    "mail server.\n\nIf you have a firewall on your computer, allow Tavlo full access to the "
    "Internet.";

class AccountDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavlo::test::EnsureSocketLayer();
        m_ui.SetMessageBoxHandler([this](const MessageBoxCall& call) {
            m_boxes.push_back(call);
            // The cursor while the box is up: the test's wait cursor.
            m_cursorsAtBox.push_back(m_ui.CurrentCursor());
            return port::kIdOk;
        });
    }

    port::WindowHandle Open() {
        m_hWnd = m_ui.OpenDialog(IDD_ADD, &m_dlg, nullptr);
        return m_hWnd;
    }

    std::vector<std::string> Items(int id) const {
        return tavlo::test::ListItems(m_ui, m_hWnd, id);
    }

    // Picks an item by its text, as the user does: the selection changes,
    // then the box tells the dialog.
    void Choose(int id, const std::string& text) {
        int index = -1;
        for (int i = 0; i < m_ui.ListGetCount(m_hWnd, id); ++i) {
            if (m_ui.ListGetText(m_hWnd, id, i) == text)
                index = i;
        }
        ASSERT_GE(index, 0) << text;
        tavlo::test::ClickListItem(m_ui, m_hWnd, id, index);
    }

    void Type(const std::string& name, const std::string& user, const std::string& password,
              const std::string& server) {
        m_ui.SetItemText(m_hWnd, IDC_ADD_NAME, name);
        m_ui.SetItemText(m_hWnd, IDC_ADD_USER, user);
        m_ui.SetItemText(m_hWnd, IDC_ADD_PASSWORD, password);
        m_ui.SetItemText(m_hWnd, IDC_ADD_SERVER, server);
    }

    Lines BoxTexts() const {
        Lines texts;
        for (const MessageBoxCall& box : m_boxes)
            texts.push_back(box.text);
        return texts;
    }

    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    ADD m_dlg{m_ui, "tavlo"};
    port::WindowHandle m_hWnd = nullptr;
    std::vector<MessageBoxCall> m_boxes;
    std::vector<port::CursorHandle> m_cursorsAtBox;
};

TEST_F(AccountDialogTest, OpensWithEnglishTextsTheCaptionAndTheTemplatesItems) {
    m_dlg.m_strCaption = "Add a new e-mail account";
    ASSERT_NE(Open(), nullptr);

    EXPECT_EQ(m_ui.GetWindowText(m_hWnd), "Add a new e-mail account");
    const std::pair<int, const char*> texts[] = {
        {IDC_ADD_GROUP, "Account Settings"},
        {IDC_ADD_NAME_LABEL, "E-mail account"},
        {IDC_ADD_HINT1, "Type a descriptive name for the account,"},
        {IDC_ADD_HINT2, "for example, Work or Dave(ISP)"},
        {IDC_ADD_PROVIDER_LABEL, "E-postleverant\xF6r"}, // the template's
        {IDC_ADD_USER_LABEL, "User Name"},
        {IDC_ADD_PASSWORD_LABEL, "Password"},
        {IDC_ADD_TYPE_LABEL, "Account type"},
        {IDC_ADD_SERVER_LABEL, "Incoming mail server"},
        {IDC_ADD_HELP, ""}, // "Custom" has no help page
        {IDC_ADD_SSL, "Secure Connection (SSL)"},
        {IDC_ADD_TEST, "Test Account Settings"},
        {port::kIdOk, "OK"},
        {port::kIdCancel, "Cancel"},
    };
    for (const auto& [id, text] : texts)
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, id), text) << id;

    // The provider box sorts; the type box holds the template's items in
    // their order.
    EXPECT_EQ(Items(IDC_ADD_PROVIDER), (Lines{"Custom", "Gmail", "Hotmail", "Yahoo Mail"}));
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_PROVIDER), "Custom");
    EXPECT_EQ(Items(IDC_ADD_TYPE), (Lines{"POP3", "IMAP"}));
    EXPECT_EQ(m_ui.ListGetCurSel(m_hWnd, IDC_ADD_TYPE), ADD::kTypePop3);
    EXPECT_FALSE(m_ui.IsItemChecked(m_hWnd, IDC_ADD_SSL));
    EXPECT_EQ(m_dlg.HelpLinkTarget(), "");
    ASSERT_NE(m_dlg.m_brush, nullptr);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(AccountDialogTest, EditOfAnImapAccountShowsItsFields) {
    CAccount account;
    account.m_strAccountName = "Home";
    account.m_strUserName = "me";
    account.m_strPassword = "pw";
    account.m_strServer = "imap.example.com";
    account.m_strAccountType = "IMAP";
    account.m_strSecurity = "SSL";
    m_dlg.LoadFrom(account);
    Open();

    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_NAME), "Home");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_USER), "me");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_PASSWORD), "pw");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_SERVER), "imap.example.com");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_TYPE), "IMAP");
    EXPECT_TRUE(m_ui.IsItemChecked(m_hWnd, IDC_ADD_SSL));
    // Opening warns of nothing; only choosing IMAP does.
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(AccountDialogTest, ProviderPresetFillsServerAndTlsAndCustomEmptiesBoth) {
    struct Case {
        const char* provider;
        const char* server;
        const char* helpHost;
    };
    const Case cases[] = {
        {"Gmail", "pop.gmail.com", "support.google.com"},
        {"Hotmail", "outlook.office365.com", "support.microsoft.com"},
        {"Yahoo Mail", "pop.mail.yahoo.com", "help.yahoo.com"},
    };
    Open();
    m_ui.SetItemText(m_hWnd, IDC_ADD_NAME, "Mine");
    Choose(IDC_ADD_TYPE, "IMAP");
    m_boxes.clear();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.provider);
        Choose(IDC_ADD_PROVIDER, c.provider);
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_SERVER), c.server);
        EXPECT_TRUE(m_ui.IsItemChecked(m_hWnd, IDC_ADD_SSL));
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_HELP), "Help");
        EXPECT_EQ(m_dlg.HelpLinkTarget().rfind(std::string("https://") + c.helpHost + "/", 0), 0u)
            << m_dlg.HelpLinkTarget();
        // Static 1137 is a link: fitted to "Help", the target in its tooltip.
        const port::WindowHandle link = m_ui.GetItem(m_hWnd, IDC_ADD_HELP);
        EXPECT_EQ(m_ui.GetWindowRect(link).Width(), 4 * port::headless::kCharWidth);
        const auto tooltip = m_ui.FindTooltip(link);
        ASSERT_TRUE(tooltip.has_value());
        EXPECT_EQ(tooltip->text, m_dlg.HelpLinkTarget());
        // The other fields and the account type stay as they were.
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_NAME), "Mine");
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_TYPE), "IMAP");
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_PROVIDER), c.provider);

        Choose(IDC_ADD_PROVIDER, "Custom");
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_SERVER), "");
        EXPECT_FALSE(m_ui.IsItemChecked(m_hWnd, IDC_ADD_SSL));
        EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_HELP), "");
        EXPECT_EQ(m_dlg.HelpLinkTarget(), "");
    }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(AccountDialogTest, ChoosingImapWarnsAndKeepsImap) {
    Open();
    Choose(IDC_ADD_TYPE, "IMAP");
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text,
              "Blocked senders / domains does not work with IMAP in this version of Tavlo");
    EXPECT_EQ(m_boxes[0].caption, "tavlo");
    EXPECT_EQ(m_boxes[0].type, port::kMbOk);
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ADD_TYPE), "IMAP");

    Choose(IDC_ADD_TYPE, "POP3");
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(AccountDialogTest, OkChecksTheFieldsInOrderAndStopsAtTheFirst) {
    struct Case {
        const char* name;
        const char* user;
        const char* password;
        const char* server;
        const char* message;
    };
    const Case cases[] = {
        {"", "", "", "", "Type a descriptive name for the account, for example, Work or Dave(ISP)"},
        {"", "u", "p", "s",
         "Type a descriptive name for the account, for example, Work or Dave(ISP)"},
        {"n", "", "", "", "Type User Name"},
        {"n", "u", "", "", "Type Password"},
        {"n", "u", "p", "", "Type your Incoming Mail Server"},
        // The store cannot give this password back: refused here.
        {"n", "u", " 234567890abcdefgh", "s",
         "The password cannot be stored: character 1 cannot be saved at that position in the "
         "password. Please choose a different password."},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        m_boxes.clear();
        Type(c.name, c.user, c.password, c.server);
        ASSERT_TRUE(m_ui.PressButton(m_hWnd, port::kIdOk));
        EXPECT_EQ(BoxTexts(), Lines{c.message});
        EXPECT_FALSE(m_ui.DialogEnded(m_hWnd));
    }
}

TEST_F(AccountDialogTest, OkWithEveryFieldEndsWithTheFieldsInTheMembers) {
    Open();
    Type("Work", "dave", "secret", "mail.example.com:1110");
    Choose(IDC_ADD_TYPE, "IMAP");
    ASSERT_TRUE(m_ui.PressButton(m_hWnd, IDC_ADD_SSL)); // an automatic check box
    m_boxes.clear();
    ASSERT_TRUE(m_ui.PressButton(m_hWnd, port::kIdOk));

    int result = 0;
    ASSERT_TRUE(m_ui.DialogEnded(m_hWnd, &result));
    EXPECT_EQ(result, port::kIdOk);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_dlg.m_strAccountName, "Work");
    EXPECT_EQ(m_dlg.m_strUserName, "dave");
    EXPECT_EQ(m_dlg.m_strPassword, "secret");
    EXPECT_EQ(m_dlg.m_strServer, "mail.example.com:1110");
    EXPECT_EQ(m_dlg.m_nAccountType, ADD::kTypeImap);
    EXPECT_EQ(m_dlg.m_bSSL, 1);

    CAccount account;
    account.m_strLastMessage = "77";
    m_dlg.ApplyTo(account);
    EXPECT_EQ(account.m_strAccountType, "IMAP");
    EXPECT_EQ(account.m_strSecurity, "SSL");
    EXPECT_EQ(account.m_strLastMessage, "77");
}

TEST_F(AccountDialogTest, CancelEndsWithCancel) {
    Open();
    Type("Work", "", "", "");
    ASSERT_TRUE(m_ui.PressButton(m_hWnd, port::kIdCancel));
    int result = 0;
    ASSERT_TRUE(m_ui.DialogEnded(m_hWnd, &result));
    EXPECT_EQ(result, port::kIdCancel);
    EXPECT_TRUE(m_boxes.empty());
}

// --- The test button against scripted servers --------------------------------

struct TestButtonCase {
    const char* name;
    const char* type; // as chosen in the type box
    bool tls;
    std::vector<Step> script;
    Lines transcript;
    bool succeeded;
};

void PrintTo(const TestButtonCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<TestButtonCase> TestButtonCases() {
    using namespace tavlo::test::imap4;
    const std::vector<Step> pop3Accepted = {Step::Send("+OK ready\r\n"),     Step::Expect("USER u"),
                                            Step::Send("+OK\r\n"),           Step::Expect("PASS p"),
                                            Step::Send("+OK logged in\r\n"), Step::Expect("QUIT"),
                                            Step::Send("+OK bye\r\n")};
    const std::vector<Step> pop3Refused = {Step::Send("+OK ready\r\n"),
                                           Step::Expect("USER u"),
                                           Step::Send("+OK\r\n"),
                                           Step::Expect("PASS p"),
                                           Step::Send("-ERR invalid password\r\n"),
                                           Step::Expect("QUIT"),
                                           Step::Send("+OK\r\n")};
    std::vector<Step> imapAccepted = LoggedIn(Logout(2));
    const std::vector<Step> imapRefused = {Step::Send(kGreeting),
                                           Step::Expect(Tag(1) + " LOGIN \"u\" \"p\""),
                                           Step::Send(Tag(1) + " NO LOGIN failed\r\n")};
    return {
        {"Pop3Plain", "POP3", false, pop3Accepted, {"USER u", "PASS p", "QUIT"}, true},
        {"Pop3Tls", "POP3", true, pop3Accepted, {"USER u", "PASS p", "QUIT"}, true},
        {"Pop3Refused", "POP3", false, pop3Refused, {"USER u", "PASS p", "QUIT"}, false},
        {"ImapTls",
         "IMAP",
         true,
         imapAccepted,
         {Tag(1) + " LOGIN \"u\" \"p\"", Tag(2) + " LOGOUT"},
         true},
        {"ImapRefused", "IMAP", false, imapRefused, {Tag(1) + " LOGIN \"u\" \"p\""}, false},
    };
}

class AccountTestButtonTest : public AccountDialogTest,
                              public ::testing::WithParamInterface<TestButtonCase> {};

TEST_P(AccountTestButtonTest, DialogueAndMessage) {
    const TestButtonCase& c = GetParam();
    tavlo::test::ScopedEnvironmentVariable trust("SSL_CERT_FILE",
                                                 tavlo::test::TestDataPath("tls/ca.crt"));
    imap::SetNextTagValue(1);
    ScriptedServerOptions options;
    options.lingerMs = 500;
    if (c.tls)
        options.tls = tavlo::test::TestTlsIdentity("server");
    ScriptedServer server(c.script, options);

    Open();
    Type("Name", "u", "p", "localhost:" + std::to_string(server.port()));
    Choose(IDC_ADD_TYPE, c.type);
    m_ui.CheckItem(m_hWnd, IDC_ADD_SSL, c.tls);
    m_boxes.clear();
    m_cursorsAtBox.clear();
    ASSERT_TRUE(m_ui.PressButton(m_hWnd, IDC_ADD_TEST));

    ASSERT_TRUE(server.WaitUntilFinished());
    EXPECT_EQ(server.transcript(), c.transcript);
    for (const std::string& e : server.errors())
        ADD_FAILURE() << e;
    ASSERT_EQ(server.connections().size(), 1u);
    EXPECT_EQ(server.connections()[0].tlsHandshakeOk, c.tls);

    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, c.succeeded ? kSucceeded : kFailed);
    EXPECT_EQ(m_boxes[0].caption, "tavlo");
    EXPECT_EQ(m_boxes[0].type, port::kMbOk);
    EXPECT_EQ(m_cursorsAtBox[0], m_ui.LoadSystemCursor(port::SystemCursor::Wait));
    EXPECT_EQ(m_ui.CurrentCursor(), m_ui.LoadSystemCursor(port::SystemCursor::Arrow));
    EXPECT_FALSE(m_ui.DialogEnded(m_hWnd)); // the dialog stays open
}

INSTANTIATE_TEST_SUITE_P(Servers, AccountTestButtonTest, ::testing::ValuesIn(TestButtonCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A line break or zero byte in a field fails the test before anything is
// sent: no command line can be smuggled to the server.
TEST_F(AccountDialogTest, LineBreaksInFieldsFailWithNothingSent) {
    struct Case {
        const char* type;
        std::string user;
        std::string password;
        bool inServer;
    };
    const Case cases[] = {
        {"POP3", "u\r\nDELE 1", "p", false},
        {"POP3", "u", std::string("p\0x", 3), false},
        {"IMAP", "u", "p\nA0002 DELETE INBOX", false},
        {"POP3", "u", "p", true},
        {"IMAP", "u", "p", true},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.user << " in server " << c.inServer);
        ScriptedServerOptions options;
        options.acceptTimeoutMs = 300;
        options.lingerMs = 100;
        ScriptedServer server(
            std::vector<Step>{Step::Send("+OK ready\r\n"), Step::WaitForClientClose()}, options);
        const std::string at = "127.0.0.1:" + std::to_string(server.port());
        Type("Name", c.user, c.password, c.inServer ? "127.0.0.1\n:" + at.substr(10) : at);
        Choose(IDC_ADD_TYPE, c.type);
        m_boxes.clear();
        ASSERT_TRUE(m_ui.PressButton(m_hWnd, IDC_ADD_TEST));
        EXPECT_EQ(BoxTexts(), Lines{kFailed});
        server.WaitUntilFinished(2000);
        EXPECT_TRUE(server.connections().empty());
        EXPECT_TRUE(server.transcript().empty());
    }
}

// --- The test button against a real Dovecot ------------------------------------

class AccountDialogDovecotTest : public AccountDialogTest {
protected:
    void SetUp() override {
        AccountDialogTest::SetUp();
        auto instance = tavlo::test::DovecotInstance::FromEnvironment("TAVLO_DOVECOT_ENV");
        if (!instance)
            GTEST_SKIP() << "TAVLO_DOVECOT_ENV does not name a running Dovecot test instance";
        m_server = *instance;
        m_trust.emplace("SSL_CERT_FILE", m_server.Ca());
    }

    tavlo::test::DovecotInstance m_server;
    std::optional<tavlo::test::ScopedEnvironmentVariable> m_trust;
};

TEST_F(AccountDialogDovecotTest, EachProtocolWithTheRightAndAWrongPassword) {
    struct Case {
        const char* protocol;
        const char* type;
        bool tls;
    };
    const Case cases[] = {
        {"POP3", "POP3", false},
        {"POP3S", "POP3", true},
        {"IMAP", "IMAP", false},
        {"IMAPS", "IMAP", true},
    };
    Open();
    for (const Case& c : cases) {
        for (const bool right : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.protocol << (right ? " right" : " wrong"));
            const std::string password = right ? m_server.Password("kim") : "not-kims";
            Type("Kim", "kim", password, "127.0.0.1:" + std::to_string(m_server.Port(c.protocol)));
            Choose(IDC_ADD_TYPE, c.type);
            m_ui.CheckItem(m_hWnd, IDC_ADD_SSL, c.tls);
            m_boxes.clear();
            ASSERT_TRUE(m_ui.PressButton(m_hWnd, IDC_ADD_TEST));
            // Choosing IMAP warns first; the test's box comes last.
            ASSERT_FALSE(m_boxes.empty());
            EXPECT_EQ(m_boxes.back().text, right ? kSucceeded : kFailed);
        }
    }
}

} // namespace
