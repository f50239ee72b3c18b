// The announcement animation (Tavlo.scr): its command lines, and its window
// on the real window system, ended by a key press or by its time limit.
#include "app/win32/scr/ScreenSaver.h"

#include "platform/win32/Win32Ui.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using port::WindowHandle;

constexpr unsigned kWmKeyDown = 0x0100;

TEST(Win32ScreenSaverTest, CommandLinesSelectTheMode) {
    using tavlo::scr::ScreenSaverMode;
    const struct {
        std::vector<std::string> arguments;
        ScreenSaverMode expected;
    } cases[] = {
        {{}, ScreenSaverMode::Show},
        {{"/s"}, ScreenSaverMode::Show},
        {{"/S"}, ScreenSaverMode::Show},
        {{"-s"}, ScreenSaverMode::Show},
        {{"/c"}, ScreenSaverMode::Configure},
        {{"/c:1234"}, ScreenSaverMode::Configure},
        {{"/p", "1234"}, ScreenSaverMode::Preview},
        {{"/P:1234"}, ScreenSaverMode::Preview},
        {{"/a"}, ScreenSaverMode::Unknown},
        {{"/save"}, ScreenSaverMode::Unknown},
        {{"s"}, ScreenSaverMode::Unknown},
        {{"/"}, ScreenSaverMode::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tavlo::scr::ParseScreenSaverArguments(c.arguments), c.expected)
            << (c.arguments.empty() ? "(none)" : c.arguments.front());
}

TEST(Win32ScreenSaverTest, AnimationEndsOnAKeyPressAndOnItsOwn) {
    using Clock = std::chrono::steady_clock;
    port::win32::Win32Ui ui;
    // A key press, from another thread once the window is up.
    std::atomic<bool> pressed{false};
    std::thread presser([&] {
        for (int i = 0; i < 500 && !pressed; ++i) {
            if (WindowHandle w = ui.FindTopLevelWindow(tavlo::scr::kScreenSaverTitle)) {
                ui.PostMessage(w, kWmKeyDown, 'A', 0);
                pressed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(tavlo::scr::RunScreenSaver(tavlo::scr::ScreenSaverMode::Show, 60000), 0);
    const auto tookKey = Clock::now() - start;
    presser.join();
    EXPECT_TRUE(pressed);
    EXPECT_LT(tookKey, std::chrono::seconds(30)) << "ended by the key, not by its limit";
    EXPECT_EQ(ui.FindTopLevelWindow(tavlo::scr::kScreenSaverTitle), nullptr);

    const auto again = Clock::now();
    EXPECT_EQ(tavlo::scr::RunScreenSaver(tavlo::scr::ScreenSaverMode::Show, 300), 0);
    EXPECT_GE(Clock::now() - again, std::chrono::milliseconds(250)) << "ran until its limit";
    EXPECT_EQ(tavlo::scr::RunScreenSaver(tavlo::scr::ScreenSaverMode::Preview), 0);
}

} // namespace
