// The blocked list on its own: the matching rule, Blocklist.txt as text and
// as a file (line ends, empty lines, NUL bytes, the caps), and the
// occurrence rule of equal entries.
#include "config/BlockedSenders.h"

#include "platform/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::vector<BlockedSender> List(const Lines& texts) {
    std::vector<BlockedSender> list;
    for (const std::string& text : texts)
        list.push_back(BlockedSender{text});
    return list;
}

Lines Texts(const std::vector<BlockedSender>& list) {
    Lines texts;
    for (const BlockedSender& entry : list)
        texts.push_back(entry.m_strAddress);
    return texts;
}

TEST(BlockedSenderMatcherTest, DomainsParentDomainsAddressesAndLetterCase) {
    struct Case {
        const char* why;
        Lines entries;
        std::string address;
        bool blocked;
    };
    const Case cases[] = {
        {"domain entry, its address", {"example.com"}, "joe@example.com", true},
        {"domain entry, a direct sub-domain", {"example.com"}, "joe@mail.example.com", true},
        {"only one label is stripped", {"example.com"}, "joe@a.b.example.com", false},
        {"letter case is ignored", {"example.com"}, "JOE@EXAMPLE.COM", true},
        {"entry in capitals", {"EXAMPLE.com"}, "joe@example.COM", true},
        {"Windows-1252 letters fold too", {"\xC5sa@example.com"}, "\xE5sa@example.com", true},
        {"address entry, that address", {"joe@example.com"}, "Joe@Example.com", true},
        {"address entry, another address", {"joe@example.com"}, "ann@example.com", false},
        {"address entry, a sub-domain", {"joe@example.com"}, "joe@mail.example.com", false},
        {"every occurrence of the first label goes", {"b.example"}, "u@x.b.x.example", true},
        {"every occurrence of the local part goes", {"b.example"}, "x@b.x@example", true},
        {"local part removed everywhere", {"b.org"}, "a@b.a@org", true},
        {"text without @: whole", {"example.com"}, "example.com", true},
        {"text without @: first label with two dots", {"example.com"}, "www.example.com", true},
        {"text without @ and one dot is not stripped", {"com"}, "example.com", false},
        {"one dot: no parent step", {"org"}, "joe@example.org", false},
        {"whole texts only, no suffixes", {"ample.com"}, "joe@example.com", false},
        {"blanks are part of the text", {" example.com"}, "joe@example.com", false},
        {"display text is not an address", {"example.com"}, "Joe <joe@example.com>", false},
        {"second entry matches", {"a.org", "example.com"}, "joe@example.com", true},
        {"empty list", {}, "joe@example.com", false},
        // An empty line of a hand-edited file must not block the messages
        // whose sender could not be read (no From, a failed download).
        {"empty entry, empty address", {""}, "", false},
        {"empty entry, address with nothing after @", {""}, "joe@", false},
        {"empty address with entries", {"example.com"}, "", false},
    };
    for (const Case& c : cases) {
        const BlockedSenderMatcher matcher(List(c.entries));
        EXPECT_EQ(matcher.IsBlocked(c.address), c.blocked) << c.why << ": " << c.address;
    }
}

TEST(BlocklistTextTest, LinesBecomeEntriesAndSavingWritesCrLf) {
    struct Case {
        const char* why;
        std::string text;
        Lines entries;
        std::string saved;
    };
    const Case cases[] = {
        {"empty line and no final line end", "a\r\n\r\nb", {"a", "", "b"}, "a\r\n\r\nb\r\n"},
        {"LF alone ends a line", "a\nb\n", {"a", "b"}, "a\r\nb\r\n"},
        {"a CR not before LF is text", "a\rb\r\r\n", {"a\rb\r"}, "a\rb\r\r\n"},
        {"empty text", "", {}, ""},
        {"one empty line", "\r\n", {""}, "\r\n"},
        {"text is kept exactly",
         "  Joe@Example.COM \r\n",
         {"  Joe@Example.COM "},
         "  Joe@Example.COM \r\n"},
        {"an entry ends at a NUL", std::string("ab\0cd\r\nx\0", 10), {"ab", "x"}, "ab\r\nx\r\n"},
        {"only NULs", std::string("\0\0\n", 3), {""}, "\r\n"},
    };
    for (const Case& c : cases) {
        std::vector<BlockedSender> list;
        EXPECT_TRUE(BlockedSendersFromText(c.text, true, list)) << c.why;
        EXPECT_EQ(Texts(list), c.entries) << c.why;
        EXPECT_EQ(BlockedSendersToText(list), c.saved) << c.why;
        // What was saved reads back as the same list.
        std::vector<BlockedSender> again;
        BlockedSendersFromText(BlockedSendersToText(list), true, again);
        EXPECT_EQ(Texts(again), c.entries) << c.why;
    }
}

TEST(BlocklistTextTest, EntriesAreAppendedAfterWhatTheListHolds) {
    std::vector<BlockedSender> list = List({"first"});
    BlockedSendersFromText("second\r\n", true, list);
    EXPECT_EQ(Texts(list), (Lines{"first", "second"}));
}

TEST(BlocklistTextTest, CapsCutTheListAtAWholeLine) {
    std::string many;
    for (std::size_t i = 0; i < kMaxBlockedSenders + 5; ++i)
        many += "x\n";
    std::vector<BlockedSender> list;
    EXPECT_FALSE(BlockedSendersFromText(many, true, list));
    EXPECT_EQ(list.size(), kMaxBlockedSenders);

    // A text that is only the beginning of the file: its last line may be
    // cut in two, so it is dropped.
    list.clear();
    EXPECT_FALSE(BlockedSendersFromText("a\r\nb\r\npartial-entr", false, list));
    EXPECT_EQ(Texts(list), (Lines{"a", "b"}));
}

class BlocklistFileTest : public ::testing::Test {
protected:
    tavlo::test::TempDir m_dir;
    std::string m_path = m_dir.file(kBlocklistFileName);
};

TEST_F(BlocklistFileTest, RoundTripOfTheBytesAndAMissingFile) {
    std::vector<BlockedSender> list;
    EXPECT_EQ(LoadBlockedSenders(m_path, list), BlocklistLoad::Missing);
    EXPECT_TRUE(list.empty());

    ASSERT_TRUE(port::WriteFileAtomically(m_path, "a\r\n\r\nb"));
    EXPECT_EQ(LoadBlockedSenders(m_path, list), BlocklistLoad::Loaded);
    EXPECT_EQ(Texts(list), (Lines{"a", "", "b"}));

    ASSERT_TRUE(SaveBlockedSenders(m_path, list));
    std::string bytes;
    ASSERT_EQ(port::ReadWholeFile(m_path, bytes), port::FileReadResult::Ok);
    EXPECT_EQ(bytes, "a\r\n\r\nb\r\n");

    ASSERT_TRUE(SaveBlockedSenders(m_path, {}));
    ASSERT_EQ(port::ReadWholeFile(m_path, bytes), port::FileReadResult::Ok);
    EXPECT_EQ(bytes, "");
}

TEST_F(BlocklistFileTest, AFileBeyondTheByteCapIsReadInPartAndSaidSo) {
    // Many megabytes on one line and then more: the list takes the whole
    // lines within the cap and nothing else.
    std::string content = "first@example.com\r\nsecond.example\r\n";
    content += std::string(kMaxBlocklistBytes, 'z');
    content += "\r\nlast.example\r\n";
    ASSERT_TRUE(port::WriteFileAtomically(m_path, content));

    std::vector<BlockedSender> list;
    EXPECT_EQ(LoadBlockedSenders(m_path, list), BlocklistLoad::Cut);
    EXPECT_EQ(Texts(list), (Lines{"first@example.com", "second.example"}));
}

TEST_F(BlocklistFileTest, AFailedSaveReportsAMessageThatNamesTheFile) {
    const std::string inMissingFolder = m_dir.file("no-such-folder") + "/" + kBlocklistFileName;
    EXPECT_FALSE(SaveBlockedSenders(inMissingFolder, List({"a"})));
    const std::string message = BlocklistWriteError(inMissingFolder, 2);
    EXPECT_NE(message.find(inMissingFolder), std::string::npos) << message;
    EXPECT_NE(BlocklistTooLargeError(m_path).find(m_path), std::string::npos);
}

TEST(BlockedSenderOccurrenceTest, EqualEntriesAreTakenInListOrder) {
    std::vector<BlockedSender> list = List({"b.org", "A.org", "b.org", "a.org", "b.org"});
    // Letter case counts: "a.org" is not "A.org".
    ASSERT_NE(FindBlockedSender(list, "a.org", 1), nullptr);
    EXPECT_EQ(FindBlockedSender(list, "a.org", 1), &list[3]);
    EXPECT_EQ(FindBlockedSender(list, "b.org", 3), &list[4]);
    EXPECT_EQ(FindBlockedSender(list, "b.org", 4), nullptr);
    EXPECT_EQ(FindBlockedSender(list, "b.org", 0), nullptr);

    EXPECT_TRUE(RemoveBlockedSender(list, "b.org", 2));
    EXPECT_EQ(Texts(list), (Lines{"b.org", "A.org", "a.org", "b.org"}));
    EXPECT_FALSE(RemoveBlockedSender(list, "B.org", 1));
    EXPECT_EQ(list.size(), 4u);
}

} // namespace
