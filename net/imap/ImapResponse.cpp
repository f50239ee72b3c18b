#include "net/imap/ImapResponse.h"

#include "net/Text.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace imap {
namespace {

// The program-wide tag counter. Commands are never issued on two clients at
// the same moment; the atomic only keeps a keep-alive thread's read from
// racing a command's write.
std::atomic<int> g_nextTag{1};

constexpr std::string_view kLineDelimiters = " \r\n";

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDelimiter(char c, std::string_view delimiters) {
    return delimiters.find(c) != std::string_view::npos;
}

// Start and length of the token with the index, or false.
bool FindToken(std::string_view text, std::string_view delimiters, int index, char quote,
               std::size_t& start, std::size_t& length) {
    if (index < 0)
        return false;
    TokenReader tokens(text, delimiters, quote);
    std::string_view token;
    if (!tokens.Skip(index) || !tokens.Next(token))
        return false;
    start = static_cast<std::size_t>(token.data() - text.data());
    length = token.size();
    return true;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The text of a quoted string with its escapes undone, or the text itself
// when it is not quoted.
std::string Unquote(std::string_view text) {
    if (text.size() < 2 || text.front() != '"')
        return std::string(text);
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            break;
        if (c == '\\' && i + 1 < text.size())
            out += text[++i];
        else
            out += c;
    }
    return out;
}

struct FlagName {
    int bit;
    const char* read;  // the name as read, without the backslash
    const char* write; // the text written
};

constexpr FlagName kFlagNames[] = {
    {ImapFlag::Answered, "ANSWERED", "\\Answered"},
    {ImapFlag::Flagged, "FLAGGED", "\\Flagged"},
    {ImapFlag::Deleted, "DELETED", "\\Deleted"},
    {ImapFlag::Seen, "SEEN", "\\Seen"},
    {ImapFlag::Draft, "DRAFT", "\\Draft"},
    {ImapFlag::Recent, "RECENT", "\\Recent"},
    {ImapFlag::Wildcard, "*", "\\*"},
};

struct AttributeName {
    int bit;
    const char* name;
};

constexpr AttributeName kAttributeNames[] = {
    {MailboxAttribute::NoInferiors, "NOINFERIORS"},
    {MailboxAttribute::NoSelect, "NOSELECT"},
    {MailboxAttribute::Marked, "MARKED"},
    {MailboxAttribute::Unmarked, "UNMARKED"},
};

int AttributeBits(std::string_view list) {
    int bits = 0;
    TokenReader tokens(list, "()\\ \r\n");
    for (std::string_view token; tokens.Next(token);)
        for (const AttributeName& a : kAttributeNames)
            if (EqualsNoCase(token, a.name))
                bits |= a.bit;
    return bits;
}

} // namespace

void NextTag(char* out) {
    int value = g_nextTag.load();
    if (value > 9999 || value < 0)
        value = 0;
    std::snprintf(out, kTagSize, "A%04d ", value);
    g_nextTag.store(value + 1);
}

void SetNextTagValue(int value) {
    g_nextTag.store(value);
}

int PeekNextTagValue() {
    return g_nextTag.load();
}

bool TokenReader::Next(std::string_view& token) {
    const std::size_t size = m_text.size();
    std::size_t i = m_position;
    // Skip a run of delimiters (a quote is never skipped).
    while (i < size && IsDelimiter(m_text[i], m_delimiters) &&
           !(m_quote != '\0' && m_text[i] == m_quote))
        ++i;
    if (i >= size) {
        m_position = size;
        return false;
    }
    const std::size_t begin = i;
    bool quoted = false;
    while (i < size) {
        if (m_quote != '\0' && m_text[i] == m_quote)
            quoted = !quoted;
        else if (!quoted && IsDelimiter(m_text[i], m_delimiters))
            break;
        ++i;
    }
    m_position = i;
    token = m_text.substr(begin, i - begin);
    return true;
}

bool TokenReader::Skip(int count) {
    std::string_view token;
    for (int i = 0; i < count; ++i)
        if (!Next(token))
            return false;
    return true;
}

bool TokenAt(std::string_view text, std::string_view delimiters, int index, std::string& out,
             char quote) {
    out.clear();
    std::size_t start = 0;
    std::size_t length = 0;
    if (!FindToken(text, delimiters, index, quote, start, length))
        return false;
    out.assign(text.substr(start, length));
    return true;
}

std::string_view TextAfterToken(std::string_view text, std::string_view delimiters, int index) {
    std::size_t start = 0;
    std::size_t length = 0;
    if (!FindToken(text, delimiters, index, '\0', start, length))
        return {};
    return text.substr(start + length);
}

int GetToken(const char* text, const char* delimiters, int index, char* out, int size, char quote) {
    if (size > 0 && out != nullptr)
        out[0] = '\0';
    if (text == nullptr || delimiters == nullptr || delimiters[0] == '\0')
        return 1;
    std::size_t start = 0;
    std::size_t length = 0;
    if (!FindToken(text, delimiters, index, quote, start, length))
        return 1;
    if (out == nullptr || size <= 0 || length + 1 > static_cast<std::size_t>(size))
        return 1;
    std::memcpy(out, text + start, length);
    out[length] = '\0';
    return 0;
}

std::int32_t ParseNumber(std::string_view text) {
    return text::ReadDecimal(text, {" \t", true}).Wrap32();
}

int GetTokenNumber(const char* text, const char* delimiters, int index, std::int32_t& numberOut) {
    char token[60];
    if (GetToken(text, delimiters, index, token, sizeof token) != 0)
        return 1;
    numberOut = ParseNumber(token);
    return 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

void ParseFlagList(std::string_view text, int& bitsOut, std::string* keywordsOut) {
    bitsOut = 0;
    if (keywordsOut != nullptr)
        keywordsOut->clear();
    TokenReader tokens(text, "\\ \r\n");
    for (std::string_view token; tokens.Next(token);) {
        bool known = false;
        for (const FlagName& f : kFlagNames) {
            if (EqualsNoCase(token, f.read)) {
                bitsOut |= f.bit;
                known = true;
                break;
            }
        }
        if (known || keywordsOut == nullptr)
            continue;
        if (keywordsOut->size() + token.size() + 2 <= kMaxKeywordText) {
            *keywordsOut += '\\';
            *keywordsOut += token;
            *keywordsOut += ' ';
        }
    }
}

void FormatFlagBits(int bits, char* out, int size) {
    if (out == nullptr || size < kMinFlagTextSize)
        return;
    // All seven texts joined take 51 characters, so they always fit.
    std::string text;
    for (const FlagName& f : kFlagNames) {
        if ((bits & f.bit) == 0)
            continue;
        if (!text.empty())
            text += ' ';
        text += f.write;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
}

void ParseStatusLine(std::string_view line, MailboxStatus& status) {
    status = MailboxStatus{};
    TokenAt(line, kLineDelimiters, 2, status.name);
    std::string items;
    if (!TokenAt(line, "()\r\n", 1, items))
        return;
    constexpr std::string_view kItemDelimiters = "()\\ \r\n";
    struct Item {
        const char* name;
        std::int32_t MailboxStatus::*field;
    };
    static constexpr Item kItems[] = {
        {"MESSAGES", &MailboxStatus::messages},       {"RECENT", &MailboxStatus::recent},
        {"UNSEEN", &MailboxStatus::unseen},           {"UIDNEXT", &MailboxStatus::uidNext},
        {"UIDVALIDITY", &MailboxStatus::uidValidity},
    };
    TokenReader tokens(items, kItemDelimiters);
    for (std::string_view token; tokens.Next(token);) {
        for (const Item& item : kItems) {
            if (!EqualsNoCase(token, item.name))
                continue;
            // The number is consumed with its name.
            std::string_view number;
            if (tokens.Next(number))
                status.*item.field = ParseNumber(number);
            break;
        }
    }
}

MailboxListEntry ParseListLine(std::string_view line) {
    MailboxListEntry entry;
    // "* LIST (\Attr1 \Attr2) "/" name": the attribute list may hold spaces,
    // so it runs from its "(" to the next ")"; the delimiter and the name
    // follow it.
    std::size_t start = 0;
    std::size_t length = 0;
    if (!FindToken(line, kLineDelimiters, 2, '\0', start, length))
        return entry;
    std::size_t after = start + length;
    if (line[start] == '(') {
        const std::size_t close = line.find(')', start);
        after = close == std::string_view::npos ? line.size() : close + 1;
    }
    entry.attributes = AttributeBits(line.substr(start, after - start));

    const std::string_view rest = line.substr(after);
    if (!FindToken(rest, kLineDelimiters, 0, '"', start, length))
        return entry;
    const std::string_view delimiter = rest.substr(start, length);
    entry.delimiter = Unquote(delimiter);
    entry.name = Unquote(Trim(rest.substr(start + length)));
    return entry;
}

std::string QuoteString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

} // namespace imap
