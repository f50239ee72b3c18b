// Runs check cycles in one process, as a running program does: the main
// window of `tavlo check` (the accounts and Blocklist.txt of the data folder,
// $TAVLO_HOME as `tavlo` uses it) checks once at start and once more for
// every line read from standard input, until its end. So what one process
// remembers between cycles (the messages its sweep found not blocked) can be
// measured against a fresh process.
//
//   blocked_sweep_bench          (no arguments)
//
// Prints one line per cycle, flushed at once:
//
//   cycle N SECONDS REPORT
//
// SECONDS: the wall time of CheckMail; REPORT: the report with " | "
// between lines, "-" when empty. What the cycles receive is counted outside
// (scripts/bench-blocked-sweep.py puts a counting relay before the server).
// Exit code 0, or 1 when the data folder or the socket layer cannot be used.
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/Paths.h"
#include "platform/Socket.h"
#include "platform/headless/FileProfileStore.h"
#include "platform/headless/HeadlessUi.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

std::string OneLine(const std::string& report) {
    if (report.empty())
        return "-";
    std::string out;
    for (const char c : report)
        out += c == '\n' ? std::string(" | ") : std::string(1, c);
    return out;
}

} // namespace

int main(int argc, char**) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: blocked_sweep_bench   (cycles: one at start, one per line "
                             "of standard input)\n");
        return 2;
    }
    const std::string folder = port::UserDataFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "blocked_sweep_bench: no data folder (set TAVLO_HOME)\n");
        return 1;
    }
    if (!port::SocketLayerStartup()) {
        std::fprintf(stderr, "blocked_sweep_bench: the socket layer did not start\n");
        return 1;
    }

    // The settings file and key that the `tavlo` executable uses.
    port::FileProfileStore store(folder + "settings.reg",
                                 std::string("HKEY_CURRENT_USER\\Software\\") +
                                     CVeskApp::kRegistryKey + "\\tavlo");
    port::headless::HeadlessUi ui;
    CVeskApp app(store, ui, "tavlo");
    app.SetDataFolder(folder);
    CVeskDlg dlg(app, CVeskDlg::CheckOnly{});
    dlg.SetMessageBoxHandler([](const std::string& text, const std::string& caption) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    });
    std::string report;
    dlg.SetReportHandler([&report](bool, bool, const std::string& text) { report = text; });
    dlg.LoadAccounts();
    dlg.LoadBlockedSenders();

    int cycle = 0;
    std::string line;
    do {
        report.clear();
        const auto started = std::chrono::steady_clock::now();
        dlg.CheckMail(true);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::printf("cycle %d %.6f %s\n", ++cycle, took.count(), OneLine(report).c_str());
        std::fflush(stdout);
    } while (std::getline(std::cin, line));

    port::SocketLayerCleanup();
    return 0;
}
