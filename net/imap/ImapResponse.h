// IMAP4rev1 (RFC 3501) reply pieces that need no connection: the command tag
// counter, the tokeniser, flag lists, and the STATUS and LIST line readers.
// CUT_IMAP4Client builds its reply handling on these.
#pragma once

#include "net/imap/ImapRecords.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace imap {

// Bytes a tag needs: "A0001 " and its terminator.
inline constexpr int kTagSize = 7;

// Writes the next command tag of the program into out (kTagSize bytes):
// "A0001 " first, "A9999 " followed by "A0000 ". The counter is shared by
// all clients of the process.
void NextTag(char* out);
// Sets the value the next tag is made from (tests start from a known tag).
void SetNextTagValue(int value);
// The value the next tag will be made from.
int PeekNextTagValue();

// Reads the tokens of a text one after the other (the tokens of GetToken).
// Each Next costs only the bytes it passes over, so a walk over all tokens
// is linear in the text; asking GetToken or TokenAt for index 0, 1, 2, ...
// would rescan the text from its start every time.
class TokenReader {
public:
    TokenReader(std::string_view text, std::string_view delimiters, char quote = '\0')
        : m_text(text), m_delimiters(delimiters), m_quote(quote) {}
    // The next token, or false at the end of the text.
    bool Next(std::string_view& token);
    // Passes over the next count tokens; false when fewer are left.
    bool Skip(int count);
    // The text after the last token read.
    std::string_view Rest() const { return m_text.substr(m_position); }

private:
    std::string_view m_text;
    std::string_view m_delimiters;
    char m_quote;
    std::size_t m_position = 0;
};

// The text after the token with the 0-based index (empty when there is no
// such token): "* SEARCH 2 5" after token 1 is " 2 5".
std::string_view TextAfterToken(std::string_view text, std::string_view delimiters, int index);
// Copies the token with the 0-based index into out (size bytes, NUL
// included). Tokens are maximal runs of characters not in delimiters; runs
// of delimiters yield no empty tokens. With a quote character, each quote
// toggles a state in which delimiters do not separate (the quotes stay in
// the token). Returns 0 when the token exists and fits; 1 otherwise (no
// text, no delimiters, no such token, too long), with out empty when size is
// positive.
int GetToken(const char* text, const char* delimiters, int index, char* out, int size,
             char quote = '\0');
// The same over string views, without a size limit. False when there is no
// such token.
bool TokenAt(std::string_view text, std::string_view delimiters, int index, std::string& out,
             char quote = '\0');
// The token (at most 59 characters) read as a number by ParseNumber. 0 when
// the token exists; 1 (numberOut unchanged) otherwise.
int GetTokenNumber(const char* text, const char* delimiters, int index, std::int32_t& numberOut);
// Leading blanks, an optional sign and the decimal digits that follow, as
// atoi reads them; other text gives 0. Digits beyond the 32-bit range wrap:
// the value is taken modulo 2^32 and read as two's complement (4294967295
// gives -1, 4294967296 gives 0).
std::int32_t ParseNumber(std::string_view text);

// Reads a flag list ("\Seen \Answered $Label"): names of the flag table set
// their ImapFlag bits (any case, without the backslash); any other word is
// appended to keywordsOut (when given) as a backslash, the word and a space,
// as long as the text stays below 1000 characters.
void ParseFlagList(std::string_view text, int& bitsOut, std::string* keywordsOut);
// Longest keyword text ParseFlagList builds.
inline constexpr std::size_t kMaxKeywordText = 999;

// Writes the flag texts of the set bits ("\Answered \Seen"), joined by single
// spaces in bit order, into out of size bytes. Does nothing when size is
// below kMinFlagTextSize.
void FormatFlagBits(int bits, char* out, int size);
inline constexpr int kMinFlagTextSize = 70;

// Refills status from an untagged STATUS line: name and counters cleared,
// the mailbox name (third word, quotes kept) and the counters the line
// names.
void ParseStatusLine(std::string_view line, MailboxStatus& status);
// Reads one untagged LIST or LSUB line into a fresh entry.
MailboxListEntry ParseListLine(std::string_view line);

// Whole-word comparison ignoring ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Prefix test ignoring ASCII case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// An IMAP quoted string (RFC 3501 section 4.3): the text in double quotes
// with backslash and double quote escaped by a backslash. The text must not
// hold CR, LF or NUL (see text::HasLineBreakOrNul).
std::string QuoteString(std::string_view text);

} // namespace imap
