#include "app/linux/RunCommand.h"

#include "app/linux/DataFolder.h"
#include "config/Settings.h"
#include "core/VeskApp.h"
#include "platform/Paths.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <ostream>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tavlo::cli {

using port::headless::Event;
using port::headless::EventKind;
using port::headless::HeadlessUi;

namespace {

// The popup's window class (notify/TaskbarNotifier.cpp).
constexpr const char* kPopupClassName = "TavloNotifierWindow";
// The lock that keeps a second `tavlo run` off the same data folder.
constexpr const char* kLockFileName = "run.lock";
// Players tried for the sound, first found on PATH wins.
constexpr const char* kSoundPlayers[] = {"paplay", "pw-play", "aplay"};
// The sound plays synchronously, but a player that hangs (no sound server
// answering) must not stop the program for good.
constexpr int kSoundTimeoutMs = 5000;

// --- Small POSIX helpers --------------------------------------------------

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool IsReadableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), R_OK) == 0;
}

// The full path of the first of the players found on PATH; "" for none.
std::string FindSoundPlayer() {
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return std::string();
    for (const char* player : kSoundPlayers) {
        std::string folders = path;
        std::size_t start = 0;
        while (start <= folders.size()) {
            const std::size_t end = std::min(folders.find(':', start), folders.size());
            const std::string folder = end > start ? folders.substr(start, end - start) : ".";
            const std::string candidate = folder + "/" + player;
            if (IsExecutableFile(candidate))
                return candidate;
            start = end + 1;
        }
    }
    return std::string();
}

// Waits for the child, at most timeoutMs; true when it ended (and is reaped).
bool WaitForChild(pid_t pid, int timeoutMs) {
#ifdef SYS_pidfd_open
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        UniqueFd owner(pidfd);
        pollfd entry{pidfd, POLLIN, 0};
        int ready;
        do {
            ready = ::poll(&entry, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR); // a signal handler ran; good enough
        if (ready > 0) {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return true;
        }
        return false;
    }
#endif
    // Kernels without pidfd: short naps until the deadline.
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return true;
        ::usleep(20 * 1000);
    }
    return false;
}

// Plays a sound file through the player and returns when it has finished
// (or the time-out has passed, when the player is ended).
void PlayFile(const std::string& player, const std::string& file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The socket layer ignores SIGPIPE; the player gets the usual handling.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv{const_cast<char*>(player.c_str()), const_cast<char*>(file.c_str()),
                            nullptr};
    pid_t pid = 0;
    const int failed =
        ::posix_spawn(&pid, player.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0)
        return;
    if (!WaitForChild(pid, kSoundTimeoutMs)) {
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string Clock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// --- Signals ----------------------------------------------------------------

// Written by the signal handler, read by the watcher thread.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// SIGINT and SIGTERM end the run through the program's own "Exit" command,
// so the tray icon is removed as on Windows. The handler only writes to a
// pipe; a watcher thread turns that into a posted message, which is safe
// from any thread. The "Exit" itself is posted by the message loop's idle
// step, because only that thread knows the main window. A second signal
// while a check still blocks the loop ends the process at once.
class StopSignals {
public:
    explicit StopSignals(HeadlessUi& ui) : m_ui(ui) {
        if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        m_watcher = std::thread([this] { Watch(); });
    }

    ~StopSignals() {
        if (!m_watcher.joinable())
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        const char quit = 'q';
        [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &quit, 1);
        m_watcher.join();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Requested() const { return m_requested.load(); }
    // From the message loop's thread: end as on a signal.
    void Request() { m_requested.store(true); }

    // On the message loop's thread when it has nothing to do.
    void OnIdle() {
        if (m_requested.load() && !m_exitPosted && m_ui.GetMainWindow() != nullptr) {
            m_exitPosted = true;
            m_ui.PostMessage(m_ui.GetMainWindow(), port::kWmCommand,
                             port::MakeCommandParam(ID_APP_EXIT_CMD), 0);
        }
    }

private:
    void Watch() {
        for (;;) {
            char byte = 0;
            const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || byte == 'q')
                return;
            if (m_requested.exchange(true))
                ::_exit(0);
            // Wakes the loop, whose idle step then posts "Exit".
            m_ui.PostMessage(nullptr, port::kWmNull, 0, 0);
        }
    }

    HeadlessUi& m_ui;
    std::atomic<bool> m_requested{false};
    bool m_exitPosted = false; // loop thread only
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    std::thread m_watcher;
};

} // namespace

// --- Printing -------------------------------------------------------------------

std::string OneLine(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n')
            out += " | ";
        else if (c < 0x20 || c == 0x7F)
            out += '?';
        else
            out += static_cast<char>(c);
    }
    return out;
}

namespace {

// The popup's text without its empty lines: "Tavlo\n\nWork 2 mail." reads
// "Tavlo | Work 2 mail.".
std::string PopupText(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(' ') != std::string::npos)
            out += (out.empty() ? "" : "\n") + line;
        start = end + 1;
    }
    return OneLine(out);
}

} // namespace

std::string EffectPrinter::Line(const Event& event) {
    const port::headless::WindowInfo* window = m_ui.FindWindowInfo(event.window);
    switch (event.kind) {
    case EventKind::TrayAdd:
    case EventKind::TrayModify: {
        const int icon = m_ui.IconResourceId(event.icon);
        if (m_trayShown && icon == m_trayIcon && event.text == m_trayTip)
            return std::string();
        m_trayShown = true;
        m_trayIcon = icon;
        m_trayTip = event.text;
        return "tray: icon " + std::to_string(icon) + " \"" + OneLine(event.text) + "\"";
    }
    case EventKind::TrayDelete:
        m_trayShown = false;
        return "tray: removed";
    case EventKind::WindowShow:
    case EventKind::WindowHide:
        // The main window only; the popup has its own line.
        if (window == nullptr || !window->isDialog || window->templateId != IDD_VESK_DIALOG)
            return std::string();
        return event.kind == EventKind::WindowShow ? "window: shown" : "window: hidden";
    case EventKind::TextDrawn: {
        // The popup is painted once per showing of a text; the slide moves
        // the painted window without painting it again.
        if (window == nullptr || window->className != kPopupClassName)
            return std::string();
        // The whole text, not just the lines that fit the skin.
        const auto& ops = m_ui.PaintOps();
        const bool whole = !ops.empty() && ops.back().kind == port::headless::PaintOp::Kind::Text &&
                           ops.back().window == event.window;
        return "popup: " + PopupText(whole ? ops.back().text : event.text);
    }
    case EventKind::MessageBox:
        return OneLine(event.detail) + ": " + OneLine(event.text);
    case EventKind::ShellOpen:
        if (event.text == m_animationPath)
            return "animation: " + OneLine(event.text);
        if (event.text.rfind("http://", 0) == 0 || event.text.rfind("https://", 0) == 0)
            return "web page: " + OneLine(event.text);
        return "mail program: " + OneLine(event.text) +
               (event.detail.empty() ? "" : " " + OneLine(event.detail));
    case EventKind::Sound:
        return "sound: " + OneLine(event.text);
    default:
        return std::string();
    }
}

int CommandRun(std::ostream& out, std::ostream& err) {
    const std::string folder = OpenDataFolder(err);
    if (folder.empty())
        return 3;

    // One run per data folder: both would check the same accounts and
    // write the same markers.
    UniqueFd lock(::open((folder + kLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.Get() < 0) {
        err << "tavlo run: cannot open " << folder << kLockFileName << '\n';
        return 3;
    }
    if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            err << "tavlo run: already running\n";
            return 0;
        }
        err << "tavlo run: cannot lock " << folder << kLockFileName << '\n';
        return 3;
    }

    const std::unique_ptr<port::FileProfileStore> store = OpenSettings(folder, err);
    HeadlessUi ui(tavlo::res::ProgramResources(), port::headless::ClockMode::Real);
    StopSignals signals(ui);
    const std::string player = FindSoundPlayer();
    EffectPrinter printer(ui, ReadMyAnimation(*store, port::ExecutablePath()));
    ui.SetEventListener([&](const Event& event) {
        const std::string line = printer.Line(event);
        if (!line.empty()) {
            out << Clock() << ' ' << line << std::endl; // one line at a time, for pipes
            // Nobody reads any more (a closed pipe: SIGPIPE is ignored for
            // the sockets' sake): end as on a signal.
            if (!out)
                signals.Request();
        }
        // PlaySound is synchronous: the window answers again afterwards.
        if (event.kind == EventKind::Sound && !player.empty() && IsReadableFile(event.text))
            PlayFile(player, event.text);
    });

    ui.SetIdleHandler([&] {
        // Nothing reads the recorded events back; a run that lasts for
        // weeks must not collect them.
        ui.ClearEvents();
        ui.ClearPaintOps();
        signals.OnIdle();
    });

    CVeskApp app(*store, ui, port::ApplicationName());
    try {
        app.InitInstance();
    } catch (const port::headless::ProcessExit& exit) {
        return signals.Requested() ? 0 : exit.code;
    }
    return 0;
}

} // namespace tavlo::cli
