// tavlo_uidriver.exe: inspects and drives a running tavlo.exe from outside,
// for the UI tests (test_tavlo_exe.py) that run both under Wine. It only
// looks at windows, posts window messages and reads or writes the program's
// registry values through the program's own stores; it never synthesises
// input.
//
//   tavlo_uidriver COMMAND ARGS...
//
//   find WIN | wait-window WIN TIMEOUT | wait-gone WIN TIMEOUT
//   visible WIN | wait-visible WIN 1|0 TIMEOUT | rect WIN | track WIN DURATION
//   wait-rect WIN LEFT TOP RIGHT BOTTOM TIMEOUT | item-enabled WIN ID | foreground
//   item-rect WIN ID (a control's screen rectangle)
//   post WIN MESSAGE WPARAM LPARAM | show WIN | redraw WIN | work-area
//   tray-icon WIN | wait-tray-icon WIN 1|0 TIMEOUT (icon 216 of that window)
//   reset | reg-int SECTION NAME | reg-set-int SECTION NAME VALUE | autostart
//   add-account NAME USER PASSWORD SERVER SECURITY TYPE | markers | accounts
//   wait-marker INDEX OLD TIMEOUT | now
//   post-watch WIN MESSAGE WPARAM LPARAM CLASS TIMEOUT (posts, then watches
//     a window of CLASS come and go: "HWND EXSTYLE OWNER VISIBLE L T R B",
//     then "SEEN GONE" in ms after the post; 1 when it never came or stayed)
//   texts WIN (a dialog's children: "ID CLASS TEXT", line breaks as "|")
//   set-text WIN ID TEXT | set-check WIN ID 1|0 | select WIN ID INDEX
//   (select tells the dialog with a posted selection-change command)
//   list WIN ID (a list box: the selected index, -1 for none, then one line
//   per item, top down)
//   notify WIN ID CODE (posts the control's WM_COMMAND notification CODE)
//   tray-tips (the tooltip texts of the notification area's icons, one a
//   line, line breaks as "|")
//
// A window (WIN) is "main" (the main window, titled "Tavlo" and a no-break
// space), "class:NAME", "hwnd:HEX" or any other text as an exact title.
// Times are in milliseconds. Exit code 0: done / yes; 1: no / timed out;
// 2: bad command line or the window does not exist.
#include "UiDriverSupport.h"
#include "config/AccountStore.h"
#include "core/VeskApp.h"
#include "platform/Autostart.h"
#include "platform/win32/RegistryProfileStore.h"
#include "platform/win32/Win32Ui.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using port::WindowHandle;
using port::win32::Win32Ui;

// The settings live below Software\Tavlo\<application name>; the driver's
// own name is not the program's.
constexpr const char* kAppName = "tavlo";
constexpr const char* kMainTitle = "Tavlo\xA0";
constexpr unsigned kTrayIconId = 216;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

constexpr int kYes = 0;
constexpr int kNo = 1;
constexpr int kError = 2;

struct UsageError {
    std::string text;
};

using Args = std::vector<std::string>;

long long ToNumber(const std::string& text) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0')
        throw UsageError{"not a number: " + text};
    return value;
}

std::string Hex(WindowHandle window) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    return text;
}

// The handle of a "hwnd:HEX" window, whether it still exists or not; null
// for the other forms.
WindowHandle NamedHandle(const std::string& spec) {
    if (spec.rfind("hwnd:", 0) != 0)
        return nullptr;
    return reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(ToNumber(spec.substr(5))));
}

// The existing window a WIN names, or null.
WindowHandle FindWindowBySpec(Win32Ui& ui, const std::string& spec) {
    if (spec == "main")
        return ui.FindTopLevelWindow(kMainTitle);
    if (spec.rfind("class:", 0) == 0)
        return tavlo::uidriver::FindTopLevelWindowByClass(spec.substr(6));
    if (const WindowHandle named = NamedHandle(spec); named != nullptr)
        return tavlo::uidriver::IsExistingWindow(named) ? named : nullptr;
    return ui.FindTopLevelWindow(spec);
}

// Polls until test holds or timeoutMs passed; true when it held.
bool WaitFor(long long timeoutMs, const std::function<bool()>& test) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (test())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

// Seconds since 1970 with milliseconds: comparable with the test runner's
// clock, since Wine's clock is the host's.
std::string UnixTime() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string RectText(const port::Rect& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
           " " + std::to_string(r.bottom);
}

void Need(const Args& args, std::size_t count, const char* usage) {
    if (args.size() != count)
        throw UsageError{std::string("usage: ") + usage};
}

port::RegistryProfileStore Store() {
    return port::RegistryProfileStore(CVeskApp::kRegistryKey, kAppName);
}

std::vector<CAccount> StoredAccounts() {
    auto store = Store();
    std::vector<CAccount> accounts;
    LoadAccounts(store, accounts);
    return accounts;
}

int Run(Win32Ui& ui, const std::string& command, const Args& args) {
    const auto window = [&](std::size_t index) { return FindWindowBySpec(ui, args.at(index)); };

    if (command == "find") {
        Need(args, 1, "find WIN");
        const WindowHandle found = window(0);
        if (found == nullptr)
            return kNo;
        std::cout << Hex(found) << '\n';
        return kYes;
    }
    if (command == "wait-window") {
        Need(args, 2, "wait-window WIN TIMEOUT");
        WindowHandle found = nullptr;
        if (!WaitFor(ToNumber(args[1]), [&] { return (found = window(0)) != nullptr; }))
            return kNo;
        std::cout << Hex(found) << '\n';
        return kYes;
    }
    if (command == "wait-gone") {
        Need(args, 2, "wait-gone WIN TIMEOUT");
        return WaitFor(ToNumber(args[1]), [&] { return window(0) == nullptr; }) ? kYes : kNo;
    }
    if (command == "visible" || command == "wait-visible") {
        const bool waiting = command == "wait-visible";
        Need(args, waiting ? 3 : 1, "visible WIN | wait-visible WIN 1|0 TIMEOUT");
        const bool wanted = waiting ? ToNumber(args[1]) != 0 : true;
        bool exists = false;
        bool visible = false;
        const auto look = [&] {
            const WindowHandle found = window(0);
            exists = found != nullptr;
            visible = exists && ui.IsWindowVisible(found);
            return exists && visible == wanted;
        };
        const bool held = waiting ? WaitFor(ToNumber(args[2]), look) : look();
        if (!exists)
            return kError;
        std::cout << (visible ? 1 : 0) << '\n';
        return held ? kYes : kNo;
    }
    if (command == "post") {
        Need(args, 4, "post WIN MESSAGE WPARAM LPARAM");
        const WindowHandle target = window(0);
        if (target == nullptr)
            return kError;
        ui.PostMessage(target, static_cast<unsigned>(ToNumber(args[1])),
                       static_cast<std::uintptr_t>(ToNumber(args[2])),
                       static_cast<std::intptr_t>(ToNumber(args[3])));
        return kYes;
    }
    if (command == "show") {
        // Shown without activation, as another program (or a second copy)
        // may show it: the window's own rules then decide whether it stays.
        Need(args, 1, "show WIN");
        const WindowHandle target = window(0);
        if (target == nullptr)
            return kError;
        ui.ShowWindow(target, port::ShowCommand::NoActivate);
        return kYes;
    }
    if (command == "redraw") {
        Need(args, 1, "redraw WIN");
        const WindowHandle target = window(0);
        if (target == nullptr)
            return kError;
        ui.RedrawNow(target);
        return kYes;
    }
    if (command == "rect" || command == "wait-rect") {
        const bool waiting = command == "wait-rect";
        Need(args, waiting ? 6 : 1, "rect WIN | wait-rect WIN LEFT TOP RIGHT BOTTOM TIMEOUT");
        port::Rect rect;
        bool exists = false;
        const auto look = [&] {
            const WindowHandle found = window(0);
            exists = found != nullptr;
            if (exists)
                rect = ui.GetWindowRect(found);
            return exists && (!waiting || rect == port::Rect{static_cast<int>(ToNumber(args[1])),
                                                             static_cast<int>(ToNumber(args[2])),
                                                             static_cast<int>(ToNumber(args[3])),
                                                             static_cast<int>(ToNumber(args[4]))});
        };
        const bool held = waiting ? WaitFor(ToNumber(args[5]), look) : look();
        if (!exists)
            return kError;
        std::cout << RectText(rect) << '\n';
        return held ? kYes : kNo;
    }
    if (command == "track") {
        // Samples a window's position and visibility and prints every change
        // as "SECONDS VISIBLE LEFT TOP RIGHT BOTTOM" ("gone" once it is gone).
        Need(args, 2, "track WIN DURATION");
        std::string last;
        WaitFor(ToNumber(args[1]), [&] {
            const WindowHandle found = window(0);
            std::string now = "gone";
            if (found != nullptr)
                now = std::to_string(ui.IsWindowVisible(found) ? 1 : 0) + " " +
                      RectText(ui.GetWindowRect(found));
            if (now != last)
                std::cout << UnixTime() << ' ' << now << '\n';
            last = now;
            return false;
        });
        return kYes;
    }
    if (command == "post-watch") {
        // One process posts and watches: a window that lives half a second
        // would be gone before a second driver had started.
        Need(args, 6, "post-watch WIN MESSAGE WPARAM LPARAM CLASS TIMEOUT");
        const WindowHandle target = window(0);
        if (target == nullptr)
            return kError;
        const std::string className = args[4];
        const long long timeoutMs = ToNumber(args[5]);
        const auto posted = std::chrono::steady_clock::now();
        const auto since = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - posted)
                .count();
        };
        ui.PostMessage(target, static_cast<unsigned>(ToNumber(args[1])),
                       static_cast<std::uintptr_t>(ToNumber(args[2])),
                       static_cast<std::intptr_t>(ToNumber(args[3])));
        WindowHandle found = nullptr;
        const auto poll = [&] {
            found = tavlo::uidriver::FindTopLevelWindowByClass(className);
            return found != nullptr;
        };
        // Polled without sleeping: the window's whole life is short.
        const auto deadline = posted + std::chrono::milliseconds(timeoutMs);
        while (!poll() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (found == nullptr)
            return kNo;
        // Found while it is being made: it may show only a moment later.
        const long long seen = since();
        std::string look;
        bool shown = false;
        while (tavlo::uidriver::IsExistingWindow(found) &&
               std::chrono::steady_clock::now() < deadline) {
            if (look.empty() || (!shown && ui.IsWindowVisible(found))) {
                shown = ui.IsWindowVisible(found);
                look = Hex(found) + ' ' + std::to_string(tavlo::uidriver::WindowExStyle(found)) +
                       ' ' + Hex(tavlo::uidriver::WindowOwner(found)) + ' ' + (shown ? "1" : "0") +
                       ' ' + RectText(ui.GetWindowRect(found));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::cout << look << '\n';
        if (tavlo::uidriver::IsExistingWindow(found))
            return kNo;
        std::cout << seen << ' ' << since() << '\n';
        return kYes;
    }
    if (command == "item-enabled") {
        Need(args, 2, "item-enabled WIN ID");
        const WindowHandle dialog = window(0);
        if (dialog == nullptr)
            return kError;
        const bool enabled = ui.IsItemEnabled(dialog, static_cast<int>(ToNumber(args[1])));
        std::cout << (enabled ? 1 : 0) << '\n';
        return enabled ? kYes : kNo;
    }
    if (command == "item-rect") {
        Need(args, 2, "item-rect WIN ID");
        const WindowHandle dialog = window(0);
        const WindowHandle item =
            dialog != nullptr ? ui.GetItem(dialog, static_cast<int>(ToNumber(args[1]))) : nullptr;
        if (item == nullptr)
            return kError;
        std::cout << RectText(ui.GetWindowRect(item)) << '\n';
        return kYes;
    }
    if (command == "foreground") {
        Need(args, 0, "foreground");
        std::cout << Hex(tavlo::uidriver::ForegroundWindow()) << '\n';
        return kYes;
    }
    if (command == "tray-icon" || command == "wait-tray-icon") {
        // The icon of the program's tray window (its callback window).
        const bool waiting = command == "wait-tray-icon";
        Need(args, waiting ? 3 : 1, "tray-icon WIN | wait-tray-icon WIN 1|0 TIMEOUT");
        // A window that has gone may still have left its icon behind.
        const WindowHandle named = NamedHandle(args[0]);
        const WindowHandle owner = named != nullptr ? named : window(0);
        if (owner == nullptr)
            return kError;
        const bool wanted = waiting ? ToNumber(args[1]) != 0 : true;
        bool present = false;
        const auto look = [&] {
            present = tavlo::uidriver::NotifyIconExists(owner, kTrayIconId);
            return present == wanted;
        };
        const bool held = waiting ? WaitFor(ToNumber(args[2]), look) : look();
        std::cout << (present ? 1 : 0) << '\n';
        return held ? kYes : kNo;
    }
    if (command == "work-area") {
        Need(args, 0, "work-area");
        const port::Size screen = ui.GetScreenSize();
        std::cout << RectText(ui.GetWorkArea()) << ' ' << screen.cx << ' ' << screen.cy << '\n';
        return kYes;
    }
    if (command == "reg-int") {
        Need(args, 2, "reg-int SECTION NAME");
        auto store = Store();
        // Two different defaults tell a missing value from a stored one.
        const std::uint32_t a = store.GetInt(args[0], args[1], 0);
        const std::uint32_t b = store.GetInt(args[0], args[1], 1);
        if (a != b) {
            std::cout << "missing\n";
            return kNo;
        }
        std::cout << a << '\n';
        return kYes;
    }
    if (command == "reg-set-int") {
        Need(args, 3, "reg-set-int SECTION NAME VALUE");
        auto store = Store();
        return store.WriteInt(args[0], args[1], static_cast<std::uint32_t>(ToNumber(args[2])))
                   ? kYes
                   : kError;
    }
    if (command == "reset") {
        // A first start: no settings, no accounts, no autostart entry.
        Need(args, 0, "reset");
        port::SetAutostartEntry(kAppName, std::string(), false);
        return port::RegistryProfileStore::DeleteRoot(CVeskApp::kRegistryKey) ? kYes : kError;
    }
    if (command == "autostart") {
        Need(args, 0, "autostart");
        std::string entry;
        if (!port::GetAutostartEntry(kAppName, entry))
            return kNo;
        std::cout << entry << '\n';
        return kYes;
    }
    if (command == "add-account") {
        Need(args, 6, "add-account NAME USER PASSWORD SERVER SECURITY TYPE");
        std::vector<CAccount> accounts = StoredAccounts();
        CAccount account;
        account.m_strAccountName = args[0];
        account.m_strUserName = args[1];
        account.m_strPassword = args[2];
        account.m_strServer = args[3];
        account.m_strSecurity = args[4];
        account.m_strLastMessage = "0";
        account.m_strAccountType = args[5];
        accounts.push_back(account);
        auto store = Store();
        return SaveAccounts(store, accounts) ? kYes : kError;
    }
    if (command == "texts") {
        Need(args, 1, "texts WIN");
        const WindowHandle dialog = window(0);
        if (dialog == nullptr)
            return kError;
        for (const tavlo::uidriver::ChildText& child : tavlo::uidriver::ChildTexts(dialog)) {
            std::string text = child.text;
            for (char& c : text)
                c = c == '\n' ? '|' : c == '\r' ? ' ' : c;
            std::cout << child.id << ' ' << child.className << ' ' << text << '\n';
        }
        return kYes;
    }
    if (command == "set-text" || command == "set-check" || command == "select") {
        Need(args, 3, "set-text WIN ID TEXT | set-check WIN ID 1|0 | select WIN ID INDEX");
        const WindowHandle dialog = window(0);
        if (dialog == nullptr)
            return kError;
        const int id = static_cast<int>(ToNumber(args[1]));
        bool done = false;
        if (command == "set-text") {
            done = tavlo::uidriver::SetControlText(dialog, id, args[2]);
        } else if (command == "set-check") {
            done = tavlo::uidriver::SetControlCheck(dialog, id, ToNumber(args[2]) != 0);
        } else {
            done = tavlo::uidriver::SetControlSelection(dialog, id,
                                                        static_cast<int>(ToNumber(args[2])));
            if (done)
                ui.PostMessage(dialog, port::kWmCommand,
                               port::MakeCommandParam(static_cast<unsigned>(id), port::kSelChange),
                               0);
        }
        return done ? kYes : kError;
    }
    if (command == "list") {
        Need(args, 2, "list WIN ID");
        const WindowHandle dialog = window(0);
        tavlo::uidriver::ListBoxState state;
        if (dialog == nullptr ||
            !tavlo::uidriver::ReadListBox(dialog, static_cast<int>(ToNumber(args[1])), state))
            return kError;
        std::cout << state.selected << '\n';
        for (const std::string& item : state.items)
            std::cout << item << '\n';
        return kYes;
    }
    if (command == "notify") {
        Need(args, 3, "notify WIN ID CODE");
        const WindowHandle dialog = window(0);
        return dialog != nullptr && tavlo::uidriver::PostNotification(
                                        dialog, static_cast<int>(ToNumber(args[1])),
                                        static_cast<unsigned>(ToNumber(args[2])))
                   ? kYes
                   : kError;
    }
    if (command == "tray-tips") {
        Need(args, 0, "tray-tips");
        for (std::string tip : tavlo::uidriver::NotificationTips()) {
            for (char& c : tip)
                c = c == '\n' ? '|' : c == '\r' ? ' ' : c;
            std::cout << tip << '\n';
        }
        return kYes;
    }
    if (command == "accounts") {
        // Name, type, security, user, server, marker; tab-separated.
        Need(args, 0, "accounts");
        for (const CAccount& a : StoredAccounts())
            std::cout << a.m_strAccountName << '\t' << a.m_strAccountType << '\t' << a.m_strSecurity
                      << '\t' << a.m_strUserName << '\t' << a.m_strServer << '\t'
                      << a.m_strLastMessage << '\n';
        return kYes;
    }
    if (command == "markers") {
        Need(args, 0, "markers");
        for (const CAccount& account : StoredAccounts())
            std::cout << account.m_strLastMessage << '\n';
        return kYes;
    }
    if (command == "wait-marker") {
        // Waits until the marker of the index-th account (from 0) differs
        // from old; prints the moment seen and the new marker.
        Need(args, 3, "wait-marker INDEX OLD TIMEOUT");
        const auto index = static_cast<std::size_t>(ToNumber(args[0]));
        std::string marker;
        const bool changed = WaitFor(ToNumber(args[2]), [&] {
            const std::vector<CAccount> accounts = StoredAccounts();
            marker = index < accounts.size() ? accounts[index].m_strLastMessage : args[1];
            return marker != args[1];
        });
        if (!changed)
            return kNo;
        std::cout << UnixTime() << ' ' << marker << '\n';
        return kYes;
    }
    if (command == "now") {
        Need(args, 0, "now");
        std::cout << UnixTime() << '\n';
        return kYes;
    }
    throw UsageError{"unknown command: " + command};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: tavlo_uidriver COMMAND ARGS...\n";
        return kError;
    }
    try {
        Win32Ui ui;
        const int code = Run(ui, argv[1], Args(argv + 2, argv + argc));
        std::cout.flush();
        return code;
    } catch (const UsageError& e) {
        std::cerr << e.text << '\n';
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << '\n';
    }
    return kError;
}
