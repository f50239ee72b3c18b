// CUT_IMAP4Client: the reply side of RFC 3501 (sections 2.2.2, 7 and 9) -
// waiting for a command's tagged completion, examining every reply line,
// reading FETCH data with its literals, and handing out the results.
#include "net/Text.h"
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_IMAP4Client.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kMaxLine = CUT_IMAP4Client::kMaxTextLength;
constexpr std::string_view kLineDelimiters = " \r\n";
// The status word of a completion is taken as three characters ("OK ",
// "NO ", "BAD"); the reply text follows them, less one leading space.
constexpr std::size_t kStatusWordLength = 3;

// A source that keeps nothing: the bytes of a literal nobody asked for.
class DiscardDataSource : public CUT_DataSource {
public:
    std::unique_ptr<CUT_DataSource> Clone() override {
        return std::make_unique<DiscardDataSource>();
    }
    int Open(int) override { return 0; }
    int Close() override { return 0; }
    int ReadLine(char*, std::size_t) override { return 0; }
    int Read(char*, std::size_t) override { return 0; }
    int Write(const char*, std::size_t size) override { return static_cast<int>(size); }
    long long Seek(long long, int) override { return 0; }
};

std::string Word(std::string_view line, int index) {
    std::string word;
    imap::TokenAt(line, kLineDelimiters, index, word);
    return word;
}

std::string CutText(std::string_view text, std::size_t maxLength) {
    return std::string(text.substr(0, std::min(text.size(), maxLength)));
}

bool IsUntagged(std::string_view line) {
    return Word(line, 0) == "*";
}

bool IsUntaggedSearch(std::string_view line) {
    return IsUntagged(line) && imap::EqualsNoCase(Word(line, 1), "SEARCH");
}

// Passes over one character (the separator after an item name, or the
// first character of a value that is not read).
void SkipOne(std::string_view& rest) {
    if (!rest.empty())
        rest.remove_prefix(1);
}

void SkipAll(std::string_view& rest) {
    rest.remove_prefix(rest.size());
}

// Moves text past the first occurrence of what (ASCII case ignored); false
// when there is none.
bool SkipPastNoCase(std::string_view& text, std::string_view what) {
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
        if (imap::EqualsNoCase(text.substr(i, what.size()), what)) {
            text.remove_prefix(i + what.size());
            return true;
        }
    }
    return false;
}

// The length of the literal "{n}" that text starts with, or -1.
long long LiteralLengthAt(std::string_view value) {
    const std::size_t close = value.find('}');
    return close == std::string_view::npos ? -1 : text::LiteralLength(value.substr(0, close + 1));
}

// --- FETCH items that are read from the line alone (RFC 3501 section 7.4.2).
// Each starts after the item's name and moves rest past its value.

// FLAGS (\Seen $Label)
void ReadFetchFlags(std::string_view& rest, MessageRecord& record) {
    if (!text::ConsumeKeyword(rest, " ("))
        return;
    const std::size_t close = rest.find(')');
    imap::ParseFlagList(rest.substr(0, close), record.flags, &record.keywords);
    rest.remove_prefix(close == std::string_view::npos ? rest.size() : close + 1);
}

// INTERNALDATE "17-Jul-1996 02:44:25 -0700"; a date longer than the
// record's field is dropped.
void ReadFetchDate(std::string_view& rest, MessageRecord& record) {
    const std::size_t open = rest.find('"');
    const std::size_t close =
        open == std::string_view::npos ? std::string_view::npos : rest.find('"', open + 1);
    if (close == std::string_view::npos) {
        SkipAll(rest);
        return;
    }
    const std::string_view date = rest.substr(open + 1, close - open - 1);
    record.internalDate =
        date.size() <= MessageRecord::kMaxInternalDate ? std::string(date) : std::string();
    rest.remove_prefix(close + 1);
}

// UID 4827313, RFC822.SIZE 4286
void ReadFetchNumber(std::string_view& rest, int& field) {
    std::string value;
    if (!imap::TokenAt(rest, " )\r\n", 0, value)) {
        SkipAll(rest);
        return;
    }
    field = imap::ParseNumber(value);
    rest.remove_prefix(rest.find(value) + value.size());
}

struct BodyItem {
    std::string_view name;
    int part;
};

constexpr BodyItem kBodyItems[] = {
    {"BODY[]", CUT_IMAP4Client::kFetchWhole},
    {"BODY[TEXT]", CUT_IMAP4Client::kFetchText},
    {"BODY[HEADER]", CUT_IMAP4Client::kFetchHeader},
};

// The body part an item name stands for, or -1.
int BodyPartNamed(std::string_view name) {
    for (const BodyItem& item : kBodyItems)
        if (imap::EqualsNoCase(name, item.name))
            return item.part;
    return -1;
}

} // namespace

// --- reading replies --------------------------------------------------------------

int CUT_IMAP4Client::ReadReplyPiece(char* buffer, bool& continuation) {
    continuation = m_bLineContinues;
    const int n = ReadLine(buffer, static_cast<int>(kMaxLine) + 1, m_nResponseTimeOut);
    if (n <= 0)
        return n;
    m_nLineBytes = continuation ? m_nLineBytes + n : n;
    m_nReplyBytes += n;
    m_bLineContinues = buffer[n - 1] != '\n';
    if (m_nLineBytes > kMaxLineBytes || m_nReplyBytes > kMaxReplyBytes)
        AbandonConnection(UT::ResponseUnknown);
    return n;
}

void CUT_IMAP4Client::AbandonConnection(ResultCode fault) {
    if (fault != UT::Success)
        m_nReplyFault = fault;
    if (m_bLoggedIn.exchange(false))
        m_state.store(LoggedOut);
    Disconnect();
    m_bLineContinues = false;
    m_nLineBytes = 0;
}

std::unique_ptr<CUT_DataSource> CUT_IMAP4Client::ReceiveLiteral(long long length, bool keep) {
    if (length < 0 || length > kMaxLiteralBytes) {
        AbandonConnection(UT::ResponseUnknown);
        return nullptr;
    }
    std::unique_ptr<CUT_DataSource> source;
    if (!keep)
        source = std::make_unique<DiscardDataSource>();
    else if (length <= kMaxMemoryLiteral)
        source = std::make_unique<CUT_BufferDataSource>(static_cast<std::size_t>(length) + 1);
    else
        source = std::make_unique<CUT_MapFileDataSource>(static_cast<std::uint64_t>(length) + 1);
    ResultCode rc = UT::Success;
    if (length == 0) {
        if (source->Open(CUT_DataSource::kOpenWrite) != 0 || source->Close() != 0)
            rc = UT::SourceOpenFailed;
    } else {
        // The literal's bytes go straight into the source, never through the
        // line reader: they are message data, not reply lines.
        rc = ReceiveToSource(*source, CUT_DataSource::kOpenWrite, m_nResponseTimeOut, length);
    }
    if (rc != UT::Success) {
        // Part of the literal may still be on its way: nothing after it can
        // be read in step any more.
        AbandonConnection(UT::Success);
        return nullptr;
    }
    return source;
}

void CUT_IMAP4Client::SkipTrailingLiteral(const char* line) {
    const long long length = text::TrailingLiteralLength(line);
    if (length < 0 || !IsConnected())
        return;
    if (ReceiveLiteral(length, false) != nullptr && IsConnected())
        m_bLineContinues = true; // the rest of the reply line follows the literal
}

bool CUT_IMAP4Client::ReadTrailingLiteralInto(const char* line, std::string& text) {
    const long long length = text::TrailingLiteralLength(line);
    if (length < 0 || !IsConnected())
        return false;
    // A name longer than a literal kept in memory is no name: it is
    // received and dropped, and the text stays empty.
    text.clear();
    const std::unique_ptr<CUT_DataSource> source =
        ReceiveLiteral(length, length <= kMaxMemoryLiteral);
    if (source == nullptr)
        return true;
    if (IsConnected())
        m_bLineContinues = true; // the rest of the reply line follows the literal
    if (const auto* kept = dynamic_cast<const CUT_BufferDataSource*>(source.get()))
        text.assign(kept->GetBuffer(), kept->GetLength());
    return true;
}

CUT_DataSource* CUT_IMAP4Client::ReadLiteral(const char* text) {
    if (text == nullptr)
        return nullptr;
    std::unique_ptr<CUT_DataSource> source;
    if (text[0] == '"') {
        const char* close = std::strchr(text + 1, '"');
        if (close == nullptr)
            return nullptr;
        const std::size_t length = std::min(static_cast<std::size_t>(close - text - 1), kMaxLine);
        source = std::make_unique<CUT_BufferDataSource>(length);
        if (source->Open(CUT_DataSource::kOpenWrite) != 0)
            return nullptr;
        const int written = source->Write(text + 1, length);
        if (source->Close() != 0 || written != static_cast<int>(length))
            return nullptr;
    } else if (text[0] == '{') {
        const long long length = LiteralLengthAt(text);
        if (length < 0)
            return nullptr;
        source = ReceiveLiteral(length, true);
        if (source == nullptr)
            return nullptr;
    } else if (imap::StartsWithNoCase(text, "NIL")) {
        source = std::make_unique<CUT_BufferDataSource>(std::size_t{1});
    } else {
        return nullptr;
    }
    m_ownedSources.push_back(std::move(source));
    return m_ownedSources.back().get();
}

ResultCode CUT_IMAP4Client::WaitForCompletion(CommandLock lock, const char* tag, char* textOut) {
    const bool tagless = tag == nullptr || tag[0] == '\0';
    const std::size_t tagLength = tagless ? 0 : std::strlen(tag);
    m_nReplyBytes = 0;
    m_nReplyFault = UT::Success;

    char piece[kMaxLine + 1];
    for (;;) {
        piece[0] = '\0';
        bool continuation = false;
        const int n = ReadReplyPiece(piece, continuation);
        if (m_nReplyFault != UT::Success)
            return m_nReplyFault;
        if (n <= 0)
            return UT::ReceiveTimedOut;
        if (continuation) {
            // The rest of a line longer than one piece: its beginning has
            // been examined, and no part of a line is read as a new line.
            SkipTrailingLiteral(piece);
            if (m_nReplyFault != UT::Success)
                return m_nReplyFault;
            continue;
        }

        // A SEARCH reply is examined whole: its numbers may run on past one
        // piece, and none of them may be lost or cut.
        std::string whole;
        if (m_bLineContinues && IsUntaggedSearch(piece)) {
            whole = piece;
            if (!ReadRestOfLine(whole))
                return m_nReplyFault != UT::Success ? m_nReplyFault : UT::ReceiveTimedOut;
        }
        const char* line = whole.empty() ? piece : whole.c_str();

        HandleResponseLine(line);
        if (m_nReplyFault != UT::Success)
            return m_nReplyFault;

        if (tagless) {
            if (textOut != nullptr) {
                std::strncpy(textOut, line, kMaxLine);
                textOut[kMaxLine] = '\0';
            }
            StoreLastResponse(line);
            return UT::Success;
        }
        if (std::strncmp(line, tag, tagLength) == 0) {
            const char* status = line + tagLength;
            const char* text =
                std::strlen(status) <= kStatusWordLength ? status : status + kStatusWordLength;
            if (*text == ' ')
                ++text;
            if (textOut != nullptr) {
                std::strncpy(textOut, text, kMaxLine);
                textOut[kMaxLine] = '\0';
            }
            StoreLastResponse(text);
            ResultCode result = UT::ResponseUnknown;
            if (imap::StartsWithNoCase(status, "OK "))
                result = UT::Success;
            else if (imap::StartsWithNoCase(status, "NO "))
                result = UT::Failed;
            else if (imap::StartsWithNoCase(status, "BAD "))
                result = UT::CommandBad;
            // The events are taken while the lock is held: once it is
            // released, the keep-alive thread's NOOP may gather new ones.
            const PendingEvents events = std::exchange(m_pending, PendingEvents{});
            lock.unlock();
            DeliverPendingEvents(events);
            return result;
        }
        if (m_bShuttingDown.load())
            return UT::Cancelled;
    }
}

bool CUT_IMAP4Client::ReadRestOfLine(std::string& line) {
    char piece[kMaxLine + 1];
    while (m_bLineContinues) {
        bool continuation = false;
        const int n = ReadReplyPiece(piece, continuation);
        if (n <= 0 || m_nReplyFault != UT::Success)
            return false;
        line.append(piece, static_cast<std::size_t>(n));
    }
    return true;
}

void CUT_IMAP4Client::StoreLastResponse(const char* text) {
    std::lock_guard<std::mutex> lock(m_lastResponseLock);
    m_strLastResponse = CutText(text, kMaxLine);
}

void CUT_IMAP4Client::DeliverPendingEvents(const PendingEvents& events) {
    if (events.exists) {
        OnExistsChanged(events.existsNumber);
        m_nMessageCount.store(events.existsNumber);
    }
    if (events.recent) {
        OnRecentChanged(events.recentNumber);
        m_nRecentCount.store(events.recentNumber);
    }
    for (std::size_t i = 0; i < events.expunged.size(); ++i) {
        OnExpunged(events.expunged[i]);
        // Each expunged message leaves the count, unless an EXISTS that
        // came after it already left it out (RFC 3501 section 7.4.1).
        if (i >= events.expungedBeforeExists)
            m_nMessageCount.store(std::max(m_nMessageCount.load() - 1, 0));
    }
    if (events.fetch)
        OnFetchDone();
}

// --- examining reply lines ----------------------------------------------------------

void CUT_IMAP4Client::HandleResponseLine(const char* line) {
    const std::string_view reply(line);
    const std::string word1 = Word(reply, 1);
    const std::string word2 = Word(reply, 2);
    // Message data (EXISTS, RECENT, EXPUNGE, FETCH) comes on untagged lines
    // only: a completion such as "A0005 OK Expunge completed" carries none.
    const bool untagged = IsUntagged(reply);
    using imap::EqualsNoCase;

    // RFC 3501 section 7.1.5: the server is closing the connection.
    if (EqualsNoCase(word1, "BYE") && m_bLoggedIn.load()) {
        m_bLoggedIn.store(false);
        m_state.store(LoggedOut);
        CloseSession();
    }

    if (EqualsNoCase(word1, "CAPABILITY")) {
        // The rest of the line after the word and its space.
        std::string_view capabilities = imap::TextAfterToken(reply, kLineDelimiters, 1);
        SkipOne(capabilities);
        m_strCapabilities = CutText(capabilities, kMaxCapabilityLength);
    } else if (untagged && (EqualsNoCase(word2, "EXISTS") || EqualsNoCase(word2, "RECENT") ||
                            EqualsNoCase(word2, "EXPUNGE"))) {
        const int number = imap::ParseNumber(word1);
        if (EqualsNoCase(word2, "EXISTS")) {
            m_pending.exists = true;
            m_pending.existsNumber = number;
            m_pending.expungedBeforeExists = m_pending.expunged.size();
        } else if (EqualsNoCase(word2, "RECENT")) {
            m_pending.recent = true;
            m_pending.recentNumber = number;
        } else {
            m_pending.expunged.push_back(number);
        }
    } else if (EqualsNoCase(word1, "SEARCH")) {
        imap::TokenReader numbers(imap::TextAfterToken(reply, kLineDelimiters, 1), kLineDelimiters);
        for (std::string_view token; numbers.Next(token);)
            m_searchResults.push_back(imap::ParseNumber(token));
    } else if (untagged && EqualsNoCase(word2, "FETCH")) {
        ParseFetchLine(line);
        return; // it has read on past this line and skipped what it had to
    } else if (EqualsNoCase(word1, "STATUS")) {
        imap::ParseStatusLine(reply, m_mailboxStatus);
    } else if (EqualsNoCase(word1, "LIST") || EqualsNoCase(word1, "LSUB")) {
        m_listEntries.push_back(imap::ParseListLine(reply));
        // RFC 3501 section 4.3: a name that is no atom or quoted string
        // comes as a literal, the last thing on the line; its bytes follow.
        if (ReadTrailingLiteralInto(line, m_listEntries.back().name))
            return;
    } else if (EqualsNoCase(word1, "FLAGS")) {
        std::string flags;
        if (imap::TokenAt(reply, "()\r\n", 1, flags)) {
            int bits = 0;
            imap::ParseFlagList(flags, bits, &m_strMailboxKeywords);
            m_nMailboxFlags.store(bits);
        }
    } else if (EqualsNoCase(word1, "OK") || EqualsNoCase(word1, "NO") ||
               EqualsNoCase(word1, "BAD")) {
        // Response codes (RFC 3501 section 7.1).
        if (EqualsNoCase(word2, "[ALERT]")) {
            const std::string alert(imap::TextAfterToken(reply, kLineDelimiters, 2));
            OnAlert(alert.c_str());
        } else if (EqualsNoCase(word2, "[PERMANENTFLAGS")) {
            std::string code;
            std::string flags;
            imap::TokenAt(reply, "[]\r\n", 1, code);
            imap::TokenAt(code, "()\r\n", 1, flags);
            int bits = 0;
            imap::ParseFlagList(flags, bits, &m_strPermanentKeywords);
            m_nPermanentFlags.store(bits);
        } else if (EqualsNoCase(word2, "[READ-ONLY]")) {
            m_nReadWrite.store(0);
        } else if (EqualsNoCase(word2, "[READ-WRITE]")) {
            m_nReadWrite.store(1);
        } else if (EqualsNoCase(word2, "[UIDVALIDITY") || EqualsNoCase(word2, "[UNSEEN")) {
            std::atomic<int>& number = EqualsNoCase(word2, "[UNSEEN") ? m_nUnseen : m_nUidValidity;
            std::string value;
            number.store(imap::TokenAt(reply, kLineDelimiters, 3, value) ? imap::ParseNumber(value)
                                                                         : 0);
        }
    }
    // Only FETCH data is read past its line; the literal of any other line
    // is received and dropped so that its bytes are never taken for replies.
    SkipTrailingLiteral(line);
}

// --- FETCH data -------------------------------------------------------------------------

void CUT_IMAP4Client::ParseFetchLine(const char* firstLine) {
    FetchCursor cursor;
    cursor.line = firstLine;
    cursor.rest = cursor.line;
    if (!SkipPastNoCase(cursor.rest, "FETCH (")) {
        SkipTrailingLiteral(firstLine);
        return;
    }

    MessageRecord record;
    record.number = imap::ParseNumber(Word(cursor.line, 1));
    for (;;) {
        while (cursor.rest.starts_with(' '))
            cursor.rest.remove_prefix(1);
        std::string name;
        if (!imap::TokenAt(cursor.rest, kLineDelimiters, 0, name) || name[0] == ')')
            break;
        // The name starts here unless CR or LF stand before it.
        cursor.rest.remove_prefix(cursor.rest.find(name) + name.size());

        using imap::EqualsNoCase;
        if (EqualsNoCase(name, "FLAGS"))
            ReadFetchFlags(cursor.rest, record);
        else if (EqualsNoCase(name, "INTERNALDATE"))
            ReadFetchDate(cursor.rest, record);
        else if (EqualsNoCase(name, "UID"))
            ReadFetchNumber(cursor.rest, record.uid);
        else if (EqualsNoCase(name, "RFC822.SIZE"))
            ReadFetchNumber(cursor.rest, record.size);
        else if (const int part = BodyPartNamed(name); part >= 0)
            ReadFetchBody(cursor, part, record);
        else
            SkipFetchItem(cursor);
        if (m_nReplyFault != UT::Success || !IsConnected())
            break;

        // Only a well-formed literal announcement continues the reply on
        // the next line; anything else there would swallow a reply line.
        if (LiteralLengthAt(cursor.rest) >= 0 && cursor.line.find("}\r\n") != std::string::npos &&
            !ContinueAfterLiteral(cursor))
            break;
    }
    m_messageRecords.push_back(std::move(record));
    m_pending.fetch = true;
    if (!cursor.literalRead && m_nReplyFault == UT::Success)
        SkipTrailingLiteral(cursor.line.c_str());
}

// BODY[...] followed by a literal, a quoted string or NIL. A literal is
// read into a source here (or the connection is gone); the cursor stays on
// its announcement.
void CUT_IMAP4Client::ReadFetchBody(FetchCursor& cursor, int part, MessageRecord& record) {
    record.bodyPart = part;
    SkipOne(cursor.rest); // the space after the name
    const std::string_view value = cursor.rest;
    if (value.starts_with('{'))
        cursor.literalRead = true;
    if (CUT_DataSource* body = ReadLiteral(value.data()))
        record.body = body;
    if (value.starts_with('"')) {
        const std::size_t close = value.find('"', 1);
        cursor.rest.remove_prefix(close == std::string_view::npos ? value.size() : close + 1);
    } else {
        text::ConsumeKeyword(cursor.rest, "NIL");
    }
}

// An item this client does not ask for. A literal value is received and
// dropped, so that its bytes are never taken for replies; of any other
// value only the first character is passed over.
void CUT_IMAP4Client::SkipFetchItem(FetchCursor& cursor) {
    SkipOne(cursor.rest); // the space after the name
    const long long length = LiteralLengthAt(cursor.rest);
    if (length >= 0) {
        cursor.literalRead = true;
        ReceiveLiteral(length, false);
    } else {
        SkipOne(cursor.rest);
    }
}

bool CUT_IMAP4Client::ContinueAfterLiteral(FetchCursor& cursor) {
    if (!cursor.literalRead) {
        ReceiveLiteral(LiteralLengthAt(cursor.rest), false);
        if (m_nReplyFault != UT::Success || !IsConnected())
            return false;
    }
    // The reply line goes on after the literal.
    char next[kMaxLine + 1];
    next[0] = '\0';
    bool continuation = false;
    if (ReadReplyPiece(next, continuation) <= 0 || m_nReplyFault != UT::Success)
        return false;
    cursor.line = next;
    cursor.rest = cursor.line;
    cursor.literalRead = false;
    return true;
}

// --- results --------------------------------------------------------------------------

int CUT_IMAP4Client::ListEntryCount() {
    return static_cast<int>(m_listEntries.size());
}

ResultCode CUT_IMAP4Client::GetListEntry(int index, const char*& nameOut, const char*& delimiterOut,
                                         int& attributesOut) {
    if (index < 0 || index >= ListEntryCount())
        return ReportResult(UT::IndexOutOfRange);
    const MailboxListEntry& entry = m_listEntries[static_cast<std::size_t>(index)];
    nameOut = entry.name.c_str();
    delimiterOut = entry.delimiter.c_str();
    attributesOut = entry.attributes;
    return ReportResult(UT::Success);
}

ResultCode CUT_IMAP4Client::CopyListEntry(int index, MailboxListEntry* entryOut) {
    if (entryOut == nullptr)
        return ReportResult(UT::NullArgument);
    if (index < 0 || index >= ListEntryCount())
        return ReportResult(UT::IndexOutOfRange);
    *entryOut = m_listEntries[static_cast<std::size_t>(index)];
    return ReportResult(UT::Success);
}

int CUT_IMAP4Client::SearchResultCount() {
    return static_cast<int>(m_searchResults.size());
}

ResultCode CUT_IMAP4Client::GetSearchResult(int index, int& numberOut) {
    if (index < 0 || index >= SearchResultCount())
        return ReportResult(UT::IndexOutOfRange);
    numberOut = m_searchResults[static_cast<std::size_t>(index)];
    return ReportResult(UT::Success);
}

int CUT_IMAP4Client::MessageRecordCount() {
    return static_cast<int>(m_messageRecords.size());
}

ResultCode CUT_IMAP4Client::GetMessageRecord(int index, const MessageRecord*& recordOut) {
    if (index < 0 || index >= MessageRecordCount())
        return ReportResult(UT::IndexOutOfRange);
    m_currentRecord = m_messageRecords[static_cast<std::size_t>(index)];
    recordOut = &m_currentRecord;
    return ReportResult(UT::Success);
}

void CUT_IMAP4Client::ClearMessageRecords() {
    m_messageRecords.clear();
    m_currentRecord = MessageRecord{};
    m_ownedSources.clear();
}
