#include "net/Text.h"

#include <algorithm>
#include <limits>

namespace text {
namespace {

// Longest literal length read: 18 digits always fit a long long, and no
// sane literal comes near; the callers cap far below.
constexpr std::size_t kMaxLiteralDigits = 18;

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

Decimal ReadDecimal(std::string_view text, DecimalRules rules) {
    Decimal d;
    std::size_t i = 0;
    while (i < text.size() && rules.skip.find(text[i]) != std::string_view::npos)
        ++i;
    if (rules.sign && i < text.size() && (text[i] == '+' || text[i] == '-'))
        d.negative = text[i++] == '-';
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++d.digits) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        d.lowBits = d.lowBits * 10u + digit; // unsigned: wraps modulo 2^64
        d.magnitude = d.magnitude > (kMax - digit) / 10u ? kMax : d.magnitude * 10u + digit;
    }
    d.end = d.digits > 0 ? i : 0;
    if (d.digits == 0)
        d.negative = false;
    return d;
}

long long Decimal::Clamp(long long lo, long long hi) const {
    constexpr auto kLongMax = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
    long long value;
    if (!negative)
        value = magnitude > kLongMax ? std::numeric_limits<long long>::max()
                                     : static_cast<long long>(magnitude);
    else
        value = magnitude > kLongMax ? std::numeric_limits<long long>::min()
                                     : -static_cast<long long>(magnitude);
    return std::clamp(value, lo, hi);
}

std::int32_t Decimal::Wrap32() const {
    auto value = static_cast<std::uint32_t>(lowBits); // modulo 2^32
    if (negative)
        value = 0u - value;
    return static_cast<std::int32_t>(value); // two's complement (C++20)
}

long long LiteralLength(std::string_view text) {
    if (text.size() < 3 || text.front() != '{' || text.back() != '}')
        return -1;
    const std::string_view digits = text.substr(1, text.size() - 2);
    const Decimal n = ReadDecimal(digits);
    if (!n.IsWhole(digits) || n.digits > kMaxLiteralDigits)
        return -1;
    return static_cast<long long>(n.magnitude);
}

long long TrailingLiteralLength(std::string_view line) {
    constexpr std::string_view kEnd = "}\r\n";
    if (!line.ends_with(kEnd))
        return -1;
    const std::string_view announcement = line.substr(0, line.size() - 2); // up to the '}'
    const std::size_t open = announcement.rfind('{');
    if (open == std::string_view::npos)
        return -1;
    return LiteralLength(announcement.substr(open));
}

bool ConsumeKeyword(std::string_view& text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (UpperAscii(text[i]) != UpperAscii(prefix[i]))
            return false;
    text.remove_prefix(prefix.size());
    return true;
}

} // namespace text
