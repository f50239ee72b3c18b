// Small text pieces shared by the protocol parsers (POP3, RFC 1939; IMAP4,
// RFC 3501) and by what checks texts before they go into a command line:
// the line-break test, one decimal reader and the IMAP literal length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace text {

// True when the text holds CR, LF or NUL. None of them may reach a command
// line: they would end it early and let the rest be read as more commands.
bool HasLineBreakOrNul(std::string_view text);

// How ReadDecimal reads.
struct DecimalRules {
    std::string_view skip; // characters skipped before the number
    bool sign = false;     // one '+' or '-' may stand before the digits
};

// What ReadDecimal found. The magnitude saturates instead of overflowing;
// the low bits are kept exactly as well, for readers that take a number
// modulo 2^32.
struct Decimal {
    std::size_t digits = 0;      // how many digits were read (0: no number)
    std::size_t end = 0;         // index after the last character read
    bool negative = false;       // a '-' stood before the digits
    std::uint64_t magnitude = 0; // saturates at UINT64_MAX
    std::uint64_t lowBits = 0;   // the magnitude modulo 2^64

    // The value, saturated to [lo, hi]; no digits give 0 (clamped).
    long long Clamp(long long lo, long long hi) const;
    // The value modulo 2^32 read as two's complement (4294967295 gives -1).
    std::int32_t Wrap32() const;
    // True when the digits take up the whole text and no skip or sign
    // stood before them.
    bool IsWhole(std::string_view text) const { return digits > 0 && digits == text.size(); }
};

// Reads the decimal number at the start of text: the skip characters, an
// optional sign when allowed, then the digits. Text after the digits is
// left alone (Decimal::end says where the number ended).
Decimal ReadDecimal(std::string_view text, DecimalRules rules = {});

// The white space atoi skips (space, tab, LF, VT, FF, CR).
inline constexpr std::string_view kCSpace = " \t\n\v\f\r";
// One character of kCSpace; compared directly, since listing parsers call
// it for every byte.
constexpr bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The length n of an IMAP literal announcement "{n}" (RFC 3501 section
// 4.3) that text is made of: 1 to 18 digits in braces, nothing else. -1
// when text is not one.
long long LiteralLength(std::string_view text);
// The length of the literal a reply line announces at its end ("{n}" and
// CR LF), or -1 when it announces none.
long long TrailingLiteralLength(std::string_view line);

// When text starts with prefix (ASCII case ignored), moves text past it and
// returns true; otherwise leaves text as it is and returns false.
bool ConsumeKeyword(std::string_view& text, std::string_view prefix);

} // namespace text
