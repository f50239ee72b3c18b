#include "config/Settings.h"

#include "platform/Autostart.h"
#include "support/MemoryProfileStore.h"
#include "support/TempDir.h"
#include "support/TestEnv.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using tavlo::test::MemoryProfileStore;

std::vector<std::string> ReadNames(const MemoryProfileStore& store) {
    std::vector<std::string> names;
    for (const auto& read : store.Reads())
        names.push_back(read.section + "/" + read.name + (read.isInt ? " int" : " string"));
    return names;
}

TEST(StartupSettingsTest, FreshStoreGivesDefaultsAndWritesNothing) {
    MemoryProfileStore store;
    const StartupSettings s = ReadStartupSettings(store);

    EXPECT_EQ(s.m_nCheckInterval, 9); // ten minutes
    EXPECT_TRUE(s.m_bSound);
    EXPECT_TRUE(s.m_bAnimate);
    EXPECT_TRUE(s.m_bAutostart);
    EXPECT_TRUE(s.m_bCheckForUpdates);
    EXPECT_FALSE(s.m_bAutostartEmailProgram);

    EXPECT_TRUE(store.Writes().empty());
    const std::vector<std::string> expected = {
        "App/SearchForMail int", "App/Sound int",           "App/Animate int",
        "App/Autostart int",     "App/CheckForUpdates int", "App/AutostartEmailProgram int"};
    EXPECT_EQ(ReadNames(store), expected);
}

// Each flag is read from its own value: storing one of them leaves the
// others at their defaults. "Sound" and "Animate" are on only for 1, the
// others for any non-zero value.
TEST(StartupSettingsTest, EachFlagComesFromItsOwnValue) {
    struct Case {
        const char* name;
        bool StartupSettings::*member;
        bool defaultValue;
        bool onlyOne; // on only when the stored value is 1
    };
    const Case cases[] = {
        {"Sound", &StartupSettings::m_bSound, true, true},
        {"Animate", &StartupSettings::m_bAnimate, true, true},
        {"Autostart", &StartupSettings::m_bAutostart, true, false},
        {"CheckForUpdates", &StartupSettings::m_bCheckForUpdates, true, false},
        {"AutostartEmailProgram", &StartupSettings::m_bAutostartEmailProgram, false, false},
    };
    for (const Case& c : cases) {
        for (const std::uint32_t stored : {0u, 1u, 2u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::string(c.name) + "=" + std::to_string(stored));
            MemoryProfileStore store;
            store.SetInt("App", c.name, stored);
            const StartupSettings s = ReadStartupSettings(store);
            EXPECT_EQ(s.*c.member, c.onlyOne ? stored == 1 : stored != 0);
            for (const Case& other : cases) {
                if (other.member != c.member) {
                    EXPECT_EQ(s.*other.member, other.defaultValue) << other.name;
                }
            }
            EXPECT_EQ(s.m_nCheckInterval, 9);
        }
    }
}

TEST(StartupSettingsTest, IntervalIsUsedUnchangedEvenOutOfRange) {
    const std::pair<std::uint32_t, int> cases[] = {
        {0, 0}, {29, 29}, {30, 30}, {1000, 1000}, {0xFFFFFFFFu, -1}};
    for (const auto& [stored, expected] : cases) {
        MemoryProfileStore store;
        store.SetInt("App", "SearchForMail", stored);
        EXPECT_EQ(ReadStartupSettings(store).m_nCheckInterval, expected) << stored;
    }
}

TEST(StartupSettingsTest, ValueOfTheWrongTypeGivesTheDefault) {
    MemoryProfileStore store;
    store.SetString("App", "Sound", "0");
    store.SetString("App", "SearchForMail", "3");
    const StartupSettings s = ReadStartupSettings(store);
    EXPECT_TRUE(s.m_bSound);
    EXPECT_EQ(s.m_nCheckInterval, 9);
}

struct PathCase {
    const char* exePath;
    char sep;
    const char* programFolder;
    const char* soundFolder;
    const char* animationFolder;
    const char* programFileName;
};

TEST(ProgramPathsTest, DerivedFromTheExecutablePath) {
    const PathCase cases[] = {
        {"C:\\Apps\\Tavlo\\Tavlo.exe", '\\', "C:\\Apps\\Tavlo\\", "C:\\Apps\\Tavlo\\Sound\\",
         "C:\\Apps\\Tavlo\\Animation\\", "C:\\Apps\\Tavlo\\Tavlo.EXE"},
        // Only the last dot of the file name starts the extension.
        {"C:\\Program Files\\Tavlo 2\\My.Tavlo.exe", '\\', "C:\\Program Files\\Tavlo 2\\",
         "C:\\Program Files\\Tavlo 2\\Sound\\", "C:\\Program Files\\Tavlo 2\\Animation\\",
         "C:\\Program Files\\Tavlo 2\\My.Tavlo.EXE"},
        // Either slash ends the folder; the last one counts.
        {"D:/tools\\bin/Tavlo.Exe", '\\', "D:/tools\\bin/", "D:/tools\\bin/Sound\\",
         "D:/tools\\bin/Animation\\", "D:/tools\\bin/Tavlo.EXE"},
        // Linux executables have no extension; a dot in the folder is no extension.
        {"/usr/local/bin/tavlo", '/', "/usr/local/bin/", "/usr/local/bin/Sound/",
         "/usr/local/bin/Animation/", "/usr/local/bin/tavlo"},
        {"/opt/tavlo.d/tavlo", '/', "/opt/tavlo.d/", "/opt/tavlo.d/Sound/",
         "/opt/tavlo.d/Animation/", "/opt/tavlo.d/tavlo"},
        {"Tavlo.exe", '\\', "", "Sound\\", "Animation\\", "Tavlo.EXE"},
        {"", '/', "", "Sound/", "Animation/", ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.exePath);
        EXPECT_EQ(GetProgramFolder(c.exePath), c.programFolder);
        EXPECT_EQ(GetSoundFolder(c.exePath, c.sep), c.soundFolder);
        EXPECT_EQ(GetAnimationFolder(c.exePath, c.sep), c.animationFolder);
        EXPECT_EQ(GetProgramFileName(c.exePath), c.programFileName);
    }
}

TEST(ProgramPathsTest, SubFoldersUseThePlatformSeparatorByDefault) {
    const std::string sep(1, port::PathSeparator());
    EXPECT_EQ(GetSoundFolder("/x/t"), "/x/Sound" + sep);
    EXPECT_EQ(GetAnimationFolder("/x/t"), "/x/Animation" + sep);
}

TEST(MediaSettingsTest, DefaultsLieInTheProgramFolder) {
    MemoryProfileStore store;
    const std::string exe = "C:\\Apps\\Tavlo\\Tavlo.exe";
    EXPECT_EQ(ReadMySound(store, exe, '\\'), "C:\\Apps\\Tavlo\\Sound\\Pling.wav");
    EXPECT_EQ(ReadMyAnimation(store, exe, '\\'), "C:\\Apps\\Tavlo\\Animation\\Tavlo.scr");
    EXPECT_EQ(ReadMyMailClient(store), "");
    EXPECT_TRUE(store.Writes().empty());
    const std::vector<std::string> expected = {"App/MySound string", "App/MyAnimation string",
                                               "App/MyMailClient string"};
    EXPECT_EQ(ReadNames(store), expected);
}

TEST(MediaSettingsTest, StoredPathsAreReadAtEachUse) {
    MemoryProfileStore store;
    const std::string exe = "/opt/tavlo/tavlo";
    store.SetString("App", "MySound", "/home/u/ding.wav");
    store.SetString("App", "MyAnimation", "/home/u/fish.scr");
    store.SetString("App", "MyMailClient", "C:\\Mail\\mail.exe");
    EXPECT_EQ(ReadMySound(store, exe, '/'), "/home/u/ding.wav");
    EXPECT_EQ(ReadMyAnimation(store, exe, '/'), "/home/u/fish.scr");
    EXPECT_EQ(ReadMyMailClient(store), "C:\\Mail\\mail.exe");

    // Nothing is cached: a change in the store shows at the next use.
    store.SetString("App", "MySound", "/home/u/other.wav");
    store.SetString("App", "MyMailClient", "");
    EXPECT_EQ(ReadMySound(store, exe, '/'), "/home/u/other.wav");
    EXPECT_EQ(ReadMyMailClient(store), "");
}

// The entry is named by the application name and runs the executable with
// its extension written "EXE". On POSIX it lands in a private XDG folder; on
// Windows it is the Run value of the test program, removed again at the end.
TEST(WriteAutostartTest, CreatesAndRemovesTheEntry) {
    tavlo::test::TempDir configHome;
    tavlo::test::ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", configHome.path());
    const std::string appName = port::ApplicationName();
    const std::string programFile = GetProgramFileName(port::ExecutablePath());
    ASSERT_FALSE(appName.empty());

    std::string command;
    ASSERT_FALSE(port::GetAutostartEntry(appName, command)) << command;

    WriteAutostart(true);
    ASSERT_TRUE(port::GetAutostartEntry(appName, command));
    EXPECT_NE(command.find(programFile), std::string::npos) << command;

    WriteAutostart(false);
    EXPECT_FALSE(port::GetAutostartEntry(appName, command));
}

} // namespace
