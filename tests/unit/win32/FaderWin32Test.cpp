// The fader on the real window system (Wine here): the layered-window update
// is found, the fader is a visible layered, click-through, top-most tool
// window owned by the main window at the faded window's place, and it is gone
// about half a second later while the message loop runs.
#include "controls/FaderWnd.h"
#include "platform/Wnd.h"
#include "platform/win32/Win32Ui.h"
#include "res/resource.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>

namespace {

using port::WindowHandle;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFaderStyles =
    port::kWsExLayered | port::kWsExToolWindow | port::kWsExTransparent | port::kWsExTopmost;

class Shown : public CWnd {
public:
    explicit Shown(port::win32::Win32Ui& ui) : CWnd(ui) {
        port::WindowSpec spec;
        spec.className = "TavloFaderTestWindow";
        spec.windowBackground = true;
        spec.title = "faded";
        spec.rect = port::Rect{40, 30, 240, 180};
        ui.CreatePopupWindow(spec, this);
        ui.ShowWindow(m_hWnd, port::ShowCommand::NoActivate);
    }
};

// Ends a modal run once the fader is gone (or after three seconds) and
// notes when that was.
class Watch : public port::MessageTarget {
public:
    Watch(port::win32::Win32Ui& ui, WindowHandle fader) : m_ui(ui), m_fader(fader) {}
    bool OnMessage(WindowHandle dialog, unsigned message, std::uintptr_t, std::intptr_t,
                   std::intptr_t& result) override {
        if (message == port::kWmInitDialog) {
            m_ui.ShowWindow(dialog, port::ShowCommand::Hide);
            m_ui.SetTimer(dialog, 9, 10);
            result = 0;
            return true;
        }
        if (message == port::kWmTimer) {
            if (!m_ui.IsWindowVisible(m_fader) ||
                Clock::now() - m_start > std::chrono::seconds(3)) {
                gone = Clock::now() - m_start;
                m_ui.KillTimer(dialog, 9);
                m_ui.EndDialog(dialog, 1);
            }
            result = 0;
            return true;
        }
        return false;
    }
    Clock::duration gone{};

private:
    port::win32::Win32Ui& m_ui;
    WindowHandle m_fader;
    const Clock::time_point m_start = Clock::now();
};

TEST(FaderWin32Test, LayeredCopyOwnedByTheMainWindowGoesAfterHalfASecond) {
    port::win32::Win32Ui ui;
    ASSERT_NE(ui.FindUpdateLayeredWindow(), nullptr);
    Shown faded(ui);
    ASSERT_NE(faded.GetSafeHwnd(), nullptr);
    ui.SetMainWindow(faded.GetSafeHwnd());

    CFaderWnd::FadeOut(faded);
    const WindowHandle fader = ui.FindWindowOfClass(CFaderWnd::kClassName);
    ASSERT_NE(fader, nullptr);
    EXPECT_EQ(ui.GetExStyle(fader) & kFaderStyles, kFaderStyles);
    EXPECT_EQ(ui.GetOwner(fader), faded.GetSafeHwnd());
    EXPECT_TRUE(ui.IsWindowVisible(fader));
    EXPECT_EQ(ui.GetWindowRect(fader), ui.GetWindowRect(faded.GetSafeHwnd()));

    Watch watch(ui, fader);
    ui.RunModalDialog(IDD_ABOUTBOX, &watch, nullptr);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(watch.gone).count();
    // 21 ticks of 25 ms; the system's timers are never early, and a loaded
    // machine makes them late.
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 3000) << "the fader stayed";
    EXPECT_EQ(ui.FindWindowOfClass(CFaderWnd::kClassName), nullptr);
    ui.SetMainWindow(nullptr);
}

} // namespace
