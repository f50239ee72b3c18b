// The main window's account commands on the headless window system: Add,
// Delete and Edit through the real account dialog (filled while its modal
// run waits), the list box that sorts while the list keeps insertion order,
// the buttons that follow the selection, the store, and the check timers.
#include "config/AccountStore.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/CyclesDlg.h"
#include "support/ListBoxes.h"
#include "support/LoopbackSockets.h"
#include "support/MemoryProfileStore.h"
#include "support/TestEnv.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using port::headless::HeadlessUi;
using port::headless::MessageBoxCall;
using tavlo::test::MemoryProfileStore;
using Lines = std::vector<std::string>;

constexpr unsigned kPeriod10Min = 10 * 60000;

CAccount StoredAccount(const std::string& name, const std::string& user,
                       const std::string& marker = "0") {
    CAccount a;
    a.m_strAccountName = name;
    a.m_strUserName = user;
    a.m_strPassword = "p";
    // Nothing listens there: a check finds nothing at once.
    a.m_strServer = "127.0.0.1:" + std::to_string(tavlo::test::ClosedPort());
    a.m_strSecurity = "NORMAL";
    a.m_strLastMessage = marker;
    a.m_strAccountType = "POP3";
    return a;
}

using tavlo::test::CyclesDlg;

// What the user does in the account dialog while its modal run waits.
struct DialogInput {
    std::optional<std::string> name, user, password, server, type;
    std::optional<bool> ssl;
    int button = port::kIdOk;
};

class AccountCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavlo::test::EnsureSocketLayer();
        m_store.SetInt("App", "Autostart", 0);
        m_ui.SetMessageBoxHandler([this](const MessageBoxCall& call) {
            m_boxes.push_back(call);
            return m_answer;
        });
    }

    void Store(const std::vector<CAccount>& accounts) {
        ASSERT_TRUE(SaveAccounts(m_store, accounts));
    }

    CyclesDlg& Start() {
        m_dlg.emplace(m_app, m_ui);
        m_hWnd = m_ui.OpenDialog(IDD_VESK_DIALOG, &*m_dlg, nullptr);
        return *m_dlg;
    }

    // Runs a command of the main window whose account dialog the input
    // fills and closes; what the dialog showed when it opened is kept.
    void RunWithDialog(unsigned command, unsigned code, const DialogInput& input) {
        bool done = false;
        m_ui.SetIdleHandler([this, &done, &input] {
            const port::WindowHandle dialog = m_ui.FindDialogOfTemplate(IDD_ADD);
            if (done || dialog == nullptr)
                return;
            done = true;
            m_shown = Shown{m_ui.GetWindowText(dialog), m_ui.GetItemText(dialog, IDC_ADD_NAME),
                            m_ui.GetItemText(dialog, IDC_ADD_USER),
                            m_ui.GetItemText(dialog, IDC_ADD_TYPE),
                            m_ui.IsItemChecked(dialog, IDC_ADD_SSL)};
            const std::pair<int, const std::optional<std::string>*> fields[] = {
                {IDC_ADD_NAME, &input.name},
                {IDC_ADD_USER, &input.user},
                {IDC_ADD_PASSWORD, &input.password},
                {IDC_ADD_SERVER, &input.server}};
            for (const auto& [id, value] : fields) {
                if (value->has_value())
                    m_ui.SetItemText(dialog, id, **value);
            }
            if (input.type)
                m_ui.ListSetCurSel(dialog, IDC_ADD_TYPE, *input.type == "IMAP" ? 1 : 0);
            if (input.ssl)
                m_ui.CheckItem(dialog, IDC_ADD_SSL, *input.ssl);
            m_ui.PressButton(dialog, input.button);
        });
        m_ui.SendMessage(m_hWnd, port::kWmCommand, port::MakeCommandParam(command, code), 0);
        m_ui.SetIdleHandler(nullptr);
        EXPECT_TRUE(done) << "the account dialog did not open";
    }

    void Add(const std::string& name, const std::string& user) {
        DialogInput input;
        input.name = name;
        input.user = user;
        input.password = "p";
        input.server = "127.0.0.1:" + std::to_string(tavlo::test::ClosedPort());
        RunWithDialog(IDC_ACCOUNT_ADD, 0, input);
    }

    void Press(int id) { tavlo::test::ClickButton(m_ui, m_hWnd, id); }

    void Select(int index) { tavlo::test::ClickListItem(m_ui, m_hWnd, IDC_ACCOUNTS_LIST, index); }

    Lines ListItems() const { return tavlo::test::ListItems(m_ui, m_hWnd, IDC_ACCOUNTS_LIST); }

    int Selection() const { return m_ui.ListGetCurSel(m_hWnd, IDC_ACCOUNTS_LIST); }

    bool ButtonsEnabled() const {
        const bool del = m_ui.IsItemEnabled(m_hWnd, IDC_ACCOUNT_DELETE);
        EXPECT_EQ(del, m_ui.IsItemEnabled(m_hWnd, IDC_ACCOUNT_EDIT));
        return del;
    }

    // The stored list, read back as start-up reads it.
    std::vector<CAccount> Stored() {
        std::vector<CAccount> accounts;
        LoadAccounts(m_store, accounts);
        return accounts;
    }

    Lines StoredUsers() {
        Lines users;
        for (const CAccount& a : Stored())
            users.push_back(a.m_strAccountName + "/" + a.m_strUserName);
        return users;
    }

    struct Shown {
        std::string caption, name, user, type;
        bool ssl = false;
    };

    MemoryProfileStore m_store;
    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    CVeskApp m_app{m_store, m_ui, "tavlo"};
    std::optional<CyclesDlg> m_dlg;
    port::WindowHandle m_hWnd = nullptr;
    std::vector<MessageBoxCall> m_boxes;
    int m_answer = port::kIdYes;
    std::optional<Shown> m_shown;
};

TEST_F(AccountCommandsTest, StartFillsTheSortedListAndOnlyAddIsEnabled) {
    Store({StoredAccount("Work", "a"), StoredAccount("Home", "b"), StoredAccount("Work", "c")});
    Start();
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work", "Work"}));
    EXPECT_EQ(Selection(), -1);
    EXPECT_TRUE(m_ui.IsItemEnabled(m_hWnd, IDC_ACCOUNT_ADD));
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(m_ui.IsItemEnabled(m_hWnd, IDC_BLOCKED_ADD));

    Select(1);
    EXPECT_TRUE(ButtonsEnabled());
}

TEST_F(AccountCommandsTest, AddOnAnEmptyListStoresTheAccountAndChecksFiveSecondsLater) {
    CyclesDlg& dlg = Start();
    m_ui.Advance(1000);
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck));

    DialogInput input;
    input.name = "Work";
    input.user = "dave";
    input.password = "secret";
    input.server = "127.0.0.1:" + std::to_string(tavlo::test::ClosedPort());
    input.type = "IMAP";
    input.ssl = true;
    RunWithDialog(IDC_ACCOUNT_ADD, 0, input);

    ASSERT_TRUE(m_shown);
    EXPECT_EQ(m_shown->caption, "Add a new e-mail account");
    EXPECT_EQ(m_shown->name, "");
    EXPECT_EQ(m_shown->type, "POP3");
    EXPECT_FALSE(m_shown->ssl);

    EXPECT_EQ(ListItems(), Lines{"Work"});
    EXPECT_EQ(Selection(), 0);
    EXPECT_TRUE(ButtonsEnabled());
    ASSERT_EQ(dlg.m_accounts.size(), 1u);
    const CAccount& added = dlg.m_accounts[0];
    EXPECT_EQ(added.m_strUserName, "dave");
    EXPECT_EQ(added.m_strPassword, "secret");
    EXPECT_EQ(added.m_strAccountType, "IMAP");
    EXPECT_EQ(added.m_strSecurity, "SSL");
    EXPECT_EQ(added.m_strLastMessage, "0");
    EXPECT_EQ(Stored(), dlg.m_accounts);

    // The first account arms the checks: the first one 5 s later.
    EXPECT_EQ(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck), kPeriod10Min);
    const std::uint64_t added_at = m_ui.Now();
    m_ui.Advance(4999);
    EXPECT_TRUE(dlg.cycles.empty());
    m_ui.Advance(1);
    ASSERT_EQ(dlg.cycles.size(), 1u);
    EXPECT_EQ(dlg.cycles[0], added_at + 5000);
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck));

    // A second account re-arms nothing.
    Add("Home", "h");
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck));
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work"}));
    EXPECT_EQ(Selection(), 0);
}

TEST_F(AccountCommandsTest, CancelledAddChangesNothing) {
    Start();
    DialogInput input;
    input.name = "Work";
    input.button = port::kIdCancel;
    RunWithDialog(IDC_ACCOUNT_ADD, 0, input);
    EXPECT_TRUE(ListItems().empty());
    EXPECT_TRUE(m_dlg->m_accounts.empty());
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck));
    EXPECT_EQ(m_store.GetString("User", "Accounts", "<none>"), "<none>");
}

TEST_F(AccountCommandsTest, SecondOfTwoEqualNamesDeletedRemovesTheSecondAdded) {
    Start();
    Add("Work", "first");
    Add("Home", "home");
    Add("Work", "second");
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work", "Work"}));

    // No: nothing changes, the selection stays.
    Select(2);
    m_answer = port::kIdNo;
    Press(IDC_ACCOUNT_DELETE);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, "Are you sure you want to delete your account (Work)?");
    EXPECT_EQ(m_boxes[0].caption, "tavlo");
    EXPECT_EQ(m_boxes[0].type, port::kMbYesNo);
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work", "Work"}));
    EXPECT_EQ(Selection(), 2);
    EXPECT_EQ(StoredUsers(), (Lines{"Work/first", "Home/home", "Work/second"}));

    m_answer = port::kIdYes;
    Press(IDC_ACCOUNT_DELETE);
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work"}));
    EXPECT_EQ(Selection(), 1); // the item above
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(StoredUsers(), (Lines{"Work/first", "Home/home"}));
    EXPECT_EQ(Stored(), m_dlg->m_accounts);

    // The first item deleted: nothing is selected, the buttons stay.
    Select(0);
    Press(IDC_ACCOUNT_DELETE);
    EXPECT_EQ(ListItems(), Lines{"Work"});
    EXPECT_EQ(Selection(), -1);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(StoredUsers(), Lines{"Work/first"});

    // Without a selection Delete asks nothing.
    m_boxes.clear();
    Press(IDC_ACCOUNT_DELETE);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(StoredUsers(), Lines{"Work/first"});
}

TEST_F(AccountCommandsTest, DeletingTheOnlyAccountCancelsThePendingFirstCheck) {
    Store({StoredAccount("Work", "a")});
    CyclesDlg& dlg = Start();
    ASSERT_TRUE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck)); // 5.3 s after start

    Select(0);
    Press(IDC_ACCOUNT_DELETE);

    EXPECT_TRUE(ListItems().empty());
    EXPECT_EQ(Selection(), -1);
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_TRUE(m_ui.IsItemEnabled(m_hWnd, IDC_ACCOUNT_ADD));
    EXPECT_EQ(m_store.GetString("User", "Accounts", "<none>"), "");
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck));
    EXPECT_EQ(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck), kPeriod10Min);
    m_ui.Advance(6000);
    EXPECT_TRUE(dlg.cycles.empty());
    m_ui.Advance(kPeriod10Min);
    EXPECT_EQ(dlg.cycles.size(), 1u); // the periodic check runs on, over no account
}

TEST_F(AccountCommandsTest, EditKeepsTheMarkerAndRenamesTheItem) {
    CAccount older = StoredAccount("Work", "a", "41");
    older.m_strAccountType = ""; // as read from an older store
    Store({older, StoredAccount("Home", "b", "42"), StoredAccount("Work", "c", "43")});
    Start();
    // The second "Work" item stands for the third account; a double click
    // edits it.
    m_ui.ListSetCurSel(m_hWnd, IDC_ACCOUNTS_LIST, 2);
    DialogInput input;
    input.name = "Zeta";
    input.user = "z";
    input.type = "IMAP";
    input.ssl = true;
    RunWithDialog(IDC_ACCOUNTS_LIST, port::kListDblClk, input);

    ASSERT_TRUE(m_shown);
    EXPECT_EQ(m_shown->caption, "View or change e-mail account settings");
    EXPECT_EQ(m_shown->name, "Work");
    EXPECT_EQ(m_shown->user, "c");
    EXPECT_EQ(m_shown->type, "POP3");
    EXPECT_FALSE(m_shown->ssl);

    const std::vector<CAccount> stored = Stored();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[2].m_strAccountName, "Zeta");
    EXPECT_EQ(stored[2].m_strUserName, "z");
    EXPECT_EQ(stored[2].m_strAccountType, "IMAP");
    EXPECT_EQ(stored[2].m_strSecurity, "SSL");
    EXPECT_EQ(stored[2].m_strLastMessage, "43");
    EXPECT_EQ(stored[0].m_strUserName, "a"); // the other "Work" is untouched
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work", "Zeta"}));
    EXPECT_EQ(Selection(), 2);

    // Edit through the button, name kept; Cancel re-selects and keeps all.
    Select(1);
    DialogInput cancel;
    cancel.user = "changed";
    cancel.button = port::kIdCancel;
    RunWithDialog(IDC_ACCOUNT_EDIT, 0, cancel);
    EXPECT_EQ(m_shown->user, "a");
    EXPECT_EQ(Selection(), 1);
    EXPECT_EQ(Stored(), stored);
    EXPECT_EQ(stored[0].m_strAccountType, "");

    // An account from an older store (no type) gets "POP3" on its first OK.
    DialogInput same;
    RunWithDialog(IDC_ACCOUNT_EDIT, 0, same);
    EXPECT_EQ(Stored()[0].m_strAccountType, "POP3");
    EXPECT_EQ(Stored()[0].m_strLastMessage, "41");
    EXPECT_EQ(ListItems(), (Lines{"Home", "Work", "Zeta"}));
}

TEST_F(AccountCommandsTest, EditRenameSelectsTheLastItemOfTheNewName) {
    Store({StoredAccount("Alpha", "a"), StoredAccount("Work", "w")});
    Start();
    Select(0);
    DialogInput input;
    input.name = "Work";
    RunWithDialog(IDC_ACCOUNT_EDIT, 0, input);
    EXPECT_EQ(ListItems(), (Lines{"Work", "Work"}));
    EXPECT_EQ(Selection(), 1);
}

TEST_F(AccountCommandsTest, EditWithoutSelectionOpensNothing) {
    Store({StoredAccount("Work", "a")});
    Start();
    m_ui.SetIdleHandler([] { FAIL() << "a dialog opened"; });
    Press(IDC_ACCOUNT_EDIT);
    m_ui.SetIdleHandler(nullptr);
    EXPECT_EQ(m_ui.FindDialogOfTemplate(IDD_ADD), nullptr);
}

} // namespace
