// The announcement animation (Tavlo.scr): a screen-saver program that the
// main program starts a few seconds after it announced new mail. It follows
// the screen-saver command line ("/s" show, "/c" configure, "/p <window>"
// preview) so that the shell and the screen-saver settings can run it too.
//
// This header stays free of <windows.h>.
#pragma once

#include <string>
#include <vector>

namespace tavlo::scr {

enum class ScreenSaverMode {
    Show,      // "/s" or no argument: full screen until input or the time limit
    Configure, // "/c" or "/c:<window>": there are no options to set
    Preview,   // "/p <window>": no preview; ends at once
    Unknown,   // anything else: ends at once
};

// The mode of a command line (the arguments after the program name); the
// letter is case-insensitive and may follow '/' or '-'.
ScreenSaverMode ParseScreenSaverArguments(const std::vector<std::string>& arguments);

// The window title of the full-screen animation.
inline constexpr char kScreenSaverTitle[] = "Tavlo animation";
inline constexpr unsigned kScreenSaverLimitMs = 10000;

// Runs a mode to its end; the process exit code (0).
// Show: a black full-screen window with an envelope gliding around; it ends
// on a key press, a mouse click, a mouse move of more than a few pixels, or
// after limitMs.
int RunScreenSaver(ScreenSaverMode mode, unsigned limitMs = kScreenSaverLimitMs);

} // namespace tavlo::scr
