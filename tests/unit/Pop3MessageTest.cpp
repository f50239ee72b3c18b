// Header reading of a retrieved message and the reduction of a From value
// to its address.
#include "net/pop3/Pop3Message.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

CPop3Message MessageWith(const std::string& text) {
    CPop3Message message;
    EXPECT_TRUE(message.SetText(text.data(), text.size()));
    return message;
}

TEST(Pop3MessageTest, WithoutTextEverythingIsEmpty) {
    CPop3Message message;
    EXPECT_EQ(message.Text(), nullptr);
    EXPECT_EQ(message.GetHeader(), "");
    EXPECT_EQ(message.GetHeaderField("From"), "");
    EXPECT_EQ(message.GetFrom(), "");
}

TEST(Pop3MessageTest, SetTextReplacesThePreviousText) {
    CPop3Message message;
    ASSERT_TRUE(message.SetText("From: a\r\n\r\nfirst", 16));
    ASSERT_TRUE(message.SetText("From: b", 7));
    EXPECT_STREQ(message.Text(), "From: b");
    EXPECT_EQ(message.GetFrom(), "b");
}

struct HeaderCase {
    const char* name;
    std::string text;
    std::string header;
};
void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3MessageHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Pop3MessageHeaderTest, HeaderEndsAtTheFirstEmptyLine) {
    const CPop3Message message = MessageWith(GetParam().text);
    EXPECT_EQ(message.GetHeader(), GetParam().header);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Pop3MessageHeaderTest,
    ::testing::Values(HeaderCase{"HeaderAndBody", "A: 1\r\nB: 2\r\n\r\nbody\r\n\r\nmore",
                                 "A: 1\r\nB: 2"},
                      HeaderCase{"NoEmptyLine", "A: 1\r\nB: 2", "A: 1\r\nB: 2"},
                      HeaderCase{"EmptyHeader", "\r\n\r\nbody", ""},
                      HeaderCase{"EmptyText", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct FieldCase {
    const char* name;
    std::string text;
    std::string field;
    std::string value;
};
void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.name;
}

class Pop3MessageFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(Pop3MessageFieldTest, FindsUnfoldsAndTrims) {
    const CPop3Message message = MessageWith(GetParam().text);
    EXPECT_EQ(message.GetHeaderField(GetParam().field), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Pop3MessageFieldTest,
    ::testing::Values(
        FieldCase{"DisplayNameAndAddress",
                  "Subject: hi\r\nFrom: Anna Berg <anna@example.com>\r\nTo: x\r\n\r\nbody", "From",
                  "Anna Berg <anna@example.com>"},
        FieldCase{"FirstLine", "From: a@b\r\n\r\n", "From", "a@b"},
        FieldCase{"OnlyLineWithoutLineEnd", "From: a@b", "From", "a@b"},
        FieldCase{"NameInAnyCaseValueKeepsItsCase", "from: MiXeD@Example.COM\r\n\r\n", "FROM",
                  "MiXeD@Example.COM"},
        FieldCase{"FoldedWithTabAndBlank", "Subject: one\r\n\ttwo\r\n  three\r\nTo: x\r\n\r\n",
                  "Subject", "one two  three"},
        FieldCase{"TabsInsideBecomeBlanks", "From:\ta\tb\r\n\r\n", "From", "a b"},
        FieldCase{"LongerNameNotMatched", "X-From: spoof@x\r\nFrom: real@y\r\n\r\n", "From",
                  "real@y"},
        FieldCase{"OnlyLongerName", "X-From: spoof@x\r\n\r\n", "From", ""},
        FieldCase{"BodyNeverSearched", "To: x\r\n\r\nFrom: body@x\r\n", "From", ""},
        FieldCase{"EmptyValue", "From:\r\nTo: x\r\n\r\n", "From", ""},
        FieldCase{"BlankBeforeColonNotMatched", "From : a@b\r\n\r\n", "From", ""},
        FieldCase{"MessageWithoutEmptyLineSearchedWhole", "To: a\r\nFrom: b@c", "From", "b@c"},
        FieldCase{"FirstOfTwo", "From: first@x\r\nFrom: second@x\r\n\r\n", "From", "first@x"},
        FieldCase{"SurroundingWhiteSpaceTrimmed", "From: \t a b \t \r\n\r\n", "From", "a b"},
        FieldCase{"EncodedWordStaysEncoded", "From: =?UTF-8?Q?=C3=85sa?= <asa@x>\r\n\r\n", "From",
                  "=?UTF-8?Q?=C3=85sa?= <asa@x>"},
        FieldCase{"EightBitValueKept",
                  "From: \xc5"
                  "sa \xd6"
                  "berg <a@x>\r\n\r\n",
                  "From",
                  "\xc5"
                  "sa \xd6"
                  "berg <a@x>"},
        // Only ASCII letters are case-folded; other bytes must match as they are.
        FieldCase{"EightBitNameMatchesItself", "X-\xe4: v\r\n\r\n", "x-\xe4", "v"},
        FieldCase{"EightBitNameNotFolded", "X-\xe4: v\r\n\r\n", "X-\xc4", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct AddressCase {
    const char* name;
    std::string input;
    std::string address;
};
void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << c.name;
}

class ExtractAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ExtractAddressTest, TakesTheTextBetweenTheFirstBrackets) {
    EXPECT_EQ(ExtractAddress(GetParam().input), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ExtractAddressTest,
    ::testing::Values(
        AddressCase{"DisplayName", "Anna Berg <anna@example.com>", "anna@example.com"},
        AddressCase{"BareAddress", "anna@example.com", "anna@example.com"},
        AddressCase{"Empty", "", ""}, AddressCase{"ClosingBeforeOpening", "a> b <c", "a> b <c"},
        AddressCase{"NothingBetween", "x <> y", "x <> y"},
        AddressCase{"OnlyOpening", "Anna <anna@x", "Anna <anna@x"},
        AddressCase{"OnlyClosing", "anna@x>", "anna@x>"}, AddressCase{"OneCharacter", "<a>", "a"},
        AddressCase{"FirstPairWins", "<a@x> <b@y>", "a@x"},
        AddressCase{"FirstClosingWins", "x <a@x>b> c", "a@x"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
