#include "config/AccountStore.h"

#include "platform/headless/FileProfileStore.h"
#include "support/MemoryProfileStore.h"
#include "support/TempDir.h"

#ifdef _WIN32
#include "platform/win32/RegistryProfileStore.h"

#include <process.h>
#endif

#include <cstddef>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

// Readable failure output for accounts (found by argument-dependent lookup).
void PrintTo(const CAccount& a, std::ostream* os) {
    *os << "{" << testing::PrintToString(a.m_strAccountName) << ", "
        << testing::PrintToString(a.m_strUserName) << ", "
        << testing::PrintToString(a.m_strPassword) << ", "
        << testing::PrintToString(a.m_strSecurity) << ", " << testing::PrintToString(a.m_strServer)
        << ", " << testing::PrintToString(a.m_strLastMessage) << ", "
        << testing::PrintToString(a.m_strAccountType) << "}";
}

namespace {

using tavlo::test::MemoryProfileStore;

CAccount MakeAccount(const std::string& name, const std::string& user, const std::string& password,
                     const std::string& security, const std::string& server,
                     const std::string& lastMessage, const std::string& type) {
    CAccount a;
    a.m_strAccountName = name;
    a.m_strUserName = user;
    a.m_strPassword = password;
    a.m_strSecurity = security;
    a.m_strServer = server;
    a.m_strLastMessage = lastMessage;
    a.m_strAccountType = type;
    return a;
}

// Joins lines, each ended by a line feed, as the stored form has them.
std::string StoredLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

std::vector<CAccount> LoadFrom(const std::string& stored) {
    MemoryProfileStore store;
    store.SetString("User", "Accounts", stored);
    std::vector<CAccount> accounts;
    LoadAccounts(store, accounts);
    return accounts;
}

TEST(AccountTest, NewAccountIsEmptyAndCopiesAreEqual) {
    static_assert(std::has_virtual_destructor_v<CAccount>);
    const CAccount empty;
    EXPECT_EQ(empty, MakeAccount("", "", "", "", "", "", ""));

    const CAccount a = MakeAccount("Work", "u", "p", "SSL", "mail.example", "7", "IMAP");
    CAccount copy = a;
    EXPECT_EQ(copy, a);
    copy.m_strLastMessage = "8";
    EXPECT_NE(copy, a);
}

TEST(AccountTest, ImapAndTlsOnlyForTheExactTexts) {
    const std::pair<const char*, bool> types[] = {
        {"IMAP", true}, {"POP3", false}, {"", false}, {"imap", false}, {"IMAP ", false}};
    for (const auto& [type, imap] : types) {
        CAccount a;
        a.m_strAccountType = type;
        EXPECT_EQ(IsImap(a), imap) << '"' << type << '"';
    }
    const std::pair<const char*, bool> securities[] = {
        {"SSL", true}, {"NORMAL", false}, {"", false}, {"ssl", false}, {"TLS", false}};
    for (const auto& [security, tls] : securities) {
        CAccount a;
        a.m_strSecurity = security;
        EXPECT_EQ(UsesTls(a), tls) << '"' << security << '"';
    }
}

TEST(PasswordScramblingTest, KnownValues) {
    // c minus 5, b minus 6, a minus 7.
    EXPECT_EQ(ScramblePassword("abc"), std::string("\x5E\x5C\x5A"));
    EXPECT_EQ(UnscramblePassword("\x5E\x5C\x5A"), "abc");
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword(""), "");
    // Subtraction wraps modulo 256: 2 - 5 and 1 - 6.
    EXPECT_EQ(ScramblePassword(std::string("\x01\x02", 2)), std::string("\xFD\xFB"));
}

TEST(PasswordScramblingTest, EveryByteValueRoundTripsAtEveryPosition) {
    // Lengths past 256 make the position term wrap too.
    for (const std::size_t length : {1u, 2u, 17u, 18u, 255u, 256u, 257u, 600u}) {
        for (int start = 0; start < 256; start += 37) {
            std::string text(length, '\0');
            for (std::size_t i = 0; i < length; ++i)
                text[i] = static_cast<char>((start + i * 7) % 256);
            SCOPED_TRACE("length " + std::to_string(length) + " start " + std::to_string(start));
            EXPECT_EQ(UnscramblePassword(ScramblePassword(text)), text);
            EXPECT_EQ(ScramblePassword(UnscramblePassword(text)), text);
        }
    }
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(UnscramblePassword(ScramblePassword(one)), one) << b;
    }
}

// 28 line feeds are 4 accounts; 42 are 6 accounts, although 6 divides 42
// as well: the 7-line layout is tried first.
TEST(LoadAccountsTest, CurrentLayout) {
    for (const int count : {1, 4, 6}) {
        std::vector<std::string> lines;
        std::vector<CAccount> expected;
        for (int i = 1; i <= count; ++i) {
            const std::string n = std::to_string(i);
            expected.push_back(MakeAccount("Name" + n, "user" + n, "secret" + n,
                                           i % 2 ? "SSL" : "NORMAL", "mail" + n + ".example",
                                           "uid-" + n, i % 2 ? "IMAP" : "POP3"));
            const CAccount& a = expected.back();
            lines.insert(lines.end(),
                         {a.m_strAccountName, a.m_strUserName, ScramblePassword(a.m_strPassword),
                          a.m_strSecurity, a.m_strServer, a.m_strLastMessage, a.m_strAccountType});
        }
        ASSERT_EQ(lines.size(), 7u * count);
        EXPECT_EQ(LoadFrom(StoredLines(lines)), expected) << count << " accounts";
    }
}

TEST(LoadAccountsTest, OlderLayoutsGetDefaultsForMissingFields) {
    const std::string pw1 = ScramblePassword("pw1");
    const std::string pw2 = ScramblePassword("pw2");
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::vector<CAccount> expected;
    };
    const Case cases[] = {
        {"6 lines",
         {"A", "ua", pw1, "SSL", "a.example", "41", "B", "ub", pw2, "NORMAL", "b.example", "42"},
         {MakeAccount("A", "ua", "pw1", "SSL", "a.example", "41", ""),
          MakeAccount("B", "ub", "pw2", "NORMAL", "b.example", "42", "")}},
        {"5 lines",
         {"A", "ua", pw1, "SSL", "a.example", "B", "ub", pw2, "NORMAL", "b.example"},
         {MakeAccount("A", "ua", "pw1", "SSL", "a.example", "0", ""),
          MakeAccount("B", "ub", "pw2", "NORMAL", "b.example", "0", "")}},
        {"4 lines",
         {"A", "ua", pw1, "a.example", "B", "ub", pw2, "b.example"},
         {MakeAccount("A", "ua", "pw1", "NORMAL", "a.example", "0", ""),
          MakeAccount("B", "ub", "pw2", "NORMAL", "b.example", "0", "")}},
        // 20 line feeds: the 5-line layout comes before the 4-line one.
        {"5 lines, 4 accounts",
         {"A", "ua", pw1, "SSL", "a", "B", "ub", pw2, "SSL", "b", //
          "C", "uc", pw1, "SSL", "c", "D", "ud", pw2, "SSL", "d"},
         {MakeAccount("A", "ua", "pw1", "SSL", "a", "0", ""),
          MakeAccount("B", "ub", "pw2", "SSL", "b", "0", ""),
          MakeAccount("C", "uc", "pw1", "SSL", "c", "0", ""),
          MakeAccount("D", "ud", "pw2", "SSL", "d", "0", "")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<CAccount> loaded = LoadFrom(StoredLines(c.lines));
        EXPECT_EQ(loaded, c.expected);
        // Older accounts are polled as POP3.
        for (const CAccount& a : loaded)
            EXPECT_FALSE(IsImap(a));
    }
}

// 12 line feeds are divisible by 6, so three 4-line accounts read as two
// 6-line accounts; stores of earlier versions rely on this rule.
TEST(LoadAccountsTest, ThreeFourLineAccountsReadAsTwoSixLineAccounts) {
    const std::vector<std::string> lines = {"A", "ua", ScramblePassword("pa"), "a.example", //
                                            "B", "ub", ScramblePassword("pb"), "b.example", //
                                            "C", "uc", ScramblePassword("pc"), "c.example"};
    const std::vector<CAccount> expected = {
        MakeAccount("A", "ua", "pa", "a.example", "B", "ub", ""),
        MakeAccount(ScramblePassword("pb"), "b.example", UnscramblePassword("C"), "uc",
                    ScramblePassword("pc"), "c.example", "")};
    EXPECT_EQ(LoadFrom(StoredLines(lines)), expected);
}

TEST(LoadAccountsTest, TextsWithoutAWholeLayoutLoadNothing) {
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"no line feed", "Work"},
        {"11 line feeds", std::string(11, '\n')},
        {"3 line feeds", "a\nb\nc\n"},
        {"9 line feeds", StoredLines({"1", "2", "3", "4", "5", "6", "7", "8", "9"})},
    };
    for (const auto& [what, stored] : cases)
        EXPECT_TRUE(LoadFrom(stored).empty()) << what;

    MemoryProfileStore missing;
    std::vector<CAccount> accounts;
    LoadAccounts(missing, accounts);
    EXPECT_TRUE(accounts.empty());
    EXPECT_TRUE(missing.Writes().empty());
}

TEST(LoadAccountsTest, EmptyLinesTrailingBytesAndAppending) {
    // Seven empty lines are one account of empty fields; text after the
    // last line feed is ignored.
    const std::vector<CAccount> loaded = LoadFrom(std::string(7, '\n') + "tail without end");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], CAccount());

    // Loading appends to what the list holds.
    MemoryProfileStore store;
    store.SetString("User", "Accounts",
                    StoredLines({"New", "u", ScramblePassword("p"), "SSL", "h", "0", "POP3"}));
    std::vector<CAccount> accounts = {MakeAccount("Old", "", "", "", "", "", "")};
    LoadAccounts(store, accounts);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].m_strAccountName, "Old");
    EXPECT_EQ(accounts[1], MakeAccount("New", "u", "p", "SSL", "h", "0", "POP3"));
}

TEST(SaveAccountsTest, WritesTheSevenLineLayoutOnce) {
    MemoryProfileStore store;
    const std::vector<CAccount> accounts = {
        MakeAccount("Work", "me", "abc", "SSL", "pop.example", "0", "POP3"),
        MakeAccount("Home", "you", "", "NORMAL", "imap.example", "1234", "IMAP")};
    ASSERT_TRUE(SaveAccounts(store, accounts));

    ASSERT_EQ(store.Writes().size(), 1u);
    const auto& write = store.Writes()[0];
    EXPECT_EQ(write.section, "User");
    EXPECT_EQ(write.name, "Accounts");
    EXPECT_FALSE(write.isInt);
    EXPECT_EQ(write.text, "Work\nme\n\x5E\x5C\x5A\nSSL\npop.example\n0\nPOP3\n"
                          "Home\nyou\n\nNORMAL\nimap.example\n1234\nIMAP\n");
}

TEST(SaveAccountsTest, EmptyListIsTheEmptyString) {
    MemoryProfileStore store;
    store.SetString("User", "Accounts", StoredLines({"A", "u", "", "SSL", "h", "0", "POP3"}));
    ASSERT_TRUE(SaveAccounts(store, {}));
    EXPECT_EQ(store.StoredString("User", "Accounts"), std::string());
    std::vector<CAccount> accounts;
    LoadAccounts(store, accounts);
    EXPECT_TRUE(accounts.empty());
}

TEST(SaveAccountsTest, OlderLayoutIsRewrittenInTheCurrentOne) {
    MemoryProfileStore store;
    store.SetString("User", "Accounts",
                    StoredLines({"A", "ua", ScramblePassword("pa"), "a.example"}));
    std::vector<CAccount> accounts;
    LoadAccounts(store, accounts);
    ASSERT_TRUE(SaveAccounts(store, accounts));
    EXPECT_EQ(store.StoredString("User", "Accounts"),
              StoredLines({"A", "ua", ScramblePassword("pa"), "NORMAL", "a.example", "0", ""}));
}

TEST(SaveAccountsTest, FailedWriteIsReportedAndKeepsTheOldValue) {
    MemoryProfileStore store;
    const std::string old = StoredLines({"A", "u", "", "SSL", "h", "0", "POP3"});
    store.SetString("User", "Accounts", old);
    store.FailWrites(true);
    EXPECT_FALSE(SaveAccounts(store, {MakeAccount("B", "u", "p", "SSL", "h", "0", "POP3")}));
    EXPECT_EQ(store.Writes().size(), 1u);
    EXPECT_EQ(store.StoredString("User", "Accounts"), old);
}

// A password of 18 characters whose first character is a space: position
// 17 from the end, and 0x20 - 17 - 5 is a line feed once scrambled.
const std::string kPasswordScramblingToLineFeed = " " + std::string(17, 'a');
// The last character is position 0 from the end: 0x05 - 0 - 5 is zero.
const std::string kPasswordScramblingToZero = std::string("ab\x05");

TEST(AccountStoreProblemTest, NamesWhatCannotBeStored) {
    struct Case {
        const char* what;
        CAccount account;
        std::vector<std::string> messageParts; // empty: storable
    };
    const CAccount good = MakeAccount("Work", "me", "pw", "SSL", "h", "0", "POP3");
    auto with = [&](std::string CAccount::*field, const std::string& value) {
        CAccount a = good;
        a.*field = value;
        return a;
    };
    const Case cases[] = {
        {"plain account", good, {}},
        {"carriage return is kept", with(&CAccount::m_strAccountName, "Wo\rrk"), {}},
        {"8-bit texts", with(&CAccount::m_strServer, "h\xE5\xE4\xF6\xFF"), {}},
        // Stored scrambled as 0x04: storable, though no server will take it.
        {"line feed inside the plain password", with(&CAccount::m_strPassword, "a\nb"), {}},
        {"line feed in the name",
         with(&CAccount::m_strAccountName, "Wo\nrk"),
         {"account name", "line break"}},
        {"line feed in the user", with(&CAccount::m_strUserName, "me\n"), {"user name"}},
        {"zero in the server",
         with(&CAccount::m_strServer, std::string("h\0x", 3)),
         {"server name", "null character"}},
        {"line feed in the security", with(&CAccount::m_strSecurity, "\n"), {"security"}},
        {"line feed in the marker", with(&CAccount::m_strLastMessage, "1\n2"), {"marker"}},
        {"line feed in the type", with(&CAccount::m_strAccountType, "POP3\n"), {"type"}},
        {"password scrambling to a line feed",
         with(&CAccount::m_strPassword, kPasswordScramblingToLineFeed),
         {"password", "character 1 "}},
        {"password scrambling to zero",
         with(&CAccount::m_strPassword, kPasswordScramblingToZero),
         {"password", "character 3 "}},
        // Both the first and the last character: the first is named.
        {"password with two such characters",
         with(&CAccount::m_strPassword, " " + std::string(16, 'a') + "\x05"),
         {"password", "character 1 "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string problem = AccountStoreProblem(c.account);
        if (c.messageParts.empty()) {
            EXPECT_EQ(problem, "");
            MemoryProfileStore store;
            ASSERT_TRUE(SaveAccounts(store, {c.account}));
            std::vector<CAccount> loaded;
            LoadAccounts(store, loaded);
            EXPECT_EQ(loaded, std::vector<CAccount>{c.account});
        } else {
            EXPECT_NE(problem.find("cannot be stored"), std::string::npos) << problem;
            for (const std::string& part : c.messageParts)
                EXPECT_NE(problem.find(part), std::string::npos) << problem;
        }
    }
}

TEST(AccountStoreProblemTest, SaveRefusesTheWholeListAndKeepsTheStoredOne) {
    MemoryProfileStore store;
    const std::string old = StoredLines({"A", "u", "", "SSL", "h", "0", "POP3"});
    store.SetString("User", "Accounts", old);
    CAccount bad = MakeAccount("Bad", "u", kPasswordScramblingToLineFeed, "SSL", "h", "0", "POP3");
    const std::vector<CAccount> accounts = {MakeAccount("Good", "u", "p", "SSL", "h", "0", "POP3"),
                                            bad};
    EXPECT_FALSE(SaveAccounts(store, accounts));
    EXPECT_TRUE(store.Writes().empty());
    EXPECT_EQ(store.StoredString("User", "Accounts"), old);
}

// Random accounts: short texts of printable and 8-bit bytes with now and
// then a line feed, zero byte or carriage return; passwords of any bytes.
class RandomAccounts {
public:
    CAccount Next() {
        return MakeAccount(Text(12, false), Text(12, false), Text(40, true), Text(6, false),
                           Text(20, false), Text(10, false), Text(4, false));
    }
    int Count(int max) { return std::uniform_int_distribution<int>(0, max)(m_rng); }

private:
    std::string Text(std::size_t maxLength, bool anyByte) {
        std::string text(std::uniform_int_distribution<std::size_t>(0, maxLength)(m_rng), '\0');
        for (char& c : text) {
            const int roll = std::uniform_int_distribution<int>(0, 199)(m_rng);
            if (anyByte)
                c = static_cast<char>(roll % 2 ? m_rng() % 256 : 0x20 + m_rng() % 0x5F);
            else if (roll == 0)
                c = '\n';
            else if (roll == 1)
                c = '\0';
            else if (roll == 2)
                c = '\r';
            else
                c = static_cast<char>(roll < 150 ? 0x20 + m_rng() % 0x5F : 0x80 + m_rng() % 0x80);
        }
        return text;
    }

    std::mt19937 m_rng{20240611u};
};

// Random lists of accounts with printable and 8-bit texts. Whenever no
// account has a problem, saving and loading gives back exactly the list;
// otherwise nothing is written, and each reported problem is real: the
// account's stored text, cut where the settings store cannot go on (a zero
// byte), does not load back as that account.
TEST(AccountStoreRoundTripTest, RandomAccountsRoundTripOrAreRefused) {
    RandomAccounts random;
    int saved = 0;
    int refused = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<CAccount> accounts(random.Count(3));
        bool storable = true;
        for (CAccount& a : accounts) {
            a = random.Next();
            storable = storable && AccountStoreProblem(a).empty();
        }
        SCOPED_TRACE("trial " + std::to_string(trial));

        MemoryProfileStore store;
        store.SetString("User", "Accounts", "old\n");
        const bool result = SaveAccounts(store, accounts);
        ASSERT_EQ(result, storable);
        if (storable) {
            ++saved;
            std::vector<CAccount> loaded;
            LoadAccounts(store, loaded);
            ASSERT_EQ(loaded, accounts);
            continue;
        }
        ++refused;
        ASSERT_TRUE(store.Writes().empty());
        ASSERT_EQ(store.StoredString("User", "Accounts"), "old\n");
        for (const CAccount& a : accounts) {
            if (AccountStoreProblem(a).empty())
                continue;
            std::string text = AccountsToText({a});
            text = text.substr(0, text.find('\0'));
            std::vector<CAccount> loaded;
            AccountsFromText(text, loaded);
            ASSERT_NE(loaded, std::vector<CAccount>{a}) << AccountStoreProblem(a);
        }
    }
    // Both outcomes must have been exercised for the test to mean anything.
    EXPECT_GT(saved, 300);
    EXPECT_GT(refused, 300);
}

// Accounts with every kind of storable text, saved through one store and
// loaded through another on the same backing, come back unchanged.
void ExpectStorableAccountsSurvive(port::ProfileStore& writer, port::ProfileStore& reader) {
    RandomAccounts random;
    std::vector<CAccount> accounts;
    while (accounts.size() < 200) {
        CAccount a = random.Next();
        if (AccountStoreProblem(a).empty())
            accounts.push_back(a);
    }
    // Every byte that a stored line can hold, in a name and in passwords.
    std::string allBytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\n')
            allBytes += static_cast<char>(b);
    }
    accounts.push_back(MakeAccount(allBytes, "u", "", "SSL", "h", "0", "POP3"));
    for (std::size_t start = 0; start + 3 <= allBytes.size(); start += 3) {
        CAccount a = MakeAccount("p", "u", allBytes.substr(start, 3), "SSL", "h", "0", "POP3");
        if (AccountStoreProblem(a).empty())
            accounts.push_back(a);
    }

    ASSERT_TRUE(SaveAccounts(writer, accounts));
    std::vector<CAccount> loaded;
    LoadAccounts(reader, loaded);
    EXPECT_EQ(loaded, accounts);
}

// The settings file of platforms without a registry.
TEST(AccountStoreRoundTripTest, StorableAccountsSurviveTheSettingsFile) {
    tavlo::test::TempDir dir;
    const std::string file = dir.file("settings.reg");
    const std::string key = "HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo";
    std::vector<std::string> problems;
    const auto report = [&](const std::string& message) { problems.push_back(message); };
    port::FileProfileStore writer(file, key, report);
    port::FileProfileStore reader(file, key, report);
    ExpectStorableAccountsSurvive(writer, reader);
    EXPECT_TRUE(problems.empty());
}

#ifdef _WIN32
TEST(AccountStoreRoundTripTest, StorableAccountsSurviveTheRegistry) {
    const std::string root = "TavloTest-Accounts-" + std::to_string(::_getpid());
    {
        port::RegistryProfileStore writer(root, "tavlo");
        port::RegistryProfileStore reader(root, "tavlo");
        ExpectStorableAccountsSurvive(writer, reader);
    }
    EXPECT_TRUE(port::RegistryProfileStore::DeleteRoot(root));
}
#endif

TEST(FindAccountTest, NthAccountOfAName) {
    std::vector<CAccount> accounts = {MakeAccount("Work", "w1", "", "", "", "", ""),
                                      MakeAccount("Home", "h", "", "", "", "", ""),
                                      MakeAccount("Work", "w2", "", "", "", "", "")};
    EXPECT_EQ(FindAccount(accounts, "Work", 2), &accounts[2]);
    EXPECT_EQ(FindAccount(accounts, "Work", 1), &accounts[0]);
    EXPECT_EQ(FindAccount(accounts, "Home", 1), &accounts[1]);
    EXPECT_EQ(FindAccount(accounts, "Work", 3), nullptr);
    EXPECT_EQ(FindAccount(accounts, "work", 1), nullptr); // letter case counts
    EXPECT_EQ(FindAccount(accounts, "Work", 0), nullptr);
    EXPECT_EQ(FindAccount(accounts, "Work", -1), nullptr);

    std::vector<CAccount> none;
    EXPECT_EQ(FindAccount(none, "Work", 1), nullptr);
}

TEST(FindAccountTest, RemoveTakesOutExactlyThatAccount) {
    std::vector<CAccount> accounts = {MakeAccount("Work", "w1", "", "", "", "", ""),
                                      MakeAccount("Home", "h", "", "", "", "", ""),
                                      MakeAccount("Work", "w2", "", "", "", "", "")};
    EXPECT_FALSE(RemoveAccount(accounts, "Home", 2));
    EXPECT_FALSE(RemoveAccount(accounts, "Work", 0));
    EXPECT_EQ(accounts.size(), 3u);

    EXPECT_TRUE(RemoveAccount(accounts, "Work", 1));
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].m_strUserName, "h");
    EXPECT_EQ(accounts[1].m_strUserName, "w2");

    EXPECT_TRUE(RemoveAccount(accounts, "Work", 1));
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].m_strAccountName, "Home");
}

} // namespace
