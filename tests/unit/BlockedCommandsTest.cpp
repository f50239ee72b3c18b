// The block-sender dialog and the main window's blocked-sender commands on
// the headless window system: the dialog's texts and its refusal of an empty
// text; Add, Delete and Edit through the real dialog (filled while its modal
// run waits) with equal entries in a sorted list box; the buttons that
// follow the selection; and Blocklist.txt after every command.
#include "config/BlockSenderDialog.h"
#include "config/BlockedSenders.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/CyclesDlg.h"
#include "support/ListBoxes.h"
#include "support/MemoryProfileStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using port::headless::HeadlessUi;
using port::headless::MessageBoxCall;
using tavlo::test::CyclesDlg;
using tavlo::test::MemoryProfileStore;
using Lines = std::vector<std::string>;

// What the user does in the block-sender dialog while its modal run waits:
// each step types a text (when given) and presses a button.
struct DialogStep {
    std::optional<std::string> text;
    int button = port::kIdOk;
};

// What the dialog showed when it opened.
struct Shown {
    std::string caption;
    std::string text;
};

class BlockedCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_store.SetInt("App", "Autostart", 0);
        m_app.SetDataFolder(m_dir.path() + port::PathSeparator());
        m_ui.SetMessageBoxHandler([this](const MessageBoxCall& call) {
            m_boxes.push_back(call);
            return m_answer;
        });
    }

    void WriteFile(const std::string& bytes) {
        ASSERT_TRUE(port::WriteFileAtomically(m_path, bytes));
    }

    std::string FileBytes() const {
        std::string bytes;
        EXPECT_EQ(port::ReadWholeFile(m_path, bytes), port::FileReadResult::Ok);
        return bytes;
    }

    CyclesDlg& Start() {
        m_dlg.emplace(m_app, m_ui);
        m_hWnd = m_ui.OpenDialog(IDD_VESK_DIALOG, &*m_dlg, nullptr);
        return *m_dlg;
    }

    // Runs a command of the main window whose block-sender dialog the steps
    // fill and close.
    void RunWithDialog(unsigned command, unsigned code, std::vector<DialogStep> steps) {
        std::size_t next = 0;
        m_shown.reset();
        m_ui.SetIdleHandler([&] {
            const port::WindowHandle dialog = m_ui.FindDialogOfTemplate(IDD_SPAM);
            if (dialog == nullptr || next == steps.size())
                return;
            if (!m_shown)
                m_shown =
                    Shown{m_ui.GetWindowText(dialog), m_ui.GetItemText(dialog, IDC_SPAM_ADDRESS)};
            const DialogStep& step = steps[next++];
            if (step.text)
                m_ui.SetItemText(dialog, IDC_SPAM_ADDRESS, *step.text);
            m_ui.PressButton(dialog, step.button);
        });
        m_ui.SendMessage(m_hWnd, port::kWmCommand, port::MakeCommandParam(command, code), 0);
        m_ui.SetIdleHandler(nullptr);
        EXPECT_EQ(next, steps.size()) << "the dialog did not take every step";
        EXPECT_EQ(m_ui.FindDialogOfTemplate(IDD_SPAM), nullptr) << "the dialog is still open";
    }

    void Add(const std::string& text) { RunWithDialog(IDC_BLOCKED_ADD, 0, {{text}}); }

    void Press(int id) { tavlo::test::ClickButton(m_ui, m_hWnd, id); }

    void Select(int index) { tavlo::test::ClickListItem(m_ui, m_hWnd, IDC_BLOCKED_LIST, index); }

    Lines ListItems() const { return tavlo::test::ListItems(m_ui, m_hWnd, IDC_BLOCKED_LIST); }

    Lines Entries() const {
        Lines texts;
        for (const BlockedSender& entry : m_dlg->m_blockedSenders)
            texts.push_back(entry.m_strAddress);
        return texts;
    }

    int Selection() const { return m_ui.ListGetCurSel(m_hWnd, IDC_BLOCKED_LIST); }

    bool ButtonsEnabled() const {
        const bool del = m_ui.IsItemEnabled(m_hWnd, IDC_BLOCKED_DELETE);
        EXPECT_EQ(del, m_ui.IsItemEnabled(m_hWnd, IDC_BLOCKED_EDIT));
        return del;
    }

    Lines BoxTexts() const {
        Lines texts;
        for (const MessageBoxCall& box : m_boxes)
            texts.push_back(box.text);
        return texts;
    }

    tavlo::test::TempDir m_dir;
    std::string m_path = m_dir.file(kBlocklistFileName);
    MemoryProfileStore m_store;
    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    CVeskApp m_app{m_store, m_ui, "tavlo"};
    std::optional<CyclesDlg> m_dlg;
    port::WindowHandle m_hWnd = nullptr;
    std::vector<MessageBoxCall> m_boxes;
    int m_answer = port::kIdYes;
    std::optional<Shown> m_shown;
};

TEST_F(BlockedCommandsTest, TheDialogShowsItsEnglishTextsAndRefusesAnEmptyText) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    std::vector<MessageBoxCall> boxes;
    ui.SetMessageBoxHandler([&](const MessageBoxCall& call) {
        boxes.push_back(call);
        return port::kIdOk;
    });
    Spam dialog(ui, "tavlo");
    dialog.m_strCaption = "Change blocked sender / domain";
    dialog.m_strAddress = "old.example";
    const port::WindowHandle hWnd = ui.OpenDialog(IDD_SPAM, &dialog, nullptr);
    ASSERT_NE(hWnd, nullptr);

    EXPECT_EQ(ui.GetWindowText(hWnd), "Change blocked sender / domain");
    const std::pair<int, const char*> texts[] = {
        {IDC_SPAM_GROUP, "Block e-mail address or domain"},
        {IDC_SPAM_LABEL, "Email Address / Domain"},
        {IDC_SPAM_ADDRESS, "old.example"},
        {IDC_SPAM_NOTE,
         "Enter a sender's email address or domain to add this to the list of blocked "
         "senders. NOTE! All e-mails from that address or domain will be deleted from the mail "
         "server and this action cannot be undone, so please be very careful."},
        {port::kIdOk, "OK"},
        {port::kIdCancel, "Cancel"},
    };
    for (const auto& [id, text] : texts)
        EXPECT_EQ(ui.GetItemText(hWnd, id), text) << id;
    ASSERT_NE(dialog.m_brush, nullptr);

    ui.SetItemText(hWnd, IDC_SPAM_ADDRESS, "");
    ui.PressButton(hWnd, port::kIdOk);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Type Email address or Domain name.");
    EXPECT_EQ(boxes[0].caption, "tavlo");
    EXPECT_FALSE(ui.DialogEnded(hWnd, nullptr));

    // A line break would store one entry that loads back as two.
    for (const std::string& text :
         {std::string("spam.test\nok.test"), std::string("a\r\nb"), std::string("a\0b", 3)}) {
        ui.SetItemText(hWnd, IDC_SPAM_ADDRESS, text);
        ui.PressButton(hWnd, port::kIdOk);
        EXPECT_EQ(boxes.back().text, "An e-mail address or domain name is one line of text.");
        EXPECT_FALSE(ui.DialogEnded(hWnd, nullptr));
    }
    EXPECT_EQ(boxes.size(), 4u);

    // Blanks alone are a text; it comes back exactly as typed.
    ui.SetItemText(hWnd, IDC_SPAM_ADDRESS, "  ");
    ui.PressButton(hWnd, port::kIdOk);
    int result = 0;
    ASSERT_TRUE(ui.DialogEnded(hWnd, &result));
    EXPECT_EQ(result, port::kIdOk);
    EXPECT_EQ(dialog.m_strAddress, "  ");
    EXPECT_EQ(boxes.size(), 4u);
}

TEST_F(BlockedCommandsTest, StartShowsTheFileSortedWithOnlyAddEnabled) {
    WriteFile("a\r\n\r\nb");
    CyclesDlg& dlg = Start();
    EXPECT_EQ(Entries(), (Lines{"a", "", "b"}));
    EXPECT_EQ(ListItems(), (Lines{"", "a", "b"}));
    EXPECT_EQ(Selection(), -1);
    EXPECT_TRUE(m_ui.IsItemEnabled(m_hWnd, IDC_BLOCKED_ADD));
    EXPECT_FALSE(ButtonsEnabled());
    Select(1);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_TRUE(dlg.IsBlockedSender("joe@A"));
}

TEST_F(BlockedCommandsTest, AddKeepsTheTextExactlyAppendsItAndSavesTheFile) {
    Start();
    RunWithDialog(IDC_BLOCKED_ADD, 0, {{""}, {"Spam.Example"}});
    ASSERT_TRUE(m_shown);
    EXPECT_EQ(m_shown->caption, "Add blocked sender / domain");
    EXPECT_EQ(m_shown->text, "");
    EXPECT_EQ(BoxTexts(), (Lines{"Type Email address or Domain name."}));

    Add("ads.example");
    Add("spam.example");
    // Insertion order in the list and the file, sorted on screen.
    EXPECT_EQ(Entries(), (Lines{"Spam.Example", "ads.example", "spam.example"}));
    EXPECT_EQ(FileBytes(), "Spam.Example\r\nads.example\r\nspam.example\r\n");
    EXPECT_EQ(ListItems(), (Lines{"ads.example", "Spam.Example", "spam.example"}));
    // The first item that begins with the text, letter case ignored.
    EXPECT_EQ(Selection(), 1);
    EXPECT_TRUE(ButtonsEnabled());

    // Cancel changes nothing.
    RunWithDialog(IDC_BLOCKED_ADD, 0, {{"x.example", port::kIdCancel}});
    EXPECT_EQ(Entries().size(), 3u);
    EXPECT_EQ(FileBytes(), "Spam.Example\r\nads.example\r\nspam.example\r\n");
}

TEST_F(BlockedCommandsTest, EqualEntriesAreEditedAndDeletedByTheirOccurrence) {
    WriteFile("x.org\r\nb.org\r\nx.org\r\na.org\r\nx.org\r\n");
    Start();
    ASSERT_EQ(ListItems(), (Lines{"a.org", "b.org", "x.org", "x.org", "x.org"}));

    // The second "x.org" item stands for the second "x.org" entry.
    Select(3);
    RunWithDialog(IDC_BLOCKED_EDIT, 0, {{"c.org"}});
    ASSERT_TRUE(m_shown);
    EXPECT_EQ(m_shown->caption, "Change blocked sender / domain");
    EXPECT_EQ(m_shown->text, "x.org");
    EXPECT_EQ(Entries(), (Lines{"x.org", "b.org", "c.org", "a.org", "x.org"}));
    EXPECT_EQ(ListItems(), (Lines{"a.org", "b.org", "c.org", "x.org", "x.org"}));
    EXPECT_EQ(Selection(), 2);
    EXPECT_EQ(FileBytes(), "x.org\r\nb.org\r\nc.org\r\na.org\r\nx.org\r\n");

    // Double click on the last "x.org": the last entry of that text.
    m_ui.ListSetCurSel(m_hWnd, IDC_BLOCKED_LIST, 4);
    RunWithDialog(IDC_BLOCKED_LIST, port::kListDblClk, {{"b.org"}});
    EXPECT_EQ(Entries(), (Lines{"x.org", "b.org", "c.org", "a.org", "b.org"}));
    // The last item whose text equals the new one is selected.
    EXPECT_EQ(ListItems(), (Lines{"a.org", "b.org", "b.org", "c.org", "x.org"}));
    EXPECT_EQ(Selection(), 2);

    // Delete the second "b.org" item, answering No first, then Yes.
    m_answer = port::kIdNo;
    Press(IDC_BLOCKED_DELETE);
    EXPECT_EQ(BoxTexts(), (Lines{"Are you sure you want to delete b.org as blocked sender / "
                                 "domain?"}));
    EXPECT_EQ(m_boxes.back().caption, "tavlo");
    EXPECT_EQ(Entries().size(), 5u);
    EXPECT_EQ(Selection(), 2);
    m_answer = port::kIdYes;
    Press(IDC_BLOCKED_DELETE);
    EXPECT_EQ(Entries(), (Lines{"x.org", "b.org", "c.org", "a.org"}));
    EXPECT_EQ(ListItems(), (Lines{"a.org", "b.org", "c.org", "x.org"}));
    EXPECT_EQ(Selection(), 1); // the item above
    EXPECT_EQ(FileBytes(), "x.org\r\nb.org\r\nc.org\r\na.org\r\n");
}

TEST_F(BlockedCommandsTest, EditWithCancelOrTheSameTextKeepsTheItem) {
    WriteFile("b.org\r\na.org\r\n");
    Start();
    Select(1);
    RunWithDialog(IDC_BLOCKED_EDIT, 0, {{"changed.org", port::kIdCancel}});
    EXPECT_EQ(Entries(), (Lines{"b.org", "a.org"}));
    EXPECT_EQ(Selection(), 1);

    RunWithDialog(IDC_BLOCKED_EDIT, 0, {{std::nullopt}});
    EXPECT_EQ(ListItems(), (Lines{"a.org", "b.org"}));
    EXPECT_EQ(Selection(), 1);
    EXPECT_EQ(FileBytes(), "b.org\r\na.org\r\n");

    // Nothing selected: nothing opens.
    m_ui.ListSetCurSel(m_hWnd, IDC_BLOCKED_LIST, -1);
    Press(IDC_BLOCKED_EDIT);
    Press(IDC_BLOCKED_DELETE);
    EXPECT_EQ(m_ui.FindDialogOfTemplate(IDD_SPAM), nullptr);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(BlockedCommandsTest, DeletingTheLastEntryEmptiesTheFileAndKeepsTheCheckTimers) {
    WriteFile("only.example\r\n");
    Start();
    m_ui.SetTimer(m_hWnd, CVeskDlg::kTimerCheck, 600000);
    m_ui.SetTimer(m_hWnd, CVeskDlg::kTimerFirstCheck, 5300);
    Select(0);
    Press(IDC_BLOCKED_DELETE);
    EXPECT_TRUE(Entries().empty());
    EXPECT_TRUE(ListItems().empty());
    EXPECT_EQ(Selection(), -1);
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_EQ(FileBytes(), "");
    EXPECT_TRUE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck));
    EXPECT_TRUE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck));
}

TEST_F(BlockedCommandsTest, AFileThatCannotBeWrittenIsNamedAndTheListKeepsTheChange) {
    Start();
    // The data folder is gone: the file cannot be created.
    const std::string missing = m_dir.file("gone") + port::PathSeparator();
    m_app.SetDataFolder(missing);
    Add("spam.example");
    EXPECT_EQ(Entries(), (Lines{"spam.example"}));
    EXPECT_EQ(ListItems(), (Lines{"spam.example"}));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].text.find(missing + kBlocklistFileName), std::string::npos)
        << m_boxes[0].text;
    EXPECT_EQ(m_boxes[0].caption, "tavlo");
}

TEST_F(BlockedCommandsTest, AFileReadOnlyInPartIsNeverRewritten) {
    std::string content = "spam.example\r\n";
    content += std::string(kMaxBlocklistBytes, 'z');
    WriteFile(content);
    Start();
    EXPECT_EQ(Entries(), (Lines{"spam.example"}));
    Add("more.example");
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].text.find(m_path), std::string::npos) << m_boxes[0].text;
    EXPECT_EQ(FileBytes(), content);
}

} // namespace
