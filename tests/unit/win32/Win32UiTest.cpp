// The Win32 window system port against the real window system (Wine with a
// virtual display here) and the program's own resources: the test program
// links the same compiled resources as tavlo.exe, and one group of checks
// reads those of the built tavlo.exe itself.
#include "platform/win32/Win32Ui.h"

#include "notify/SystemTray.h"
#include "platform/Paths.h"
#include "platform/Wnd.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using port::WindowHandle;

// Keyboard messages and keys by their Windows numbers.
constexpr unsigned kWmKeyDown = 0x0100;
constexpr unsigned kVkReturn = 0x0D;
constexpr unsigned kVkEscape = 0x1B;
// Messages the tests send themselves; clear of the dialog manager's own
// (DM_GETDEFID is the first user message).
constexpr unsigned kProbe = port::kWmUser + 100;

// A message target whose behaviour each test writes as a lambda; it also
// keeps the messages it was given, in order.
class Probe : public port::MessageTarget {
public:
    using Handler =
        std::function<bool(WindowHandle, unsigned, std::uintptr_t, std::intptr_t, std::intptr_t&)>;
    explicit Probe(Handler handler = {}) : m_handler(std::move(handler)) {}

    bool OnMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                   std::intptr_t lParam, std::intptr_t& result) override {
        messages.push_back(message);
        return m_handler ? m_handler(window, message, wParam, lParam, result) : false;
    }

    // The messages of interest, in the order they came.
    std::vector<unsigned> Only(std::initializer_list<unsigned> wanted) const {
        std::vector<unsigned> out;
        for (unsigned m : messages)
            if (std::find(wanted.begin(), wanted.end(), m) != wanted.end())
                out.push_back(m);
        return out;
    }

    std::vector<unsigned> messages;

private:
    Handler m_handler;
};

port::WindowSpec ProbeSpec(const std::string& title) {
    port::WindowSpec spec;
    spec.className = "TavloTestProbe";
    spec.arrowCursor = true;
    spec.windowBackground = true;
    spec.title = title;
    spec.rect = port::Rect{10, 10, 110, 60};
    return spec;
}

// Where the build puts tavlo.exe: the folder above the test program's.
std::string BuiltProgram() {
    std::string folder = port::ParentFolder(port::ExecutablePath());
    folder.pop_back();
    return port::ParentFolder(folder) + "tavlo.exe";
}

class Win32UiTest : public ::testing::Test {
protected:
    port::win32::Win32Ui m_ui;
};

// --- Start-up -------------------------------------------------------------------------

// The program's start-up steps 1 and 3: the common controls, and OLE on the
// user-interface thread for as long as the hosting object lives. On a thread
// of its own, so that nothing else has touched its COM state.
TEST_F(Win32UiTest, CommonControlsAndControlHostingStartUp) {
    using port::win32::Win32Ui;
    EXPECT_TRUE(m_ui.InitCommonControls());
    std::vector<bool> hosts;
    bool madeOuter = false;
    bool madeInner = false;
    std::thread ui([&] {
        hosts.push_back(Win32Ui::ThreadHostsControls());
        std::unique_ptr<port::ControlHosting> outer = m_ui.EnableControlHosting();
        madeOuter = outer != nullptr;
        hosts.push_back(Win32Ui::ThreadHostsControls());
        {
            // A second start on the same thread is balanced on its own.
            const std::unique_ptr<port::ControlHosting> inner = m_ui.EnableControlHosting();
            madeInner = inner != nullptr;
        }
        hosts.push_back(Win32Ui::ThreadHostsControls());
        outer.reset();
        hosts.push_back(Win32Ui::ThreadHostsControls());
    });
    ui.join();
    EXPECT_TRUE(madeOuter);
    EXPECT_TRUE(madeInner);
    EXPECT_EQ(hosts, (std::vector<bool>{false, true, true, false}));
}

// --- Windows, timers, posted messages ---------------------------------------------

TEST_F(Win32UiTest, WindowsGetCreationPostedMessagesAndTimersInOrder) {
    WindowHandle dialog = nullptr;
    WindowHandle window = nullptr;
    int ticks = 0;
    std::uintptr_t timerId = 0;
    bool createdBeforeReturn = false;
    Probe probe([&](WindowHandle w, unsigned message, std::uintptr_t wParam, std::intptr_t,
                    std::intptr_t&) {
        if (message == port::kWmTimer) {
            timerId = wParam;
            if (++ticks == 2) {
                m_ui.KillTimer(w, 5);
                m_ui.EndDialog(dialog, 42);
            }
            return true;
        }
        return false;
    });
    Probe host(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            if (message == port::kWmInitDialog) {
                dialog = d;
                window = m_ui.CreatePopupWindow(ProbeSpec("probe"), &probe);
                createdBeforeReturn = !probe.Only({port::kWmCreate}).empty();
                m_ui.PostMessage(window, kProbe + 1, 0, 0);
                m_ui.PostMessage(window, kProbe + 2, 0, 0);
                m_ui.SetTimer(window, 5, 20);
            }
            return false;
        });

    EXPECT_EQ(m_ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 42);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(createdBeforeReturn);
    EXPECT_EQ(timerId, 5u);
    m_ui.DestroyWindow(window);
    EXPECT_EQ(
        probe.Only({port::kWmCreate, kProbe + 1, kProbe + 2, port::kWmTimer, port::kWmDestroy}),
        (std::vector<unsigned>{port::kWmCreate, kProbe + 1, kProbe + 2, port::kWmTimer,
                               port::kWmTimer, port::kWmDestroy}));
    // Nothing reaches the target after the window is gone.
    const std::size_t seen = probe.messages.size();
    m_ui.PostMessage(window, kProbe + 3, 0, 0);
    EXPECT_EQ(probe.messages.size(), seen);
}

TEST_F(Win32UiTest, SendMessageAnswersAndRedrawNowPaintsAtOnce) {
    auto skin = m_ui.LoadBitmap(IDB_SKIN);
    ASSERT_NE(skin, nullptr);
    int erased = 0;
    int painted = 0;
    Probe probe([&](WindowHandle w, unsigned message, std::uintptr_t wParam, std::intptr_t,
                    std::intptr_t& result) {
        switch (message) {
        case kProbe + 7:
            result = static_cast<std::intptr_t>(wParam) * 2;
            return true;
        case port::kWmEraseBkgnd:
            m_ui.CanvasFor(wParam)->DrawBitmap(*skin, 0, 0);
            ++erased;
            result = 1;
            return true;
        case port::kWmPaint: {
            auto canvas = m_ui.BeginPaint(w);
            canvas->SetTransparentBackground();
            canvas->DrawText("Tavlo", port::Rect{0, 0, 100, 50}, port::kDtCenter);
            ++painted;
            result = 0;
            return true;
        }
        default:
            return false;
        }
    });
    WindowHandle window = m_ui.CreatePopupWindow(ProbeSpec("painted"), &probe);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(m_ui.SendMessage(window, kProbe + 7, 21, 0), 42);
    m_ui.ShowWindow(window, port::ShowCommand::NoActivate);
    EXPECT_TRUE(m_ui.IsWindowVisible(window));
    m_ui.MoveWindow(window, port::Rect{20, 30, 168, 150}, false);
    EXPECT_EQ(m_ui.GetWindowRect(window), (port::Rect{20, 30, 168, 150}));
    EXPECT_EQ(m_ui.GetClientRect(window), (port::Rect{0, 0, 148, 120}));
    erased = painted = 0;
    m_ui.RedrawNow(window);
    EXPECT_GE(erased, 1);
    EXPECT_GE(painted, 1);
    m_ui.DestroyWindow(window);
}

// --- Dialogs ------------------------------------------------------------------------

TEST_F(Win32UiTest, ModalDialogIsShownWithItsCaptionAndReturnsEndDialogsValue) {
    bool visible = false;
    std::string title;
    WindowHandle found = nullptr;
    Probe host(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            if (message == port::kWmInitDialog)
                m_ui.PostMessage(d, kProbe, 0, 0);
            if (message == kProbe) {
                visible = m_ui.IsWindowVisible(d);
                title = m_ui.GetWindowText(d);
                found = m_ui.FindTopLevelWindow(TXT_MAIN_CAPTION) == d ? d : nullptr;
                m_ui.EndDialog(d, 7);
                return true;
            }
            return false;
        });
    EXPECT_EQ(m_ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 7);
    EXPECT_TRUE(visible);
    EXPECT_EQ(title, std::string("Tavlo\xA0"));
    EXPECT_NE(found, nullptr);
    // The creation message comes first, then the initialisation.
    EXPECT_EQ(host.Only({port::kWmCreate, port::kWmInitDialog}),
              (std::vector<unsigned>{port::kWmCreate, port::kWmInitDialog}));
    EXPECT_EQ(m_ui.FindTopLevelWindow(TXT_MAIN_CAPTION), nullptr);
    EXPECT_EQ(m_ui.RunModalDialog(4711, &host, nullptr), -1) << "no such template";
}

TEST_F(Win32UiTest, DialogHiddenDuringInitialisationStaysHidden) {
    bool visible = true;
    Probe host(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            if (message == port::kWmInitDialog) {
                m_ui.ShowWindow(d, port::ShowCommand::Hide);
                m_ui.PostMessage(d, kProbe, 0, 0);
            }
            if (message == kProbe) {
                visible = m_ui.IsWindowVisible(d);
                m_ui.EndDialog(d, 3);
                return true;
            }
            return false;
        });
    EXPECT_EQ(m_ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 3);
    EXPECT_FALSE(visible);
}

TEST_F(Win32UiTest, DialogEndedDuringInitialisationReturnsAtOnce) {
    Probe host(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            if (message == port::kWmInitDialog)
                m_ui.EndDialog(d, 9);
            return false;
        });
    EXPECT_EQ(m_ui.RunModalDialog(IDD_VESK_DIALOG, &host, nullptr), 9);
    EXPECT_EQ(host.Only({kProbe}), std::vector<unsigned>{});
}

TEST_F(Win32UiTest, DialogsNestAndTimersFireInsideAMessageBox) {
    int innerResult = 0;
    int ticksDuringBox = 0;
    int boxResult = 0;
    Probe inner(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            switch (message) {
            case port::kWmInitDialog:
                m_ui.ShowWindow(d, port::ShowCommand::Hide);
                m_ui.SetTimer(d, 1, 20);
                m_ui.PostMessage(d, kProbe, 0, 0);
                return false;
            case port::kWmTimer:
                ++ticksDuringBox;
                // The box is a top-level window of its own; its OK ends it.
                if (WindowHandle box = m_ui.FindTopLevelWindow("Win32UiTest box"); box != nullptr)
                    m_ui.PostMessage(box, port::kWmCommand, port::MakeCommandParam(port::kIdOk), 0);
                return true;
            case kProbe:
                boxResult = m_ui.MessageBox(d, "Timers go on.", "Win32UiTest box", port::kMbOk);
                m_ui.KillTimer(d, 1);
                m_ui.EndDialog(d, 5);
                return true;
            default:
                return false;
            }
        });
    Probe outer(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            if (message == port::kWmInitDialog) {
                m_ui.ShowWindow(d, port::ShowCommand::Hide);
                m_ui.PostMessage(d, kProbe, 0, 0);
            }
            if (message == kProbe) {
                // A dialog run from a handler of another dialog.
                innerResult = m_ui.RunModalDialog(IDD_VESK_DIALOG, &inner, d);
                m_ui.EndDialog(d, 6);
                return true;
            }
            return false;
        });
    EXPECT_EQ(m_ui.RunModalDialog(IDD_VESK_DIALOG, &outer, nullptr), 6);
    EXPECT_EQ(innerResult, 5);
    EXPECT_EQ(boxResult, port::kIdOk);
    EXPECT_GE(ticksDuringBox, 1);
}

// The framework's dialog class on the real dialog manager: the close box and
// Escape cancel, Enter presses the default button (1102).
struct EndCase {
    const char* name;
    unsigned message;
    std::uintptr_t wParam;
    int expected;
};

class MainTemplateDialog : public CDialog {
public:
    MainTemplateDialog(port::Ui& ui, EndCase c) : CDialog(ui, IDD_VESK_DIALOG), m_case(c) {}

protected:
    bool OnInitDialog() override {
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
        m_ui.PostMessage(m_hWnd, m_case.message, m_case.wParam, 0);
        return true;
    }
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override {
        if (message == port::kWmCommand && port::LowWord(wParam) == IDC_OK_BUTTON) {
            EndDialog(IDC_OK_BUTTON);
            return true;
        }
        if (message == kProbe) {
            // A handler that asks for the default handling of the close box.
            result = m_ui.DefaultHandling(m_hWnd, port::kWmClose, 0, 0);
            return true;
        }
        return CDialog::WindowProc(message, wParam, lParam, result);
    }

private:
    EndCase m_case;
};

TEST_F(Win32UiTest, FrameworkDialogEndsThroughTheDialogManager) {
    const EndCase cases[] = {
        {"close box", port::kWmClose, 0, port::kIdCancel},
        {"Escape", kWmKeyDown, kVkEscape, port::kIdCancel},
        {"Enter", kWmKeyDown, kVkReturn, IDC_OK_BUTTON},
        {"default handling of close", kProbe, 0, port::kIdCancel},
    };
    for (const EndCase& c : cases) {
        MainTemplateDialog dialog(m_ui, c);
        EXPECT_EQ(dialog.DoModal(), c.expected) << c.name;
        EXPECT_EQ(dialog.GetSafeHwnd(), nullptr) << c.name;
    }
}

// --- Controls -----------------------------------------------------------------------

// Runs template 102 hidden and calls body with it once it is up.
template <class Body> void WithTemplate(port::win32::Win32Ui& ui, int templateId, Body body) {
    Probe host(
        [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
            if (message == port::kWmInitDialog) {
                ui.ShowWindow(d, port::ShowCommand::Hide);
                ui.PostMessage(d, kProbe, 0, 0);
            }
            if (message == kProbe) {
                body(d);
                ui.EndDialog(d, 1);
                return true;
            }
            return false;
        });
    ASSERT_EQ(ui.RunModalDialog(templateId, &host, nullptr), 1) << "template " << templateId;
}

template <class Body> void WithMainTemplate(port::win32::Win32Ui& ui, Body body) {
    WithTemplate(ui, IDD_VESK_DIALOG, body);
}

TEST_F(Win32UiTest, DropDownListKeepsInsertionOrderAndPrefixSearchWraps) {
    WithMainTemplate(m_ui, [&](WindowHandle d) {
        const int box = IDC_MAILPROGRAM;
        EXPECT_EQ(m_ui.ListAddString(d, box, "Outlook"), 0);
        EXPECT_EQ(m_ui.ListAddString(d, box, "Thunderbird"), 1);
        EXPECT_EQ(m_ui.ListAddString(d, box, "Windows Live Mail"), 2);
        EXPECT_EQ(m_ui.ListAddString(d, box, "outlook Express"), 3);
        EXPECT_EQ(m_ui.ListGetCount(d, box), 4);
        EXPECT_EQ(m_ui.ListGetText(d, box, 2), "Windows Live Mail");
        EXPECT_EQ(m_ui.ListGetText(d, box, 9), "");
        struct {
            int start;
            const char* prefix;
            int expected;
        } const searches[] = {
            {-1, "OUT", 0},  {0, "out", 3},  {3, "out", 0},
            {-1, "thun", 1}, {1, "Thun", 1}, {-1, "x", -1},
        };
        for (const auto& s : searches)
            EXPECT_EQ(m_ui.ListFindPrefix(d, box, s.start, s.prefix), s.expected)
                << s.prefix << " after " << s.start;
        EXPECT_EQ(m_ui.ListGetCurSel(d, box), -1);
        m_ui.ListSetCurSel(d, box, 2);
        EXPECT_EQ(m_ui.ListGetCurSel(d, box), 2);
        EXPECT_EQ(m_ui.GetItemText(d, box), "Windows Live Mail");
        m_ui.ListResetContent(d, box);
        EXPECT_EQ(m_ui.ListGetCount(d, box), 0);
        EXPECT_EQ(m_ui.ListGetCurSel(d, box), -1);
    });
}

TEST_F(Win32UiTest, ListBoxesSortAndItemsEnableAndCarryTexts) {
    WithMainTemplate(m_ui, [&](WindowHandle d) {
        for (const int list : {IDC_ACCOUNTS_LIST, IDC_BLOCKED_LIST}) {
            m_ui.ListAddString(d, list, "spam.example");
            m_ui.ListAddString(d, list, "Bob@example.org");
            m_ui.ListAddString(d, list, "alice@example.org");
            EXPECT_EQ(m_ui.ListGetText(d, list, 0), "alice@example.org") << list;
            EXPECT_EQ(m_ui.ListGetText(d, list, 1), "Bob@example.org") << list;
            EXPECT_EQ(m_ui.ListFindPrefix(d, list, -1, "bob"), 1) << list;
        }
        m_ui.SetItemText(d, IDC_ACCOUNTS_LABEL, "E-mail Accounts");
        EXPECT_EQ(m_ui.GetItemText(d, IDC_ACCOUNTS_LABEL), "E-mail Accounts");
        EXPECT_TRUE(m_ui.IsItemEnabled(d, IDC_ACCOUNT_DELETE));
        m_ui.EnableItem(d, IDC_ACCOUNT_DELETE, false);
        EXPECT_FALSE(m_ui.IsItemEnabled(d, IDC_ACCOUNT_DELETE));
        EXPECT_FALSE(m_ui.IsItemEnabled(d, 4711));
        EXPECT_EQ(m_ui.ListAddString(d, IDC_OK_BUTTON, "not a list"), -1);
        EXPECT_EQ(m_ui.ListGetCount(d, 4711), 0);
    });
}

TEST_F(Win32UiTest, CheckBoxesAndItemRemoval) {
    WithTemplate(m_ui, IDD_ADD, [&](WindowHandle d) {
        EXPECT_FALSE(m_ui.IsItemChecked(d, IDC_ADD_SSL));
        m_ui.CheckItem(d, IDC_ADD_SSL, true);
        EXPECT_TRUE(m_ui.IsItemChecked(d, IDC_ADD_SSL));
        m_ui.CheckItem(d, IDC_ADD_SSL, false);
        EXPECT_FALSE(m_ui.IsItemChecked(d, IDC_ADD_SSL));
        EXPECT_FALSE(m_ui.IsItemChecked(d, 4711));
    });
    WithMainTemplate(m_ui, [&](WindowHandle d) {
        for (const char* name : {"c", "a", "b"})
            m_ui.ListAddString(d, IDC_ACCOUNTS_LIST, name);
        m_ui.ListSetCurSel(d, IDC_ACCOUNTS_LIST, 2);
        m_ui.ListDeleteString(d, IDC_ACCOUNTS_LIST, 0); // above the selection
        EXPECT_EQ(m_ui.ListGetCount(d, IDC_ACCOUNTS_LIST), 2);
        EXPECT_EQ(m_ui.ListGetText(d, IDC_ACCOUNTS_LIST, 0), "b");
        EXPECT_EQ(m_ui.ListGetCurSel(d, IDC_ACCOUNTS_LIST), 1);
        m_ui.ListDeleteString(d, IDC_ACCOUNTS_LIST, 1); // the selected one
        EXPECT_EQ(m_ui.ListGetCurSel(d, IDC_ACCOUNTS_LIST), -1);
        EXPECT_EQ(m_ui.ListGetCount(d, IDC_ACCOUNTS_LIST), 1);
    });
}

// A template's initial data fills its combo boxes before the dialog's
// initialisation runs, on the real dialog manager as in the headless window
// system: every list and combo box of every template holds the same items.
TEST_F(Win32UiTest, TemplateInitialItemsAgreeWithTheHeadlessDialogs) {
    const port::ResourceTable& resources = tavlo::res::ProgramResources();
    port::headless::HeadlessUi headless(resources);
    std::size_t initialItems = 0;
    for (const port::DialogResource& table : resources.dialogs) {
        SCOPED_TRACE("template " + std::to_string(table.id));
        initialItems += table.initData.size();
        std::map<int, std::vector<std::string>> real;
        std::map<int, std::vector<std::string>> mine;
        auto itemsOf = [](port::Ui& ui, WindowHandle d, const port::DialogResource& t) {
            std::map<int, std::vector<std::string>> items;
            for (const port::ControlResource& c : t.controls) {
                if (c.className != "ListBox" && c.className != "ComboBox")
                    continue;
                for (int i = 0; i < ui.ListGetCount(d, c.id); ++i)
                    items[c.id].push_back(ui.ListGetText(d, c.id, i));
            }
            return items;
        };
        Probe atInit(
            [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
                if (message == port::kWmInitDialog) {
                    real = itemsOf(m_ui, d, table);
                    m_ui.ShowWindow(d, port::ShowCommand::Hide);
                    m_ui.EndDialog(d, 1);
                    return true;
                }
                return false;
            });
        ASSERT_EQ(m_ui.RunModalDialog(table.id, &atInit, nullptr), 1);
        Probe headlessTarget(
            [&](WindowHandle d, unsigned message, std::uintptr_t, std::intptr_t, std::intptr_t&) {
                if (message == port::kWmInitDialog)
                    mine = itemsOf(headless, d, table);
                return false;
            });
        headless.OpenDialog(table.id, &headlessTarget, nullptr);
        EXPECT_EQ(real, mine);
    }
    // The account dialog's type box, in the order of the type index.
    ASSERT_GT(initialItems, 0u);
    port::headless::HeadlessUi check(resources);
    Probe none;
    const WindowHandle add = check.OpenDialog(IDD_ADD, &none, nullptr);
    EXPECT_EQ(check.ListGetText(add, IDC_ADD_TYPE, 0), "POP3");
    EXPECT_EQ(check.ListGetText(add, IDC_ADD_TYPE, 1), "IMAP");
}

// The style bits a control of a template has once the window system made
// it: the dialog manager adds WS_EX_NOPARENTNOTIFY to every control and
// turns the border of a list box or an edit into a client edge; list and
// combo boxes show their scroll bars only when needed (a combo box's belong
// to its drop list).
struct Styles {
    std::uint32_t style;
    std::uint32_t exStyle;
    friend bool operator==(const Styles&, const Styles&) = default;
};

Styles AsCreated(const port::ControlResource& c) {
    constexpr std::uint32_t kBorder = 0x00800000;
    constexpr std::uint32_t kScrollBars = 0x00300000;
    constexpr std::uint32_t kNoParentNotify = 0x00000004;
    constexpr std::uint32_t kClientEdge = 0x00000200;
    Styles s{c.style, c.exStyle | kNoParentNotify};
    if (c.className == "ListBox" || c.className == "ComboBox")
        s.style &= ~kScrollBars;
    if ((c.className == "ListBox" || c.className == "Edit") && (s.style & kBorder) != 0) {
        s.style &= ~kBorder;
        s.exStyle |= kClientEdge;
    }
    return s;
}

std::ostream& operator<<(std::ostream& out, const Styles& s) {
    return out << std::hex << "style 0x" << s.style << ", ex 0x" << s.exStyle << std::dec;
}

// The headless window system's table of every dialog template, made from
// the same resource script, against what the dialog manager makes of the
// compiled resources: the same controls in the same order, with the same
// ids, window classes, texts, style bits and places. Places are compared in
// dialog units: Wine's stand-in for MS Sans Serif is 7 pixels wide on
// average where Windows' is 6, so the pixels differ here while the units
// agree.
TEST_F(Win32UiTest, ResourceTableAgreesWithTheCompiledTemplates) {
    const port::ResourceTable& resources = tavlo::res::ProgramResources();
    ASSERT_NE(resources.FindDialog(IDD_VESK_DIALOG), nullptr);
    for (const port::DialogResource& table : resources.dialogs) {
        SCOPED_TRACE("template " + std::to_string(table.id));
        std::vector<port::win32::Win32Ui::ControlView> real;
        std::vector<port::Rect> expected;
        std::string caption;
        port::Rect client;
        port::Rect size;
        WithTemplate(m_ui, table.id, [&](WindowHandle d) {
            real = m_ui.GetDialogControls(d);
            caption = m_ui.GetWindowText(d);
            client = m_ui.GetClientRect(d);
            size =
                m_ui.MapDialogUnits(d, port::Rect{0, 0, table.units.Width(), table.units.Height()});
            // The dialog manager maps a control's x, y, width and height one
            // by one (mapping the right edge instead can differ by a pixel).
            for (const port::ControlResource& c : table.controls) {
                const port::Rect m = m_ui.MapDialogUnits(
                    d, port::Rect{c.units.left, c.units.top, c.units.Width(), c.units.Height()});
                expected.push_back(port::Rect{m.left, m.top, m.left + m.right, m.top + m.bottom});
            }
        });
        EXPECT_EQ(caption, table.caption);
        EXPECT_EQ(client, size);
        ASSERT_EQ(real.size(), table.controls.size());
        for (std::size_t i = 0; i < real.size(); ++i) {
            const port::ControlResource& mine = table.controls[i];
            SCOPED_TRACE(std::to_string(i) + ": id " + std::to_string(mine.id));
            EXPECT_EQ(real[i].id, mine.id);
            EXPECT_STRCASEEQ(real[i].className.c_str(), mine.className.c_str());
            if (mine.textResource == 0) {
                EXPECT_EQ(real[i].text, mine.text);
            }
            EXPECT_EQ((Styles{real[i].style, real[i].exStyle}), AsCreated(mine));
            // An image static takes the size of its image, a combo box the
            // height of its closed field: their places are compared.
            const bool image = mine.className == "Static" && (mine.style & 0x1F) == 0x0E;
            const bool combo = mine.className == "ComboBox";
            EXPECT_EQ(real[i].rect.left, expected[i].left);
            EXPECT_EQ(real[i].rect.top, expected[i].top);
            if (!image) {
                EXPECT_EQ(real[i].rect.right, expected[i].right);
            }
            if (!image && !combo) {
                EXPECT_EQ(real[i].rect.bottom, expected[i].bottom);
            }
        }
    }
}

// The rest of the table against the compiled resources: every string,
// the items of every menu's first popup, every icon and every bitmap with
// its size.
TEST_F(Win32UiTest, ResourceTableStringsMenusAndImagesAgreeWithTheCompiledOnes) {
    const port::ResourceTable& resources = tavlo::res::ProgramResources();
    ASSERT_FALSE(resources.strings.empty());
    for (const port::StringResource& string : resources.strings)
        EXPECT_EQ(m_ui.LoadString(string.id), string.text) << "string " << string.id;
    ASSERT_FALSE(resources.menus.empty());
    for (const port::MenuResource& menu : resources.menus) {
        SCOPED_TRACE("menu " + std::to_string(menu.id));
        const auto popup = m_ui.LoadPopupMenu(menu.id);
        ASSERT_NE(popup, nullptr);
        ASSERT_FALSE(menu.popups.empty());
        const auto& items = menu.popups.front().items;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const int command = items[i].command == 0 ? -1 : static_cast<int>(items[i].command);
            EXPECT_EQ(popup->GetItemId(static_cast<int>(i)), command) << "position " << i;
        }
        EXPECT_EQ(popup->GetItemId(static_cast<int>(items.size())), -1) << "no more items";
    }
    for (const int icon : resources.icons)
        EXPECT_NE(m_ui.LoadIcon(icon), nullptr) << "icon " << icon;
    for (const port::BitmapResource& bitmap : resources.bitmaps) {
        const auto loaded = m_ui.LoadBitmap(bitmap.id);
        ASSERT_NE(loaded, nullptr) << "bitmap " << bitmap.id;
        EXPECT_EQ(loaded->GetSize(), bitmap.size) << "bitmap " << bitmap.id;
    }
}

// --- Menus ------------------------------------------------------------------------------

TEST_F(Win32UiTest, MenusHoldTheirItems) {
    const auto tray = m_ui.LoadPopupMenu(IDR_TRAY_MENU);
    ASSERT_NE(tray, nullptr);
    const std::vector<int> trayIds{ID_CHECK_MAIL, -1, ID_OPEN, -1, ID_APP_EXIT_CMD, -1};
    for (int position = 0; position < static_cast<int>(trayIds.size()); ++position)
        EXPECT_EQ(tray->GetItemId(position), trayIds[position]) << position;
    EXPECT_TRUE(tray->SetDefaultItem(2, true));
    EXPECT_TRUE(tray->SetDefaultItem(ID_OPEN, false));

    const auto file = m_ui.LoadPopupMenu(IDR_MAIN_MENU);
    ASSERT_NE(file, nullptr);
    const std::vector<int> fileIds{ID_CHECK_MAIL, ID_SETTINGS, -1, ID_CLOSE, ID_APP_EXIT_CMD};
    for (int position = 0; position < static_cast<int>(fileIds.size()); ++position)
        EXPECT_EQ(file->GetItemId(position), fileIds[position]) << position;
    EXPECT_EQ(m_ui.LoadPopupMenu(4711), nullptr);

    WithMainTemplate(m_ui, [&](WindowHandle d) {
        EXPECT_EQ(m_ui.GetWindowMenu(d), nullptr);
        const port::Rect client = m_ui.GetClientRect(d);
        const port::Rect frame = m_ui.GetWindowRect(d);
        m_ui.SetWindowMenu(d, IDR_MAIN_MENU);
        EXPECT_NE(m_ui.GetWindowMenu(d), nullptr);
        // The window grows by the menu bar; the template's area stays whole.
        EXPECT_EQ(m_ui.GetClientRect(d), client);
        EXPECT_GT(m_ui.GetWindowRect(d).Height(), frame.Height());
        m_ui.SetWindowMenu(d, IDR_MAIN_MENU);
        EXPECT_NE(m_ui.GetWindowMenu(d), nullptr);
        EXPECT_EQ(m_ui.GetClientRect(d), client);
        m_ui.AppendSystemMenuItem(d, IDM_ABOUTBOX, TXT_ABOUTBOX);
    });
}

// --- Notification area ---------------------------------------------------------------------

TEST_F(Win32UiTest, NotificationIconIsAddedChangedAndDeleted) {
    EXPECT_GE(m_ui.ShellMajorVersion(), 5);
    Probe probe;
    WindowHandle window = m_ui.CreatePopupWindow(ProbeSpec(""), &probe);
    ASSERT_NE(window, nullptr);
    port::NotifyIconData data;
    data.cbSize = 508;
    data.hWnd = window;
    data.uID = IDR_TRAY_MENU;
    data.uFlags = port::kNifMessage | port::kNifIcon | port::kNifTip;
    data.uCallbackMessage = port::kWmUser + 10;
    data.hIcon = m_ui.LoadIcon(IDI_QUIET);
    ASSERT_NE(data.hIcon, nullptr);
    std::strcpy(data.szTip, TXT_CHECKING_FOR_MAIL);
    EXPECT_TRUE(m_ui.NotifyIcon(port::NotifyIconAction::Add, data));

    // A tip that fills the field to its last byte, without a terminator:
    // 127 characters arrive, nothing past the field is read.
    data.uFlags = port::kNifIcon | port::kNifTip;
    data.hIcon = m_ui.LoadIcon(IDI_MAIL);
    std::memset(data.szTip, 'm', sizeof data.szTip);
    EXPECT_TRUE(m_ui.NotifyIcon(port::NotifyIconAction::Modify, data));

    data.uFlags = 0;
    EXPECT_TRUE(m_ui.NotifyIcon(port::NotifyIconAction::Delete, data));
    EXPECT_FALSE(m_ui.NotifyIcon(port::NotifyIconAction::Modify, data)) << "icon is gone";
    m_ui.DestroyWindow(window);
}

// The record's 32-bit size names the generation the caller fills; the shell
// is given this platform's size of the same generation, never a smaller one.
TEST_F(Win32UiTest, NotificationRecordSizeMatchesTheRecordFilled) {
    using port::win32::Win32Ui;
    const bool wide = sizeof(void*) == 8;
    const struct {
        std::uint32_t size32;
        std::uint32_t native;
    } sizes[] = {
        {488, wide ? 504u : 488u}, // Windows 2000: 128-byte tip, balloon fields
        {504, wide ? 520u : 504u}, // XP: the item's GUID
        {508, wide ? 528u : 508u}, // Vista on: the whole record
        {88, 0},                   // a 64-byte tip: not what the program fills
        {0, 0},
        {528, 0},
    };
    for (const auto& s : sizes)
        EXPECT_EQ(Win32Ui::NotifyIconRecordSize(s.size32), s.native) << s.size32;

    // The tray icon fills the whole record and says so; the shell takes it.
    CSystemTray tray(m_ui);
    ASSERT_TRUE(tray.Create(nullptr, TXT_CHECKING_FOR_MAIL, m_ui.LoadIcon(IDI_QUIET)));
    EXPECT_EQ(Win32Ui::NotifyIconRecordSize(tray.IconData().cbSize), wide ? 528u : 508u);
    EXPECT_TRUE(tray.SetTooltipText("Work 2 mail."));
    tray.RemoveIcon();

    // A size of no generation is refused before the shell could misread it.
    Probe probe;
    const WindowHandle window = m_ui.CreatePopupWindow(ProbeSpec(""), &probe);
    ASSERT_NE(window, nullptr);
    port::NotifyIconData data;
    data.cbSize = 88;
    data.hWnd = window;
    data.uID = IDR_TRAY_MENU;
    data.uFlags = port::kNifIcon;
    data.hIcon = m_ui.LoadIcon(IDI_QUIET);
    EXPECT_FALSE(m_ui.NotifyIcon(port::NotifyIconAction::Add, data));
    data.cbSize = 508;
    EXPECT_TRUE(m_ui.NotifyIcon(port::NotifyIconAction::Add, data));
    EXPECT_TRUE(m_ui.NotifyIcon(port::NotifyIconAction::Delete, data));
    m_ui.DestroyWindow(window);
}

// --- Resources and screen -------------------------------------------------------------------

TEST_F(Win32UiTest, ResourcesLoad) {
    const struct {
        int id;
        const char* text;
    } strings[] = {
        {IDS_CHECKING_FOR_MAIL, "Checking for new mail"},
        {IDS_ABOUTBOX, "&About Tavlo"},
        {IDS_NO_NEW_MAIL, "You have no new mail "},
        {IDS_POPUP_TITLE, "Tavlo"},
        {4711, ""},
    };
    for (const auto& s : strings)
        EXPECT_EQ(m_ui.LoadString(s.id), s.text) << s.id;

    const auto skin = m_ui.LoadBitmap(IDB_SKIN);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->GetSize(), (port::Size{IDB_SKIN_WIDTH, IDB_SKIN_HEIGHT}));
    EXPECT_NE(skin->Native(), 0);
    for (const int id : {IDB_ACCOUNTS_FRAME, IDB_BLOCKED_FRAME})
        EXPECT_NE(m_ui.LoadBitmap(id), nullptr) << id;
    EXPECT_EQ(m_ui.LoadBitmap(4711), nullptr);

    EXPECT_NE(m_ui.LoadIcon(IDI_MAIL), nullptr);
    EXPECT_NE(m_ui.LoadIcon(IDI_QUIET), nullptr);
    EXPECT_NE(m_ui.LoadIcon(IDI_MAIL), m_ui.LoadIcon(IDI_QUIET));
    EXPECT_EQ(m_ui.LoadIcon(4711), nullptr);

    const std::string gif = m_ui.LoadResourceData(IDR_MAIN_GIF, "GIF");
    ASSERT_GT(gif.size(), 13u);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(gif.back(), ';') << "trailer";

    EXPECT_NE(m_ui.LoadSystemCursor(port::SystemCursor::Hand), nullptr);
    EXPECT_NE(m_ui.LoadSystemCursor(port::SystemCursor::Arrow),
              m_ui.LoadSystemCursor(port::SystemCursor::Hand));
    const auto font = m_ui.CreateFont({"Arial", 85, 400, false, true});
    ASSERT_NE(font, nullptr);
    EXPECT_NE(font->Native(), 0);
    const auto brush = m_ui.CreateSolidBrush(port::Rgb(197, 209, 223));
    ASSERT_NE(brush, nullptr);
    EXPECT_NE(brush->Native(), 0);

    const port::Size screen = m_ui.GetScreenSize();
    const port::Rect work = m_ui.GetWorkArea();
    EXPECT_GT(screen.cx, 0);
    EXPECT_GT(work.Width(), 0);
    EXPECT_LE(work.Width(), screen.cx);
    EXPECT_LE(work.Height(), screen.cy);
}

// The built program carries the main window's template with every control
// of its control table, the menus and the strings.
TEST(Win32UiProgramResources, TavloExeHoldsTheMainWindowMenusAndStrings) {
    port::win32::Win32Ui ui(BuiltProgram());
    ASSERT_TRUE(ui.Loaded()) << BuiltProgram();
    const struct {
        int id;
        const char* className;
    } controls[] = {
        {IDC_ACCOUNTS_LABEL, "Static"}, {IDC_ACCOUNTS_LIST, "ListBox"},
        {IDC_ACCOUNT_ADD, "Button"},    {IDC_ACCOUNT_DELETE, "Button"},
        {IDC_ACCOUNT_EDIT, "Button"},   {IDC_MAILPROGRAM_LABEL, "Static"},
        {IDC_MAILPROGRAM, "ComboBox"},  {IDC_BLOCKED_LABEL, "Static"},
        {IDC_BLOCKED_LIST, "ListBox"},  {IDC_BLOCKED_ADD, "Button"},
        {IDC_BLOCKED_DELETE, "Button"}, {IDC_BLOCKED_EDIT, "Button"},
        {IDC_OK_BUTTON, "Button"},      {IDC_PICTURE, "Static"},
    };
    std::string title;
    std::string okText;
    std::string addText;
    WithMainTemplate(ui, [&](WindowHandle d) {
        title = ui.GetWindowText(d);
        okText = ui.GetItemText(d, IDC_OK_BUTTON);
        addText = ui.GetItemText(d, IDC_ACCOUNT_ADD);
        for (const auto& c : controls)
            EXPECT_STRCASEEQ(ui.GetItemClassName(d, c.id).c_str(), c.className) << c.id;
    });
    EXPECT_EQ(title, TXT_MAIN_CAPTION);
    EXPECT_EQ(okText, "OK");
    EXPECT_EQ(addText, "L\xE4gg till") << "Swedish placeholder, Windows-1252";
    EXPECT_EQ(ui.LoadString(IDS_CHECKING_FOR_MAIL), TXT_CHECKING_FOR_MAIL);
    ASSERT_NE(ui.LoadPopupMenu(IDR_TRAY_MENU), nullptr);
    EXPECT_EQ(ui.LoadPopupMenu(IDR_TRAY_MENU)->GetItemId(2), ID_OPEN);
    EXPECT_EQ(ui.LoadBitmap(IDB_SKIN)->GetSize(), (port::Size{148, 120}));
    EXPECT_EQ(ui.LoadResourceData(IDR_MAIN_GIF, "GIF").substr(0, 6), "GIF89a");
}

} // namespace
