#include "platform/Autostart.h"

#include "platform/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

#ifdef _WIN32
#include <process.h>
#endif

namespace {

using tavlo::test::ScopedEnv;
using tavlo::test::TempDir;

#ifdef _WIN32

std::string UniqueAppName() {
    return "TavloTest-" + std::to_string(::_getpid());
}

// Removes the Run value whatever a test left behind.
struct RunValueGuard {
    std::string appName;
    ~RunValueGuard() { port::SetAutostartEntry(appName, "", false); }
};

TEST(AutostartTest, RunValueIsCreatedReadAndDeleted) {
    const RunValueGuard guard{UniqueAppName()};
    const std::string& app = guard.appName;
    // NT 5 and later keep the entry per user.
    EXPECT_EQ(port::AutostartLocation(app),
              "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    std::string command = "stale";
    EXPECT_FALSE(port::GetAutostartEntry(app, command));

    port::SetAutostartEntry(app, "C:\\Apps\\Tavlo\\Tavlo.EXE", true);
    ASSERT_TRUE(port::GetAutostartEntry(app, command));
    EXPECT_EQ(command, "C:\\Apps\\Tavlo\\Tavlo.EXE"); // unquoted, as it always was

    // A path with a space is quoted, so the system cannot start C:\Program.exe.
    port::SetAutostartEntry(app, "C:\\Program Files\\Tavlo\\Tavlo.EXE", true);
    ASSERT_TRUE(port::GetAutostartEntry(app, command));
    EXPECT_EQ(command, "\"C:\\Program Files\\Tavlo\\Tavlo.EXE\"");

    port::SetAutostartEntry(app, "C:\\Apps\\Tavlo\\Tavlo.EXE", false);
    EXPECT_FALSE(port::GetAutostartEntry(app, command));
    port::SetAutostartEntry(app, "C:\\Apps\\Tavlo\\Tavlo.EXE", false); // nothing to delete
    EXPECT_FALSE(port::GetAutostartEntry(app, command));
}

#else

// The arguments of an Exec command by the Desktop Entry quoting rules (the
// value escapes are already undone): double quotes group, and inside them a
// backslash escapes " ` $ and itself; "%%" is a literal percent sign.
std::vector<std::string> ExecArguments(const std::string& command) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quoted) {
            if (c == '\\' && i + 1 < command.size() &&
                std::string("\"`$\\").find(command[i + 1]) != std::string::npos)
                current += command[++i];
            else if (c == '"')
                quoted = false;
            else
                current += c;
        } else if (c == ' ') {
            if (inArgument)
                args.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            inArgument = true;
            if (c == '"')
                quoted = true;
            else
                current += c;
        }
    }
    if (inArgument)
        args.push_back(current);
    for (auto& arg : args)
        for (std::size_t p = arg.find("%%"); p != std::string::npos; p = arg.find("%%", p + 1))
            arg.erase(p, 1);
    return args;
}

std::string Read(const std::string& path) {
    std::string content;
    EXPECT_EQ(port::ReadWholeFile(path, content), port::FileReadResult::Ok) << path;
    return content;
}

class AutostartTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_xdg{"XDG_CONFIG_HOME", m_dir.path()};
    std::string m_entry = m_dir.path() + "/autostart/tavlo-test.desktop";
};

TEST_F(AutostartTest, EnablingWritesAValidDesktopEntry) {
    EXPECT_EQ(port::AutostartLocation("tavlo-test"), m_entry);
    port::SetAutostartEntry("tavlo-test", "/usr/local/bin/tavlo", true);
    EXPECT_EQ(Read(m_entry), "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Tavlo\n"
                             "Comment=New-mail notifier\n"
                             "Exec=\"/usr/local/bin/tavlo\" run\n"
                             "X-GNOME-Autostart-enabled=true\n");
    std::string command;
    ASSERT_TRUE(port::GetAutostartEntry("tavlo-test", command));
    EXPECT_EQ(command, "\"/usr/local/bin/tavlo\" run");
    // Only the entry: no temporary files beside it.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(m_dir.path() + "/autostart")) {
        EXPECT_EQ(e.path().filename().string(), "tavlo-test.desktop");
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(AutostartTest, ProgramPathsWithSpecialCharactersComeBackAsOneArgument) {
    const char* const paths[] = {
        "/opt/My Apps/tavlo",       "/opt/it's/tavlo",         "/opt/\"q\"/tavlo",
        "/opt/$HOME/`x`/tavlo",     "/opt/back\\slash/t",      "/opt/100%/%f tavlo",
        "/opt/tab\there/new\nline", "/opt/\xe5\xe4\xf6/tavlo", "/opt/semi;amp&pipe|/t",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        port::SetAutostartEntry("tavlo-test", path, true);
        std::string command;
        ASSERT_TRUE(port::GetAutostartEntry("tavlo-test", command));
        EXPECT_EQ(ExecArguments(command), (std::vector<std::string>{path, "run"}));
        // The entry stays one key per line.
        const std::string content = Read(m_entry);
        EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 6);
    }
}

TEST_F(AutostartTest, DisablingRemovesTheEntry) {
    port::SetAutostartEntry("tavlo-test", "/usr/bin/tavlo", true);
    ASSERT_TRUE(port::FileExists(m_entry));
    port::SetAutostartEntry("tavlo-test", "/usr/bin/tavlo", false);
    EXPECT_FALSE(port::FileExists(m_entry));
    std::string command;
    EXPECT_FALSE(port::GetAutostartEntry("tavlo-test", command));
    port::SetAutostartEntry("tavlo-test", "/usr/bin/tavlo", false); // nothing to remove
    EXPECT_FALSE(port::FileExists(m_entry));
}

TEST_F(AutostartTest, WithoutXdgConfigHomeTheEntryGoesBelowHome) {
    const ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    const ScopedEnv home("HOME", m_dir.path());
    const std::string entry = m_dir.path() + "/.config/autostart/tavlo-test.desktop";
    EXPECT_EQ(port::AutostartLocation("tavlo-test"), entry);
    port::SetAutostartEntry("tavlo-test", "/usr/bin/tavlo", true);
    EXPECT_TRUE(port::FileExists(entry));
}

TEST_F(AutostartTest, NamesThatAreNoFileNamesWriteNothing) {
    for (const char* app : {"", ".", "..", "a/b"}) {
        SCOPED_TRACE(app);
        EXPECT_EQ(port::AutostartLocation(app), "");
        port::SetAutostartEntry(app, "/usr/bin/tavlo", true);
        std::string command;
        EXPECT_FALSE(port::GetAutostartEntry(app, command));
    }
    EXPECT_FALSE(port::FileExists(m_dir.path() + "/autostart"));
    // A control byte no desktop entry can carry: no entry rather than a
    // broken one.
    port::SetAutostartEntry("tavlo-test", "/opt/bell\a/tavlo", true);
    EXPECT_FALSE(port::FileExists(m_entry));
}

#endif

} // namespace
