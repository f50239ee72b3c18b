#include "platform/headless/FileProfileStore.h"

#include "platform/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

namespace {

using tavlo::test::TempDir;

const char* const kPrefix = "HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo";

std::string AllBytes() {
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

// prefix followed by the number (appended: GCC 12 misreads "x" + to_string()
// at -O3 as an overlapping copy).
std::string Numbered(const std::string& prefix, std::size_t n) {
    std::string name = prefix;
    name += std::to_string(n);
    return name;
}

class FileProfileStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<port::FileProfileStore> MakeStore() {
        return std::make_unique<port::FileProfileStore>(
            m_path, kPrefix, [this](const std::string& message) { m_problems.push_back(message); });
    }

    std::string FileContent() const { return ContentOf(m_path); }

    static std::string ContentOf(const std::string& path) {
        std::string content;
        EXPECT_EQ(port::ReadWholeFile(path, content), port::FileReadResult::Ok) << path;
        return content;
    }

    void PutFile(const std::string& content) {
        ASSERT_TRUE(port::WriteFileAtomically(m_path, content));
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("settings.reg");
    std::vector<std::string> m_problems;
};

TEST_F(FileProfileStoreTest, MissingFileGivesDefaultsAndReadsCreateNothing) {
    auto store = MakeStore();
    EXPECT_EQ(store->GetInt("App", "SearchForMail", 9), 9u);
    EXPECT_EQ(store->GetString("App", "MailClient", "Outlook"), "Outlook");
    EXPECT_EQ(store->GetString("App", "MyMailClient"), "");
    EXPECT_FALSE(port::FileExists(m_path));
    EXPECT_TRUE(m_problems.empty());
}

TEST_F(FileProfileStoreTest, FileHasTheDocumentedFormatAndKeepsOrder) {
    auto store = MakeStore();
    ASSERT_TRUE(store->WriteInt("App", "SearchForMail", 10));
    ASSERT_TRUE(store->WriteString("App", "MailClient", "Thunderbird"));
    ASSERT_TRUE(store->WriteString("User", "Accounts", "Home\nme\n"));
    ASSERT_TRUE(store->WriteInt("App", "Sound", 0));
    ASSERT_TRUE(store->WriteInt("App", "SearchForMail", 0xdeadbeef)); // keeps its place
    EXPECT_EQ(FileContent(), "Tavlo Settings Version 1\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo\\App]\n"
                             "\"SearchForMail\"=dword:deadbeef\n"
                             "\"MailClient\"=\"Thunderbird\"\n"
                             "\"Sound\"=dword:00000000\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo\\User]\n"
                             "\"Accounts\"=\"Home\\nme\\n\"\n");
}

TEST_F(FileProfileStoreTest, EveryByteOneToTwoFiftyFiveSurvivesInTextsAndNames) {
    const std::string all = AllBytes();
    // Neighbours that a sloppy escape would merge or split.
    const std::string tricky[] = {
        "\x01"
        "1",
        "\x7f"
        "f",
        "\\x41",
        "\\",
        "\"\"",
        "a\\\"b",
        "\r\n",
        "\n\n",
        "x\t",
        "\xff\x80",
        " lead",
        "trail ",
    };
    {
        auto store = MakeStore();
        ASSERT_TRUE(store->WriteString("App", all, all));
        ASSERT_TRUE(store->WriteString(all, "text", all));
        for (std::size_t i = 0; i < std::size(tricky); ++i)
            ASSERT_TRUE(store->WriteString("Tricky", Numbered(tricky[i], i), tricky[i]));
    }
    auto store = MakeStore(); // a fresh store reads the file
    EXPECT_EQ(store->GetString("App", all, "missing"), all);
    EXPECT_EQ(store->GetString(all, "text", "missing"), all);
    for (std::size_t i = 0; i < std::size(tricky); ++i)
        EXPECT_EQ(store->GetString("Tricky", Numbered(tricky[i], i), "missing"), tricky[i]) << i;
    // One line per entry, printable ASCII only.
    const std::string content = FileContent();
    std::size_t lines = 0;
    for (const char c : content) {
        const auto byte = static_cast<unsigned char>(c);
        lines += c == '\n';
        EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte < 0x7f)) << static_cast<int>(byte);
    }
    // The header, then per section a blank line, the section line and its values.
    EXPECT_EQ(lines, 1u + (2 + 1) + (2 + 1) + (2 + std::size(tricky)));
    EXPECT_TRUE(m_problems.empty());
}

TEST_F(FileProfileStoreTest, ValuesKeepTheirTypes) {
    auto store = MakeStore();
    ASSERT_TRUE(store->WriteInt("App", "Zero", 0));
    ASSERT_TRUE(store->WriteInt("App", "Max", 0xffffffff));
    ASSERT_TRUE(store->WriteInt("App", "Two", 2));
    ASSERT_TRUE(store->WriteInt("App", "Letters", 0x44434241));
    ASSERT_TRUE(store->WriteString("App", "Text", "5"));
    EXPECT_EQ(store->GetInt("App", "Zero", 7), 0u);
    EXPECT_EQ(store->GetInt("App", "Max", 7), 0xffffffffu);
    // A text is not a 4-byte integer, whatever it says.
    EXPECT_EQ(store->GetInt("App", "Text", 7), 7u);
    // An integer read as a text gives its bytes up to the first zero byte,
    // as a registry REG_DWORD does: an older numeric "MailClient" is then
    // recognisably none of the names.
    EXPECT_EQ(store->GetString("App", "Two", "Outlook"), "\x02");
    EXPECT_EQ(store->GetString("App", "Zero", "Outlook"), "");
    EXPECT_EQ(store->GetString("App", "Letters", "x"), "ABCD");
    // A write changes the type.
    ASSERT_TRUE(store->WriteString("App", "Two", "Custom"));
    EXPECT_EQ(store->GetInt("App", "Two", 7), 7u);
    EXPECT_EQ(store->GetString("App", "Two"), "Custom");
}

TEST_F(FileProfileStoreTest, NamesIgnoreAsciiCaseLikeTheRegistry) {
    auto store = MakeStore();
    ASSERT_TRUE(store->WriteInt("App", "Sound", 1));
    EXPECT_EQ(store->GetInt("app", "SOUND", 7), 1u);
    ASSERT_TRUE(store->WriteInt("APP", "sound", 0));
    EXPECT_EQ(store->GetInt("App", "Sound", 7), 0u);
    const std::string content = FileContent();
    EXPECT_NE(content.find("\"Sound\"=dword:00000000"), std::string::npos) << content;
    EXPECT_EQ(content.find("sound"), std::string::npos) << content;
    // Bytes beyond ASCII are not folded.
    ASSERT_TRUE(store->WriteInt("App", "\xc4", 1));
    EXPECT_EQ(store->GetInt("App", "\xe4", 7), 7u);
}

TEST_F(FileProfileStoreTest, TextsAndNamesEndAtTheirFirstZeroByte) {
    auto store = MakeStore();
    ASSERT_TRUE(store->WriteString("App", std::string("Na\0me", 5), std::string("ab\0cd", 5)));
    EXPECT_EQ(store->GetString("App", "Na"), "ab");
}

TEST_F(FileProfileStoreTest, StoresSeeEachOthersWrites) {
    auto first = MakeStore();
    auto second = MakeStore();
    EXPECT_EQ(second->GetInt("App", "Minimized", 5), 5u);
    ASSERT_TRUE(first->WriteInt("App", "Minimized", 1));
    EXPECT_EQ(second->GetInt("App", "Minimized", 5), 1u);
    ASSERT_TRUE(second->WriteInt("App", "Minimized", 0));
    ASSERT_TRUE(second->WriteString("App", "MySound", "/s/Pling.wav"));
    EXPECT_EQ(first->GetInt("App", "Minimized", 5), 0u);
    EXPECT_EQ(first->GetString("App", "MySound"), "/s/Pling.wav");
}

TEST_F(FileProfileStoreTest, ConcurrentWritersLoseNoValue) {
    constexpr int kPerWriter = 40;
    auto writeMany = [this](const std::string& prefix) {
        auto store = MakeStore();
        for (int i = 0; i < kPerWriter; ++i)
            EXPECT_TRUE(store->WriteInt("App", Numbered(prefix, static_cast<std::size_t>(i)), i));
    };
    std::thread a(writeMany, "a");
    std::thread b(writeMany, "b");
    a.join();
    b.join();
    auto store = MakeStore();
    for (int i = 0; i < kPerWriter; ++i) {
        EXPECT_EQ(store->GetInt("App", Numbered("a", static_cast<std::size_t>(i)), 999),
                  static_cast<unsigned>(i));
        EXPECT_EQ(store->GetInt("App", Numbered("b", static_cast<std::size_t>(i)), 999),
                  static_cast<unsigned>(i));
    }
}

TEST_F(FileProfileStoreTest, FailedWriteLeavesTheFileAsItWas) {
    MakeStore()->WriteInt("App", "Sound", 1);
    const std::string before = FileContent();
    std::string attempted;
    port::FileProfileStore store(
        m_path, kPrefix, [this](const std::string& m) { m_problems.push_back(m); },
        [&attempted](const std::string&, const std::string& content) {
            attempted = content; // the new file, never written
            return false;
        });
    EXPECT_FALSE(store.WriteInt("App", "Sound", 0));
    EXPECT_NE(attempted.find("\"Sound\"=dword:00000000"), std::string::npos);
    EXPECT_EQ(FileContent(), before);
    EXPECT_EQ(store.GetInt("App", "Sound", 7), 1u);
}

TEST_F(FileProfileStoreTest, WriteCreatesTheMissingFolder) {
    const std::string nested = m_dir.file("a") + "/b/settings.reg";
    port::FileProfileStore store(nested, kPrefix);
    ASSERT_TRUE(store.WriteString("App", "MyAnimation", "x"));
    EXPECT_EQ(store.GetString("App", "MyAnimation"), "x");
    // A file where the folder should be: the write fails, nothing breaks.
    ASSERT_TRUE(port::WriteFileAtomically(m_dir.file("blocker"), "file"));
    port::FileProfileStore blocked(m_dir.file("blocker") + "/settings.reg", kPrefix,
                                   [this](const std::string& m) { m_problems.push_back(m); });
    EXPECT_FALSE(blocked.WriteInt("App", "Sound", 1));
    EXPECT_EQ(blocked.GetInt("App", "Sound", 7), 7u);
}

struct BadFile {
    const char* what;
    std::string content;
    std::size_t line;
    const char* reason; // part of the message
};

TEST_F(FileProfileStoreTest, UnparseableFileIsReportedOnceSetAsideAndNeverOverwritten) {
    const std::string header = "Tavlo Settings Version 1\n";
    const std::string section = "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo\\App]\n";
    const BadFile cases[] = {
        {"wrong header", "REGEDIT4\n", 1, "first line"},
        {"stray line", header + section + "Sound=1\n", 3, "neither"},
        {"value before section", header + "\"Sound\"=dword:00000001\n", 2,
         "before the first section"},
        {"unknown escape", header + section + "\"a\"=\"\\q\"\n", 3, "unknown escape \\q"},
        {"zero byte", header + section + "\"a\"=\"x\\x00\"\n", 3, "zero byte"},
        {"short \\x", header + section + "\"a\"=\"\\x4\"\n", 3, "hex digits"},
        {"short dword", header + "\n" + section + "\"a\"=dword:1\n", 4, "eight hex digits"},
        {"missing quote", header + section + "\"a\"=\"open\n", 3, "closing quote"},
        {"text after value", header + section + "\"a\"=\"v\" x\n", 3, "after the closing quote"},
        {"raw control byte", header + section + "\"a\"=\"\x01\"\n", 3, "control byte 0x01"},
        {"section without ]", header + "[HKEY_CURRENT_USER\n", 2, "closing ]"},
        {"binary junk",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0",
                     9),
         1, "first line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_problems.clear();
        port::RemoveFile(m_path + ".bad");
        PutFile(c.content);
        auto store = MakeStore();
        EXPECT_EQ(store->GetInt("App", "Sound", 7), 7u);
        ASSERT_EQ(m_problems.size(), 1u);
        const std::string& message = m_problems[0];
        EXPECT_NE(message.find(m_path), std::string::npos) << message;
        EXPECT_NE(message.find("line " + std::to_string(c.line) + ":"), std::string::npos)
            << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_NE(message.find(m_path + ".bad\""), std::string::npos) << message;
        EXPECT_FALSE(port::FileExists(m_path));
        EXPECT_EQ(ContentOf(m_path + ".bad"), c.content);
        // Runs on defaults without repeating itself; writes start afresh.
        EXPECT_EQ(store->GetString("App", "MySound", "d"), "d");
        ASSERT_TRUE(store->WriteInt("App", "Sound", 0));
        EXPECT_EQ(store->GetInt("App", "Sound", 7), 0u);
        EXPECT_EQ(m_problems.size(), 1u);
        EXPECT_EQ(ContentOf(m_path + ".bad"), c.content);
    }
}

TEST_F(FileProfileStoreTest, AnOlderBadFileIsKeptAndTheNewOneNumbered) {
    ASSERT_TRUE(port::WriteFileAtomically(m_path + ".bad", "older"));
    ASSERT_TRUE(port::WriteFileAtomically(m_path + ".bad-1", "old"));
    PutFile("garbage\n");
    auto store = MakeStore();
    EXPECT_EQ(store->GetInt("App", "Sound", 7), 7u);
    EXPECT_EQ(ContentOf(m_path + ".bad"), "older");
    EXPECT_EQ(ContentOf(m_path + ".bad-1"), "old");
    EXPECT_EQ(ContentOf(m_path + ".bad-2"), "garbage\n");
    ASSERT_EQ(m_problems.size(), 1u);
    EXPECT_NE(m_problems[0].find(".bad-2"), std::string::npos) << m_problems[0];
}

TEST_F(FileProfileStoreTest, HandEditedFormsAreRead) {
    PutFile("Tavlo Settings Version 1\r\n"
            "; a comment\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo\\\\x41pp]\r\n" // "App" with an escape
            "\"Hex\"=dword:0000ABcd\r\n"
            "\"Raw\"=\"tab\there \xe5\xe4\xf6\"\r\n"
            "\"Twice\"=\"first\"\r\n"
            "\"Twice\"=\"second\"\r\n"
            "[hkey_current_user\\software\\tavlo\\TAVLO\\User]\r\n"
            "\"Accounts\"=\"\"\n"
            "\"Quote\"=\"say \\\"hi\\\" \\\\o/\""); // no final line feed
    auto store = MakeStore();
    EXPECT_EQ(store->GetInt("App", "Hex", 0), 0xabcdu);
    EXPECT_EQ(store->GetString("App", "Raw"), "tab\there \xe5\xe4\xf6");
    EXPECT_EQ(store->GetString("App", "Twice"), "second");
    EXPECT_EQ(store->GetString("User", "Accounts", "none"), "");
    EXPECT_EQ(store->GetString("User", "Quote"), "say \"hi\" \\o/");
    EXPECT_TRUE(m_problems.empty()) << m_problems[0];
}

TEST_F(FileProfileStoreTest, OtherApplicationsSectionsSurviveARewrite) {
    PutFile("Tavlo Settings Version 1\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo2\\App]\n"
            "\"Sound\"=dword:00000001\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo\\App]\n"
            "; dropped on rewrite\n"
            "\"Sound\"=dword:00000001\n");
    auto store = MakeStore();
    ASSERT_TRUE(store->WriteInt("App", "Sound", 0));
    EXPECT_EQ(FileContent(), "Tavlo Settings Version 1\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo2\\App]\n"
                             "\"Sound\"=dword:00000001\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo\\App]\n"
                             "\"Sound\"=dword:00000000\n");
    port::FileProfileStore other(m_path, "HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo2");
    EXPECT_EQ(other.GetInt("App", "Sound", 7), 1u);
}

TEST_F(FileProfileStoreTest, EmptyFileIsAnEmptyStore) {
    PutFile("");
    auto store = MakeStore();
    EXPECT_EQ(store->GetInt("App", "Sound", 7), 7u);
    EXPECT_TRUE(m_problems.empty());
    EXPECT_TRUE(port::FileExists(m_path));
}

} // namespace
