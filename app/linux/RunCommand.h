// `tavlo run`: the program's whole life on the real clock over the headless
// window system, as tavlo.exe lives on Windows: start-up, the check timers,
// the announcement. What the tray, the popup, the main window, message boxes
// and the shell would show is printed, one timestamped line per effect.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>

namespace port::headless {
struct Event;
class HeadlessUi;
} // namespace port::headless

namespace tavlo::cli {

// Runs until SIGINT or SIGTERM (exit status 0). A second run on the same
// data folder says so on err and returns 0 at once.
int CommandRun(std::ostream& out, std::ostream& err);

// Turns window-system events into the lines `tavlo run` prints ("HH:MM:SS "
// is put in front by the caller). Repeated tray updates that change neither
// icon nor tooltip print nothing; the popup prints once per showing of a
// text, not per slide step.
class EffectPrinter {
public:
    // animationPath: the program the announcement starts after 5 s, so that
    // the shell's "open" of it reads "animation:" and any other one is the
    // mail program (or a web page).
    EffectPrinter(const port::headless::HeadlessUi& ui, std::string animationPath)
        : m_ui(ui), m_animationPath(std::move(animationPath)) {}

    // The line for an event; "" when the event shows nothing of its own.
    std::string Line(const port::headless::Event& event);

private:
    const port::headless::HeadlessUi& m_ui;
    std::string m_animationPath;
    int m_trayIcon = -1;
    std::string m_trayTip;
    bool m_trayShown = false;
};

// A text for one output line: line breaks become " | " (a CR before them
// is dropped) and other control bytes '?', so that server or user texts
// can neither split the line nor drive the terminal.
std::string OneLine(const std::string& text);

} // namespace tavlo::cli
