// The About box, the fader and the main window's use of both, on the
// headless window system: the box's texts, link targets, colours and
// underline, its picture; the fader's window, its alpha steps on the test
// clock and its end; the path without layered windows; the two commands
// that open the box and the close to the tray.
#include "config/AboutDialog.h"

#include "controls/FaderWnd.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/Autostart.h"
#include "platform/Paths.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/CyclesDlg.h"
#include "support/MemoryProfileStore.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using port::headless::WindowInfo;

constexpr std::uint32_t kFaderStyles =
    port::kWsExLayered | port::kWsExToolWindow | port::kWsExTransparent | port::kWsExTopmost;

// Notes every fader as it appears (a shown window of the fader's class),
// newest last, whether it still exists or not.
class FaderWatch {
public:
    explicit FaderWatch(HeadlessUi& ui) : m_ui(ui) {
        ui.SetEventListener([this](const port::headless::Event& event) {
            const WindowInfo* info = m_ui.FindWindowInfo(event.window);
            if (event.kind == EventKind::WindowShow && info != nullptr &&
                info->className == CFaderWnd::kClassName)
                m_faders.push_back(event.window);
        });
    }
    ~FaderWatch() { m_ui.SetEventListener(nullptr); }
    FaderWatch(const FaderWatch&) = delete;
    FaderWatch& operator=(const FaderWatch&) = delete;

    const std::vector<port::WindowHandle>& Faders() const { return m_faders; }
    void Clear() { m_faders.clear(); }

private:
    HeadlessUi& m_ui;
    std::vector<port::WindowHandle> m_faders;
};

std::vector<int> FullFade() {
    std::vector<int> alphas;
    for (int alpha = 100; alpha >= 0; alpha -= 5)
        alphas.push_back(alpha);
    return alphas;
}

// What the box showed while it was open.
struct Seen {
    std::string caption, homepageText, emailText, homepageTarget, emailTarget;
    port::Colour normal = 1, hover = 1;
    bool underlined = false, underlinedHovering = false, playing = false;
    port::Rect rect;
    int result = 0; // of the modal run
};

class AboutDialogTest : public ::testing::Test {
protected:
    // The faders of the test end (and delete themselves) before the window
    // system goes.
    void TearDown() override { ui.Advance(1000); }

    // Runs the box; in it the user looks and then does `close` to it.
    Seen Run(CAboutDlg& about, const std::function<void(port::WindowHandle)>& close) {
        Seen seen;
        bool done = false;
        ui.SetIdleHandler([&] {
            const port::WindowHandle box = ui.FindDialogOfTemplate(IDD_ABOUTBOX);
            if (done || box == nullptr)
                return;
            done = true;
            seen.caption = ui.GetWindowText(box);
            seen.homepageText = ui.GetItemText(box, IDC_ABOUT_HOMEPAGE);
            seen.emailText = ui.GetItemText(box, IDC_ABOUT_EMAIL);
            seen.homepageTarget = about.m_linkHomepage.GetTarget();
            seen.emailTarget = about.m_linkEmail.GetTarget();
            seen.normal = about.m_linkEmail.CurrentColour();
            seen.underlined =
                about.m_linkEmail.IsUnderlined() && about.m_linkHomepage.IsUnderlined();
            seen.playing = about.m_picture.IsAnimationRunning();
            seen.rect = ui.GetWindowRect(box);
            // The pointer over the e-mail link.
            const port::WindowHandle link = ui.GetItem(box, IDC_ABOUT_EMAIL);
            const port::Rect where = ui.GetWindowRectInParent(link);
            ui.SetCursorPosition(
                port::Point{seen.rect.left + where.left + 2, seen.rect.top + where.top + 2});
            ui.SendMessage(link, port::kWmMouseMove, 0, 0);
            seen.hover = about.m_linkEmail.IsHovering() ? about.m_linkEmail.CurrentColour() : 1;
            seen.underlinedHovering = about.m_linkEmail.IsUnderlined();
            close(box);
        });
        seen.result = about.DoModal();
        ui.SetIdleHandler(nullptr);
        EXPECT_TRUE(done) << "the About box did not open";
        return seen;
    }

    HeadlessUi ui{tavlo::res::ProgramResources()};
    FaderWatch watch{ui};
};

TEST_F(AboutDialogTest, ShowsItsTextsAndBlackAlwaysUnderlinedLinksAndPlaysThePicture) {
    CAboutDlg about(ui);
    const Seen seen = Run(about, [&](port::WindowHandle box) { ui.PressButton(box, port::kIdOk); });
    EXPECT_EQ(seen.caption, "About Tavlo");
    EXPECT_EQ(seen.homepageText, "Homepage: http://www.tavlo.se/quendel/en");
    EXPECT_EQ(seen.homepageTarget, "http://www.tavlo.se/quendel/en");
    EXPECT_EQ(seen.emailText, "E-mail: support@tavlo.se");
    EXPECT_EQ(seen.emailTarget, "mailto:support@tavlo.se");
    EXPECT_EQ(seen.normal, port::Rgb(0, 0, 0));
    EXPECT_EQ(seen.hover, port::Rgb(0, 0, 0)) << "no hover, or another colour under the mouse";
    EXPECT_TRUE(seen.underlined);
    EXPECT_TRUE(seen.underlinedHovering);
    EXPECT_TRUE(seen.playing);
    EXPECT_FALSE(about.m_picture.IsAnimationRunning()) << "the picture outlived the box";
    // The picture is GIF 291, the main window's.
    const auto loads = ui.PictureLoads();
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads.front().bytes.substr(0, 6), "GIF89a");
}

TEST_F(AboutDialogTest, TemplateHoldsTheVersionTheOkButtonAndTheThreeStatics) {
    CAboutDlg about(ui);
    std::vector<port::headless::ControlInfo> controls;
    port::Rect rect;
    ui.SetIdleHandler([&] {
        const port::WindowHandle box = ui.FindDialogOfTemplate(IDD_ABOUTBOX);
        if (box == nullptr || !controls.empty())
            return;
        controls = ui.Controls(box);
        rect = ui.GetWindowRect(box);
        ui.PressButton(box, port::kIdOk);
    });
    about.DoModal();
    ui.SetIdleHandler(nullptr);
    const auto has = [&](int id, const char* cls) {
        for (const auto& c : controls)
            if (c.resource.id == id && c.resource.className == cls)
                return true;
        return false;
    };
    EXPECT_TRUE(has(port::kIdOk, "Button"));
    EXPECT_TRUE(has(IDC_ABOUT_HOMEPAGE, "Static"));
    EXPECT_TRUE(has(IDC_ABOUT_EMAIL, "Static"));
    EXPECT_TRUE(has(IDC_ABOUT_PICTURE, "Static"));
    bool version = false;
    for (const auto& c : controls)
        version = version || c.text == "Tavlo v1.8";
    EXPECT_TRUE(version);
    EXPECT_GT(rect.Width(), 0);
}

TEST_F(AboutDialogTest, EmailLinkOpensTheMailtoTarget) {
    CAboutDlg about(ui);
    Run(about, [&](port::WindowHandle box) {
        ui.SendMessage(ui.GetItem(box, IDC_ABOUT_EMAIL), port::kWmLButtonUp, 0, 0);
        ui.PressButton(box, port::kIdOk);
    });
    const auto opened = ui.EventsOf(EventKind::ShellOpen);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].text, "mailto:support@tavlo.se");
}

// OK and the close box (which the dialog manager turns into Cancel) both
// leave a fader over the box that fades from 100 by 5 every 25 ms and goes
// on the 21st tick.
TEST_F(AboutDialogTest, ClosingLeavesAFaderThatFadesOutInHalfASecond) {
    struct Case {
        const char* name;
        std::function<void(HeadlessUi&, port::WindowHandle)> close;
        int result;
    };
    const Case cases[] = {
        {"OK", [](HeadlessUi& u, port::WindowHandle box) { u.PressButton(box, port::kIdOk); },
         port::kIdOk},
        {"close box",
         [](HeadlessUi& u, port::WindowHandle box) { u.PostMessage(box, port::kWmClose, 0, 0); },
         port::kIdCancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        watch.Clear();
        CAboutDlg about(ui);
        const Seen seen = Run(about, [&](port::WindowHandle box) { c.close(ui, box); });
        EXPECT_EQ(seen.result, c.result);
        const auto faders = watch.Faders();
        ASSERT_EQ(faders.size(), 1u);
        const port::WindowHandle fader = faders[0];
        const WindowInfo* info = ui.FindWindowInfo(fader);
        ASSERT_NE(info, nullptr) << "no fader while the box is gone";
        EXPECT_EQ(ui.FindDialogOfTemplate(IDD_ABOUTBOX), nullptr);
        EXPECT_EQ(info->exStyle, kFaderStyles);
        EXPECT_TRUE(info->visible);
        EXPECT_EQ(info->title, "");
        EXPECT_EQ(info->rect, seen.rect);
        ASSERT_TRUE(info->layeredSnapshot.has_value());
        EXPECT_EQ(*info->layeredSnapshot, seen.rect);
        EXPECT_EQ(info->layeredAlphas, std::vector<int>{100});
        EXPECT_EQ(ui.TimerPeriod(fader, 1), 25u);

        const std::uint64_t start = ui.Now();
        std::vector<int> alphas = info->layeredAlphas;
        while (ui.FindWindowInfo(fader) != nullptr && ui.Now() - start < 2000) {
            ui.Advance(25);
            if (const WindowInfo* now = ui.FindWindowInfo(fader)) {
                alphas = now->layeredAlphas;
                EXPECT_EQ(now->layeredAlphas.size(), (ui.Now() - start) / 25 + 1);
            }
        }
        EXPECT_EQ(alphas, FullFade());
        EXPECT_EQ(ui.Now() - start, 21u * 25u) << "gone on the 21st tick";
        EXPECT_EQ(ui.FindWindowInfo(fader), nullptr);
        EXPECT_FALSE(ui.TimerPeriod(fader, 1).has_value());
    }
}

TEST_F(AboutDialogTest, WithoutLayeredWindowsNothingIsShownAndNothingStays) {
    ui.SetLayeredWindowsAvailable(false);
    CAboutDlg about(ui);
    const std::size_t before = ui.EventsOf(EventKind::WindowShow).size();
    Run(about, [&](port::WindowHandle box) { ui.PressButton(box, port::kIdOk); });
    EXPECT_TRUE(watch.Faders().empty());
    // Only the box itself was shown. A fader object left behind is a leak
    // the sanitizer build reports.
    EXPECT_EQ(ui.EventsOf(EventKind::WindowShow).size(), before + 1);
}

// A plain window to fade, the application's main window.
class FaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        port::WindowSpec spec;
        spec.className = "FaderTestWindow";
        spec.rect = port::Rect{100, 80, 400, 300};
        owner.Create(ui, spec);
        ui.SetMainWindow(owner.GetSafeHwnd());
        other.Create(ui, port::WindowSpec{"FaderTestOther", false, false, "other", {}, nullptr});
    }

    struct Plain : CWnd {
        using CWnd::CWnd;
        void Create(HeadlessUi& u, const port::WindowSpec& spec) {
            u.CreatePopupWindow(spec, this);
        }
    };

    HeadlessUi ui;
    FaderWatch watch{ui};
    Plain owner{ui};
    Plain other{ui};
};

TEST_F(FaderTest, OwnedByTheMainWindowAtTheFadedWindowsPlace) {
    CFaderWnd::FadeOut(owner);
    const auto faders = watch.Faders();
    ASSERT_EQ(faders.size(), 1u);
    const WindowInfo* info = ui.FindWindowInfo(faders[0]);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->owner, owner.GetSafeHwnd());
    EXPECT_EQ(info->rect, (port::Rect{100, 80, 400, 300}));
    EXPECT_EQ(info->exStyle, kFaderStyles);
}

TEST_F(FaderTest, GivesTheFocusStraightBack) {
    CFaderWnd::FadeOut(owner);
    const port::WindowHandle fader = watch.Faders().at(0);
    ui.SetFocus(other.GetSafeHwnd());
    ui.SetFocus(fader);
    EXPECT_EQ(ui.FocusWindow(), other.GetSafeHwnd());
}

// The owner's end takes the fader with it; the object goes too (the
// sanitizer build would report it otherwise).
TEST_F(FaderTest, GoesWithItsOwnerMidFade) {
    CFaderWnd::FadeOut(owner);
    const port::WindowHandle fader = watch.Faders().at(0);
    ui.Advance(100);
    ASSERT_NE(ui.FindWindowInfo(fader), nullptr);
    owner.DestroyWindow();
    EXPECT_EQ(ui.FindWindowInfo(fader), nullptr);
    ui.Advance(1000);
}

// The main window: command 32773 and system command 16 open the box; the
// command writes "Minimized" 0 first. Closing the visible window to the tray
// leaves a fader; closing a hidden one does not.
class MainWindowAboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_appName = port::ApplicationName();
        port::SetAutostartEntry(m_appName, "", false);
        m_store.SetInt("App", "Autostart", 0);
        m_dlg.emplace(m_app, m_ui);
        m_hWnd = m_ui.OpenDialog(IDD_VESK_DIALOG, &*m_dlg, nullptr);
    }
    void TearDown() override { port::SetAutostartEntry(m_appName, "", false); }

    // Sends the message; true when the About box opened (it is closed
    // with OK).
    bool OpensTheBox(unsigned message, std::uintptr_t wParam) {
        bool opened = false;
        m_ui.SetIdleHandler([&] {
            const port::WindowHandle box = m_ui.FindDialogOfTemplate(IDD_ABOUTBOX);
            if (box == nullptr || opened)
                return;
            opened = true;
            m_minimizedInBox = m_store.GetInt("App", "Minimized", 99);
            m_ui.PressButton(box, port::kIdOk);
        });
        m_ui.SendMessage(m_hWnd, message, wParam, 0);
        m_ui.SetIdleHandler(nullptr);
        return opened;
    }

    tavlo::test::TempDir m_config;
    tavlo::test::ScopedEnvironmentVariable m_xdg{"XDG_CONFIG_HOME", m_config.path()};
    std::string m_appName;
    tavlo::test::MemoryProfileStore m_store;
    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    CVeskApp m_app{m_store, m_ui, "tavlo"};
    std::optional<tavlo::test::CyclesDlg> m_dlg;
    port::WindowHandle m_hWnd = nullptr;
    std::uint32_t m_minimizedInBox = 99;
    FaderWatch watch{m_ui};
};

TEST_F(MainWindowAboutTest, AboutCommandWritesMinimizedZeroAndRunsTheBox) {
    m_store.SetInt("App", "Minimized", 1);
    EXPECT_TRUE(OpensTheBox(port::kWmCommand, port::MakeCommandParam(ID_ABOUT)));
    EXPECT_EQ(m_minimizedInBox, 0u);
    EXPECT_EQ(watch.Faders().size(), 1u);
}

TEST_F(MainWindowAboutTest, SystemMenuItem16RunsTheBoxAndOtherSystemCommandsDoNot) {
    m_store.SetInt("App", "Minimized", 1);
    EXPECT_TRUE(OpensTheBox(port::kWmSysCommand, IDM_ABOUTBOX));
    EXPECT_EQ(m_minimizedInBox, 1u) << "only the menu command writes Minimized";
    constexpr std::uintptr_t kScMinimize = 0xF020;
    EXPECT_FALSE(OpensTheBox(port::kWmSysCommand, kScMinimize));
}

TEST_F(MainWindowAboutTest, ClosingTheVisibleWindowLeavesAFaderOverIt) {
    ASSERT_TRUE(m_ui.IsWindowVisible(m_hWnd));
    const port::Rect rect = m_ui.GetWindowRect(m_hWnd);
    m_ui.SendMessage(m_hWnd, port::kWmCommand, port::MakeCommandParam(ID_CLOSE), 0);
    EXPECT_FALSE(m_ui.IsWindowVisible(m_hWnd));
    const auto faders = watch.Faders();
    ASSERT_EQ(faders.size(), 1u);
    const WindowInfo* info = m_ui.FindWindowInfo(faders[0]);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->rect, rect);
    EXPECT_EQ(info->owner, m_hWnd);
    m_ui.Advance(525);
    EXPECT_EQ(m_ui.FindWindowInfo(faders[0]), nullptr);

    // Hidden already: nothing on the screen to fade.
    m_ui.SendMessage(m_hWnd, port::kWmClose, 0, 0);
    EXPECT_EQ(watch.Faders().size(), 1u);
}

} // namespace
