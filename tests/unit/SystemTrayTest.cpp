#include "notify/SystemTray.h"

#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/RecordingWnd.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using port::headless::ResourceKind;
using tavlo::test::RecordingWnd;

constexpr unsigned kAllFlags = port::kNifMessage | port::kNifIcon | port::kNifTip;

// The application's arrangement: a main window whose window does not exist
// yet when the tray is created, so the tray's own hidden window takes the
// notifications; the main window exists by the time the user clicks.
class SystemTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            tray.Create(&main, ui.LoadString(IDS_CHECKING_FOR_MAIL), ui.LoadIcon(IDI_QUIET)));
        main.Create(TXT_MAIN_CAPTION);
        ui.SetMainWindow(main.GetSafeHwnd());
    }

    const port::NotifyIconData* Shown() const {
        return ui.FindNotifyIcon(tray.GetSafeHwnd(), CSystemTray::kIconId);
    }

    std::intptr_t Notify(unsigned mouseMessage, std::uintptr_t id = CSystemTray::kIconId) {
        return ui.SendMessage(tray.GetSafeHwnd(), CSystemTray::kWmTrayNotification, id,
                              static_cast<std::intptr_t>(mouseMessage));
    }

    std::vector<unsigned> CommandsReceived() const {
        std::vector<unsigned> out;
        for (const auto& m : main.MessagesOf(port::kWmCommand)) {
            EXPECT_EQ(m.lParam, 0);
            out.push_back(port::LowWord(m.wParam));
        }
        return out;
    }

    std::size_t CountEvents(EventKind kind) const { return ui.EventsOf(kind).size(); }

    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd main{ui};
    CSystemTray tray{ui};
};

TEST_F(SystemTrayTest, CreateAddsTheIconThroughItsOwnHiddenWindow) {
    const port::WindowHandle own = tray.GetSafeHwnd();
    ASSERT_NE(own, nullptr);
    const port::headless::WindowInfo* info = ui.FindWindowInfo(own);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->visible);
    EXPECT_EQ(info->title, "");
    EXPECT_EQ(info->rect, (port::Rect{0, 0, 10, 10}));

    EXPECT_TRUE(tray.IsIconAdded());
    EXPECT_FALSE(tray.IsIconHidden());
    const port::NotifyIconData& data = tray.IconData();
    EXPECT_EQ(data.cbSize, 508u);
    EXPECT_EQ(data.hWnd, own);
    EXPECT_EQ(data.uID, 216u);
    EXPECT_EQ(data.uFlags, kAllFlags);
    EXPECT_EQ(data.uCallbackMessage, 1034u);
    EXPECT_EQ(data.hIcon, ui.LoadIcon(IDI_QUIET));
    EXPECT_STREQ(data.szTip, "Checking for new mail");

    ASSERT_NE(Shown(), nullptr);
    EXPECT_EQ(Shown()->hIcon, ui.LoadIcon(IDI_QUIET));
    EXPECT_STREQ(Shown()->szTip, "Checking for new mail");
    EXPECT_EQ(Shown()->uCallbackMessage, 1034u);
}

TEST_F(SystemTrayTest, ParentWithAWindowReceivesTheNotifications) {
    CSystemTray second(ui);
    ASSERT_TRUE(second.Create(&main, "tip", ui.LoadIcon(IDI_MAIL)));
    EXPECT_EQ(second.IconData().hWnd, main.GetSafeHwnd());
    EXPECT_NE(ui.FindNotifyIcon(main.GetSafeHwnd(), 216), nullptr);
}

TEST(SystemTrayCreateTest, FailsWithoutANotificationAreaOrWhenTheShellRefuses) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    {
        ui.SetShellMajorVersion(3);
        CSystemTray tray(ui);
        EXPECT_FALSE(tray.Create(nullptr, "tip", ui.LoadIcon(IDI_QUIET)));
        EXPECT_FALSE(tray.IsIconAdded());
        EXPECT_EQ(tray.GetSafeHwnd(), nullptr);
        EXPECT_EQ(ui.NotifyIconCount(), 0u);
        // Nothing works on an icon that was never added.
        EXPECT_FALSE(tray.SetIcon(IDI_MAIL));
        EXPECT_FALSE(tray.SetTooltipText("x"));
        tray.HideIcon();
        tray.ShowIcon();
        tray.RemoveIcon();
        EXPECT_TRUE(ui.Events().empty());
    }
    {
        ui.SetShellMajorVersion(4);
        ui.SetNotifyIconFailure(true);
        CSystemTray tray(ui);
        EXPECT_FALSE(tray.Create(nullptr, "tip", ui.LoadIcon(IDI_QUIET)));
        EXPECT_FALSE(tray.IsIconAdded());
        EXPECT_FALSE(tray.SetTooltipText("x"));
        EXPECT_STREQ(tray.IconData().szTip, "tip"); // not stored
    }
}

TEST_F(SystemTrayTest, RightClickShowsTheMenuWithOpenBoldAndAChoiceReachesTheMainWindow) {
    ASSERT_TRUE(tray.SetMenuDefaultItem(2, true));
    ui.SetCursorPosition(port::Point{1000, 750});
    const unsigned commands[] = {ID_CHECK_MAIL, ID_OPEN, ID_APP_EXIT_CMD};
    for (unsigned command : commands) {
        SCOPED_TRACE(command);
        main.Clear();
        EXPECT_EQ(Notify(port::kWmRButtonUp), 1);

        ASSERT_TRUE(ui.OpenMenu().has_value());
        const auto& menu = *ui.OpenMenu();
        std::vector<std::string> texts;
        for (const auto& item : menu.items)
            texts.push_back(item.text);
        EXPECT_EQ(texts, (std::vector<std::string>{"Check For Mail", "", "Open", "", "Exit"}));
        EXPECT_EQ(menu.defaultPosition, 2);
        EXPECT_EQ(menu.at, (port::Point{1000, 750}));
        EXPECT_EQ(menu.target, main.GetSafeHwnd());
        EXPECT_EQ(ui.ForegroundWindow(), main.GetSafeHwnd());

        EXPECT_TRUE(ui.ChooseMenuItem(command));
        ui.RunPending();
        EXPECT_EQ(CommandsReceived(), std::vector<unsigned>{command});
        EXPECT_EQ(main.MessagesOf(port::kWmNull).size(), 1u);
    }
    EXPECT_EQ(ui.EventsOf(EventKind::MenuShown).back().text,
              "Check For Mail\n----\n*Open\n----\nExit");
}

TEST_F(SystemTrayTest, DoubleClickSendsTheDefaultCommandAtOnce) {
    ASSERT_TRUE(tray.SetMenuDefaultItem(2, true));
    EXPECT_EQ(Notify(port::kWmLButtonDblClk), 1);
    // Sent, not posted: there before any pumping.
    EXPECT_EQ(CommandsReceived(), std::vector<unsigned>{ID_OPEN});
    EXPECT_EQ(ui.ForegroundWindow(), main.GetSafeHwnd());

    // A default given by command number.
    main.Clear();
    ASSERT_TRUE(tray.SetMenuDefaultItem(ID_CHECK_MAIL, false));
    Notify(port::kWmLButtonDblClk);
    EXPECT_EQ(CommandsReceived(), std::vector<unsigned>{ID_CHECK_MAIL});

    // A position on a separator has no command to run.
    main.Clear();
    ASSERT_TRUE(tray.SetMenuDefaultItem(1, true));
    EXPECT_EQ(Notify(port::kWmLButtonDblClk), 1);
    EXPECT_TRUE(CommandsReceived().empty());
}

TEST_F(SystemTrayTest, OtherIdentifiersAndMouseMessagesAreIgnored) {
    main.Clear();
    EXPECT_EQ(Notify(port::kWmRButtonUp, 215), 0);
    EXPECT_EQ(Notify(port::kWmLButtonDblClk, 217), 0);
    EXPECT_EQ(Notify(port::kWmMouseMove), 1);
    EXPECT_EQ(Notify(port::kWmLButtonUp), 1);
    ui.RunPending();
    EXPECT_FALSE(ui.OpenMenu().has_value());
    EXPECT_TRUE(main.Messages().empty());
}

TEST_F(SystemTrayTest, WithoutItsMenuResourceClicksDoNothing) {
    ASSERT_TRUE(tray.SetMenuDefaultItem(2, true));
    ui.RemoveResource(ResourceKind::Menu, IDR_TRAY_MENU);
    main.Clear();
    EXPECT_EQ(Notify(port::kWmRButtonUp), 0);
    EXPECT_EQ(Notify(port::kWmLButtonDblClk), 0);
    ui.RunPending();
    EXPECT_FALSE(ui.OpenMenu().has_value());
    EXPECT_TRUE(CommandsReceived().empty());
    // The default is stored even when the menu cannot be loaded.
    EXPECT_FALSE(tray.SetMenuDefaultItem(3, true));
    EXPECT_EQ(tray.DefaultItem(), 3u);
    EXPECT_TRUE(tray.SetMenuDefaultItem(3, true)); // unchanged: no load needed
}

TEST_F(SystemTrayTest, SetIconWhileHiddenFailsAndShowIconShowsTheNewIcon) {
    tray.HideIcon();
    EXPECT_TRUE(tray.IsIconHidden());
    EXPECT_EQ(Shown(), nullptr);

    EXPECT_FALSE(tray.SetIcon(IDI_MAIL));
    EXPECT_EQ(tray.IconData().hIcon, ui.LoadIcon(IDI_MAIL));

    tray.ShowIcon();
    EXPECT_FALSE(tray.IsIconHidden());
    ASSERT_NE(Shown(), nullptr);
    EXPECT_EQ(Shown()->hIcon, ui.LoadIcon(IDI_MAIL));
    EXPECT_STREQ(Shown()->szTip, "Checking for new mail");
    EXPECT_EQ(Shown()->uCallbackMessage, 1034u);
    EXPECT_EQ(tray.IconData().uFlags, kAllFlags);
}

TEST_F(SystemTrayTest, HideTwiceOrShowWithoutHideDoesNothing) {
    tray.ShowIcon();
    EXPECT_EQ(CountEvents(EventKind::TrayAdd), 1u); // only Create's
    tray.HideIcon();
    tray.HideIcon();
    EXPECT_EQ(CountEvents(EventKind::TrayDelete), 1u);
    EXPECT_EQ(tray.IconData().uFlags, port::kNifIcon);
    tray.ShowIcon();
    tray.ShowIcon();
    EXPECT_EQ(CountEvents(EventKind::TrayAdd), 2u);
    EXPECT_NE(Shown(), nullptr);
}

TEST_F(SystemTrayTest, TooltipIsCutAt127CharactersAndComesFromStrings) {
    struct Case {
        std::string text;
        std::string stored;
    };
    const Case cases[] = {
        {std::string(200, 'a'), std::string(127, 'a')},
        {std::string(127, 'b'), std::string(127, 'b')},
        {std::string(126, 'c'), std::string(126, 'c')},
        {"Work 3 mail.\nHome 1 mail.", "Work 3 mail.\nHome 1 mail."},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        ASSERT_TRUE(tray.SetTooltipText(c.text));
        EXPECT_EQ(std::string(tray.IconData().szTip), c.stored);
        EXPECT_EQ(tray.IconData().szTip[127], '\0');
        EXPECT_EQ(tray.IconData().uFlags, port::kNifTip);
        ASSERT_NE(Shown(), nullptr);
        EXPECT_EQ(std::string(Shown()->szTip), c.stored);
    }

    ASSERT_TRUE(tray.SetTooltipText(IDS_CHECKING_FOR_MAIL));
    EXPECT_STREQ(Shown()->szTip, "Checking for new mail");
    ui.RemoveResource(ResourceKind::String, IDS_CHECKING_FOR_MAIL);
    ASSERT_TRUE(tray.SetTooltipText(IDS_CHECKING_FOR_MAIL));
    EXPECT_STREQ(Shown()->szTip, "");
}

TEST_F(SystemTrayTest, SetIconByResourceAndRemoval) {
    ASSERT_TRUE(tray.SetIcon(IDI_MAIL));
    EXPECT_EQ(Shown()->hIcon, ui.LoadIcon(IDI_MAIL));
    EXPECT_EQ(tray.IconData().uFlags, port::kNifIcon);
    EXPECT_EQ(ui.EventsOf(EventKind::TrayModify).back().icon, ui.LoadIcon(IDI_MAIL));

    tray.RemoveIcon();
    EXPECT_FALSE(tray.IsIconAdded());
    EXPECT_EQ(ui.NotifyIconCount(), 0u);
    EXPECT_FALSE(tray.SetIcon(IDI_QUIET));
    tray.RemoveIcon();
    EXPECT_EQ(CountEvents(EventKind::TrayDelete), 1u);
}

TEST(SystemTrayLifetimeTest, DestructionRemovesTheIconAndTheHiddenWindow) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    port::WindowHandle own = nullptr;
    {
        CSystemTray tray(ui);
        ASSERT_TRUE(tray.Create(nullptr, "tip", ui.LoadIcon(IDI_QUIET)));
        own = tray.GetSafeHwnd();
        EXPECT_EQ(ui.NotifyIconCount(), 1u);
    }
    EXPECT_EQ(ui.NotifyIconCount(), 0u);
    EXPECT_FALSE(ui.WindowExists(own));
}

} // namespace
