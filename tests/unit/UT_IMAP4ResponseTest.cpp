// IMAP4 reply parsing: the tag counter, the tokeniser, flag lists, STATUS
// and LIST lines, and the client's reading of replies from a scripted
// server - completions, untagged data, response codes, FETCH literals and
// the faults of broken or hostile servers.
#include "UT_IMAP4TestScripts.h"
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_IMAP4Client.h"
#include "support/ScriptedServer.h"
#include "support/SourceContent.h"
#include "support/TestEnv.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tavlo::test;
using namespace tavlo::test::imap4;
using Clock = std::chrono::steady_clock;

// --- the tag counter ---------------------------------------------------------------

TEST(ImapTagTest, CountsFromA0001AndWrapsAfterA9999) {
    imap::SetNextTagValue(1);
    char tag[imap::kTagSize];
    imap::NextTag(tag);
    EXPECT_STREQ(tag, "A0001 ");
    imap::NextTag(tag);
    EXPECT_STREQ(tag, "A0002 ");

    imap::SetNextTagValue(9999);
    imap::NextTag(tag);
    EXPECT_STREQ(tag, "A9999 ");
    imap::NextTag(tag);
    EXPECT_STREQ(tag, "A0000 ");
    imap::NextTag(tag);
    EXPECT_STREQ(tag, "A0001 ");
    EXPECT_EQ(imap::PeekNextTagValue(), 2);
}

// --- tokens and numbers --------------------------------------------------------------

struct TokenCase {
    const char* text;
    const char* delimiters;
    int index;
    int size;
    char quote;
    int rc;
    const char* out;
};

class ImapGetTokenTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(ImapGetTokenTest, FindsTheToken) {
    const TokenCase& c = GetParam();
    char out[64];
    std::memset(out, 'z', sizeof out);
    EXPECT_EQ(imap::GetToken(c.text, c.delimiters, c.index, out, c.size, c.quote), c.rc);
    EXPECT_STREQ(out, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImapGetTokenTest,
    ::testing::Values(
        TokenCase{"* 18 EXISTS\r\n", " \r\n", 0, 64, 0, 0, "*"},
        TokenCase{"* 18 EXISTS\r\n", " \r\n", 2, 64, 0, 0, "EXISTS"},
        TokenCase{"* 18 EXISTS\r\n", " \r\n", 3, 64, 0, 1, ""}, // no such token
        TokenCase{"  a   b  ", " ", 1, 64, 0, 0, "b"},          // runs of delimiters
        TokenCase{"* STATUS \"My Box\" (X)", " ", 2, 64, '"', 0, "\"My Box\""}, // quoted
        TokenCase{"* STATUS \"My Box\" (X)", " ", 2, 64, 0, 0, "\"My"},         // without a quote
        TokenCase{"abcdef", " ", 0, 6, 0, 1, ""},                               // does not fit
        TokenCase{"abcdef", " ", 0, 7, 0, 0, "abcdef"},                         // fits exactly
        TokenCase{"abc", "", 0, 64, 0, 1, ""},                                  // no delimiters
        TokenCase{"", " ", 0, 64, 0, 1, ""}));

TEST(ImapTokenReaderTest, WalksTheTokensOfGetTokenInOrder) {
    const std::string_view text = "  * STATUS \"My Box\"  (UNSEEN 3)\r\n";
    for (const char quote : {'\0', '"'}) {
        imap::TokenReader tokens(text, " \r\n", quote);
        std::string_view token;
        int index = 0;
        for (; tokens.Next(token); ++index) {
            char expected[64];
            ASSERT_EQ(imap::GetToken(std::string(text).c_str(), " \r\n", index, expected,
                                     sizeof expected, quote),
                      0);
            EXPECT_EQ(token, expected) << "token " << index;
        }
        EXPECT_EQ(index, quote == '\0' ? 6 : 5);
        EXPECT_TRUE(tokens.Rest().empty());
        EXPECT_FALSE(tokens.Next(token));
    }

    imap::TokenReader tokens("* SEARCH 2 5", " ");
    ASSERT_TRUE(tokens.Skip(2));
    EXPECT_EQ(tokens.Rest(), " 2 5");
    EXPECT_FALSE(tokens.Skip(3));
}

TEST(ImapGetTokenTest, MissingTextGivesOne) {
    char out[8] = "keep";
    EXPECT_EQ(imap::GetToken(nullptr, " ", 0, out, sizeof out), 1);
    EXPECT_STREQ(out, "");
}

TEST(ImapGetTokenNumberTest, ReadsTheTokenUpTo59Characters) {
    std::int32_t n = 5;
    EXPECT_EQ(imap::GetTokenNumber("* 42 EXISTS", " ", 1, n), 0);
    EXPECT_EQ(n, 42);
    const std::string longToken = "* " + std::string(60, '1');
    n = 5;
    EXPECT_EQ(imap::GetTokenNumber(longToken.c_str(), " ", 1, n), 1);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(imap::GetTokenNumber("* 42", " ", 2, n), 1);
    EXPECT_EQ(n, 5);
}

// --- flags -------------------------------------------------------------------------------

TEST(ImapFlagListTest, SetsBitsAndCollectsKeywords) {
    int bits = -1;
    std::string keywords = "old";
    imap::ParseFlagList("\\Answered \\Seen $Forwarded", bits, &keywords);
    EXPECT_EQ(bits, 9);
    EXPECT_EQ(keywords, "\\$Forwarded ");

    imap::ParseFlagList("\\seen \\DRAFT \\Flagged \\Deleted \\Recent \\*", bits, nullptr);
    EXPECT_EQ(bits, 8 | 16 | 2 | 4 | 32 | 64);

    imap::ParseFlagList("", bits, &keywords);
    EXPECT_EQ(bits, 0);
    EXPECT_EQ(keywords, "");
}

TEST(ImapFlagListTest, KeywordTextStaysBelow1000Characters) {
    std::string list;
    for (int i = 0; i < 200; ++i)
        list += "$Keyword" + std::to_string(i % 10) + " "; // kept as 11 characters each
    int bits = 0;
    std::string keywords;
    imap::ParseFlagList(list, bits, &keywords);
    EXPECT_LT(keywords.size(), 1000u);
    EXPECT_EQ(keywords.size(), 90u * 11u); // whole keywords only
    EXPECT_EQ(keywords.substr(keywords.size() - 11), "\\$Keyword9 ");
}

TEST(ImapFormatFlagsTest, WritesTheTextsOfTheSetBits) {
    char out[100];
    imap::FormatFlagBits(9, out, 70);
    EXPECT_STREQ(out, "\\Answered \\Seen");
    imap::FormatFlagBits(127, out, 70);
    EXPECT_STREQ(out, "\\Answered \\Flagged \\Deleted \\Seen \\Draft \\Recent \\*");
    imap::FormatFlagBits(0, out, 70);
    EXPECT_STREQ(out, "");

    std::strcpy(out, "untouched");
    imap::FormatFlagBits(9, out, 69);
    EXPECT_STREQ(out, "untouched");
}

// --- STATUS and LIST lines -------------------------------------------------------------

struct StatusCase {
    const char* name;
    const char* line;
    MailboxStatus expected;
};

class ImapStatusLineTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(ImapStatusLineTest, RefillsTheRecord) {
    MailboxStatus status{"stale", 1, 2, 3, 4, 5};
    imap::ParseStatusLine(GetParam().line, status);
    const MailboxStatus& e = GetParam().expected;
    EXPECT_EQ(status.name, e.name);
    EXPECT_EQ(status.messages, e.messages);
    EXPECT_EQ(status.recent, e.recent);
    EXPECT_EQ(status.unseen, e.unseen);
    EXPECT_EQ(status.uidNext, e.uidNext);
    EXPECT_EQ(status.uidValidity, e.uidValidity);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ImapStatusLineTest,
    ::testing::Values(
        StatusCase{"OnlyUnseen", "* STATUS INBOX (UNSEEN 3)\r\n", {"INBOX", 0, 0, 3, 0, 0}},
        StatusCase{"QuotedName",
                   "* STATUS \"INBOX\" (MESSAGES 12 UIDNEXT 345)\r\n",
                   {"\"INBOX\"", 12, 0, 0, 345, 0}},
        StatusCase{"AllFive",
                   "* status INBOX (messages 5 recent 1 unseen 2 uidnext 9 uidvalidity 7)\r\n",
                   {"INBOX", 5, 1, 2, 9, 7}},
        StatusCase{"UnknownItemSkipped",
                   "* STATUS INBOX (HIGHESTMODSEQ UNSEEN 4)\r\n",
                   {"INBOX", 0, 0, 4, 0, 0}},
        StatusCase{"UidValidityBeyond31Bits",
                   "* STATUS INBOX (UIDVALIDITY 3857529045 UIDNEXT 4294967295)\r\n",
                   {"INBOX", 0, 0, 0, -1, -437438251}},
        StatusCase{"NoItemList", "* STATUS INBOX\r\n", {"INBOX", 0, 0, 0, 0, 0}},
        StatusCase{"NumberMissing", "* STATUS INBOX (UNSEEN\r\n", {"INBOX", 0, 0, 0, 0, 0}},
        StatusCase{"Empty", "* STATUS\r\n", {"", 0, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ListCase {
    const char* name;
    const char* line;
    int attributes;
    const char* delimiter;
    const char* mailbox;
};

class ImapListLineTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ImapListLineTest, ReadsAttributesDelimiterAndName) {
    const ListCase& c = GetParam();
    const MailboxListEntry entry = imap::ParseListLine(c.line);
    EXPECT_EQ(entry.attributes, c.attributes);
    EXPECT_EQ(entry.delimiter, c.delimiter);
    EXPECT_EQ(entry.name, c.mailbox);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ImapListLineTest,
    ::testing::Values(
        ListCase{"QuotedName", "* LIST (\\Noselect) \"/\" \"~/Mail/foo\"\r\n", 2, "/",
                 "~/Mail/foo"},
        ListCase{"AtomName", "* LIST () \"/\" INBOX\r\n", 0, "/", "INBOX"},
        ListCase{"SeveralAttributes",
                 "* LIST (\\Marked \\HasNoChildren \\NoInferiors) \".\" \"INBOX.Sent\"\r\n", 5, ".",
                 "INBOX.Sent"},
        ListCase{"NilDelimiter", "* LSUB (\\Unmarked) NIL \"Top\"\r\n", 8, "NIL", "Top"},
        ListCase{"NameWithSpaceAndEscapes", "* LIST () \"/\" \"My \\\"Box\\\"\"\r\n", 0, "/",
                 "My \"Box\""},
        ListCase{"Truncated", "* LIST (\\Noselect\r\n", 2, "", ""},
        ListCase{"Empty", "* LIST\r\n", 0, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImapQuoteTest, EscapesBackslashAndQuote) {
    EXPECT_EQ(imap::QuoteString("user"), "\"user\"");
    EXPECT_EQ(imap::QuoteString("pa ss\"w\\d"), "\"pa ss\\\"w\\\\d\"");
    EXPECT_EQ(imap::QuoteString(""), "\"\"");
}

// --- replies from a server -------------------------------------------------------------

// A client that records its hooks.
class RecordingClient : public CUT_IMAP4Client {
public:
    ~RecordingClient() override { EndKeepAlive(); }

    void OnAlert(const char* text) override { alerts.emplace_back(text); }
    void OnExpunged(int number) override { expunged.push_back(number); }
    void OnFetchDone() override { ++fetchDone; }
    void OnExistsChanged(int count) override { exists.push_back(count); }
    void OnRecentChanged(int count) override { recent.push_back(count); }

    std::vector<std::string> alerts;
    std::vector<int> expunged;
    std::vector<int> exists;
    std::vector<int> recent;
    int fetchDone = 0;
};

class ImapReplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureSocketLayer();
        imap::SetNextTagValue(1);
    }
    void TearDown() override { client.reset(); }

    // Logs in on a server that then plays steps; faults end within seconds.
    void Open(std::vector<Step> steps, int responseTimeOut = 2) {
        server = std::make_unique<ScriptedServer>(LoggedIn(std::move(steps)));
        client = std::make_unique<RecordingClient>();
        client->SetResponseTimeOut(responseTimeOut);
        client->SetPort(server->port());
        ASSERT_EQ(client->OpenSession("127.0.0.1", "u", "p"), UT::Success);
    }

    // Logs in and selects INBOX (tag 2).
    void OpenSelected(std::vector<Step> steps) {
        std::vector<Step> all =
            Exchange(2, "SELECT \"INBOX\"", "A0002 OK [READ-WRITE] SELECT completed\r\n");
        all.insert(all.end(), steps.begin(), steps.end());
        Open(std::move(all));
        ASSERT_EQ(client->SelectMailbox("INBOX"), UT::Success);
    }

    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<RecordingClient> client;
};

struct CompletionCase {
    const char* name;
    const char* reply; // what the server sends after the NOOP of tag 2
    ResultCode rc;
    const char* text;
};

class ImapCompletionTest : public ImapReplyTest,
                           public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(ImapCompletionTest, StatusWordGivesTheResult) {
    const CompletionCase& c = GetParam();
    Open(Exchange(2, "NOOP", c.reply));
    EXPECT_EQ(client->KeepAlive(), c.rc);
    EXPECT_EQ(client->LastResponseText(), c.text);
}

const std::string kLongLineWithFakeCompletion =
    "* OK " + std::string(994, 'x') + "A0002 OK fake\r\nA0002 NO real\r\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, ImapCompletionTest,
    ::testing::Values(
        CompletionCase{"Ok", "A0002 OK NOOP completed\r\n", UT::Success, "NOOP completed\r\n"},
        CompletionCase{"OkLowerCase", "A0002 ok done\r\n", UT::Success, "done\r\n"},
        CompletionCase{"No", "A0002 NO not now\r\n", UT::Failed, "not now\r\n"},
        CompletionCase{"Bad", "A0002 BAD what?\r\n", UT::CommandBad, "what?\r\n"},
        CompletionCase{"OkAlone", "A0002 OK\r\n", UT::ResponseUnknown, "\n"},
        CompletionCase{"Unknown", "A0002 MAYBE so\r\n", UT::ResponseUnknown, "BE so\r\n"},
        CompletionCase{"OtherTagIsUntagged", "A0001 OK stale\r\nA0002 OK fresh\r\n", UT::Success,
                       "fresh\r\n"},
        CompletionCase{"ResponseCodeKept", "A0002 OK [READ-WRITE] done\r\n", UT::Success,
                       "[READ-WRITE] done\r\n"},
        // The rest of an over-long line is never read as a line of its own.
        CompletionCase{"LineContinuationIsNoCompletion", kLongLineWithFakeCompletion.c_str(),
                       UT::Failed, "real\r\n"},
        // Nor are the bytes of a literal, even on a line that is not FETCH data.
        CompletionCase{"LiteralOfOtherLineSkipped",
                       "* LIST () \"/\" {15}\r\nA0002 OK fake\r\n\r\nA0002 NO real\r\n", UT::Failed,
                       "real\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImapReplyTest, PendingEventsReachTheHooksOnceAfterTheCompletion) {
    Open(Join({Exchange(2, "NOOP",
                        "* 18 EXISTS\r\n* 2 RECENT\r\n* 5 EXPUNGE\r\nA0002 OK NOOP completed\r\n"),
               Exchange(3, "NOOP", "A0003 OK NOOP completed\r\n")}));
    EXPECT_EQ(client->GetMessageCount(), 0);
    ASSERT_EQ(client->KeepAlive(), UT::Success);
    EXPECT_EQ(client->exists, std::vector<int>{18});
    EXPECT_EQ(client->recent, std::vector<int>{2});
    EXPECT_EQ(client->expunged, std::vector<int>{5});
    EXPECT_EQ(client->GetMessageCount(), 17); // 18, less the message expunged after it
    EXPECT_EQ(client->GetRecentCount(), 2);
    ASSERT_EQ(client->KeepAlive(), UT::Success);
    EXPECT_EQ(client->exists.size(), 1u);
    EXPECT_EQ(client->expunged.size(), 1u);
}

struct ExpungeCase {
    const char* name;
    const char* reply; // to the EXPUNGE of tag 3, in a mailbox of 3 messages
    std::vector<int> expunged;
    int count;
};

class ImapExpungeTest : public ImapReplyTest, public ::testing::WithParamInterface<ExpungeCase> {};

TEST_P(ImapExpungeTest, EveryExpungeReachesTheHookAndLowersTheCount) {
    const ExpungeCase& c = GetParam();
    Open(Join({Exchange(2, "SELECT \"INBOX\"", "* 3 EXISTS\r\nA0002 OK [READ-WRITE] done\r\n"),
               Exchange(3, "EXPUNGE", c.reply), Logout(4)}));
    ASSERT_EQ(client->SelectMailbox("INBOX"), UT::Success);
    ASSERT_EQ(client->GetMessageCount(), 3);
    client->expunged.clear();
    ASSERT_EQ(client->ExpungeMailbox(), UT::Success);
    EXPECT_EQ(client->expunged, c.expunged);
    EXPECT_EQ(client->GetMessageCount(), c.count);
    EXPECT_EQ(client->CloseSession(), UT::Success);
    ASSERT_TRUE(server->WaitUntilFinished());
    EXPECT_EQ(server->errors(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ImapExpungeTest,
    ::testing::Values(
        ExpungeCase{
            "EachOne", "* 3 EXPUNGE\r\n* 1 EXPUNGE\r\nA0003 OK Expunge completed\r\n", {3, 1}, 1},
        ExpungeCase{"CompletionIsNoExpunge", "A0003 OK Expunge completed\r\n", {}, 3},
        ExpungeCase{"TaggedWordsAreNoMessageData",
                    "A0002 OK Exists\r\nA0001 OK Recent\r\nA0003 OK Expunge completed\r\n",
                    {},
                    3},
        ExpungeCase{"ExistsAfterTheExpungesCountsThem",
                    "* 2 EXPUNGE\r\n* 5 EXISTS\r\nA0003 OK done\r\n",
                    {2},
                    5},
        ExpungeCase{"ExistsBeforeTheExpunges",
                    "* 5 EXISTS\r\n* 2 EXPUNGE\r\n* 2 EXPUNGE\r\nA0003 OK done\r\n",
                    {2, 2},
                    3},
        ExpungeCase{"NeverBelowZero",
                    "* 1 EXPUNGE\r\n* 1 EXPUNGE\r\n* 1 EXPUNGE\r\n* 1 EXPUNGE\r\nA0003 OK done\r\n",
                    {1, 1, 1, 1},
                    0}),
    [](const auto& info) { return std::string(info.param.name); });

// "* SEARCH 1 2 ... n" with its CR LF.
std::string SearchReply(int n) {
    std::string line = "* SEARCH";
    for (int i = 1; i <= n; ++i) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict)
        // about a literal placed before a std::string.
        line += ' ';
        line += std::to_string(i);
    }
    return line + "\r\n";
}

TEST_F(ImapReplyTest, SearchReplyLongerThanOnePieceIsReadWhole) {
    const std::string reply = SearchReply(407); // about 1500 bytes
    ASSERT_GT(reply.size(), CUT_IMAP4Client::kMaxTextLength);
    OpenSelected(Join({Exchange(3, "SEARCH ALL", reply + "A0003 OK SEARCH completed\r\n"),
                       Exchange(4, "NOOP", "A0004 OK NOOP completed\r\n")}));
    ASSERT_EQ(client->SearchMessages("ALL", nullptr, false), UT::Success);
    ASSERT_EQ(client->SearchResultCount(), 407);
    for (int i = 0; i < 407; ++i) {
        int number = 0;
        ASSERT_EQ(client->GetSearchResult(i, number), UT::Success);
        ASSERT_EQ(number, i + 1);
    }
    // The reply stream is still in step.
    EXPECT_EQ(client->KeepAlive(), UT::Success);
    EXPECT_EQ(client->LastResponseText(), "NOOP completed\r\n");
}

// Replies of a hostile server that parsers scanning each line from its
// start for every token took seconds (minutes under ASan) to read: 4000
// lines of nearly 1000 bytes, each made of hundreds of tokens, within the
// reply cap.
std::string ManyLines(const std::string& head, const std::string& token, int tokens,
                      const std::string& tail) {
    std::string line = head;
    for (int i = 0; i < tokens; ++i)
        line += token;
    line += tail;
    std::string reply;
    reply.reserve(line.size() * 4000);
    for (int i = 0; i < 4000; ++i)
        reply += line;
    return reply;
}

TEST_F(ImapReplyTest, StatusRepliesOfManyItemsAreReadWhole) {
    const std::string reply =
        ManyLines("* STATUS INBOX (", "X ", 480, "UNSEEN 7)\r\n") + "A0002 OK done\r\n";
    ASSERT_GT(reply.size(), 3'900'000u);
    ASSERT_LT(reply.size(), static_cast<std::size_t>(CUT_IMAP4Client::kMaxReplyBytes));
    Open(Exchange(2, "STATUS \"INBOX\" (UNSEEN)", reply));
    MailboxStatus status{"stale", 1, 1, 1, 1, 1};
    ASSERT_EQ(client->QueryMailboxStatus("INBOX", "UNSEEN", status), UT::Success);
    EXPECT_EQ(status.name, "INBOX");
    EXPECT_EQ(status.unseen, 7);
    EXPECT_EQ(status.messages, 0);
    EXPECT_EQ(status.uidNext, 0);
}

TEST_F(ImapReplyTest, SearchRepliesOfManyNumbersAreReadWhole) {
    const std::string reply =
        ManyLines("* SEARCH", " 1", 490, " 2\r\n") + "A0003 OK SEARCH completed\r\n";
    ASSERT_GT(reply.size(), 3'900'000u);
    ASSERT_LT(reply.size(), static_cast<std::size_t>(CUT_IMAP4Client::kMaxReplyBytes));
    OpenSelected(Exchange(3, "SEARCH ALL", reply));
    ASSERT_EQ(client->SearchMessages("ALL", nullptr, false), UT::Success);
    ASSERT_EQ(client->SearchResultCount(), 4000 * 491);
    for (int i = 0; i < client->SearchResultCount(); ++i) {
        int number = 0;
        ASSERT_EQ(client->GetSearchResult(i, number), UT::Success);
        // Each line is 490 ones and a two.
        ASSERT_EQ(number, i % 491 == 490 ? 2 : 1) << "number " << i;
    }
}

TEST_F(ImapReplyTest, SearchReplyOverTheLineCapFailsTheCommand) {
    std::string reply = SearchReply(20000); // over 100 KiB
    ASSERT_GT(reply.size(), static_cast<std::size_t>(CUT_IMAP4Client::kMaxLineBytes));
    OpenSelected({Step::Expect(Tag(3) + " SEARCH ALL"), Step::Send(reply), Step::Sleep(2000)});
    EXPECT_EQ(client->SearchMessages("ALL", nullptr, false), UT::ResponseUnknown);
    EXPECT_EQ(client->SearchResultCount(), 0) << "never a shorter list";
    EXPECT_FALSE(client->IsConnected());
}

struct StateCase {
    const char* name;
    std::vector<Step> steps; // after the SELECT of tag 2
    std::function<ResultCode(CUT_IMAP4Client&)> call;
    ResultCode rc;
    SessionState state;
    ResultCode checkpoint; // what a CHECK gives afterwards, nothing sent
};

class ImapSelectionEndTest : public ImapReplyTest,
                             public ::testing::WithParamInterface<StateCase> {};

TEST_P(ImapSelectionEndTest, LeavesNoMailboxSelected) {
    const StateCase& c = GetParam();
    OpenSelected(c.steps);
    EXPECT_EQ(c.call(*client), c.rc);
    EXPECT_EQ(client->GetState(), c.state);
    EXPECT_EQ(client->Checkpoint(), c.checkpoint);
    client.reset();
    ASSERT_TRUE(server->WaitUntilFinished());
    EXPECT_EQ(server->errors(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ImapSelectionEndTest,
    ::testing::Values(
        StateCase{"Close", Join({Exchange(3, "CLOSE", "A0003 OK CLOSE completed\r\n"), Logout(4)}),
                  [](CUT_IMAP4Client& c) { return c.CloseMailbox(); }, UT::Success, Authenticated,
                  UT::NeedsSelected},
        StateCase{"CloseAnsweredBad",
                  Join({Exchange(3, "CLOSE", "A0003 BAD No mailbox selected\r\n"), Logout(4)}),
                  [](CUT_IMAP4Client& c) { return c.CloseMailbox(); }, UT::CommandBad,
                  Authenticated, UT::NeedsSelected},
        StateCase{"FailedSelect",
                  Join({Exchange(3, "SELECT \"Nope\"", "A0003 NO no such mailbox\r\n"), Logout(4)}),
                  [](CUT_IMAP4Client& c) { return c.SelectMailbox("Nope"); }, UT::Failed,
                  Authenticated, UT::NeedsSelected},
        StateCase{
            "FailedExamine",
            Join({Exchange(3, "EXAMINE \"Nope\"", "A0003 NO no such mailbox\r\n"), Logout(4)}),
            [](CUT_IMAP4Client& c) { return c.ExamineMailbox("Nope"); }, UT::Failed, Authenticated,
            UT::NeedsSelected},
        StateCase{"Logout", Logout(3), [](CUT_IMAP4Client& c) { return c.CloseSession(); },
                  UT::Success, LoggedOut, UT::NotLoggedIn}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImapReplyTest, SelectReadsResponseCodesAndFlags) {
    Open(Exchange(2, "SELECT \"INBOX\"",
                  "* 172 EXISTS\r\n* 1 RECENT\r\n* OK [UNSEEN 12] Message 12 is first unseen\r\n"
                  "* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
                  "* OK [PERMANENTFLAGS (\\Deleted \\Seen \\* $Work)] Limited\r\n"
                  "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft $Forwarded)\r\n"
                  "* OK [ALERT] System shutdown in 10 minutes\r\n"
                  "* OK [READ-ONLY] first\r\n"
                  "A0002 OK [READ-WRITE] SELECT completed\r\n"));
    ASSERT_EQ(client->SelectMailbox("INBOX"), UT::Success);
    EXPECT_EQ(client->GetState(), Selected);
    EXPECT_EQ(client->GetMessageCount(), 172);
    EXPECT_EQ(client->GetRecentCount(), 1);
    EXPECT_EQ(client->GetUnseen(), 12);
    EXPECT_EQ(client->GetUidValidity(), -437438251); // 3857529045 modulo 2^32
    EXPECT_EQ(client->GetPermanentFlags(), 4 | 8 | 64);
    EXPECT_EQ(client->GetPermanentKeywords(), "\\$Work ");
    EXPECT_EQ(client->GetMailboxFlags(), 31);
    EXPECT_EQ(client->GetMailboxKeywords(), "\\$Forwarded ");
    EXPECT_EQ(client->IsReadWrite(), 1); // the completion's code came last
    EXPECT_EQ(client->alerts, std::vector<std::string>{" System shutdown in 10 minutes\r\n"});
    EXPECT_EQ(client->LastResponseText(), "[READ-WRITE] SELECT completed\r\n");
}

TEST_F(ImapReplyTest, SelectAnsweredNoLeavesTheStateAuthenticated) {
    Open(Exchange(2, "SELECT \"Nope\"", "A0002 NO no such mailbox\r\n"));
    EXPECT_EQ(client->SelectMailbox("Nope"), UT::Failed);
    EXPECT_EQ(client->GetState(), Authenticated);
    EXPECT_EQ(client->Checkpoint(), UT::NeedsSelected);
}

TEST_F(ImapReplyTest, StatusReplyFillsTheCallersRecordOnlyOnSuccess) {
    Open(Join({Exchange(2, "STATUS \"INBOX\" (MESSAGES UIDNEXT)",
                        "* STATUS \"INBOX\" (MESSAGES 12 UIDNEXT 345)\r\nA0002 OK done\r\n"),
               Exchange(3, "STATUS \"INBOX\" (UNSEEN)", "A0003 NO busy\r\n"),
               // OK without an untagged STATUS: the client's previous record.
               Exchange(4, "STATUS \"Other\" (UNSEEN)", "A0004 OK done\r\n")}));
    MailboxStatus status;
    ASSERT_EQ(client->QueryMailboxStatus("INBOX", "MESSAGES UIDNEXT", status), UT::Success);
    EXPECT_EQ(status.name, "\"INBOX\"");
    EXPECT_EQ(status.messages, 12);
    EXPECT_EQ(status.uidNext, 345);
    EXPECT_EQ(status.unseen, 0);

    MailboxStatus untouched{"mine", 1, 1, 1, 1, 1};
    EXPECT_EQ(client->QueryMailboxStatus("INBOX", "UNSEEN", untouched), UT::Failed);
    EXPECT_EQ(untouched.name, "mine");
    EXPECT_EQ(untouched.uidNext, 1);

    ASSERT_EQ(client->QueryMailboxStatus("Other", "UNSEEN", untouched), UT::Success);
    EXPECT_EQ(untouched.name, "\"INBOX\"");
    EXPECT_EQ(untouched.uidNext, 345);
}

TEST_F(ImapReplyTest, SearchAndListRepliesFillTheirLists) {
    OpenSelected(Join({Exchange(3, "SEARCH UNSEEN",
                                "* SEARCH 2 5 9\r\n* SEARCH\r\nA0003 OK SEARCH completed\r\n"),
                       Exchange(4, "LIST \"\" \"*\"",
                                "* LIST (\\HasNoChildren) \".\" INBOX\r\n"
                                "* LIST (\\Noselect \\HasChildren) \".\" \"Public\"\r\n"
                                "A0004 OK LIST completed\r\n")}));
    ASSERT_EQ(client->SearchMessages("UNSEEN", nullptr, false), UT::Success);
    ASSERT_EQ(client->SearchResultCount(), 3);
    int number = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(client->GetSearchResult(i, number), UT::Success);
        EXPECT_EQ(number, (std::vector<int>{2, 5, 9})[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(client->GetSearchResult(3, number), UT::IndexOutOfRange);

    ASSERT_EQ(client->ListMailboxes("", "*"), UT::Success);
    ASSERT_EQ(client->ListEntryCount(), 2);
    const char* name = nullptr;
    const char* delimiter = nullptr;
    int attributes = -1;
    ASSERT_EQ(client->GetListEntry(1, name, delimiter, attributes), UT::Success);
    EXPECT_STREQ(name, "Public");
    EXPECT_STREQ(delimiter, ".");
    EXPECT_EQ(attributes, MailboxAttribute::NoSelect);
    MailboxListEntry copy{7, "x", "y"};
    ASSERT_EQ(client->CopyListEntry(0, &copy), UT::Success);
    EXPECT_EQ(copy.name, "INBOX");
    EXPECT_EQ(copy.attributes, 0);
    EXPECT_EQ(client->CopyListEntry(0, nullptr), UT::NullArgument);
    EXPECT_EQ(client->GetListEntry(2, name, delimiter, attributes), UT::IndexOutOfRange);
}

// RFC 3501 section 4.3: a mailbox name may come as a literal, whose bytes
// follow the line; it is the name, and the stream stays in step.
TEST_F(ImapReplyTest, ListNameGivenAsALiteralIsTheLiteralsText) {
    const std::string longName(40000, 'n'); // over the in-memory literal size
    OpenSelected(Join({Exchange(3, "LIST \"\" \"*\"",
                                "* LIST (\\Noinferiors) NIL {5}\r\nDraft\r\n"
                                "* LIST () \"/\" {14}\r\nMy \"Box\" {3}\r\n\r\n"
                                "* LSUB (\\Marked) \".\" {0}\r\n\r\n"
                                "* LIST () \"/\" {40000}\r\n" +
                                    longName +
                                    "\r\n"
                                    "* LIST () \"/\" INBOX\r\n"
                                    "A0003 OK LIST completed\r\n"),
                       Exchange(4, "NOOP", "A0004 OK NOOP completed\r\n")}));
    ASSERT_EQ(client->ListMailboxes("", "*"), UT::Success);
    ASSERT_EQ(client->ListEntryCount(), 5);
    struct Expected {
        const char* name;
        const char* delimiter;
        int attributes;
    };
    const Expected expected[] = {{"Draft", "NIL", MailboxAttribute::NoInferiors},
                                 {"My \"Box\" {3}\r\n", "/", 0},
                                 {"", ".", MailboxAttribute::Marked},
                                 {"", "/", 0}, // too long to be kept: dropped, not cut
                                 {"INBOX", "/", 0}};
    for (int i = 0; i < 5; ++i) {
        const char* name = nullptr;
        const char* delimiter = nullptr;
        int attributes = -1;
        ASSERT_EQ(client->GetListEntry(i, name, delimiter, attributes), UT::Success);
        EXPECT_STREQ(name, expected[i].name) << "entry " << i;
        EXPECT_STREQ(delimiter, expected[i].delimiter) << "entry " << i;
        EXPECT_EQ(attributes, expected[i].attributes) << "entry " << i;
    }
    EXPECT_EQ(client->KeepAlive(), UT::Success);
    EXPECT_EQ(client->LastResponseText(), "NOOP completed\r\n");
}

const char* kFetchLine = "FETCH 1 (RFC822.SIZE FLAGS UID INTERNALDATE BODY.PEEK[])";

TEST_F(ImapReplyTest, FetchReadsItemsAndASmallLiteralIntoMemory) {
    // The literal holds what looks like a completion: it is message data.
    const std::string body = "Subject: hi\r\n\r\nA0003 OK forged\r\n";
    OpenSelected(Exchange(3, kFetchLine,
                          "* 1 FETCH (RFC822.SIZE 33 FLAGS (\\Seen $Later) UID 7 INTERNALDATE "
                          "\"17-Jul-1996 02:44:25 -0700\" BODY[] {" +
                              std::to_string(body.size()) + "}\r\n" + body +
                              " UID 8)\r\nA0003 OK FETCH completed\r\n"));
    ASSERT_EQ(client->FetchMessages("1", CUT_IMAP4Client::kFetchWhole, false, false), UT::Success);
    EXPECT_EQ(client->LastResponseText(), "FETCH completed\r\n");
    EXPECT_EQ(client->fetchDone, 1);
    ASSERT_EQ(client->MessageRecordCount(), 1);
    const MessageRecord* record = nullptr;
    ASSERT_EQ(client->GetMessageRecord(0, record), UT::Success);
    EXPECT_EQ(record->number, 1);
    EXPECT_EQ(record->size, 33);
    EXPECT_EQ(record->flags, ImapFlag::Seen);
    EXPECT_EQ(record->keywords, "\\$Later ");
    EXPECT_EQ(record->internalDate, "17-Jul-1996 02:44:25 -0700");
    EXPECT_EQ(record->uid, 8); // the item after the literal was read too
    EXPECT_EQ(record->bodyPart, CUT_IMAP4Client::kFetchWhole);
    ASSERT_NE(dynamic_cast<CUT_BufferDataSource*>(record->body), nullptr);
    EXPECT_EQ(Content(record->body), body);
    EXPECT_EQ(client->GetMessageRecord(1, record), UT::IndexOutOfRange);
}

TEST_F(ImapReplyTest, FetchLiteralAbove30000BytesLandsInAMappedFile) {
    std::string body;
    while (body.size() < 40000)
        body += "line " + std::to_string(body.size()) + "\r\n";
    OpenSelected(Exchange(3, "FETCH 1 (RFC822.SIZE FLAGS UID INTERNALDATE BODY.PEEK[TEXT])",
                          "* 1 FETCH (UID 4 BODY[TEXT] {" + std::to_string(body.size()) + "}\r\n" +
                              body +
                              " FLAGS (\\Answered))\r\n"
                              "A0003 OK FETCH completed\r\n"));
    ASSERT_EQ(client->FetchMessages("1", CUT_IMAP4Client::kFetchText, false, false), UT::Success);
    const MessageRecord* record = nullptr;
    ASSERT_EQ(client->GetMessageRecord(0, record), UT::Success);
    EXPECT_EQ(record->bodyPart, CUT_IMAP4Client::kFetchText);
    EXPECT_EQ(record->uid, 4);
    EXPECT_EQ(record->flags, ImapFlag::Answered);
    auto* mapped = dynamic_cast<CUT_MapFileDataSource*>(record->body);
    ASSERT_NE(mapped, nullptr);
    EXPECT_EQ(mapped->GetLength(), body.size());
    EXPECT_EQ(Content(record->body), body);
}

TEST_F(ImapReplyTest, QuotedAndNilBodies) {
    OpenSelected(Exchange(3, "FETCH 1:2 (RFC822.SIZE FLAGS UID INTERNALDATE BODY[HEADER])",
                          "* 1 FETCH (BODY[HEADER] \"short\" UID 3)\r\n"
                          "* 2 FETCH (BODY[HEADER] NIL UID 4)\r\n"
                          "A0003 OK FETCH completed\r\n"));
    ASSERT_EQ(client->FetchMessages("1:2", CUT_IMAP4Client::kFetchHeader, true, false),
              UT::Success);
    ASSERT_EQ(client->MessageRecordCount(), 2);
    const MessageRecord* record = nullptr;
    ASSERT_EQ(client->GetMessageRecord(0, record), UT::Success);
    EXPECT_EQ(record->uid, 3);
    EXPECT_EQ(Content(record->body), "short");
    ASSERT_EQ(client->GetMessageRecord(1, record), UT::Success);
    EXPECT_EQ(record->uid, 4);
    EXPECT_EQ(record->bodyPart, CUT_IMAP4Client::kFetchHeader);
    EXPECT_EQ(Content(record->body), "");
    EXPECT_EQ(client->fetchDone, 1);
}

TEST_F(ImapReplyTest, LiteralLongerThanAnnouncedIsReadAsTheRestOfTheLine) {
    OpenSelected(Exchange(3, kFetchLine,
                          "* 1 FETCH (BODY[] {5}\r\nHelloWorld)\r\nA0003 OK FETCH completed\r\n"));
    ASSERT_EQ(client->FetchMessages("1", CUT_IMAP4Client::kFetchWhole, false, false), UT::Success);
    const MessageRecord* record = nullptr;
    ASSERT_EQ(client->GetMessageRecord(0, record), UT::Success);
    EXPECT_EQ(Content(record->body), "Hello");
    EXPECT_TRUE(client->IsLoggedIn());
}

struct FaultCase {
    const char* name;
    std::vector<Step> afterFetch; // what the server does after the FETCH line
    ResultCode rc;
    bool bodyArrived = false;
};

class ImapFetchFaultTest : public ImapReplyTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ImapFetchFaultTest, EndsTheCommandAndTheConnection) {
    std::vector<Step> steps{Step::Expect(Tag(3) + " " + kFetchLine)};
    for (const Step& s : GetParam().afterFetch)
        steps.push_back(s);
    OpenSelected(steps);
    const auto start = Clock::now();
    EXPECT_EQ(client->FetchMessages("1", CUT_IMAP4Client::kFetchWhole, false, false),
              GetParam().rc);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(client->IsConnected());
    EXPECT_FALSE(client->IsLoggedIn());
    // Nothing of a body that did not arrive whole is handed out.
    const MessageRecord* record = nullptr;
    if (client->GetMessageRecord(0, record) == UT::Success && !GetParam().bodyArrived) {
        EXPECT_EQ(record->body, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ImapFetchFaultTest,
    ::testing::Values(
        FaultCase{"ClosesInsideTheLiteral",
                  {Step::Send("* 1 FETCH (BODY[] {100}\r\nonly ten.."), Step::CloseConnection()},
                  UT::ReceiveTimedOut},
        FaultCase{"StallsInsideTheLiteral",
                  {Step::Send("* 1 FETCH (BODY[] {100}\r\nonly ten.."), Step::Sleep(4000)},
                  UT::ReceiveTimedOut},
        FaultCase{"LiteralOverTheCap",
                  {Step::Send("* 1 FETCH (BODY[] {999999999999}\r\n"), Step::Sleep(4000)},
                  UT::ResponseUnknown},
        FaultCase{"EndlessLine",
                  {Step::Send("* 1 FETCH (FLAGS ("), Step::SendForever("\\Seen ", 1 << 24)},
                  UT::ResponseUnknown},
        FaultCase{"EndlessUntaggedLines",
                  {Step::SendForever("* OK still busy " + std::string(900, '.') + "\r\n", 1 << 26)},
                  UT::ResponseUnknown},
        FaultCase{"ByeInTheMiddle",
                  {Step::Send("* BYE server shutting down\r\n"), Step::Sleep(4000)},
                  UT::ReceiveTimedOut},
        FaultCase{
            "ReplyLineOverTheCapAfterALiteral",
            {Step::Send("* 1 FETCH (BODY[] {3}\r\nabc"), Step::SendForever(" UID 1", 1 << 24)},
            UT::ResponseUnknown,
            true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImapReplyTest, CompletionThatNeverComesTimesOutAndKeepsTheConnection) {
    Open(Join({{Step::Expect(Tag(2) + " NOOP"), Step::Send("* 3 EXISTS\r\n"), Step::Sleep(3000)},
               Exchange(3, "NOOP", "A0002 OK late\r\nA0003 OK on time\r\n")}));
    const auto start = Clock::now();
    EXPECT_EQ(client->KeepAlive(), UT::ReceiveTimedOut);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_TRUE(client->IsConnected());
    EXPECT_TRUE(client->IsLoggedIn());
    // The late completion of the first NOOP is an untagged line to the second.
    EXPECT_EQ(client->KeepAlive(), UT::Success);
    EXPECT_EQ(client->LastResponseText(), "on time\r\n");
    EXPECT_EQ(client->exists, std::vector<int>{3});
}

TEST_F(ImapReplyTest, ByeLogsOutAndTheEndSendsNoLogout) {
    Open({Step::Expect(Tag(2) + " NOOP"), Step::Send("* BYE idle too long\r\n"),
          Step::WaitForClientClose()});
    EXPECT_EQ(client->KeepAlive(), UT::ReceiveTimedOut);
    EXPECT_EQ(client->GetState(), LoggedOut);
    EXPECT_FALSE(client->IsLoggedIn());
    EXPECT_EQ(client->KeepAlive(), UT::NotLoggedIn);
    client.reset();
    ASSERT_TRUE(server->WaitUntilFinished());
    EXPECT_EQ(server->transcript(),
              (std::vector<std::string>{Tag(1) + " LOGIN \"u\" \"p\"", Tag(2) + " NOOP"}));
    EXPECT_TRUE(server->errors().empty()) << server->errors().front();
}

// Lines no server should send: each is examined without harm, the command
// still completes, the session goes on.
class ImapMalformedLineTest : public ImapReplyTest,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(ImapMalformedLineTest, IsExaminedWithoutHarm) {
    OpenSelected(Join({Exchange(3, "NOOP", std::string(GetParam()) + "A0003 OK done\r\n"),
                       Exchange(4, "NOOP", "A0004 OK done\r\n")}));
    EXPECT_EQ(client->KeepAlive(), UT::Success);
    EXPECT_EQ(client->KeepAlive(), UT::Success);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ImapMalformedLineTest,
    ::testing::Values("* STATUS\r\n", "* STATUS INBOX (UNSEEN\r\n", "* STATUS ((((\r\n",
                      "* 1 FETCH\r\n", "* 1 FETCH (\r\n", "* 1 FETCH (FLAGS\r\n",
                      "* 1 FETCH (FLAGS (\\Seen\r\n", "* 1 FETCH (INTERNALDATE \"abc\r\n",
                      "* 1 FETCH (UID)\r\n", "* 1 FETCH (BODY[] {abc}\r\n",
                      "* 1 FETCH (BODY[] \"unterminated\r\n", "* 1 FETCH (X-UNKNOWN\r\n",
                      "* 1 FETCH (BODY[1] {3}\r\nabc)\r\n", "* LIST\r\n", "* LIST (\r\n",
                      "* LIST (\\Noselect) \"\r\n", "* FLAGS\r\n", "* FLAGS (\r\n",
                      "* OK [UIDVALIDITY\r\n", "* OK [PERMANENTFLAGS\r\n", "* OK [ALERT]\r\n",
                      "* SEARCH x y\r\n", "* CAPABILITY\r\n", "*\r\n", "\r\n",
                      "* 4294967296 EXISTS\r\n"),
    [](const auto& info) { return "Line" + std::to_string(info.index); });

} // namespace
