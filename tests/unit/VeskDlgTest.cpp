// The main window on the headless window system with a clock the tests own:
// start-up, the timer schedule, commands, the announcement of new mail and
// the mail program launcher.
#include "core/VeskDlg.h"

#include "config/AccountStore.h"
#include "config/Settings.h"
#include "core/VeskApp.h"
#include "platform/Autostart.h"
#include "platform/Paths.h"
#include "platform/Socket.h"
#include "platform/headless/FileProfileStore.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/LoopbackSockets.h"
#include "support/MemoryProfileStore.h"
#include "support/TempDir.h"
#include "support/TestEnv.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using port::headless::ProcessExit;
using tavlo::test::MemoryProfileStore;

constexpr unsigned kPeriod10Min = 10 * 60000;

// A loopback port with nothing listening on it: a check of an account there
// fails at once and finds nothing.
using tavlo::test::ClosedPort;

CAccount UnreachableAccount(const std::string& name) {
    CAccount a;
    a.m_strAccountName = name;
    a.m_strUserName = "u";
    a.m_strPassword = "p";
    a.m_strServer = "127.0.0.1:" + std::to_string(ClosedPort());
    a.m_strSecurity = "NORMAL";
    a.m_strLastMessage = "0";
    a.m_strAccountType = "POP3";
    return a;
}

class TestApp : public CVeskApp {
public:
    using CVeskApp::CVeskApp;
    int socketAttempts = 0;
    int socketFailures = 0; // the first this many attempts fail
    std::vector<std::string>* steps = nullptr;

protected:
    bool StartSocketLayer() override {
        if (steps != nullptr)
            steps->push_back("socket layer");
        ++socketAttempts;
        return socketAttempts > socketFailures;
    }
};

// The main window with what the cycle hands over, and the update check,
// made visible.
class TestDlg : public CVeskDlg {
public:
    TestDlg(CVeskApp& app, HeadlessUi& ui) : CVeskDlg(app), m_headless(ui) {}

    struct Cycle {
        std::uint64_t time;
        bool manual;
    };
    std::vector<Cycle> cycles;
    std::vector<Cycle> updateChecks;

    // What the end of a cycle hands over.
    void Announce(bool manual, bool anyMail, const std::string& report) {
        AnnounceMail(manual, anyMail, report);
    }

protected:
    void AnnounceMail(bool manual, bool anyMail, const std::string& report) override {
        cycles.push_back({m_headless.Now(), manual});
        CVeskDlg::AnnounceMail(manual, anyMail, report);
    }
    void RunUpdateCheck(bool manual) override {
        updateChecks.push_back({m_headless.Now(), manual});
    }

private:
    HeadlessUi& m_headless;
};

// One program of its own: settings (autostart left alone), the window
// system, the application object and, once opened, the main window.
struct Rig {
    MemoryProfileStore store;
    HeadlessUi ui{tavlo::res::ProgramResources()};
    TestApp app{store, ui, "tavlo"};
    std::optional<TestDlg> dlg;
    port::WindowHandle h = nullptr;

    Rig() { store.SetInt("App", "Autostart", 0); }
    TestDlg& Open() {
        dlg.emplace(app, ui);
        h = ui.OpenDialog(IDD_VESK_DIALOG, &*dlg, nullptr);
        return *dlg;
    }
};

class VeskDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        tavlo::test::EnsureSocketLayer();
        // Start-up writes the autostart entry: keep it in a folder of the test.
        m_store.SetInt("App", "Autostart", 0);
    }

    void AddStoredAccounts(int n) {
        std::vector<CAccount> accounts;
        for (int i = 0; i < n; ++i)
            accounts.push_back(UnreachableAccount("Acc" + std::to_string(i)));
        ASSERT_TRUE(SaveAccounts(m_store, accounts));
    }

    // Constructs the main window and opens it as the modal run would.
    TestDlg& Start() {
        m_dlg.emplace(m_app, m_ui);
        m_hWnd = m_ui.OpenDialog(IDD_VESK_DIALOG, &*m_dlg, nullptr);
        return *m_dlg;
    }

    std::uint32_t Minimized() { return m_store.GetInt("App", "Minimized", 99); }
    const port::NotifyIconData* TrayIcon() {
        return m_ui.FindNotifyIcon(m_dlg->Tray().IconData().hWnd, 216);
    }
    int TrayIconId() {
        const port::NotifyIconData* icon = TrayIcon();
        return icon != nullptr ? m_ui.IconResourceId(icon->hIcon) : 0;
    }
    std::string TrayTip() {
        const port::NotifyIconData* icon = TrayIcon();
        return icon != nullptr ? std::string(icon->szTip) : std::string("<no icon>");
    }
    std::vector<std::string> ShellOpens() {
        std::vector<std::string> files;
        for (const auto& e : m_ui.EventsOf(EventKind::ShellOpen))
            files.push_back(e.detail.empty() ? e.text : e.text + " " + e.detail);
        return files;
    }

    MemoryProfileStore m_store;
    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    TestApp m_app{m_store, m_ui, "tavlo"};
    std::optional<TestDlg> m_dlg;
    port::WindowHandle m_hWnd = nullptr;
};

TEST_F(VeskDlgTest, FirstStartWithoutAccountsShowsTheWindowAndRunsNoCheck) {
    TestDlg& dlg = Start();

    const port::headless::WindowInfo* info = m_ui.FindWindowInfo(m_hWnd);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->title, "Tavlo\xA0");
    EXPECT_TRUE(info->visible);
    EXPECT_EQ(info->menuId, IDR_MAIN_MENU);
    // A separator, then "&About Tavlo" as command 16.
    ASSERT_EQ(info->systemMenuItems.size(), 2u);
    EXPECT_EQ(info->systemMenuItems[0].command, 0u);
    EXPECT_EQ(info->systemMenuItems[1].command, 16u);
    EXPECT_EQ(info->systemMenuItems[1].text, "&About Tavlo");
    EXPECT_EQ(m_ui.IconResourceId(info->smallIcon), IDI_QUIET);
    EXPECT_EQ(Minimized(), 0u);
    EXPECT_EQ(m_ui.GetMainWindow(), m_hWnd);

    // The English texts replace the template's, Delete/Edit wait for a
    // selection.
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_ACCOUNTS_LABEL), "E-mail Accounts");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_BLOCKED_LABEL), "Blocked senders / domains");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_MAILPROGRAM_LABEL), "E-Mail Program");
    EXPECT_EQ(m_ui.GetItemText(m_hWnd, IDC_OK_BUTTON), "OK");
    for (int id : {IDC_ACCOUNT_DELETE, IDC_ACCOUNT_EDIT, IDC_BLOCKED_DELETE, IDC_BLOCKED_EDIT})
        EXPECT_FALSE(m_ui.IsItemEnabled(m_hWnd, id)) << id;

    // The tray icon is there in its quiet state.
    EXPECT_EQ(TrayIconId(), IDI_QUIET);
    EXPECT_EQ(TrayTip(), "Checking for new mail");

    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck));
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck));
    m_ui.Advance(9999);
    EXPECT_TRUE(dlg.updateChecks.empty());
    m_ui.Advance(1);
    ASSERT_EQ(dlg.updateChecks.size(), 1u);
    EXPECT_FALSE(dlg.updateChecks[0].manual);
    m_ui.Advance(60 * 60000);
    EXPECT_EQ(dlg.updateChecks.size(), 1u); // one-shot
    EXPECT_TRUE(dlg.cycles.empty());
}

TEST_F(VeskDlgTest, UpdateCheckTimerRespectsTheSetting) {
    m_store.SetInt("App", "CheckForUpdates", 0);
    TestDlg& dlg = Start();
    m_ui.Advance(20000);
    EXPECT_TRUE(dlg.updateChecks.empty());
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerUpdate)); // killed all the same
}

TEST_F(VeskDlgTest, WithAccountsItStartsHiddenAndChecksAfter5300msThenEveryPeriod) {
    AddStoredAccounts(1);
    TestDlg& dlg = Start();

    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd));
    EXPECT_EQ(Minimized(), 1u);
    EXPECT_EQ(TrayIconId(), IDI_QUIET);
    EXPECT_EQ(TrayTip(), "Checking for new mail");

    m_ui.Advance(5299);
    EXPECT_TRUE(dlg.cycles.empty());
    m_ui.Advance(1);
    ASSERT_EQ(dlg.cycles.size(), 1u);
    EXPECT_EQ(dlg.cycles[0].time, 5300u);
    EXPECT_FALSE(dlg.cycles[0].manual);

    m_ui.Advance(2 * kPeriod10Min);
    ASSERT_EQ(dlg.cycles.size(), 3u);
    EXPECT_EQ(dlg.cycles[1].time, kPeriod10Min);
    EXPECT_EQ(dlg.cycles[2].time, 2 * kPeriod10Min);
}

TEST_F(VeskDlgTest, CheckPeriodFollowsTheStoredInterval) {
    struct Case {
        std::uint32_t stored;
        unsigned periodMs;
    };
    const Case cases[] = {
        {0, 60000},
        {29, 30 * 60000},
        {45, 46 * 60000}, // outside the dialog's range, used as it is
        // Would be a period of 0 ms (a check every few milliseconds) or an
        // overflow: the default period, or the longest timer, instead.
        {0xFFFFFFFFu, kPeriod10Min},
        {0x80000000u, kPeriod10Min},
        {100000, 0x7FFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        Rig rig;
        rig.store.SetInt("App", "SearchForMail", c.stored);
        std::vector<CAccount> accounts{UnreachableAccount("A")};
        ASSERT_TRUE(SaveAccounts(rig.store, accounts));
        rig.Open();
        EXPECT_EQ(rig.ui.TimerPeriod(rig.h, CVeskDlg::kTimerCheck), c.periodMs);
    }
}

TEST_F(VeskDlgTest, ManualCheckCommandRunsACycleAtOnce) {
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    m_ui.PostMessage(m_hWnd, port::kWmCommand, ID_CHECK_MAIL, 0);
    m_ui.RunPending();
    ASSERT_EQ(dlg.cycles.size(), 1u);
    EXPECT_TRUE(dlg.cycles[0].manual);
    EXPECT_EQ(dlg.cycles[0].time, 0u);
}

TEST_F(VeskDlgTest, FirstAccountArmsTheFirstCheckAfter5000ms) {
    TestDlg& dlg = Start();
    m_ui.Advance(1000);
    dlg.m_accounts.push_back(UnreachableAccount("New"));
    dlg.ArmCheckTimers();
    m_ui.Advance(4999);
    EXPECT_TRUE(dlg.cycles.empty());
    m_ui.Advance(1);
    ASSERT_EQ(dlg.cycles.size(), 1u);
    EXPECT_EQ(dlg.cycles[0].time, 6000u);
    EXPECT_EQ(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerCheck), kPeriod10Min);
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerFirstCheck)); // one-shot
}

TEST_F(VeskDlgTest, SecondCopyHandsOverAndEndsWithCodeZeroBeforeReadingAccounts) {
    Start();
    m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
    m_store.SetInt("App", "Minimized", 1);
    const std::size_t readsBefore = m_store.Reads().size();

    HeadlessUi& ui = m_ui;
    try {
        TestDlg second(m_app, ui);
        FAIL() << "the second copy went on";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.code, 0);
    }
    EXPECT_TRUE(m_ui.IsWindowVisible(m_hWnd));
    EXPECT_EQ(m_ui.ForegroundWindow(), m_hWnd);
    EXPECT_EQ(Minimized(), 0u);
    EXPECT_EQ(m_ui.NotifyIconCount(), 1u); // no second tray icon
    for (std::size_t i = readsBefore; i < m_store.Reads().size(); ++i)
        EXPECT_NE(m_store.Reads()[i].section, "User") << "accounts read by the second copy";
}

TEST_F(VeskDlgTest, ExitRemovesTheTrayIconAndEndsWithCodeOne) {
    AddStoredAccounts(1);
    Start();
    ASSERT_NE(TrayIcon(), nullptr);
    m_ui.PostMessage(m_hWnd, port::kWmCommand, ID_APP_EXIT_CMD, 0);
    try {
        m_ui.RunPending();
        FAIL() << "Exit returned";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.code, 1);
    }
    EXPECT_EQ(m_ui.NotifyIconCount(), 0u);
}

TEST_F(VeskDlgTest, CloseHidesTheWindowAndARepaintKeepsItHidden) {
    Start();
    ASSERT_TRUE(m_ui.IsWindowVisible(m_hWnd));
    m_ui.PostMessage(m_hWnd, port::kWmCommand, ID_CLOSE, 0);
    m_ui.RunPending();
    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd));
    EXPECT_EQ(Minimized(), 1u);

    // Something shows it again and asks for a paint: the paint hides it.
    m_ui.ShowWindow(m_hWnd, port::ShowCommand::NoActivate);
    m_ui.RedrawNow(m_hWnd);
    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd));
}

TEST_F(VeskDlgTest, OkButtonHidesTheWindowAndStartsWatching) {
    TestDlg& dlg = Start();
    m_ui.Advance(700);
    m_ui.PostMessage(m_hWnd, port::kWmCommand, IDC_OK_BUTTON, 0);
    m_ui.RunPending();
    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd));
    EXPECT_EQ(Minimized(), 1u);
    EXPECT_EQ(m_ui.TimerDue(m_hWnd, CVeskDlg::kTimerFirstCheck), 700u + 5300u);
    m_ui.Advance(5300);
    ASSERT_EQ(dlg.cycles.size(), 1u);
}

TEST_F(VeskDlgTest, EscapeEndsTheRunAndTheTrayIconGoesWithTheWindow) {
    Start();
    m_ui.PostMessage(m_hWnd, port::kWmCommand, port::kIdCancel, 0);
    m_ui.RunPending();
    int result = 0;
    EXPECT_TRUE(m_ui.DialogEnded(m_hWnd, &result));
    EXPECT_EQ(result, port::kIdCancel);
    m_dlg.reset();
    EXPECT_EQ(m_ui.NotifyIconCount(), 0u);
}

TEST_F(VeskDlgTest, ModalRunEndsOnEscapeAndInitInstanceReturnsFalse) {
    m_ui.SetIdleHandler([this] {
        if (port::WindowHandle main = m_ui.GetMainWindow())
            m_ui.PostMessage(main, port::kWmCommand, port::kIdCancel, 0);
    });
    EXPECT_FALSE(m_app.InitInstance());
    EXPECT_EQ(m_app.socketAttempts, 1);
    EXPECT_EQ(m_ui.NotifyIconCount(), 0u);
}

TEST_F(VeskDlgTest, SocketStartUpIsTriedTwiceThenFel0105) {
    m_app.socketFailures = 2;
    EXPECT_FALSE(m_app.InitInstance());
    EXPECT_EQ(m_app.socketAttempts, 2);
    const auto boxes = m_ui.EventsOf(EventKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Fel 0105");
    EXPECT_EQ(m_ui.NotifyIconCount(), 0u); // no window was made

    // One failure is forgiven.
    Rig rig;
    HeadlessUi& ui = rig.ui;
    TestApp& app = rig.app;
    app.socketFailures = 1;
    ui.SetIdleHandler([&ui] {
        if (port::WindowHandle main = ui.GetMainWindow())
            ui.PostMessage(main, port::kWmCommand, port::kIdCancel, 0);
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.socketAttempts, 2);
    EXPECT_TRUE(ui.EventsOf(EventKind::MessageBox).empty());
}

// The window system as start-up reaches it, step by step.
class StartupUi : public HeadlessUi {
public:
    explicit StartupUi(std::vector<std::string>& steps)
        : HeadlessUi(tavlo::res::ProgramResources()), m_steps(steps) {}

    bool InitCommonControls() override {
        m_steps.push_back("common controls");
        return HeadlessUi::InitCommonControls();
    }
    std::unique_ptr<port::ControlHosting> EnableControlHosting() override {
        m_steps.push_back("control hosting");
        EXPECT_NE(HeadlessUi::EnableControlHosting(), nullptr);
        return std::make_unique<Hosting>(m_steps);
    }
    int RunModalDialog(int templateId, port::MessageTarget* target,
                       port::WindowHandle owner) override {
        m_steps.push_back("modal run " + std::to_string(templateId));
        return HeadlessUi::RunModalDialog(templateId, target, owner);
    }

private:
    struct Hosting : port::ControlHosting {
        explicit Hosting(std::vector<std::string>& steps) : m_steps(steps) {}
        ~Hosting() override { m_steps.push_back("control hosting ends"); }
        std::vector<std::string>& m_steps;
    };
    std::vector<std::string>& m_steps;
};

TEST(VeskAppStartupTest, StepsRunInOrderAndHostingLastsTheModalRun) {
    tavlo::test::EnsureSocketLayer();
    const struct {
        int socketFailures;
        std::vector<std::string> steps;
    } cases[] = {
        {0,
         {"common controls", "socket layer", "control hosting", "modal run 102",
          "control hosting ends"}},
        {1,
         {"common controls", "socket layer", "socket layer", "control hosting", "modal run 102",
          "control hosting ends"}},
        // "Fel 0105": the program ends before anything else starts.
        {2, {"common controls", "socket layer", "socket layer"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.socketFailures);
        std::vector<std::string> steps;
        MemoryProfileStore store;
        store.SetInt("App", "Autostart", 0);
        StartupUi ui(steps);
        TestApp app(store, ui, "tavlo");
        app.steps = &steps;
        app.socketFailures = c.socketFailures;
        ui.SetIdleHandler([&ui] {
            if (port::WindowHandle main = ui.GetMainWindow())
                ui.PostMessage(main, port::kWmCommand, port::kIdCancel, 0);
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(steps, c.steps);
    }
}

TEST_F(VeskDlgTest, LeftButtonDownInTheClientAreaDragsTheWindow) {
    Start();
    m_ui.ClearEvents();
    m_ui.SendMessage(m_hWnd, port::kWmLButtonDown, 0, 0);
    m_ui.RunPending();
    EXPECT_EQ(m_ui.EventsOf(EventKind::Drag).size(), 1u);
}

TEST_F(VeskDlgTest, AutostartEntryIsWrittenWhenTheSettingIsOn) {
    tavlo::test::TempDir config;
    tavlo::test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", config.path());
    const std::string appName = port::ApplicationName();
    port::SetAutostartEntry(appName, "", false);
    m_store.SetInt("App", "Autostart", 1);
    Start();
    std::string command;
    ASSERT_TRUE(port::GetAutostartEntry(appName, command));
    EXPECT_NE(command.find(GetProgramFileName(port::ExecutablePath())), std::string::npos)
        << command;
    port::SetAutostartEntry(appName, "", false);
}

TEST_F(VeskDlgTest, OutOfRangeMinimizedCountsAsNotHidden) {
    Start();
    m_store.SetInt("App", "Minimized", 2);
    m_ui.RedrawNow(m_hWnd);
    EXPECT_TRUE(m_ui.IsWindowVisible(m_hWnd));
}

TEST_F(VeskDlgTest, MissingResourcesDegradeWithoutACrash) {
    for (auto [kind, id] : {std::pair{port::headless::ResourceKind::Icon, IDI_QUIET},
                            std::pair{port::headless::ResourceKind::Icon, IDI_MAIL},
                            std::pair{port::headless::ResourceKind::Bitmap, IDB_SKIN},
                            std::pair{port::headless::ResourceKind::String, IDS_POPUP_TITLE},
                            std::pair{port::headless::ResourceKind::Menu, IDR_TRAY_MENU}})
        m_ui.RemoveResource(kind, id);
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    dlg.Announce(false, true, "Acc0 2 mail.");
    // Without a skin the popup has nothing to slide; the rest goes on.
    EXPECT_TRUE(dlg.m_bMailAnnounced);
    EXPECT_EQ(TrayTip(), "Acc0 2 mail.");
    EXPECT_EQ(m_ui.EventsOf(EventKind::Sound).size(), 1u);
    m_ui.Advance(1000);
    dlg.OnOpen();
    EXPECT_FALSE(dlg.m_bMailAnnounced);
    EXPECT_EQ(ShellOpens(), std::vector<std::string>{"OUTLOOK.EXE /recycle"});
}

} // namespace

// --- The announcement -------------------------------------------------------

namespace {

struct AnnounceCase {
    const char* name;
    bool announcedBefore;
    bool manual;
    bool anyMail;
    // What the user sees afterwards.
    int icon;
    const char* tip;
    const char* popup; // null: no popup
    unsigned stayMs;
    bool sound;
    bool animationArmed;
};

const AnnounceCase kAnnounceCases[] = {
    {"automatic, new mail", false, false, true, IDI_MAIL, "A 2 mail.\nB 1 mail.",
     "Tavlo\n\nA 2 mail.\nB 1 mail.", 2400, true, true},
    {"manual, new mail", false, true, true, IDI_MAIL, "A 2 mail.\nB 1 mail.",
     "Tavlo\n\nA 2 mail.\nB 1 mail.", 800, false, false},
    {"manual, announced before", true, true, true, IDI_MAIL, "A 2 mail.\nB 1 mail.",
     "Tavlo\n\nA 2 mail.\nB 1 mail.", 800, false, false},
    {"automatic, announced before", true, false, true, IDI_MAIL, "A 2 mail.\nB 1 mail.", nullptr, 0,
     false, false},
    {"manual, no mail, quiet", false, true, false, IDI_QUIET, "Checking for new mail",
     "\nYou have no new mail ", 800, false, false},
    {"automatic, no mail, quiet", false, false, false, IDI_QUIET, "Checking for new mail", nullptr,
     0, false, false},
    {"manual, no mail, announced", true, true, false, IDI_QUIET, "Checking for new mail", nullptr,
     0, false, false},
    {"automatic, no mail, announced", true, false, false, IDI_QUIET, "Checking for new mail",
     nullptr, 0, false, false},
};

} // namespace

TEST_F(VeskDlgTest, AnnouncementMatrix) {
    for (const AnnounceCase& c : kAnnounceCases) {
        SCOPED_TRACE(c.name);
        // No accounts: no check of its own runs while the test waits.
        Rig rig;
        TestDlg& dlg = rig.Open();
        HeadlessUi& ui = rig.ui;
        const port::WindowHandle h = rig.h;
        if (c.announcedBefore) {
            dlg.Announce(true, true, "old");
            ui.Advance(10000); // the popup has gone again
            ASSERT_EQ(dlg.Notifier().GetState(), 0);
        }
        ui.ClearEvents();

        dlg.Announce(c.manual, c.anyMail, c.anyMail ? "A 2 mail.\nB 1 mail." : "");

        const port::NotifyIconData* icon = ui.FindNotifyIcon(dlg.Tray().IconData().hWnd, 216);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(ui.IconResourceId(icon->hIcon), c.icon);
        EXPECT_EQ(std::string(icon->szTip), c.tip);
        EXPECT_EQ(dlg.m_bMailAnnounced, c.anyMail);
        // The popup appears (its state turns 1 at the first slide step).
        EXPECT_EQ(ui.IsWindowVisible(dlg.Notifier().GetSafeHwnd()), c.popup != nullptr);
        if (c.popup != nullptr) {
            EXPECT_EQ(dlg.Notifier().GetText(), c.popup);
            EXPECT_EQ(dlg.Notifier().GetStayMs(), c.stayMs);
        }
        EXPECT_EQ(ui.EventsOf(EventKind::Sound).size(), c.sound ? 1u : 0u);
        EXPECT_EQ(ui.TimerPeriod(h, CVeskDlg::kTimerAnimation).has_value(), c.animationArmed);
    }
}

TEST_F(VeskDlgTest, AnimationStartsFiveSecondsAfterAnAutomaticAnnouncement) {
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    m_ui.ClearEvents();
    dlg.Announce(false, true, "Acc0 1 mail.");
    const auto sounds = m_ui.EventsOf(EventKind::Sound);
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].text, GetSoundFolder(port::ExecutablePath()) + "Pling.wav");

    m_ui.Advance(4999);
    EXPECT_TRUE(ShellOpens().empty());
    m_ui.Advance(1);
    EXPECT_EQ(ShellOpens(),
              (std::vector<std::string>{GetAnimationFolder(port::ExecutablePath()) + "Tavlo.scr"}));
    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd)); // "Minimized" is 1: it stays hidden
    m_ui.Advance(60000);
    EXPECT_EQ(ShellOpens().size(), 1u); // one-shot
}

TEST_F(VeskDlgTest, SoundAndAnimationFollowTheirSettingsAndStoredPaths) {
    m_store.SetInt("App", "Sound", 2); // only 1 turns them on
    m_store.SetInt("App", "Animate", 0);
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    dlg.Announce(false, true, "Acc0 1 mail.");
    EXPECT_TRUE(m_ui.EventsOf(EventKind::Sound).empty());
    EXPECT_FALSE(m_ui.TimerPeriod(m_hWnd, CVeskDlg::kTimerAnimation));

    Rig rig;
    rig.store.SetString("App", "MySound", "C:\\Media\\ding.wav");
    rig.store.SetString("App", "MyAnimation", "C:\\Media\\fish.scr");
    TestDlg& dlg2 = rig.Open();
    HeadlessUi& ui = rig.ui;
    dlg2.Announce(false, true, "X 1 mail.");
    ui.Advance(5000);
    ASSERT_EQ(ui.EventsOf(EventKind::Sound).size(), 1u);
    EXPECT_EQ(ui.EventsOf(EventKind::Sound)[0].text, "C:\\Media\\ding.wav");
    ASSERT_EQ(ui.EventsOf(EventKind::ShellOpen).size(), 1u);
    EXPECT_EQ(ui.EventsOf(EventKind::ShellOpen)[0].text, "C:\\Media\\fish.scr");
}

TEST_F(VeskDlgTest, OpenWithinFiveSecondsCancelsTheAnimationAndStartsTheMailProgram) {
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    m_ui.Advance(5300); // first check
    m_ui.ClearEvents();
    dlg.Announce(false, true, "Acc0 1 mail.");
    m_ui.Advance(3000);

    m_ui.PostMessage(m_hWnd, port::kWmCommand, ID_OPEN, 0);
    m_ui.RunPending();
    EXPECT_FALSE(dlg.m_bMailAnnounced);
    EXPECT_EQ(TrayIconId(), IDI_QUIET);
    EXPECT_EQ(TrayTip(), "Checking for new mail");
    EXPECT_EQ(ShellOpens(), std::vector<std::string>{"OUTLOOK.EXE /recycle"});
    // The next periodic check is a full period away.
    EXPECT_EQ(m_ui.TimerDue(m_hWnd, CVeskDlg::kTimerCheck), m_ui.Now() + kPeriod10Min);

    m_ui.Advance(10000);
    EXPECT_EQ(ShellOpens().size(), 1u); // no animation
}

TEST_F(VeskDlgTest, OpenWhileQuietShowsTheWindowWithoutActivatingIt) {
    AddStoredAccounts(1);
    Start();
    ASSERT_FALSE(m_ui.IsWindowVisible(m_hWnd));
    m_ui.SendMessage(m_hWnd, port::kWmCommand, ID_OPEN, 0);
    EXPECT_TRUE(m_ui.IsWindowVisible(m_hWnd));
    EXPECT_EQ(Minimized(), 0u);
    EXPECT_NE(m_ui.ForegroundWindow(), m_hWnd);
    EXPECT_TRUE(ShellOpens().empty());
}

TEST_F(VeskDlgTest, PopupClickOpensOnlyWhileThePopupIsOnScreen) {
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    // Idle popup: the message changes nothing.
    m_ui.SendMessage(m_hWnd, CVeskDlg::kNotifierClicked, 0, 0);
    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd));

    dlg.Announce(true, true, "Acc0 1 mail.");
    m_ui.Advance(100); // sliding out
    ASSERT_NE(dlg.Notifier().GetState(), 0);
    // The popup posts its message to the main window when clicked.
    m_ui.SendMessage(dlg.Notifier().GetSafeHwnd(), port::kWmLButtonUp, 0, 0);
    m_ui.RunPending();
    EXPECT_FALSE(dlg.m_bMailAnnounced);
    EXPECT_EQ(ShellOpens(), std::vector<std::string>{"OUTLOOK.EXE /recycle"});
}

TEST_F(VeskDlgTest, MailProgramStartsOnEveryCycleWithMailWhenSoSet) {
    m_store.SetInt("App", "AutostartEmailProgram", 5); // any non-zero value
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    dlg.Announce(false, true, "Acc0 1 mail.");
    dlg.Announce(false, true, "Acc0 1 mail.");
    dlg.Announce(true, false, "");
    EXPECT_EQ(ShellOpens(),
              (std::vector<std::string>{"OUTLOOK.EXE /recycle", "OUTLOOK.EXE /recycle"}));
}

TEST_F(VeskDlgTest, LongReportIsCutAt127CharactersInTheTooltip) {
    AddStoredAccounts(1);
    TestDlg& dlg = Start();
    std::string report;
    for (int i = 0; i < 20; ++i) {
        if (i > 0)
            report += '\n';
        report += "Account";
        report += std::to_string(i);
        report += " 1 mail.";
    }
    ASSERT_GT(report.size(), 127u);
    dlg.Announce(false, true, report);
    EXPECT_EQ(TrayTip(), report.substr(0, 127));
}

// --- The mail program launcher ---------------------------------------------

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { tavlo::test::EnsureSocketLayer(); }

    // A settings file, so that a number stored as "MailClient" reads as
    // text the way the registry gives it.
    struct Run {
        tavlo::test::TempDir dir;
        port::FileProfileStore store{dir.file("settings.reg"),
                                     "HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo"};
        HeadlessUi ui{tavlo::res::ProgramResources()};
        TestApp app{store, ui, "tavlo"};
        std::optional<TestDlg> dlg;
        port::WindowHandle h = nullptr;
        void Open() {
            store.WriteInt("App", "Autostart", 0);
            dlg.emplace(app, ui);
            h = ui.OpenDialog(IDD_VESK_DIALOG, &*dlg, nullptr);
        }
    };
};

TEST_F(LauncherTest, ListHoldsTheFiveProgramsAndTheStoredChoiceIsSelected) {
    struct Case {
        const char* name;
        std::optional<std::string> text;
        std::optional<std::uint32_t> number;
        int selected;
        const char* storedAfter;
    };
    const Case cases[] = {
        {"default", std::nullopt, std::nullopt, 1, nullptr},
        {"Outlook is not Outlook Express", "Outlook", std::nullopt, 1, "Outlook"},
        {"letter case is ignored", "outlook EXPRESS", std::nullopt, 2, "outlook EXPRESS"},
        {"Thunderbird", "Thunderbird", std::nullopt, 3, "Thunderbird"},
        {"a prefix selects", "Cus", std::nullopt, 4, "Cus"},
        {"old number 2", std::nullopt, 2u, 4, "Custom"},
        {"old number 1", std::nullopt, 1u, 1, "Outlook"},
        {"old number 0", std::nullopt, 0u, 2, "Outlook Express"},
        {"old number 7", std::nullopt, 7u, 1, "Outlook"},
        {"unknown text", "Pegasus", std::nullopt, 1, "Outlook"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Run run;
        if (c.text)
            run.store.WriteString("App", "MailClient", *c.text);
        if (c.number)
            run.store.WriteInt("App", "MailClient", *c.number);
        run.Open();
        ASSERT_EQ(run.ui.ListGetCount(run.h, IDC_MAILPROGRAM), 5);
        const char* entries[] = {"Windows Live", "Outlook", "Outlook Express", "Thunderbird",
                                 "Custom"};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(run.ui.ListGetText(run.h, IDC_MAILPROGRAM, i), entries[i]);
        EXPECT_EQ(run.dlg->m_nMailClient, c.selected);
        EXPECT_EQ(run.ui.ListGetCurSel(run.h, IDC_MAILPROGRAM), c.selected);
        if (c.storedAfter) {
            EXPECT_EQ(run.store.GetString("App", "MailClient", "<none>"), c.storedAfter);
        }
    }
}

TEST_F(LauncherTest, EachEntryStartsItsProgramWithItsParameters) {
    struct Case {
        int index;
        const char* myMailClient;
        std::vector<std::string> expected; // "file|parameters"
    };
    const Case cases[] = {
        {0, nullptr, {"wlmail.exe|/recycle"}},
        {1, nullptr, {"OUTLOOK.EXE|/recycle"}},
        {2, nullptr, {"MSIMN.EXE|/recycle"}},
        {3, nullptr, {"thunderbird.exe|"}},
        {4, "C:\\Mail\\my mail.exe", {"C:\\Mail\\my mail.exe|"}},
        {4, nullptr, {}}, // Custom without a path: nothing starts, nothing said
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        Run run;
        if (c.myMailClient)
            run.store.WriteString("App", "MyMailClient", c.myMailClient);
        run.Open();
        run.ui.ListSetCurSel(run.h, IDC_MAILPROGRAM, c.index);
        run.ui.SendMessage(run.h, port::kWmCommand,
                           port::MakeCommandParam(IDC_MAILPROGRAM, port::kSelChange), 1);
        EXPECT_EQ(run.store.GetString("App", "MailClient", ""),
                  run.ui.ListGetText(run.h, IDC_MAILPROGRAM, c.index));
        run.ui.ClearEvents();
        run.dlg->LaunchMailProgram();
        std::vector<std::string> started;
        for (const auto& e : run.ui.EventsOf(EventKind::ShellOpen))
            started.push_back(e.text + "|" + e.detail);
        EXPECT_EQ(started, c.expected);
        EXPECT_TRUE(run.ui.EventsOf(EventKind::MessageBox).empty());
    }
}
