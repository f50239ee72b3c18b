// libFuzzer target: IMAP4rev1 reply lines (RFC 3501 section 7) on
// arbitrary bytes - the tokeniser, flag lists, STATUS and LIST lines, and
// the client's examination of every reply line (HandleResponseLine) with
// what it stores, without a connection. The whole input is examined as one
// line (a SEARCH reply may be as long as the line cap), then each of its
// lines (ended by LF) in turn, as the client receives them.
//
// Checked: the token reader agrees with the indexed tokeniser; flag texts
// read back to their bits; a quoted mailbox name reads back unchanged; the
// stores stay within their caps; and (through libFuzzer's -timeout) that
// every parser stays linear in its line.
#include "net/Text.h"
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_IMAP4Client.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// The client with its reply examination in reach; it never connects.
class LineClient : public CUT_IMAP4Client {
public:
    ~LineClient() override { EndKeepAlive(); }
    void Examine(const std::string& line) { HandleResponseLine(line.c_str()); }
    CUT_DataSource* Literal(const std::string& text) { return ReadLiteral(text.c_str()); }
    void OnAlert(const char* text) override { Check(text != nullptr); }
};

// The tokens as the tokeniser defines them, gathered in one plain pass:
// maximal runs of characters that do not separate, where a delimiter
// separates unless a quote character before it (since the token began) left
// the quoted state open.
std::vector<std::string_view> ReferenceTokens(std::string_view text, std::string_view delimiters,
                                              char quote) {
    std::vector<std::string_view> tokens;
    bool quoted = false;
    std::size_t begin = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool isQuote = quote != '\0' && text[i] == quote;
        if (isQuote)
            quoted = !quoted;
        const bool separates =
            !isQuote && !quoted && delimiters.find(text[i]) != std::string_view::npos;
        if (!separates && begin == std::string_view::npos)
            begin = i;
        if (separates && begin != std::string_view::npos) {
            tokens.push_back(text.substr(begin, i - begin));
            begin = std::string_view::npos;
        }
    }
    if (begin != std::string_view::npos)
        tokens.push_back(text.substr(begin));
    return tokens;
}

void CheckTokens(std::string_view text, std::string_view delimiters, char quote) {
    const std::vector<std::string_view> expected = ReferenceTokens(text, delimiters, quote);
    imap::TokenReader tokens(text, delimiters, quote);
    std::string_view token;
    std::size_t count = 0;
    for (; tokens.Next(token); ++count) {
        Check(count < expected.size());
        Check(token.data() == expected[count].data() && token.size() == expected[count].size());
    }
    Check(count == expected.size());
    Check(tokens.Rest().empty());
    // The indexed forms, for a few indices (all of them would cost
    // quadratic time here).
    std::string indexed;
    for (std::size_t i = 0; i < 4; ++i) {
        const bool exists = imap::TokenAt(text, delimiters, static_cast<int>(i), indexed, quote);
        Check(exists == (i < expected.size()));
        Check(!exists || indexed == expected[i]);
    }
}

void CheckPureParsers(const std::string& input) {
    CheckTokens(input, " \r\n", '\0');
    CheckTokens(input, "()\\ \r\n", '\0');
    CheckTokens(input, " ", '"');

    int bits = 0;
    std::string keywords;
    imap::ParseFlagList(input, bits, &keywords);
    Check((bits & ~127) == 0);
    Check(keywords.size() <= imap::kMaxKeywordText);
    char flags[imap::kMinFlagTextSize];
    imap::FormatFlagBits(bits, flags, sizeof flags);
    int again = -1;
    imap::ParseFlagList(flags, again, nullptr);
    Check(again == bits);

    MailboxStatus status;
    imap::ParseStatusLine(input, status);
    const MailboxListEntry entry = imap::ParseListLine(input);
    Check((entry.attributes & ~15) == 0);

    char token[60];
    imap::GetToken(input.c_str(), " ()", 1, token, sizeof token);
    std::int32_t number = 0;
    imap::GetTokenNumber(input.c_str(), " ", 1, number);
    imap::ParseNumber(input);
    text::LiteralLength(input);
    text::TrailingLiteralLength(input);

    // A name sent as a quoted string reads back as it was.
    if (!text::HasLineBreakOrNul(input)) {
        const MailboxListEntry quoted =
            imap::ParseListLine("* LIST (\\Noselect) \"/\" " + imap::QuoteString(input) + "\r\n");
        Check(quoted.name == input);
        Check(quoted.delimiter == "/");
        Check(quoted.attributes == MailboxAttribute::NoSelect);
    }
}

void CheckStores(LineClient& client) {
    Check(client.GetMailboxKeywords().size() <= imap::kMaxKeywordText);
    Check(client.GetPermanentKeywords().size() <= imap::kMaxKeywordText);
    Check(client.LastResponseText().size() <= CUT_IMAP4Client::kMaxTextLength);
    for (int i = 0; i < client.ListEntryCount(); ++i) {
        const char* name = nullptr;
        const char* delimiter = nullptr;
        int attributes = -1;
        Check(client.GetListEntry(i, name, delimiter, attributes) == UT::Success);
        Check(name != nullptr && delimiter != nullptr && (attributes & ~15) == 0);
    }
    int number = 0;
    Check(client.GetSearchResult(client.SearchResultCount(), number) == UT::IndexOutOfRange);
    const MessageRecord* record = nullptr;
    Check(client.GetMessageRecord(client.MessageRecordCount(), record) == UT::IndexOutOfRange);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A reply line ends at its first NUL for the client.
    const std::string input(reinterpret_cast<const char*>(data), size);
    CheckPureParsers(input);

    LineClient client;
    client.Examine(input);
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        end = end == std::string::npos ? input.size() : end + 1;
        client.Examine(input.substr(start, end - start));
        start = end;
    }
    CheckStores(client);

    // A FETCH body value: quoted strings and NIL are read from the text; a
    // literal's bytes would come from the connection, which there is none of.
    CUT_DataSource* body = client.Literal(input);
    if (!input.empty() && input[0] == '{')
        Check(body == nullptr || text::LiteralLength(input.substr(0, input.find('}') + 1)) == 0);
    Check(!client.IsConnected());
    return 0;
}
