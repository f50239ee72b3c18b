#include "platform/Paths.h"

#include "platform/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <cctype>
#include <gtest/gtest.h>
#include <optional>

namespace {

using tavlo::test::ScopedEnv;
using tavlo::test::TempDir;

bool Windows() {
    return port::PathSeparator() == '\\';
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct NameCase {
    const char* path;
    const char* parent;
    const char* name;
    bool windowsOnly;
};

const NameCase kNameCases[] = {
    {"/opt/tavlo/tavlo", "/opt/tavlo/", "tavlo", false},
    {"/opt/t.d/tavlo", "/opt/t.d/", "tavlo", false},
    {"a.b.exe", "", "a.b", false},
    {"/x/.hidden", "/x/", ".hidden", false},
    {"/x/", "/x/", "", false},
    {"C:\\Apps\\Tavlo\\Tavlo.exe", "C:\\Apps\\Tavlo\\", "Tavlo", true},
    {"C:/mixed\\dir/run.EXE", "C:/mixed\\dir/", "run", true},
};

TEST(PathsTest, FileNameAndParentFolderOfPaths) {
    for (const auto& c : kNameCases) {
        if (c.windowsOnly && !Windows())
            continue;
        SCOPED_TRACE(c.path);
        EXPECT_EQ(port::ParentFolder(c.path), c.parent);
        EXPECT_EQ(port::FileNameWithoutExtension(c.path), c.name);
    }
    if (!Windows()) {
        // A backslash is an ordinary character in POSIX names.
        EXPECT_EQ(port::FileNameWithoutExtension("/x/dir\\name.exe"), "dir\\name");
        EXPECT_EQ(port::ParentFolder("dir\\name"), "");
    }
}

TEST(PathsTest, ExecutableIsTheRunningTestProgram) {
    const std::string exe = port::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(port::FileExists(exe)) << exe;
    EXPECT_EQ(Lower(port::ApplicationName()), "tavlo_unit_tests");
    const std::string expectedEnd = Windows() ? "tavlo_unit_tests.exe" : "tavlo_unit_tests";
    ASSERT_GE(exe.size(), expectedEnd.size());
    EXPECT_EQ(Lower(exe.substr(exe.size() - expectedEnd.size())), expectedEnd);
}

#ifdef _WIN32
// The program folder is the data folder on Windows only.
TEST(PathsTest, UserDataFolderOnWindowsIsTheProgramFolder) {
    EXPECT_EQ(port::UserDataFolder(), port::ParentFolder(port::ExecutablePath()));
    EXPECT_EQ(port::UserDataFolder().back(), '\\');
}
#else

struct DataFolderCase {
    const char* what;
    std::optional<std::string> tavloHome;
    std::optional<std::string> xdgConfigHome;
    std::optional<std::string> home;
    std::string expected;
};

// The environment names the data folder on POSIX only.
TEST(PathsTest, UserDataFolderFollowsTheEnvironment) {
    const DataFolderCase cases[] = {
        {"TAVLO_HOME wins", "/data/tavlo", "/xdg", "/home/u", "/data/tavlo/"},
        {"TAVLO_HOME keeps one slash", "/data/tavlo/", std::nullopt, "/home/u", "/data/tavlo/"},
        {"empty TAVLO_HOME is unset", "", "/xdg", "/home/u", "/xdg/tavlo/"},
        {"XDG_CONFIG_HOME", std::nullopt, "/xdg/", "/home/u", "/xdg/tavlo/"},
        {"relative XDG_CONFIG_HOME is ignored", std::nullopt, "rel/xdg", "/home/u",
         "/home/u/.config/tavlo/"},
        {"empty XDG_CONFIG_HOME is ignored", std::nullopt, "", "/home/u", "/home/u/.config/tavlo/"},
        {"HOME", std::nullopt, std::nullopt, "/home/u", "/home/u/.config/tavlo/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ScopedEnv tavloHome("TAVLO_HOME", c.tavloHome);
        const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
        const ScopedEnv home("HOME", c.home);
        EXPECT_EQ(port::UserDataFolder(), c.expected);
    }
}

TEST(PathsTest, UserDataFolderWithoutHomeAsksTheUserDatabase) {
    const ScopedEnv tavloHome("TAVLO_HOME", std::nullopt);
    const ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    const ScopedEnv home("HOME", std::nullopt);
    const std::string folder = port::UserDataFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.substr(folder.size() - 15), "/.config/tavlo/");
}
#endif

TEST(PathsTest, CreateFoldersMakesParentsAndAcceptsExistingFolders) {
    const TempDir dir;
    const char sep = port::PathSeparator();
    const std::string deep = dir.file("a") + sep + "b" + sep + "c";
    EXPECT_TRUE(port::CreateFolders(deep));
    EXPECT_TRUE(port::IsFolder(deep));
    EXPECT_TRUE(port::CreateFolders(deep));                   // exists already
    EXPECT_TRUE(port::CreateFolders(deep + sep + "d" + sep)); // trailing separator
    EXPECT_TRUE(port::IsFolder(deep + sep + "d"));
    EXPECT_FALSE(port::CreateFolders(""));
}

TEST(PathsTest, CreateFoldersFailsWhereAFileIsInTheWay) {
    const TempDir dir;
    const std::string file = dir.file("plain");
    ASSERT_TRUE(port::WriteFileAtomically(file, "x"));
    EXPECT_FALSE(port::CreateFolders(file));
    EXPECT_FALSE(port::CreateFolders(file + port::PathSeparator() + "sub"));
    std::string content;
    ASSERT_EQ(port::ReadWholeFile(file, content), port::FileReadResult::Ok);
    EXPECT_EQ(content, "x");
}

} // namespace
