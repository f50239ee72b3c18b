// The text pieces the parsers share: the line-break test, the decimal
// reader as each of its callers reads numbers (IMAP numbers wrap modulo
// 2^32, POP3 numbers saturate, ports and literal lengths take digits
// only), the IMAP literal length and the keyword matcher.
#include "net/Text.h"

#include "core/ServerAddress.h"
#include "net/imap/ImapResponse.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(TextTest, LineBreakOrNulIsFoundAnywhere) {
    const struct {
        std::string text;
        bool found;
    } cases[] = {
        {"a\rb", true},       {"a\nb", true},  {std::string("a\0b", 3), true},
        {"\r", true},         {"end\n", true}, {std::string(1, '\0'), true},
        {"a b\t\"\\", false}, {"", false},     {"\x7f\xff", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::HasLineBreakOrNul(c.text), c.found) << testing::PrintToString(c.text);
}

// How each caller reads a number.
enum class Reader {
    Imap,      // imap::ParseNumber: blanks, sign, digits; wraps modulo 2^32
    Pop3Count, // the STAT count: atoi's white space, sign; saturates to int
    Pop3Size,  // sizes: the same, saturating to 0..2^32-1
    Port,      // the port of a server text: digits only, all of the text
    Literal,   // "{n}": digits only between the braces, at most 18
    Trailing,  // "{n}" CR LF at the end of a reply line
};

long long Read(Reader reader, const std::string& s) {
    switch (reader) {
    case Reader::Imap:
        return imap::ParseNumber(s);
    case Reader::Pop3Count:
        return text::ReadDecimal(s, {text::kCSpace, true}).Clamp(INT_MIN, INT_MAX);
    case Reader::Pop3Size:
        return text::ReadDecimal(s, {text::kCSpace, true}).Clamp(0, UINT32_MAX);
    case Reader::Port: {
        std::string host;
        int port = 0;
        return SplitServerAddress("host:" + s, 1, host, port) ? port : -1;
    }
    case Reader::Literal:
        return text::LiteralLength(s);
    case Reader::Trailing:
        return text::TrailingLiteralLength(s);
    }
    return -99;
}

struct NumberCase {
    Reader reader;
    std::string text;
    long long value;
};

class TextNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(TextNumberTest, EachCallerKeepsItsRules) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(Read(c.reader, c.text), c.value) << testing::PrintToString(c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextNumberTest,
    testing::Values(
        // IMAP: leading blanks and a sign; trailing text ignored; nothing
        // gives 0; beyond 32 bits the value wraps.
        NumberCase{Reader::Imap, " \t42 EXISTS", 42}, NumberCase{Reader::Imap, "345", 345},
        NumberCase{Reader::Imap, "12]", 12}, NumberCase{Reader::Imap, "abc", 0},
        NumberCase{Reader::Imap, "-12", -12}, NumberCase{Reader::Imap, "+7", 7},
        NumberCase{Reader::Imap, "", 0}, NumberCase{Reader::Imap, "-", 0},
        NumberCase{Reader::Imap, "\n5", 0}, NumberCase{Reader::Imap, "2147483647", 2147483647},
        NumberCase{Reader::Imap, "2147483648", -2147483647 - 1},
        NumberCase{Reader::Imap, "3857529045", -437438251},
        NumberCase{Reader::Imap, "4294967295", -1}, NumberCase{Reader::Imap, "4294967296", 0},
        NumberCase{Reader::Imap, "4294967297", 1}, NumberCase{Reader::Imap, "-4294967297", -1},
        NumberCase{Reader::Imap, "99999999999999999999999", -159383553},
        // POP3: atoi's white space (LF and CR too), a sign, saturation.
        NumberCase{Reader::Pop3Count, "\r\n\v\f 12 345", 12},
        NumberCase{Reader::Pop3Count, "-3", -3}, NumberCase{Reader::Pop3Count, "x1", 0},
        NumberCase{Reader::Pop3Count, "", 0}, NumberCase{Reader::Pop3Count, "2147483648", INT_MAX},
        NumberCase{Reader::Pop3Count, "-99999999999999999999999", INT_MIN},
        NumberCase{Reader::Pop3Size, "4294967296", UINT32_MAX},
        NumberCase{Reader::Pop3Size, "-5", 0}, NumberCase{Reader::Pop3Size, "+1200\r\n", 1200},
        // Ports: digits only, the whole text, 1 to 5 of them, 1..65535.
        NumberCase{Reader::Port, "995", 995}, NumberCase{Reader::Port, "00995", 995},
        NumberCase{Reader::Port, "000995", -1}, NumberCase{Reader::Port, "", -1},
        NumberCase{Reader::Port, "+995", -1}, NumberCase{Reader::Port, " 995", -1},
        NumberCase{Reader::Port, "995 ", -1}, NumberCase{Reader::Port, "65536", -1},
        NumberCase{Reader::Port, "0", -1},
        // Literal lengths: "{digits}" and nothing else, at most 18 digits.
        NumberCase{Reader::Literal, "{0}", 0}, NumberCase{Reader::Literal, "{4286}", 4286},
        NumberCase{Reader::Literal, "{999999999999999999}", 999999999999999999LL},
        NumberCase{Reader::Literal, "{1000000000000000000}", -1},
        NumberCase{Reader::Literal, "{}", -1}, NumberCase{Reader::Literal, "{-1}", -1},
        NumberCase{Reader::Literal, "{+1}", -1}, NumberCase{Reader::Literal, "{ 1}", -1},
        NumberCase{Reader::Literal, "{1}x", -1}, NumberCase{Reader::Literal, "1}", -1},
        NumberCase{Reader::Trailing, "* LIST () \"/\" {15}\r\n", 15},
        NumberCase{Reader::Trailing, "{ab{12}\r\n", 12}, NumberCase{Reader::Trailing, "{1}\r\n", 1},
        NumberCase{Reader::Trailing, "{}\r\n", -1}, NumberCase{Reader::Trailing, "{12}\n", -1},
        NumberCase{Reader::Trailing, "{12} \r\n", -1},
        NumberCase{Reader::Trailing, "no literal\r\n", -1}));

TEST(TextTest, ReadDecimalSaysWhereTheNumberEnded) {
    const text::Decimal n = text::ReadDecimal("  -0042)rest", {" ", true});
    EXPECT_EQ(n.digits, 4u);
    EXPECT_EQ(n.end, 7u);
    EXPECT_TRUE(n.negative);
    EXPECT_EQ(n.Clamp(-100, 100), -42);
    EXPECT_FALSE(n.IsWhole("  -0042)rest"));
    const text::Decimal none = text::ReadDecimal("abc");
    EXPECT_EQ(none.digits, 0u);
    EXPECT_EQ(none.end, 0u);
    EXPECT_EQ(none.Clamp(5, 10), 5); // 0, clamped
}

TEST(TextTest, ConsumeKeywordMatchesAPrefixInAnyCase) {
    std::string_view rest = "uid 42)";
    EXPECT_TRUE(text::ConsumeKeyword(rest, "UID "));
    EXPECT_EQ(rest, "42)");
    EXPECT_FALSE(text::ConsumeKeyword(rest, "42))"));
    EXPECT_EQ(rest, "42)");
    EXPECT_TRUE(text::ConsumeKeyword(rest, ""));
    EXPECT_EQ(rest, "42)");
}

} // namespace
