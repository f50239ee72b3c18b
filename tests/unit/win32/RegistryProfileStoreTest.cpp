#include "platform/win32/RegistryProfileStore.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <process.h>
#include <string>

namespace {

// Registry types by their documented numbers.
constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegExpandSz = 2;
constexpr unsigned long kRegBinary = 3;
constexpr unsigned long kRegDword = 4;
constexpr unsigned long kRegQword = 11;

// True when reg.exe finds the key below HKEY_CURRENT_USER.
bool KeyExists(const std::string& subKey) {
    const std::string command = "reg query \"HKCU\\" + subKey + "\" >NUL 2>&1";
    return std::system(command.c_str()) == 0;
}

class RegistryProfileStoreTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(port::RegistryProfileStore::DeleteRoot(m_root));
        EXPECT_FALSE(KeyExists("Software\\" + m_root));
    }

    const std::string m_root = "TavloTest-" + std::to_string(::_getpid());
    port::RegistryProfileStore m_store{m_root, "tavlo"};
};

TEST_F(RegistryProfileStoreTest, ReadsGiveDefaultsAndCreateTheKeys) {
    EXPECT_EQ(m_store.SectionKeyPath("App"), "Software\\" + m_root + "\\tavlo\\App");
    EXPECT_FALSE(KeyExists(m_store.SectionKeyPath("App")));
    EXPECT_EQ(m_store.GetInt("App", "SearchForMail", 9), 9u);
    EXPECT_EQ(m_store.GetString("App", "MailClient", "Outlook"), "Outlook");
    EXPECT_EQ(m_store.GetString("App", "MyMailClient"), "");
    EXPECT_TRUE(KeyExists(m_store.SectionKeyPath("App")));
}

TEST_F(RegistryProfileStoreTest, IntegersAndTextsRoundTrip) {
    for (const std::uint32_t v : {0u, 10u, 0xffffffffu}) {
        ASSERT_TRUE(m_store.WriteInt("App", "N", v));
        EXPECT_EQ(m_store.GetInt("App", "N", 7), v);
    }
    ASSERT_TRUE(m_store.WriteString("User", "Accounts", "Home\nme\nsecret\n"));
    EXPECT_EQ(m_store.GetString("User", "Accounts"), "Home\nme\nsecret\n");
    ASSERT_TRUE(m_store.WriteString("User", "Accounts", ""));
    EXPECT_EQ(m_store.GetString("User", "Accounts", "def"), "");
    // Another store object sees the same key.
    port::RegistryProfileStore other(m_root, "tavlo");
    EXPECT_EQ(other.GetInt("App", "N", 7), 0xffffffffu);
    // Texts end at the first zero byte.
    ASSERT_TRUE(m_store.WriteString("App", "Z", std::string("ab\0cd", 5)));
    EXPECT_EQ(m_store.GetString("App", "Z"), "ab");
}

TEST_F(RegistryProfileStoreTest, EveryByteOneToTwoFiftyFiveSurvivesTheCodePage) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    ASSERT_TRUE(m_store.WriteString("App", "All", all));
    EXPECT_EQ(m_store.GetString("App", "All"), all);
    const std::string big(1 << 20, 'x');
    ASSERT_TRUE(m_store.WriteString("App", "Big", big));
    EXPECT_EQ(m_store.GetString("App", "Big"), big);
}

struct RawCase {
    const char* what;
    unsigned long type;
    std::string bytes;
};

TEST_F(RegistryProfileStoreTest, GetIntWantsAFourByteDword) {
    const RawCase cases[] = {
        {"binary of four bytes", kRegBinary, std::string("\x05\0\0\0", 4)},
        {"dword of two bytes", kRegDword, std::string("\x05\0", 2)},
        {"dword of eight bytes", kRegDword, std::string("\x05\0\0\0\0\0\0\0", 8)},
        {"qword", kRegQword, std::string("\x05\0\0\0\0\0\0\0", 8)},
        {"text", kRegSz, std::string("5\0", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_store.WriteRaw("App", "Odd", c.type, c.bytes));
        EXPECT_EQ(m_store.GetInt("App", "Odd", 7), 7u);
    }
    ASSERT_TRUE(m_store.WriteRaw("App", "Odd", kRegDword, std::string("\x05\x01\0\0", 4)));
    EXPECT_EQ(m_store.GetInt("App", "Odd", 7), 0x105u);
}

TEST_F(RegistryProfileStoreTest, GetStringReadsAnyDataUpToItsZeroByte) {
    const struct {
        const char* what;
        unsigned long type;
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"text without terminator", kRegSz, "abc", "abc"},
        {"expandable without terminator", kRegExpandSz, "%TEMP%\\x", "%TEMP%\\x"},
        {"empty data", kRegSz, "", ""},
        {"an older numeric value", kRegDword, std::string("\x02\0\0\0", 4), "\x02"},
        {"zero", kRegDword, std::string("\0\0\0\0", 4), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_store.WriteRaw("App", "Odd", c.type, c.bytes));
        EXPECT_EQ(m_store.GetString("App", "Odd", "def"), c.expected);
    }
}

} // namespace
