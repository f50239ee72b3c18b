#include "platform/headless/HeadlessUi.h"

#include "platform/Wnd.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/RecordingWnd.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using port::headless::ClockMode;
using port::headless::EventKind;
using port::headless::HeadlessUi;
using tavlo::test::ReceivedMessage;
using tavlo::test::RecordingWnd;

constexpr unsigned kTestMessage = port::kWmUser + 1;

// A dialog whose messages the test scripts; it records what it receives.
class ScriptedDialog : public CDialog {
public:
    using Handler = std::function<bool(ScriptedDialog&, const ReceivedMessage&, std::intptr_t&)>;

    ScriptedDialog(port::Ui& ui, int templateId = IDD_VESK_DIALOG) : CDialog(ui, templateId) {}
    ~ScriptedDialog() override { DestroyWindow(); }

    Handler handler;
    std::vector<unsigned> received;
    port::WindowHandle window = nullptr; // kept after destruction

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override {
        received.push_back(message);
        if (window == nullptr)
            window = m_hWnd;
        if (handler && handler(*this, ReceivedMessage{message, wParam, lParam}, result))
            return true;
        return CDialog::WindowProc(message, wParam, lParam, result);
    }
};

std::vector<unsigned> Messages(const RecordingWnd& wnd) {
    std::vector<unsigned> out;
    for (const ReceivedMessage& m : wnd.Messages())
        out.push_back(m.message);
    return out;
}

// --- Timers -----------------------------------------------------------------

TEST(HeadlessUiTimerTest, FireInTimeOrderWithTiesInSetOrder) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd a(ui);
    RecordingWnd b(ui);
    a.Create("a");
    b.Create("b");
    std::vector<std::string> fired;
    const auto log = [&](const char* name) {
        return [&fired, &ui, name](const ReceivedMessage& m, std::intptr_t&) {
            if (m.message == port::kWmTimer)
                fired.push_back(std::to_string(ui.Now()) + " " + name + std::to_string(m.wParam));
            return false;
        };
    };
    a.SetHandler(log("a"));
    b.SetHandler(log("b"));

    ui.SetTimer(a.GetSafeHwnd(), 1, 30);
    ui.SetTimer(a.GetSafeHwnd(), 2, 20);
    ui.SetTimer(b.GetSafeHwnd(), 1, 20);
    ui.Advance(59);
    EXPECT_EQ(ui.Now(), 59u);
    ui.Advance(1);

    const std::vector<std::string> expected = {"20 a2", "20 b1", "30 a1", "40 a2",
                                               "40 b1", "60 a1", "60 a2", "60 b1"};
    EXPECT_EQ(fired, expected);
    EXPECT_EQ(ui.Now(), 60u);
}

TEST(HeadlessUiTimerTest, SetAgainRestartsKillStopsAndShortPeriodsBecomeTenMs) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd wnd(ui);
    const port::WindowHandle h = wnd.Create();
    std::vector<std::uint64_t> ticks;
    wnd.SetHandler([&](const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmTimer)
            ticks.push_back(ui.Now());
        return false;
    });

    ui.SetTimer(h, 7, 100);
    ui.Advance(60);
    ui.SetTimer(h, 7, 100); // restarts: next expiry at 160, not 100
    ui.Advance(99);
    EXPECT_TRUE(ticks.empty());
    ui.Advance(1);
    EXPECT_EQ(ticks, std::vector<std::uint64_t>{160});

    ui.KillTimer(h, 7);
    ui.Advance(1000);
    EXPECT_EQ(ticks.size(), 1u);
    EXPECT_FALSE(ui.TimerPeriod(h, 7).has_value());

    // Period 0 and 6 run at the platform's minimum of 10 ms (and do not spin).
    for (unsigned period : {0u, 6u}) {
        SCOPED_TRACE(period);
        ticks.clear();
        ui.SetTimer(h, 8, period);
        EXPECT_EQ(ui.TimerPeriod(h, 8), period);
        const std::uint64_t start = ui.Now();
        ui.Advance(100);
        ui.KillTimer(h, 8);
        ASSERT_EQ(ticks.size(), 10u);
        EXPECT_EQ(ticks.front(), start + 10);
        EXPECT_EQ(ticks.back(), start + 100);
    }
}

TEST(HeadlessUiTimerTest, KilledInItsHandlerFiresOnceAndDestroyedWindowsLoseTimers) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd oneShot(ui);
    const port::WindowHandle h = oneShot.Create();
    oneShot.SetHandler([&](const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmTimer)
            ui.KillTimer(h, static_cast<unsigned>(m.wParam));
        return false;
    });
    ui.SetTimer(h, 3, 5300);
    ui.Advance(20000);
    EXPECT_EQ(oneShot.MessagesOf(port::kWmTimer).size(), 1u);

    RecordingWnd doomed(ui);
    const port::WindowHandle d = doomed.Create();
    ui.SetTimer(d, 1, 10);
    doomed.DestroyWindow();
    EXPECT_FALSE(ui.TimerPeriod(d, 1).has_value());
    ui.Advance(100); // nothing to deliver to
}

// --- Messages ------------------------------------------------------------------

TEST(HeadlessUiMessageTest, SentAtOncePostedInOrderWhenPumped) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd wnd(ui);
    const port::WindowHandle h = wnd.Create();
    wnd.SetHandler([&](const ReceivedMessage& m, std::intptr_t& result) {
        if (m.message == kTestMessage) {
            result = static_cast<std::intptr_t>(m.wParam) * 2;
            if (m.wParam == 1) // a post from a handler is dispatched in the same pump
                ui.PostMessage(h, kTestMessage, 3, 0);
            return true;
        }
        return false;
    });
    wnd.Clear();

    EXPECT_EQ(ui.SendMessage(h, kTestMessage, 21, 0), 42);
    ASSERT_EQ(wnd.Messages().size(), 1u);

    ui.PostMessage(h, kTestMessage, 1, 0);
    ui.PostMessage(h, kTestMessage, 2, 0);
    EXPECT_EQ(wnd.Messages().size(), 1u); // not yet
    EXPECT_EQ(ui.PendingMessageCount(), 2u);
    ui.RunPending();
    ASSERT_EQ(wnd.Messages().size(), 4u);
    EXPECT_EQ(wnd.Messages()[1].wParam, 1u);
    EXPECT_EQ(wnd.Messages()[2].wParam, 2u);
    EXPECT_EQ(wnd.Messages()[3].wParam, 3u);

    // Unhandled: the default path answers 0; a window that is gone gets nothing.
    EXPECT_EQ(ui.SendMessage(h, kTestMessage + 1, 0, 0), 0);
    ui.PostMessage(h, kTestMessage, 9, 0);
    wnd.DestroyWindow();
    ui.RunPending();
    EXPECT_EQ(wnd.MessagesOf(kTestMessage).size(), 4u);
    EXPECT_EQ(ui.SendMessage(h, kTestMessage, 1, 0), 0);
}

TEST(HeadlessUiMessageTest, DefaultHandlingDragsClosesAndDestroysOwnedWindowsFirst) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd owner(ui);
    const port::WindowHandle o = owner.Create("owner");
    RecordingWnd owned(ui);
    const port::WindowHandle w = owned.Create("owned", o);
    std::vector<std::string> destroyed;
    owner.SetHandler([&](const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmDestroy)
            destroyed.push_back("owner");
        return false;
    });
    owned.SetHandler([&](const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmDestroy)
            destroyed.push_back("owned");
        return false;
    });

    ui.SendMessage(o, port::kWmNcLButtonDown, port::kHtCaption, 0);
    ui.SendMessage(o, port::kWmNcLButtonDown, port::kHtClient, 0);
    ASSERT_EQ(ui.EventsOf(EventKind::Drag).size(), 1u);
    EXPECT_EQ(ui.EventsOf(EventKind::Drag)[0].window, o);

    // FindTopLevelWindow: exact titles of windows without owner.
    EXPECT_EQ(ui.FindTopLevelWindow("owner"), o);
    EXPECT_EQ(ui.FindTopLevelWindow("owned"), nullptr);
    EXPECT_EQ(ui.FindTopLevelWindow("Owner"), nullptr);

    ui.SendMessage(o, port::kWmClose, 0, 0);
    EXPECT_EQ(destroyed, (std::vector<std::string>{"owned", "owner"}));
    EXPECT_FALSE(ui.WindowExists(o));
    EXPECT_FALSE(ui.WindowExists(w));
    EXPECT_EQ(owner.GetSafeHwnd(), nullptr);
    EXPECT_EQ(owned.GetSafeHwnd(), nullptr);
    EXPECT_EQ(ui.FindTopLevelWindow("owner"), nullptr);
}

TEST(HeadlessUiMessageTest, ShownWindowsArePaintedWhenTheQueueIsEmpty) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd wnd(ui);
    const port::WindowHandle h = wnd.Create();
    wnd.Clear();

    ui.RedrawNow(h); // hidden: nothing to paint
    EXPECT_TRUE(wnd.Messages().empty());

    ui.ShowWindow(h, port::ShowCommand::NoActivate);
    ui.PostMessage(h, kTestMessage, 0, 0);
    ui.RunPending();
    EXPECT_EQ(Messages(wnd),
              (std::vector<unsigned>{kTestMessage, port::kWmEraseBkgnd, port::kWmPaint}));

    wnd.Clear();
    ui.SetWindowPos(h, 5, 5, 0, 0, port::kSwpNoSize | port::kSwpNoZOrder | port::kSwpNoActivate);
    ui.RunPending();
    EXPECT_TRUE(wnd.Messages().empty()); // a move keeps the pixels
    ui.RedrawNow(h);
    EXPECT_EQ(Messages(wnd), (std::vector<unsigned>{port::kWmEraseBkgnd, port::kWmPaint}));
    EXPECT_EQ(ui.GetWindowRect(h), (port::Rect{5, 5, 105, 55}));
}

// A post from another thread wakes a loop on the real clock, which otherwise
// sleeps.
TEST(HeadlessUiMessageTest, PostFromAnotherThreadWakesTheRealClockLoop) {
    HeadlessUi ui(tavlo::res::ProgramResources(), ClockMode::Real);
    ScriptedDialog dialog(ui);
    std::thread poster;
    dialog.handler = [&](ScriptedDialog& self, const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmInitDialog) {
            poster = std::thread([&ui, h = self.GetSafeHwnd()] {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                ui.PostMessage(h, kTestMessage, 7, 0);
            });
        }
        if (m.message == kTestMessage)
            self.EndDialog(static_cast<int>(m.wParam));
        return false;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dialog.DoModal(), 7);
    poster.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// --- Modal dialogs ---------------------------------------------------------------

TEST(HeadlessUiDialogTest, ModalRunInitialisesShowsRunsTimersAndEndsWithTheResult) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    dialog.handler = [&ui](ScriptedDialog& self, const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmInitDialog)
            ui.SetTimer(self.GetSafeHwnd(), 1, 5000);
        if (m.message == port::kWmTimer)
            self.EndDialog(42);
        return false;
    };

    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_EQ(ui.Now(), 5000u);
    EXPECT_EQ(dialog.received.front(), port::kWmCreate);
    EXPECT_EQ(dialog.received[1], port::kWmInitDialog);
    EXPECT_EQ(dialog.received.back(), port::kWmDestroy);
    EXPECT_FALSE(ui.WindowExists(dialog.window));
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);

    const auto shown = ui.EventsOf(EventKind::WindowShow);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Tavlo\xA0");
    EXPECT_EQ(shown[0].window, dialog.window);
}

// The program's resources and a dialog template 999 without a caption.
port::ResourceTable WithBareDialog() {
    port::ResourceTable table = tavlo::res::ProgramResources();
    port::DialogResource bare;
    bare.id = 999;
    bare.pixels = port::Size{150, 100};
    table.dialogs.push_back(bare);
    return table;
}

TEST(HeadlessUiDialogTest, HiddenDuringInitStaysHiddenAndCloseMeansCancel) {
    HeadlessUi ui{WithBareDialog()};
    ScriptedDialog dialog(ui, 999);
    dialog.handler = [&ui](ScriptedDialog& self, const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmInitDialog) {
            ui.ShowWindow(self.GetSafeHwnd(), port::ShowCommand::Hide);
            ui.PostMessage(self.GetSafeHwnd(), port::kWmClose, 0, 0);
        }
        return false;
    };
    EXPECT_EQ(dialog.DoModal(), port::kIdCancel);
    EXPECT_TRUE(ui.EventsOf(EventKind::WindowShow).empty());

    // OpenDialog returns at once; the test pumps.
    ScriptedDialog open(ui);
    const port::WindowHandle h = ui.OpenDialog(IDD_VESK_DIALOG, &open, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ui.IsWindowVisible(h));
    EXPECT_EQ(ui.GetWindowText(h), "Tavlo\xA0");
    EXPECT_EQ(ui.FindTopLevelWindow("Tavlo\xA0"), h);
    EXPECT_FALSE(ui.DialogEnded(h));
    ui.PostMessage(h, port::kWmCommand, port::MakeCommandParam(port::kIdOk), 0);
    ui.RunPending();
    int result = 0;
    EXPECT_TRUE(ui.DialogEnded(h, &result));
    EXPECT_EQ(result, port::kIdOk);
}

TEST(HeadlessUiDialogTest, ModalRunNeverHangsOnTheManualClock) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    {
        // No timer at all.
        ScriptedDialog dialog(ui);
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    }
    {
        // A periodic timer that never ends the dialog: the run gives up at
        // the limit.
        ui.SetModalTimeLimit(1000);
        ScriptedDialog dialog(ui);
        int ticks = 0;
        dialog.handler = [&](ScriptedDialog& self, const ReceivedMessage& m, std::intptr_t&) {
            if (m.message == port::kWmInitDialog)
                ui.SetTimer(self.GetSafeHwnd(), 2, 100);
            if (m.message == port::kWmTimer)
                ++ticks;
            return false;
        };
        const std::uint64_t start = ui.Now();
        EXPECT_EQ(dialog.DoModal(), -1);
        EXPECT_EQ(ticks, 10);
        EXPECT_EQ(ui.Now(), start + 1000);
    }
}

TEST(HeadlessUiDialogTest, IdleHandlerDrivesTheLoopAndMayThrow) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    int idleCalls = 0;
    ui.SetIdleHandler([&] {
        ++idleCalls;
        if (idleCalls == 1)
            ui.Advance(250); // time passes, nothing else
        else
            ui.PostMessage(dialog.GetSafeHwnd(), port::kWmCommand,
                           port::MakeCommandParam(port::kIdOk), 0);
    });
    EXPECT_EQ(dialog.DoModal(), port::kIdOk);
    EXPECT_EQ(idleCalls, 2);
    EXPECT_EQ(ui.Now(), 250u);

    ScriptedDialog throwing(ui);
    ui.SetIdleHandler([] { throw std::runtime_error("stop"); });
    EXPECT_THROW(throwing.DoModal(), std::runtime_error);
}

// --- Controls ----------------------------------------------------------------------

TEST(HeadlessUiListTest, PrefixSearchIsCaseInsensitiveStartsAfterStartAndWraps) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    const port::WindowHandle h = ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr);
    const int id = IDC_MAILPROGRAM;                   // unsorted: the items keep this order
    EXPECT_EQ(ui.ListFindPrefix(h, id, -1, "a"), -1); // empty list
    for (const char* item : {"apple", "Banana", "avocado", "cherry"})
        ui.ListAddString(h, id, item);

    struct Case {
        int start;
        const char* prefix;
        int expected;
    };
    const Case cases[] = {
        {-1, "a", 0},     {0, "a", 2},         {2, "a", 0},    {-1, "bAN", 1},
        {3, "CHERRY", 3}, {-1, "cherry!", -1}, {-1, "zz", -1}, {-1, "", 0},
        {1, "", 2},       {10, "a", 0},        {-5, "b", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " \"" + c.prefix + "\"");
        EXPECT_EQ(ui.ListFindPrefix(h, id, c.start, c.prefix), c.expected);
    }
}

TEST(HeadlessUiListTest, SortedListsInsertInCaseInsensitiveOrderAndKeepTheSelection) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    const port::WindowHandle h = ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr);
    const int id = IDC_ACCOUNTS_LIST;
    EXPECT_EQ(ui.ListAddString(h, id, "banana"), 0);
    EXPECT_EQ(ui.ListAddString(h, id, "Cherry"), 1);
    ui.ListSetCurSel(h, id, 1);
    EXPECT_EQ(ui.ListAddString(h, id, "apple"), 0);
    EXPECT_EQ(ui.ListAddString(h, id, "Banana"), 2); // after its equal
    EXPECT_EQ(ui.ListGetCount(h, id), 4);
    EXPECT_EQ(ui.ListGetText(h, id, 3), "Cherry");
    EXPECT_EQ(ui.ListGetCurSel(h, id), 3); // still "Cherry"
    EXPECT_EQ(ui.ListGetText(h, id, 4), "");

    ui.ListSetCurSel(h, id, 9);
    EXPECT_EQ(ui.ListGetCurSel(h, id), -1);

    // Unsorted lists (the drop-down list) append.
    EXPECT_EQ(ui.ListAddString(h, IDC_MAILPROGRAM, "b"), 0);
    EXPECT_EQ(ui.ListAddString(h, IDC_MAILPROGRAM, "a"), 1);
    ui.ListResetContent(h, IDC_MAILPROGRAM);
    EXPECT_EQ(ui.ListGetCount(h, IDC_MAILPROGRAM), 0);
    EXPECT_EQ(ui.ListGetCurSel(h, IDC_MAILPROGRAM), -1);
}

// As LB_DELETESTRING and BM_CLICK on the real window system (Win32UiTest
// checks the same on it).
TEST(HeadlessUiListTest, DeletingItemsMovesOrDropsTheSelectionAndClicksToggleAutoCheckBoxes) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    const port::WindowHandle h = ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr);
    const int id = IDC_ACCOUNTS_LIST;
    for (const char* name : {"c", "a", "b"})
        ui.ListAddString(h, id, name);
    ui.ListSetCurSel(h, id, 2);
    ui.ListDeleteString(h, id, 0); // above the selection
    EXPECT_EQ(ui.ListGetText(h, id, 0), "b");
    EXPECT_EQ(ui.ListGetCurSel(h, id), 1);
    ui.ListDeleteString(h, id, 5); // no such item
    EXPECT_EQ(ui.ListGetCount(h, id), 2);
    ui.ListDeleteString(h, id, 1); // the selected one
    EXPECT_EQ(ui.ListGetCurSel(h, id), -1);
    EXPECT_EQ(ui.ListGetCount(h, id), 1);

    ScriptedDialog accountDialog(ui, IDD_ADD);
    const port::WindowHandle add = ui.OpenDialog(IDD_ADD, &accountDialog, nullptr);
    EXPECT_FALSE(ui.IsItemChecked(add, IDC_ADD_SSL));
    EXPECT_TRUE(ui.PressButton(add, IDC_ADD_SSL));
    EXPECT_TRUE(ui.IsItemChecked(add, IDC_ADD_SSL));
    ui.CheckItem(add, IDC_ADD_SSL, false);
    EXPECT_FALSE(ui.IsItemChecked(add, IDC_ADD_SSL));
    EXPECT_TRUE(ui.PressButton(add, IDC_ADD_TEST)); // a push button stays unchecked
    EXPECT_FALSE(ui.IsItemChecked(add, IDC_ADD_TEST));
    EXPECT_EQ(ui.FindDialogOfTemplate(IDD_ADD), add);
    EXPECT_EQ(ui.FindDialogOfTemplate(IDD_VESK_DIALOG), h);
    EXPECT_EQ(ui.FindDialogOfTemplate(4711), nullptr);
}

// --- Dialogs from the resource table ------------------------------------------------

// Template 102 as res/tavlo.rc lists it: every control with its kind, id,
// template text and rectangle (dialog units of MS Sans Serif 8, 6 x 13
// pixels per 4 x 8 units: x * 1.5, y * 1.625, rounded).
TEST(HeadlessUiTemplateTest, MainWindowHasEveryControlOfItsTemplate) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    const port::WindowHandle h = ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ui.GetWindowText(h), "Tavlo\xA0");
    EXPECT_EQ(ui.GetWindowRect(h), (port::Rect{0, 0, 249, 336})); // 166 x 207 units

    struct Expected {
        const char* statement;
        const char* className;
        int id;
        const char* text;
        port::Rect pixels;
        bool sorted;
    };
    const Expected expected[] = {
        {"CONTROL", "Static", -1, "", {6, 7, 243, 137}, false},
        {"CONTROL", "Static", -1, "", {14, 13, 29, 29}, false},
        {"LTEXT", "Static", IDC_ACCOUNTS_LABEL, "E-postkonton", {39, 18, 159, 31}, false},
        {"LISTBOX", "ListBox", IDC_ACCOUNTS_LIST, "", {14, 39, 164, 130}, true},
        {"PUSHBUTTON", "Button", IDC_ACCOUNT_ADD, "L\xE4gg till", {170, 39, 236, 62}, false},
        {"PUSHBUTTON", "Button", IDC_ACCOUNT_DELETE, "Ta bort", {170, 68, 236, 91}, false},
        {"PUSHBUTTON", "Button", IDC_ACCOUNT_EDIT, "\xC4ndra", {170, 98, 236, 121}, false},
        {"LTEXT", "Static", IDC_MAILPROGRAM_LABEL, "E-postprogram", {9, 145, 159, 158}, false},
        {"COMBOBOX", "ComboBox", IDC_MAILPROGRAM, "", {9, 161, 165, 291}, false},
        {"CONTROL", "Static", IDC_PICTURE, "", {186, 143, 237, 179}, false},
        {"CONTROL", "Static", -1, "", {6, 185, 243, 302}, false},
        {"CONTROL", "Static", -1, "", {14, 192, 29, 208}, false},
        {"LTEXT",
         "Static",
         IDC_BLOCKED_LABEL,
         "Blockerade avs\xE4ndare / dom\xE4ner",
         {39, 197, 237, 210},
         false},
        {"LISTBOX", "ListBox", IDC_BLOCKED_LIST, "", {14, 218, 164, 296}, true},
        {"PUSHBUTTON", "Button", IDC_BLOCKED_ADD, "L\xE4gg till", {170, 218, 236, 241}, false},
        {"PUSHBUTTON", "Button", IDC_BLOCKED_DELETE, "Ta bort", {170, 245, 236, 268}, false},
        {"PUSHBUTTON", "Button", IDC_BLOCKED_EDIT, "\xC4ndra", {170, 273, 236, 296}, false},
        {"DEFPUSHBUTTON", "Button", IDC_OK_BUTTON, "OK", {87, 309, 162, 332}, false},
    };
    const std::vector<port::headless::ControlInfo> controls = ui.Controls(h);
    ASSERT_EQ(controls.size(), std::size(expected));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const port::ControlResource& c = controls[i].resource;
        const Expected& e = expected[i];
        SCOPED_TRACE(std::to_string(i) + ": " + std::to_string(e.id));
        EXPECT_EQ(c.statement, e.statement);
        EXPECT_EQ(c.className, e.className);
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(controls[i].text, e.text);
        EXPECT_EQ(c.pixels, e.pixels);
        EXPECT_TRUE(controls[i].enabled);
        // Every control is a visible child; the lists sort by their style.
        EXPECT_EQ(c.style & 0x50000000u, 0x50000000u);
        EXPECT_EQ((c.style & 0x0002u) != 0 && c.className == "ListBox", e.sorted);
    }
    // The group frames carry their bitmaps, by resource number.
    EXPECT_EQ(controls[1].resource.textResource, IDB_ACCOUNTS_FRAME);
    EXPECT_EQ(controls[11].resource.textResource, IDB_BLOCKED_FRAME);
    // Style bits as the statements imply them: the default button, the
    // drop-down list, the list boxes' flags.
    EXPECT_EQ(ui.FindControlInfo(h, IDC_OK_BUTTON)->resource.style, 0x50010001u);
    EXPECT_EQ(ui.FindControlInfo(h, IDC_MAILPROGRAM)->resource.style, 0x50210003u);
    EXPECT_EQ(ui.FindControlInfo(h, IDC_ACCOUNTS_LIST)->resource.style, 0x50A10103u);
}

TEST(HeadlessUiTemplateTest, ControlsAnswerByIdAsTheDialogManagerDoes) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    ScriptedDialog dialog(ui);
    std::vector<unsigned> commands;
    dialog.handler = [&](ScriptedDialog&, const ReceivedMessage& m, std::intptr_t&) {
        if (m.message == port::kWmCommand && port::LowWord(m.wParam) != port::kIdCancel)
            commands.push_back(port::LowWord(m.wParam));
        return false;
    };
    const port::WindowHandle h = ui.OpenDialog(IDD_VESK_DIALOG, &dialog, nullptr);
    ASSERT_NE(h, nullptr);

    // Buttons are pressed by id, unless disabled; other controls are no buttons.
    EXPECT_TRUE(ui.PressButton(h, IDC_ACCOUNT_ADD));
    ui.EnableItem(h, IDC_ACCOUNT_DELETE, false);
    EXPECT_FALSE(ui.IsItemEnabled(h, IDC_ACCOUNT_DELETE));
    EXPECT_FALSE(ui.PressButton(h, IDC_ACCOUNT_DELETE));
    EXPECT_FALSE(ui.PressButton(h, IDC_ACCOUNTS_LIST));
    EXPECT_FALSE(ui.PressButton(h, 4711));
    EXPECT_EQ(commands, std::vector<unsigned>{IDC_ACCOUNT_ADD});

    // An id the template does not list names nothing.
    ui.SetItemText(h, 4711, "x");
    EXPECT_EQ(ui.GetItemText(h, 4711), "");
    EXPECT_FALSE(ui.IsItemEnabled(h, 4711));
    EXPECT_EQ(ui.FindControlInfo(h, 4711), nullptr);
    // List operations reach list and combo boxes only.
    EXPECT_EQ(ui.ListAddString(h, IDC_OK_BUTTON, "not a list"), -1);
    EXPECT_EQ(ui.ListGetCount(h, IDC_OK_BUTTON), 0);
    EXPECT_EQ(ui.ListAddString(h, 4711, "x"), -1);
    // A drop-down list shows its selection as its text.
    ui.ListAddString(h, IDC_MAILPROGRAM, "Outlook");
    ui.ListAddString(h, IDC_MAILPROGRAM, "Thunderbird");
    ui.ListSetCurSel(h, IDC_MAILPROGRAM, 1);
    EXPECT_EQ(ui.GetItemText(h, IDC_MAILPROGRAM), "Thunderbird");
    ui.ListResetContent(h, IDC_MAILPROGRAM);
    EXPECT_EQ(ui.GetItemText(h, IDC_MAILPROGRAM), "");

    // No template, no dialog; without resources there are none at all.
    ScriptedDialog missing(ui, 4711);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_EQ(missing.window, nullptr) << "the target heard nothing";
    HeadlessUi bare;
    ScriptedDialog none(bare);
    EXPECT_EQ(none.DoModal(), -1);
    EXPECT_EQ(bare.LoadString(IDS_CHECKING_FOR_MAIL), "");
    EXPECT_EQ(bare.LoadPopupMenu(IDR_TRAY_MENU), nullptr);
    EXPECT_EQ(bare.LoadIcon(IDI_QUIET), nullptr);
    EXPECT_EQ(bare.LoadBitmap(IDB_SKIN), nullptr);
}

// --- Notification area -------------------------------------------------------------

port::NotifyIconData IconData(port::WindowHandle h, unsigned flags, const char* tip) {
    port::NotifyIconData data;
    data.cbSize = 508;
    data.hWnd = h;
    data.uID = 216;
    data.uFlags = flags;
    data.uCallbackMessage = 1034;
    data.hIcon = reinterpret_cast<port::IconHandle>(0x1230);
    std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
    return data;
}

TEST(HeadlessUiNotifyIconTest, AddFailsWhenPresentModifyAndDeleteWhenAbsent) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd wnd(ui);
    const port::WindowHandle h = wnd.Create();
    using port::NotifyIconAction;
    const unsigned all = port::kNifMessage | port::kNifIcon | port::kNifTip;

    EXPECT_FALSE(ui.NotifyIcon(NotifyIconAction::Modify, IconData(h, port::kNifTip, "x")));
    EXPECT_FALSE(ui.NotifyIcon(NotifyIconAction::Delete, IconData(h, 0, "")));
    EXPECT_TRUE(ui.NotifyIcon(NotifyIconAction::Add, IconData(h, all, "first")));
    EXPECT_FALSE(ui.NotifyIcon(NotifyIconAction::Add, IconData(h, all, "again")));
    ASSERT_NE(ui.FindNotifyIcon(h, 216), nullptr);
    EXPECT_STREQ(ui.FindNotifyIcon(h, 216)->szTip, "first");

    // Modify changes only the fields its flags name.
    port::NotifyIconData tipOnly = IconData(h, port::kNifTip, "second");
    tipOnly.hIcon = nullptr;
    EXPECT_TRUE(ui.NotifyIcon(NotifyIconAction::Modify, tipOnly));
    EXPECT_STREQ(ui.FindNotifyIcon(h, 216)->szTip, "second");
    EXPECT_EQ(ui.FindNotifyIcon(h, 216)->hIcon, reinterpret_cast<port::IconHandle>(0x1230));
    EXPECT_EQ(ui.FindNotifyIcon(h, 216)->uCallbackMessage, 1034u);

    // A record whose tip fills the field without a NUL: 127 characters kept.
    port::NotifyIconData full = IconData(h, port::kNifTip, "");
    std::memset(full.szTip, 'x', sizeof full.szTip);
    EXPECT_TRUE(ui.NotifyIcon(NotifyIconAction::Modify, full));
    EXPECT_EQ(std::string(ui.FindNotifyIcon(h, 216)->szTip), std::string(127, 'x'));

    ui.SetNotifyIconFailure(true);
    EXPECT_FALSE(ui.NotifyIcon(NotifyIconAction::Delete, IconData(h, 0, "")));
    EXPECT_EQ(ui.NotifyIconCount(), 1u);
    ui.SetNotifyIconFailure(false);

    EXPECT_TRUE(ui.NotifyIcon(NotifyIconAction::Delete, IconData(h, 0, "")));
    EXPECT_FALSE(ui.NotifyIcon(NotifyIconAction::Delete, IconData(h, 0, "")));
    EXPECT_EQ(ui.NotifyIconCount(), 0u);

    std::vector<EventKind> kinds;
    for (const auto& event : ui.Events()) {
        if (event.kind == EventKind::TrayAdd || event.kind == EventKind::TrayModify ||
            event.kind == EventKind::TrayDelete)
            kinds.push_back(event.kind);
    }
    EXPECT_EQ(kinds, (std::vector<EventKind>{EventKind::TrayAdd, EventKind::TrayModify,
                                             EventKind::TrayModify, EventKind::TrayDelete}));
}

// --- Text drawing ------------------------------------------------------------------

TEST(HeadlessUiTextTest, LayOutBreaksWordsAndEndsWithEllipsisWhenTextDoesNotFit) {
    using port::headless::LayOutText;
    const unsigned popup =
        port::kDtCenter | port::kDtVCenter | port::kDtWordBreak | port::kDtEndEllipsis;
    // 60 x 28 pixels: 10 characters a line, 2 lines.
    const port::Rect small{0, 0, 60, 28};
    struct Case {
        const char* text;
        unsigned flags;
        std::vector<std::string> lines;
        bool ellipsis;
    };
    const std::vector<Case> cases = {
        {"short", popup, {"short"}, false},
        {"one two three", popup, {"one two", "three"}, false},
        {"a\r\n\nb", port::kDtWordBreak, {"a", ""}, false},
        {"one two three four five", popup, {"one two", "three f..."}, true},
        {"abcdefghijklmnop", popup, {"abcdefghij", "klmnop"}, false},
        {"line\nline\nline", popup, {"line", "line..."}, true},
        {"one two three four five", port::kDtWordBreak, {"one two", "three four"}, false},
        {"a very long single line", port::kDtEndEllipsis, {"a very ..."}, true},
        {"a very long single line", 0, {"a very lon"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto layout = LayOutText(c.text, small, c.flags);
        EXPECT_EQ(layout.lines, c.lines);
        EXPECT_EQ(layout.ellipsis, c.ellipsis);
    }
}

// --- Menus, resources, exit --------------------------------------------------------

TEST(HeadlessUiMenuTest, TrackedMenuWaitsForAChoiceThatReachesItsTarget) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    RecordingWnd target(ui);
    const port::WindowHandle h = target.Create();
    auto menu = ui.LoadPopupMenu(IDR_TRAY_MENU);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->GetItemId(0), ID_CHECK_MAIL);
    EXPECT_EQ(menu->GetItemId(1), -1);
    EXPECT_EQ(menu->GetItemId(5), -1);
    EXPECT_FALSE(menu->SetDefaultItem(1, true)); // a separator
    EXPECT_TRUE(menu->SetDefaultItem(ID_APP_EXIT_CMD, false));
    menu->Track(port::Point{10, 20}, h);

    ASSERT_TRUE(ui.OpenMenu().has_value());
    EXPECT_EQ(ui.OpenMenu()->defaultPosition, 4);
    EXPECT_EQ(ui.OpenMenu()->target, h);
    EXPECT_FALSE(ui.ChooseMenuItem(ID_SETTINGS)); // not in this menu
    EXPECT_TRUE(ui.ChooseMenuItem(ID_OPEN));
    EXPECT_FALSE(ui.OpenMenu().has_value());
    EXPECT_TRUE(target.MessagesOf(port::kWmCommand).empty());
    ui.RunPending();
    const auto commands = target.MessagesOf(port::kWmCommand);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wParam, port::MakeCommandParam(ID_OPEN));
    EXPECT_EQ(commands[0].lParam, 0);

    // The main menu: "File" first (the popup LoadPopupMenu gives), then "Help".
    const auto bar = ui.MenuBarResource(IDR_MAIN_MENU);
    ASSERT_EQ(bar.size(), 2u);
    EXPECT_EQ(bar[0].text, "File");
    EXPECT_EQ(bar[1].text, "Help");
    std::vector<unsigned> help;
    for (const auto& item : bar[1].items)
        help.push_back(item.command);
    EXPECT_EQ(help, (std::vector<unsigned>{ID_CHECK_UPDATE, ID_VISIT_HOMEPAGE, 0, ID_ABOUT}));
    EXPECT_EQ(ui.LoadPopupMenu(IDR_MAIN_MENU)->GetItemId(4), ID_APP_EXIT_CMD);

    EXPECT_EQ(ui.LoadPopupMenu(12345), nullptr);
    ui.RemoveResource(port::headless::ResourceKind::Menu, IDR_TRAY_MENU);
    EXPECT_EQ(ui.LoadPopupMenu(IDR_TRAY_MENU), nullptr);
}

TEST(HeadlessUiResourceTest, KnownResourcesLoadAndRemovedOnesAreMissing) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    using port::headless::ResourceKind;
    EXPECT_EQ(ui.LoadString(IDS_CHECKING_FOR_MAIL), "Checking for new mail");
    EXPECT_EQ(ui.LoadString(IDS_NO_NEW_MAIL), "You have no new mail ");
    EXPECT_EQ(ui.LoadString(4242), "");
    const port::IconHandle mail = ui.LoadIcon(IDI_MAIL);
    const port::IconHandle quiet = ui.LoadIcon(IDI_QUIET);
    EXPECT_NE(mail, nullptr);
    EXPECT_NE(quiet, nullptr);
    EXPECT_NE(mail, quiet);
    EXPECT_EQ(ui.IconResourceId(mail), IDI_MAIL);
    const auto skin = ui.LoadBitmap(IDB_SKIN);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->GetSize(), (port::Size{148, 120}));
    EXPECT_NE(ui.LoadBitmap(IDB_ACCOUNTS_FRAME), nullptr);

    ui.RemoveResource(ResourceKind::String, IDS_CHECKING_FOR_MAIL);
    ui.RemoveResource(ResourceKind::Icon, IDI_MAIL);
    ui.RemoveResource(ResourceKind::Bitmap, IDB_SKIN);
    EXPECT_EQ(ui.LoadString(IDS_CHECKING_FOR_MAIL), "");
    EXPECT_EQ(ui.LoadIcon(IDI_MAIL), nullptr);
    EXPECT_EQ(ui.LoadBitmap(IDB_SKIN), nullptr);
}

TEST(HeadlessUiExitTest, ExitProcessRecordsAndThrows) {
    HeadlessUi ui{tavlo::res::ProgramResources()};
    std::vector<std::string> heard;
    ui.SetEventListener([&](const port::headless::Event& e) { heard.push_back(Describe(e)); });
    ui.PlaySound("Pling.wav");
    try {
        ui.ExitProcess(1);
        FAIL() << "ExitProcess returned";
    } catch (const port::headless::ProcessExit& exit) {
        EXPECT_EQ(exit.code, 1);
    }
    EXPECT_EQ(heard, (std::vector<std::string>{"0 ms sound \"Pling.wav\"", "0 ms exit code 1"}));
}

} // namespace
