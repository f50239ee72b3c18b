#include "notify/TaskbarNotifier.h"

#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/RecordingWnd.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using port::headless::PaintOp;
using port::headless::ResourceKind;
using tavlo::test::RecordingWnd;

constexpr int kW = IDB_SKIN_WIDTH;  // 148
constexpr int kH = IDB_SKIN_HEIGHT; // 120

// The popup as the application sets it up, owned by a main window, on a
// 1024 x 768 screen.
class TaskbarNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner.Create(TXT_MAIN_CAPTION);
        ASSERT_TRUE(notifier.Create(&owner));
        ASSERT_TRUE(notifier.SetSkin());
        notifier.SetTextFont();
        notifier.SetTextColors();
        notifier.SetTextRect(port::Rect{10, 10, kW - 10, kH - 25});
        popup = notifier.GetSafeHwnd();
        ASSERT_NE(popup, nullptr);
    }

    // Runs the clock to the next expiry of one of the popup's timers.
    void Tick(unsigned timer) {
        const auto due = ui.TimerDue(popup, timer);
        ASSERT_TRUE(due.has_value()) << "timer " << timer << " is not running";
        ui.Advance(*due - ui.Now());
    }

    // Ticks timer 1 until the popup waits; the number of ticks.
    int RunAppearing() {
        int ticks = 0;
        while (notifier.GetState() != CTaskbarNotifier::kWaiting && ticks < 1000) {
            Tick(CTaskbarNotifier::kTimerAppearing);
            ++ticks;
        }
        return ticks;
    }

    // Ticks timer 3 until the popup is idle again; the number of ticks.
    int RunDisappearing() {
        int ticks = 0;
        while (notifier.GetState() != CTaskbarNotifier::kIdle && ticks < 1000) {
            Tick(CTaskbarNotifier::kTimerDisappearing);
            ++ticks;
        }
        return ticks;
    }

    port::Rect WindowRect() const { return ui.GetWindowRect(popup); }

    // The last text drawn into the popup.
    const PaintOp* LastText() const {
        const PaintOp* last = nullptr;
        for (const PaintOp& op : ui.PaintOps()) {
            if (op.kind == PaintOp::Kind::Text && op.window == popup)
                last = &op;
        }
        return last;
    }

    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd owner{ui};
    CTaskbarNotifier notifier{ui};
    port::WindowHandle popup = nullptr;
};

TEST_F(TaskbarNotifierTest, SetUpAsTheApplicationDoes) {
    const port::headless::WindowInfo* info = ui.FindWindowInfo(popup);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->owner, owner.GetSafeHwnd());
    EXPECT_EQ(info->title, "");
    EXPECT_EQ(info->rect, (port::Rect{0, 0, 0, 0}));
    EXPECT_FALSE(info->visible);
    EXPECT_EQ(notifier.GetSkinSize(), (port::Size{148, 120}));
    EXPECT_EQ(notifier.GetTextRect(), (port::Rect{10, 10, 138, 95}));
    EXPECT_EQ(notifier.GetNormalTextColour(), port::Rgb(0, 0, 0));
    EXPECT_EQ(notifier.GetHoverTextColour(), port::Rgb(0, 0, 200));
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);

    // A fresh popup has the colours of construction and no skin.
    CTaskbarNotifier fresh(ui);
    EXPECT_EQ(fresh.GetNormalTextColour(), port::Rgb(133, 146, 181));
    EXPECT_EQ(fresh.GetHoverTextColour(), port::Rgb(10, 36, 106));
    EXPECT_EQ(fresh.GetSkinSize(), (port::Size{0, 0}));
}

// The whole slide for each taskbar edge: start, step period, the positions
// where appearing and disappearing stop, and the number of moves.
TEST_F(TaskbarNotifierTest, SlidesOutOfEachTaskbarEdgeAndBack) {
    struct Case {
        const char* name;
        port::Rect workArea;
        int placement;
        port::Point start;
        port::Point first; // before the first tick
        unsigned stepMs;
        int appearMoves;
        port::Point shown;
        int disappearMoves;
        port::Point gone;
    };
    // Screen 1024 x 768. R, B, L, T below are the work area's edges.
    const Case cases[] = {
        // Bottom (R 1024, B 738): left edge R - 163, top edge B .. B - 120.
        {"bottom", {0, 0, 1024, 738}, 4, {876, 738}, {861, 738}, 6, 60, {861, 618}, 60, {861, 738}},
        // Top (T 30): same left edge; top edge T - 120 .. T.
        {"top", {0, 30, 1024, 768}, 1, {876, -90}, {861, -90}, 6, 60, {861, 30}, 60, {861, -90}},
        // Right (R 990): starts at R - 15, stops at R - 149, leaves to R + 1.
        {"right", {0, 0, 990, 768}, 3, {990, 648}, {975, 648}, 5, 67, {841, 648}, 75, {991, 648}},
        // Left (L 34): starts at L - 163, stops at L + 1, leaves to L - 149.
        {"left",
         {34, 0, 1024, 768},
         2,
         {-114, 648},
         {-129, 648},
         5,
         82,
         {35, 648},
         75,
         {-115, 648}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.SetWorkArea(c.workArea);
        ui.ClearPaintOps();
        // Zero size at first; later at the end of the slide before.
        const port::Rect before = WindowRect();

        notifier.Show("Tavlo\n\nWork 2 mail.", 800);
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle); // until the first tick
        EXPECT_EQ(notifier.GetPlacement(), c.placement);
        EXPECT_EQ(notifier.GetStartPosition(), c.start);
        EXPECT_EQ(notifier.GetCurrentPosition(), c.first);
        EXPECT_EQ(notifier.GetShowStepMs(), c.stepMs);
        EXPECT_EQ(notifier.GetHideStepMs(), c.stepMs);
        EXPECT_EQ(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerAppearing), c.stepMs);
        EXPECT_TRUE(ui.IsWindowVisible(popup));
        EXPECT_EQ(WindowRect(), before) << "not moved before the first tick";

        Tick(CTaskbarNotifier::kTimerAppearing);
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kAppearing);
        const port::Rect firstMove = WindowRect();
        EXPECT_EQ(firstMove.Width(), kW);
        EXPECT_EQ(firstMove.Height(), kH);
        const int moved =
            std::abs(firstMove.left - c.first.x) + std::abs(firstMove.top - c.first.y);
        EXPECT_EQ(moved, 2);
        EXPECT_EQ(1 + RunAppearing(), c.appearMoves + 1); // the last tick finishes
        EXPECT_EQ(notifier.GetCurrentPosition(), c.shown);
        EXPECT_EQ(WindowRect(), (port::Rect{c.shown.x, c.shown.y, c.shown.x + kW, c.shown.y + kH}));
        EXPECT_FALSE(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerAppearing).has_value());
        EXPECT_EQ(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerWaiting), 800u);
        // Shown once: the text became visible.
        ASSERT_NE(LastText(), nullptr);
        EXPECT_EQ(LastText()->layout.lines,
                  (std::vector<std::string>{"Tavlo", "", "Work 2 mail."}));

        Tick(CTaskbarNotifier::kTimerWaiting);
        EXPECT_FALSE(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerWaiting).has_value());
        EXPECT_EQ(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerDisappearing), c.stepMs);
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kWaiting);

        EXPECT_EQ(RunDisappearing(), c.disappearMoves + 1);
        EXPECT_EQ(notifier.GetCurrentPosition(), c.gone);
        EXPECT_FALSE(ui.IsWindowVisible(popup));
        // The last tick hides the window, then moves it as every tick does:
        // it stays hidden at the end position, in its full size.
        EXPECT_EQ(WindowRect(), (port::Rect{c.gone.x, c.gone.y, c.gone.x + kW, c.gone.y + kH}));
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);
        EXPECT_FALSE(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerDisappearing).has_value());
        ui.Advance(10000);
        EXPECT_FALSE(ui.IsWindowVisible(popup)); // nothing left running
    }
}

TEST_F(TaskbarNotifierTest, ShowBeforeTheFirstTickStartsTheSlideAgain) {
    notifier.Show("one", 800);
    ui.Advance(3); // the timer has not fired yet
    notifier.Show("two", 2400);
    EXPECT_EQ(notifier.GetCurrentPosition(), (port::Point{861, 738}));
    EXPECT_EQ(notifier.GetStayMs(), 2400u);
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);
    EXPECT_EQ(RunAppearing(), 61);
}

TEST_F(TaskbarNotifierTest, ShowWhileAppearingRepaintsAndKeepsSliding) {
    notifier.Show("first", 800);
    for (int i = 0; i < 10; ++i)
        Tick(CTaskbarNotifier::kTimerAppearing);
    const port::Point at = notifier.GetCurrentPosition();
    EXPECT_EQ(at, (port::Point{861, 718}));

    notifier.Show("second", 2400);
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kAppearing);
    EXPECT_EQ(notifier.GetCurrentPosition(), at);
    ASSERT_NE(LastText(), nullptr);
    EXPECT_EQ(LastText()->text, "second"); // painted at once
    EXPECT_EQ(RunAppearing(), 51);
    EXPECT_EQ(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerWaiting), 2400u);
}

TEST_F(TaskbarNotifierTest, ShowWhileWaitingKeepsThePlaceAndRestartsTheStay) {
    notifier.Show("first", 800);
    RunAppearing();
    ui.Advance(500);
    const port::Rect shown = WindowRect();

    notifier.Show("second", 800);
    EXPECT_EQ(WindowRect(), shown);
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kWaiting);
    EXPECT_EQ(ui.TimerDue(popup, CTaskbarNotifier::kTimerWaiting), ui.Now() + 800);
    EXPECT_EQ(LastText()->text, "second");
    ui.Advance(799);
    EXPECT_FALSE(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerDisappearing).has_value());
    ui.Advance(1);
    EXPECT_TRUE(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerDisappearing).has_value());
}

TEST_F(TaskbarNotifierTest, ShowWhileDisappearingJumpsBackToTheShownPlace) {
    notifier.Show("first", 800);
    RunAppearing();
    Tick(CTaskbarNotifier::kTimerWaiting);
    for (int i = 0; i < 20; ++i)
        Tick(CTaskbarNotifier::kTimerDisappearing);
    EXPECT_EQ(notifier.GetCurrentPosition(), (port::Point{861, 658}));

    notifier.Show("again", 2400);
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kDisappearing); // until a tick
    EXPECT_EQ(notifier.GetCurrentPosition(), (port::Point{861, 618}));
    EXPECT_EQ(WindowRect(), (port::Rect{861, 618, 861 + kW, 618 + kH}));
    EXPECT_FALSE(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerDisappearing).has_value());
    EXPECT_EQ(ui.TimerPeriod(popup, CTaskbarNotifier::kTimerWaiting), 2400u);
    EXPECT_EQ(LastText()->text, "again");

    // The stay runs out, and the popup sinks from the shown place.
    Tick(CTaskbarNotifier::kTimerWaiting);
    EXPECT_EQ(RunDisappearing(), 61);
    EXPECT_FALSE(ui.IsWindowVisible(popup));
}

TEST_F(TaskbarNotifierTest, HoverUnderlinesInBlueAndLeaveRestores) {
    notifier.Show("Tavlo", 2400);
    RunAppearing();

    ui.SendMessage(popup, port::kWmMouseMove, 0, 0);
    ASSERT_TRUE(ui.MouseTracking().has_value());
    EXPECT_EQ(ui.MouseTracking()->window, popup);
    EXPECT_EQ(ui.MouseTracking()->hoverMs, 1u);

    struct Step {
        unsigned message;
        bool over;
        port::Colour colour;
    };
    const Step steps[] = {
        {port::kWmMouseHover, true, port::Rgb(0, 0, 200)},
        {port::kWmMouseLeave, false, port::Rgb(0, 0, 0)},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.message);
        ui.ClearPaintOps();
        ui.SendMessage(popup, step.message, 0, 0);
        EXPECT_EQ(notifier.IsMouseOver(), step.over);
        const PaintOp* text = LastText();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->colour, step.colour);
        EXPECT_EQ(text->underline, step.over);
        EXPECT_EQ(text->fontFace, "Arial");
        EXPECT_TRUE(text->transparent);
        // The same report twice repaints nothing.
        ui.ClearPaintOps();
        ui.SendMessage(popup, step.message, 0, 0);
        EXPECT_EQ(LastText(), nullptr);
    }
}

TEST_F(TaskbarNotifierTest, HandCursorOverTheClientAreaOnly) {
    const port::CursorHandle hand = ui.LoadSystemCursor(port::SystemCursor::Hand);
    EXPECT_EQ(ui.SendMessage(popup, port::kWmSetCursor, 0, port::kHtCaption), 0);
    EXPECT_EQ(ui.CurrentCursor(), nullptr);
    EXPECT_EQ(ui.SendMessage(popup, port::kWmSetCursor, 0, port::kHtClient), 1);
    EXPECT_EQ(ui.CurrentCursor(), hand);
}

TEST_F(TaskbarNotifierTest, ClickPostsToTheOwnerAndLeavesThePopupInPlace) {
    notifier.Show("Tavlo", 2400);
    RunAppearing();
    const port::Rect shown = WindowRect();
    owner.Clear();

    ui.SendMessage(popup, port::kWmLButtonUp, 0, 0);
    EXPECT_TRUE(owner.Messages().empty()); // posted, not sent
    ui.RunPending();
    const auto clicks = owner.MessagesOf(1147);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].wParam, 0u);
    EXPECT_EQ(clicks[0].lParam, 0);
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kWaiting);
    EXPECT_EQ(WindowRect(), shown);
    EXPECT_TRUE(ui.IsWindowVisible(popup));
}

TEST_F(TaskbarNotifierTest, PaintDrawsTheSkinThenTheTextWithEllipsisWhenItDoesNotFit) {
    // The text rectangle holds 21 characters a line and 6 lines.
    struct Case {
        std::string text;
        bool ellipsis;
    };
    const Case cases[] = {
        {"Tavlo\n\nWork 2 mail.", false},
        {"Tavlo\n\nA 1 mail.\nB 1 mail.\nC 1 mail.\nD 1 mail.", false},
        {"Tavlo\n\nA 1 mail.\nB 1 mail.\nC 1 mail.\nD 1 mail.\nE 1 mail.", true},
        {"Tavlo\n\nAn account with a rather long name 3 mail.", false},
        {"Tavlo\n\n" + std::string(200, 'x'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        notifier.Hide();
        notifier.Show(c.text, 800);
        ui.ClearPaintOps();
        RunAppearing(); // the first tick sizes the window, which is then painted
        const auto& ops = ui.PaintOps();
        ASSERT_EQ(ops.size(), 2u);
        EXPECT_EQ(ops[0].kind, PaintOp::Kind::Bitmap);
        EXPECT_EQ(ops[0].resourceId, IDB_SKIN);
        EXPECT_EQ(ops[0].rect, (port::Rect{0, 0, kW, kH}));
        ASSERT_EQ(ops[1].kind, PaintOp::Kind::Text);
        EXPECT_EQ(ops[1].rect, (port::Rect{10, 10, 138, 95}));
        EXPECT_EQ(ops[1].flags,
                  port::kDtCenter | port::kDtVCenter | port::kDtWordBreak | port::kDtEndEllipsis);
        EXPECT_EQ(ops[1].layout.ellipsis, c.ellipsis);
        ASSERT_FALSE(ops[1].layout.lines.empty());
        EXPECT_LE(ops[1].layout.lines.size(), 6u);
        const std::string& lastLine = ops[1].layout.lines.back();
        EXPECT_EQ(lastLine.size() >= 3 && lastLine.substr(lastLine.size() - 3) == "...",
                  c.ellipsis);
    }
}

TEST_F(TaskbarNotifierTest, HideDuringAnyPhaseStopsEverything) {
    // Right after Show the state is still idle while timer 1 runs; right
    // after the stay the state is still "waiting" while timer 3 runs.
    for (int phase = 0; phase < 4; ++phase) {
        SCOPED_TRACE(phase);
        notifier.Show("Tavlo", 800);
        if (phase >= 1)
            Tick(CTaskbarNotifier::kTimerAppearing);
        if (phase >= 2)
            RunAppearing();
        if (phase >= 3)
            Tick(CTaskbarNotifier::kTimerWaiting);
        notifier.Hide();
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);
        EXPECT_FALSE(ui.IsWindowVisible(popup));
        for (unsigned timer = 1; timer <= 3; ++timer)
            EXPECT_FALSE(ui.TimerPeriod(popup, timer).has_value()) << "timer " << timer;
        ui.Advance(5000);
        EXPECT_FALSE(ui.IsWindowVisible(popup));
        EXPECT_EQ(WindowRect(), (port::Rect{0, 0, 0, 0}));
    }
}

// Without a usable skin (none, or under 2 pixels in the sliding direction)
// the slide step would divide by zero: Show keeps the text and stays idle.
TEST(TaskbarNotifierSkinTest, ShowWithoutAUsableSkinStaysIdle) {
    struct Case {
        const char* name;
        bool removed;
        port::Size size;
        port::Rect workArea;
    };
    const Case cases[] = {
        {"no skin", true, {0, 0}, {0, 0, 1024, 738}},
        {"1 x 1", false, {1, 1}, {0, 0, 1024, 738}},
        {"wide but 1 high, bottom", false, {148, 1}, {0, 0, 1024, 738}},
        {"high but 1 wide, right", false, {1, 120}, {0, 0, 990, 768}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeadlessUi ui{tavlo::res::ProgramResources()};
        ui.SetWorkArea(c.workArea);
        if (c.removed)
            ui.RemoveResource(ResourceKind::Bitmap, IDB_SKIN);
        else
            ui.SetBitmapResource(IDB_SKIN, c.size);
        RecordingWnd owner(ui);
        owner.Create();
        CTaskbarNotifier notifier(ui);
        ASSERT_TRUE(notifier.Create(&owner));
        EXPECT_EQ(notifier.SetSkin(), !c.removed);
        notifier.SetTextRect(port::Rect{10, 10, 138, 95});

        notifier.Show("Tavlo", 800);
        EXPECT_EQ(notifier.GetText(), "Tavlo");
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);
        EXPECT_FALSE(ui.IsWindowVisible(notifier.GetSafeHwnd()));
        EXPECT_FALSE(ui.TimerPeriod(notifier.GetSafeHwnd(), 1).has_value());
        ui.Advance(5000);
        EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);
    }

    // A popup that was never created cannot show either.
    HeadlessUi ui{tavlo::res::ProgramResources()};
    CTaskbarNotifier notifier(ui);
    ASSERT_TRUE(notifier.SetSkin());
    notifier.Show("Tavlo", 800);
    notifier.Hide();
    EXPECT_EQ(notifier.GetState(), CTaskbarNotifier::kIdle);
}

TEST(TaskbarNotifierSkinTest, FailedSkinLoadKeepsThePreviousSkin) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    CTaskbarNotifier notifier(ui);
    ASSERT_TRUE(notifier.SetSkin());
    notifier.SetTextRect(port::Rect{10, 10, 138, 95});
    ui.RemoveResource(ResourceKind::Bitmap, IDB_SKIN);
    EXPECT_FALSE(notifier.SetSkin());
    EXPECT_EQ(notifier.GetSkinSize(), (port::Size{148, 120}));
    EXPECT_EQ(notifier.GetTextRect(), (port::Rect{10, 10, 138, 95}));
}

} // namespace
