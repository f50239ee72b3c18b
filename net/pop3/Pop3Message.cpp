// Header fields are found and unfolded as RFC 5322 section 2.2 describes,
// purely on the bytes: encoded words (RFC 2047) stay encoded.
#include "net/pop3/Pop3Message.h"

#include <cstring>
#include <new>

namespace {

// Upper-cases the ASCII letters only. Texts are 8-bit in the system code
// page; bytes above 0x7F (accented letters, lead and trail bytes of
// double-byte code pages) are left as they are, so that no multibyte
// character is ever split or altered and every byte keeps its position.
std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool IsTrimmedSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool CPop3Message::SetText(const char* data, std::size_t length) {
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]);
    if (!text)
        return false;
    if (length > 0)
        std::memcpy(text.get(), data, length);
    text[length] = '\0';
    m_pszText = std::move(text);
    return true;
}

std::string CPop3Message::GetHeader() const {
    if (!m_pszText)
        return {};
    const std::string text(m_pszText.get());
    const std::size_t end = text.find("\r\n\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::string CPop3Message::GetHeaderField(const std::string& name) const {
    // The leading CR LF lets the first header line match like every other.
    const std::string header = "\r\n" + GetHeader();
    const std::string needle = "\r\n" + AsciiUpper(name) + ":";
    const std::size_t match = AsciiUpper(header).find(needle);
    if (match == std::string::npos)
        return {};

    // The value runs to the first line end that is not followed by a blank
    // or tab (a folded line continues the field).
    const std::size_t start = match + needle.size();
    const auto at = [&header](std::size_t i) { return i < header.size() ? header[i] : '\0'; };
    std::size_t end = start;
    while (end < header.size() &&
           !(at(end) == '\r' && at(end + 1) == '\n' && at(end + 2) != ' ' && at(end + 2) != '\t'))
        ++end;

    // Unfold: drop every CR LF pair, keep the blank or tab after it, and
    // turn tabs into blanks.
    std::string value;
    value.reserve(end - start);
    for (std::size_t i = start; i < end; ++i) {
        if (header[i] == '\r' && at(i + 1) == '\n' && i + 1 < end) {
            ++i;
            continue;
        }
        value += header[i] == '\t' ? ' ' : header[i];
    }

    std::size_t first = 0;
    while (first < value.size() && IsTrimmedSpace(value[first]))
        ++first;
    std::size_t last = value.size();
    while (last > first && IsTrimmedSpace(value[last - 1]))
        --last;
    return value.substr(first, last - first);
}

std::string CPop3Message::GetFrom() const {
    return GetHeaderField("From");
}

std::string ExtractAddress(const std::string& s) {
    const std::size_t open = s.find('<');
    const std::size_t close = s.find('>');
    if (open == std::string::npos || close == std::string::npos || open + 1 >= close)
        return s;
    return s.substr(open + 1, close - open - 1);
}
