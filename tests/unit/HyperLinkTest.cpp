#include "controls/HyperLink.h"

#include "platform/Paths.h"
#include "platform/Wnd.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using port::headless::PaintOp;

constexpr port::Colour kNormal = port::Rgb(0, 0, 238);
constexpr port::Colour kVisited = port::Rgb(85, 26, 139);
constexpr port::Colour kHover = port::Rgb(255, 0, 0);
constexpr const char* kUrl = "http://www.example.com/help";

// A link on the main window's "E-postkonton" label (control 1107, 80 x 8
// dialog units at (26, 11)).
class HyperLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr), nullptr);
        control = ui.GetItem(dialog.GetSafeHwnd(), IDC_ACCOUNTS_LABEL);
        ASSERT_NE(control, nullptr);
        ui.SetMessageBoxHandler([this](const port::headless::MessageBoxCall& call) {
            boxes.push_back(call);
            return port::kIdOk;
        });
    }

    void Attach() { ASSERT_TRUE(link.SubclassDlgItem(IDC_ACCOUNTS_LABEL, dialog.GetSafeHwnd())); }

    // The text as the link's last paint drew it.
    const PaintOp* PaintNow() {
        ui.ClearPaintOps();
        ui.SendMessage(control, port::kWmPaint, 0, 0);
        for (const PaintOp& op : ui.PaintOps()) {
            if (op.kind == PaintOp::Kind::Text && op.window == control)
                return &ui.PaintOps().back();
        }
        return nullptr;
    }

    void PointAt(int x, int y) {
        const port::Rect rect = ui.GetWindowRect(control);
        const port::Rect parent = ui.GetWindowRect(dialog.GetSafeHwnd());
        ui.SetCursorPosition(port::Point{parent.left + rect.left + x, parent.top + rect.top + y});
    }

    void Hover() {
        PointAt(2, 2);
        ui.SendMessage(control, port::kWmMouseMove, 0, 0);
    }

    void Click() { ui.SendMessage(control, port::kWmLButtonUp, 0, 0); }

    HeadlessUi ui{tavlo::res::ProgramResources()};
    CDialog dialog{ui, IDD_VESK_DIALOG};
    port::WindowHandle control = nullptr;
    std::vector<port::headless::MessageBoxCall> boxes;
    CHyperLink link{ui};
};

TEST_F(HyperLinkTest, AttachingTakesTheTextAsTargetFitsTheTextAndAddsTheTooltip) {
    const port::Rect before = ui.GetWindowRect(control);
    Attach();
    EXPECT_EQ(link.GetTarget(), "E-postkonton");
    EXPECT_NE(ui.GetStyle(control) & 0x100u, 0u); // reports clicks
    ASSERT_TRUE(ui.FindTooltip(control).has_value());
    EXPECT_EQ(ui.FindTooltip(control)->text, "E-postkonton");
    // 12 characters of the fixed metrics, at the old top-left corner.
    const port::Rect after = ui.GetWindowRect(control);
    EXPECT_EQ(after,
              (port::Rect{before.left, before.top, before.left + 12 * port::headless::kCharWidth,
                          before.top + port::headless::kLineHeight}));
    const PaintOp* text = PaintNow();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text, "E-postkonton");
    EXPECT_EQ(text->fontFace, "MS Sans Serif"); // the dialog's font
    EXPECT_FALSE(text->underline);
    EXPECT_TRUE(text->transparent);
    EXPECT_EQ(text->colour, kNormal);

    // A new target refits (the text stays) and goes into the tooltip.
    link.SetTarget(kUrl);
    EXPECT_EQ(ui.FindTooltip(control)->text, kUrl);
    EXPECT_EQ(ui.GetItemText(dialog.GetSafeHwnd(), IDC_ACCOUNTS_LABEL), "E-postkonton");

    // Every message reaches the tooltip first.
    Hover();
    const auto relayed = ui.FindTooltip(control)->relayed;
    EXPECT_NE(std::find(relayed.begin(), relayed.end(), port::kWmMouseMove), relayed.end());

    dialog.DestroyWindow();
    EXPECT_FALSE(ui.FindTooltip(control).has_value());
}

TEST_F(HyperLinkTest, EmptyTextShowsTheTargetFittedToIt) {
    ui.SetItemText(dialog.GetSafeHwnd(), IDC_ACCOUNTS_LABEL, "");
    link.SetTarget("Help");
    Attach();
    EXPECT_EQ(ui.GetItemText(dialog.GetSafeHwnd(), IDC_ACCOUNTS_LABEL), "Help");
    EXPECT_EQ(ui.GetWindowRect(control).Width(), 4 * port::headless::kCharWidth);
}

TEST_F(HyperLinkTest, FittingKeepsTheEdgeTheAlignmentNames) {
    const struct {
        const char* name;
        std::uint32_t style;
        bool keepLeft, keepRight, keepCentre, keepMiddle;
    } cases[] = {
        {"left", 0x00, true, false, false, false},
        {"centred", 0x01, false, false, true, false},
        {"right", 0x02, false, true, false, false},
        {"centred vertically", 0x200, true, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDialog other{ui, IDD_VESK_DIALOG};
        ASSERT_NE(ui.OpenDialog(IDD_VESK_DIALOG, &other, nullptr), nullptr);
        const port::WindowHandle label = ui.GetItem(other.GetSafeHwnd(), IDC_BLOCKED_LABEL);
        ui.AddStyle(label, c.style);
        const port::Rect before = ui.GetWindowRect(label);
        ui.SetItemText(other.GetSafeHwnd(), IDC_BLOCKED_LABEL, "Hi");
        CHyperLink fitted(ui);
        ASSERT_TRUE(fitted.SubclassDlgItem(IDC_BLOCKED_LABEL, other.GetSafeHwnd()));
        const port::Rect after = ui.GetWindowRect(label);
        EXPECT_EQ(after.Width(), 2 * port::headless::kCharWidth);
        EXPECT_EQ(after.Height(), port::headless::kLineHeight);
        if (c.keepLeft) {
            EXPECT_EQ(after.left, before.left);
        }
        if (c.keepRight) {
            EXPECT_EQ(after.right, before.right);
        }
        if (c.keepCentre) {
            EXPECT_EQ(after.left, (before.left + before.right) / 2 - after.Width() / 2);
        }
        const int top =
            c.keepMiddle ? (before.top + before.bottom) / 2 - after.Height() / 2 : before.top;
        EXPECT_EQ(after.top, top);
    }
}

TEST_F(HyperLinkTest, ColourAndUnderlineFollowTheStateAndTheMode) {
    const struct {
        const char* name;
        int mode;
        bool visited;
        bool hovering;
        port::Colour colour;
        bool underline;
    } cases[] = {
        {"idle", -1, false, false, kNormal, false},
        {"hovered", -1, false, true, kHover, true},
        {"visited", -1, true, false, kVisited, false},
        {"visited and hovered", -1, true, true, kHover, true},
        {"never underlined, hovered", 0, false, true, kHover, false},
        {"always underlined, idle", 1, false, false, kNormal, true},
        {"always underlined, hovered", 1, true, true, kHover, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDialog other{ui, IDD_VESK_DIALOG};
        ASSERT_NE(ui.OpenDialog(IDD_VESK_DIALOG, &other, nullptr), nullptr);
        CHyperLink each(ui);
        ASSERT_TRUE(each.SubclassDlgItem(IDC_ACCOUNTS_LABEL, other.GetSafeHwnd()));
        each.SetUnderlineMode(c.mode);
        if (c.visited)
            each.SetVisitedState();
        const port::WindowHandle label = ui.GetItem(other.GetSafeHwnd(), IDC_ACCOUNTS_LABEL);
        if (c.hovering)
            ui.SendMessage(label, port::kWmMouseMove, 0, 0);
        ui.ClearPaintOps();
        ui.SendMessage(label, port::kWmEraseBkgnd, reinterpret_cast<std::uintptr_t>(label) + 1, 0);
        ui.SendMessage(label, port::kWmPaint, 0, 0);
        ASSERT_EQ(ui.PaintOps().size(), 2u);
        EXPECT_EQ(ui.PaintOps()[0].kind, PaintOp::Kind::Fill); // the dialogs' colour behind
        EXPECT_EQ(ui.PaintOps()[0].colour, port::Rgb(197, 209, 223));
        EXPECT_EQ(ui.PaintOps()[1].colour, c.colour);
        EXPECT_EQ(ui.PaintOps()[1].underline, c.underline);
    }
}

TEST_F(HyperLinkTest, OneColourForAllStatesNeverChanges) {
    Attach();
    link.SetLinkColours(port::Rgb(1, 2, 3), port::Rgb(1, 2, 3), port::Rgb(1, 2, 3));
    EXPECT_EQ(PaintNow()->colour, port::Rgb(1, 2, 3));
    Hover();
    EXPECT_EQ(PaintNow()->colour, port::Rgb(1, 2, 3));
    link.SetVisitedState();
    EXPECT_EQ(PaintNow()->colour, port::Rgb(1, 2, 3));
}

TEST_F(HyperLinkTest, HoverEndsWhenTheTimerFindsThePointerOutside) {
    Attach();
    Hover();
    EXPECT_TRUE(link.IsHovering());
    EXPECT_EQ(ui.TimerPeriod(control, 100), 100u);
    // Still inside: the timer goes on.
    ui.Advance(300);
    EXPECT_TRUE(link.IsHovering());
    EXPECT_TRUE(link.IsUnderlined());
    // One pixel right of the client area.
    PointAt(ui.GetClientRect(control).right, 2);
    ui.Advance(100);
    EXPECT_FALSE(link.IsHovering());
    EXPECT_FALSE(link.IsUnderlined());
    EXPECT_FALSE(ui.TimerPeriod(control, 100).has_value());
    // The next move hovers again.
    Hover();
    EXPECT_TRUE(link.IsHovering());
}

TEST_F(HyperLinkTest, HandCursorComesFromTheHelpViewerOrNotAtAll) {
    // No help viewer: the default cursor stays.
    Attach();
    EXPECT_EQ(ui.SendMessage(control, port::kWmSetCursor, 0, port::kHtClient), 0);
    EXPECT_EQ(ui.CurrentCursor(), nullptr);

    ui.SetProgramCursorAvailable(true);
    {
        CHyperLink withCursor(ui);
        ASSERT_TRUE(withCursor.SubclassDlgItem(IDC_BLOCKED_LABEL, dialog.GetSafeHwnd()));
        EXPECT_EQ(ui.LiveProgramCursorCount(), 1);
        const port::WindowHandle label = ui.GetItem(dialog.GetSafeHwnd(), IDC_BLOCKED_LABEL);
        EXPECT_EQ(ui.SendMessage(label, port::kWmSetCursor, 0, port::kHtClient), 1);
        EXPECT_EQ(ui.CurrentCursor(), HeadlessUi::ProgramCursor());
    }
    EXPECT_EQ(ui.LiveProgramCursorCount(), 0); // its copy is given back
}

TEST_F(HyperLinkTest, ClickOpensTheTargetThroughTheShell) {
    link.SetTarget(kUrl);
    Attach();
    Hover();
    Click();
    const auto opened = ui.EventsOf(EventKind::ShellOpen);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].text, kUrl);
    EXPECT_TRUE(ui.EventsOf(EventKind::Run).empty());
    EXPECT_TRUE(link.IsVisited());
    EXPECT_FALSE(link.IsHovering());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(PaintNow()->colour, kVisited);
}

TEST_F(HyperLinkTest, ShellFailureFallsBackOnTheRegisteredBrowser) {
    const struct {
        const char* name;
        std::string command;
        std::string run;
    } cases[] = {
        {"quoted placeholder", "\"C:\\Web\\browse.exe\" -nohome \"%1\" -x",
         "\"C:\\Web\\browse.exe\" -nohome  " + std::string(kUrl)},
        {"bare placeholder", "C:\\Web\\browse.exe %1", "C:\\Web\\browse.exe  " + std::string(kUrl)},
        {"no placeholder", "C:\\Web\\browse.exe", "C:\\Web\\browse.exe " + std::string(kUrl)},
    };
    ui.SetShellOpenCode(31);
    ui.SetClassesRootDefault(".htm", "webpage");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.ClearEvents();
        ui.SetClassesRootDefault("webpage\\shell\\open\\command", c.command);
        CDialog other{ui, IDD_VESK_DIALOG};
        ASSERT_NE(ui.OpenDialog(IDD_VESK_DIALOG, &other, nullptr), nullptr);
        CHyperLink each(ui);
        each.SetTarget(kUrl);
        ASSERT_TRUE(each.SubclassDlgItem(IDC_ACCOUNTS_LABEL, other.GetSafeHwnd()));
        ui.SendMessage(ui.GetItem(other.GetSafeHwnd(), IDC_ACCOUNTS_LABEL), port::kWmLButtonUp, 0,
                       0);
        ASSERT_EQ(ui.EventsOf(EventKind::ShellOpen).size(), 1u);
        const auto runs = ui.EventsOf(EventKind::Run);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].text, c.run);
        EXPECT_TRUE(each.IsVisited());
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(HyperLinkTest, WhenNothingOpensTheTargetABeepAndTheReasonAreShown) {
    const struct {
        const char* name;
        int shell;
        bool browser;
        int run;
        std::string reason;
    } cases[] = {
        {"sharing violation, no browser", 26, false, 0, "A sharing violation occurred. "},
        {"no association, no browser", 31, false, 0,
         "There is no application associated\nwith the given filename extension."},
        {"browser fails too", 31, true, 2, "The specified file was not found."},
        {"unknown code", 13, false, 0, "Unknown Error (13) occurred."},
        {"browser answers 32", 2, true, 32, "The specified dynamic-link library was not found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HeadlessUi own{tavlo::res::ProgramResources()};
        std::vector<port::headless::MessageBoxCall> shown;
        own.SetMessageBoxHandler([&shown](const port::headless::MessageBoxCall& call) {
            shown.push_back(call);
            return port::kIdOk;
        });
        own.SetShellOpenCode(c.shell);
        own.SetRunResult(c.run);
        if (c.browser) {
            own.SetClassesRootDefault(".htm", "webpage");
            own.SetClassesRootDefault("webpage\\shell\\open\\command", "browse.exe %1");
        }
        CDialog other{own, IDD_VESK_DIALOG};
        ASSERT_NE(own.OpenDialog(IDD_VESK_DIALOG, &other, nullptr), nullptr);
        CHyperLink each(own);
        each.SetTarget("mailto:someone@example.com");
        ASSERT_TRUE(each.SubclassDlgItem(IDC_ACCOUNTS_LABEL, other.GetSafeHwnd()));
        own.SendMessage(own.GetItem(other.GetSafeHwnd(), IDC_ACCOUNTS_LABEL), port::kWmLButtonUp, 0,
                        0);
        EXPECT_FALSE(each.IsVisited());
        const auto sounds = own.EventsOf(EventKind::Sound);
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_EQ(sounds[0].text, "MessageBeep");
        EXPECT_EQ(sounds[0].value, static_cast<int>(port::kMbIconExclamation));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, "Unable to open hyperlink:\n\n" + c.reason);
        EXPECT_EQ(shown[0].caption, port::ApplicationName());
        EXPECT_EQ(shown[0].type, port::kMbOk | port::kMbIconExclamation);
    }
}

TEST(HyperLinkOpenError, EveryCodeHasItsText) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
             "being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {-5, "Unknown Error (-5) occurred."},
        {1, "Unknown Error (1) occurred."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CHyperLink::OpenErrorText(c.code), c.text) << c.code;
}

} // namespace
