// CUT_IMAP4Client: the reply side of RFC 3501 (sections 2.2.2, 7 and 9) -
// waiting for a command's tagged completion, examining every reply line,
// reading FETCH data with its literals, and handing out the results.
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_IMAP4Client.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kMaxLine = CUT_IMAP4Client::kMaxTextLength;
constexpr std::string_view kLineDelimiters = " \r\n";

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

// The length of the literal a line announces at its end ("{n}\r\n"), or -1
// when it announces none. Lengths beyond any sane size come back as they
// are (at most 18 digits) for the caller's cap.
long long TrailingLiteralLength(std::string_view line) {
    if (line.size() < 5 || line.substr(line.size() - 3) != "}\r\n")
        return -1;
    const std::size_t open = line.rfind('{', line.size() - 4);
    if (open == std::string_view::npos)
        return -1;
    const std::string_view digits = line.substr(open + 1, line.size() - 4 - open);
    if (digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    long long n = 0;
    for (char c : digits)
        n = n * 10 + (c - '0');
    return n;
}

// The length in "{n}" at the start of text, or -1 when it is not one.
long long LiteralLengthAt(const char* text) {
    const char* close = std::strchr(text, '}');
    if (text[0] != '{' || close == nullptr)
        return -1;
    const std::string_view digits(text + 1, static_cast<std::size_t>(close - text - 1));
    if (digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    long long n = 0;
    for (char c : digits)
        n = n * 10 + (c - '0');
    return n;
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
    const long long length = TrailingLiteralLength(line);
    if (length < 0 || !IsConnected())
        return;
    if (ReceiveLiteral(length, false) != nullptr && IsConnected())
        m_bLineContinues = true; // the rest of the reply line follows the literal
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

ResultCode CUT_IMAP4Client::WaitForCompletion(const char* tag, char* textOut) {
    // Every way out releases the lock the command took.
    struct Release {
        std::recursive_mutex& lock;
        ~Release() { lock.unlock(); }
    };
    const bool tagless = tag == nullptr || tag[0] == '\0';
    const std::size_t tagLength = tagless ? 0 : std::strlen(tag);
    m_nReplyBytes = 0;
    m_nReplyFault = UT::Success;

    ResultCode result = UT::Success;
    {
        Release release{m_commandLock};
        char line[kMaxLine + 1];
        for (;;) {
            line[0] = '\0';
            bool continuation = false;
            const int n = ReadReplyPiece(line, continuation);
            if (m_nReplyFault != UT::Success)
                return m_nReplyFault;
            if (n <= 0)
                return UT::ReceiveTimedOut;
            if (continuation) {
                // The rest of a line longer than one piece: its beginning has
                // been examined, and no part of a line is read as a new line.
                SkipTrailingLiteral(line);
                if (m_nReplyFault != UT::Success)
                    return m_nReplyFault;
                continue;
            }

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
                const char* text = std::strlen(status) <= 3 ? status : status + 3;
                if (*text == ' ')
                    ++text;
                if (textOut != nullptr) {
                    std::strncpy(textOut, text, kMaxLine);
                    textOut[kMaxLine] = '\0';
                }
                StoreLastResponse(text);
                if (imap::StartsWithNoCase(status, "OK "))
                    result = UT::Success;
                else if (imap::StartsWithNoCase(status, "NO "))
                    result = UT::Failed;
                else if (imap::StartsWithNoCase(status, "BAD "))
                    result = UT::CommandBad;
                else
                    result = UT::ResponseUnknown;
                break;
            }
            if (m_bShuttingDown.load())
                return UT::Cancelled;
        }
    }
    DeliverPendingEvents();
    return result;
}

void CUT_IMAP4Client::StoreLastResponse(const char* text) {
    m_strLastResponse = CutText(text, kMaxLine);
}

void CUT_IMAP4Client::DeliverPendingEvents() {
    if (m_bPendingExists) {
        m_bPendingExists = false;
        OnExistsChanged(m_nPendingExists);
        m_nMessageCount = m_nPendingExists;
    }
    if (m_bPendingRecent) {
        m_bPendingRecent = false;
        OnRecentChanged(m_nPendingRecent);
        m_nRecentCount = m_nPendingRecent;
    }
    if (m_bPendingExpunge) {
        m_bPendingExpunge = false;
        OnExpunged(m_nPendingExpunge);
    }
    if (m_bPendingFetch) {
        m_bPendingFetch = false;
        OnFetchDone();
    }
}

// --- examining reply lines ----------------------------------------------------------

void CUT_IMAP4Client::HandleResponseLine(const char* line) {
    const std::string_view text(line);
    const std::string word1 = Word(text, 1);
    const std::string word2 = Word(text, 2);
    using imap::EqualsNoCase;

    // RFC 3501 section 7.1.5: the server is closing the connection.
    if (EqualsNoCase(word1, "BYE") && m_bLoggedIn.load()) {
        m_bLoggedIn.store(false);
        m_state.store(LoggedOut);
        CloseSession();
    }

    if (EqualsNoCase(word1, "CAPABILITY")) {
        m_strCapabilities =
            text.size() > 13 ? CutText(text.substr(13), kMaxCapabilityLength) : std::string();
    } else if (EqualsNoCase(word2, "EXISTS") || EqualsNoCase(word2, "RECENT") ||
               EqualsNoCase(word2, "EXPUNGE")) {
        const int number = imap::ParseNumber(word1);
        if (EqualsNoCase(word2, "EXISTS")) {
            m_bPendingExists = true;
            m_nPendingExists = number;
        } else if (EqualsNoCase(word2, "RECENT")) {
            m_bPendingRecent = true;
            m_nPendingRecent = number;
        } else {
            m_bPendingExpunge = true;
            m_nPendingExpunge = number;
        }
    } else if (EqualsNoCase(word1, "SEARCH")) {
        const std::string_view numbers = text.size() > 9 ? text.substr(9) : std::string_view();
        std::string token;
        for (int i = 0; imap::TokenAt(numbers, kLineDelimiters, i, token); ++i)
            m_searchResults.push_back(imap::ParseNumber(token));
    } else if (EqualsNoCase(word2, "FETCH")) {
        ParseFetchLine(line);
        return; // it has read on past this line and skipped what it had to
    } else if (EqualsNoCase(word1, "STATUS")) {
        imap::ParseStatusLine(text, m_mailboxStatus);
    } else if (EqualsNoCase(word1, "LIST") || EqualsNoCase(word1, "LSUB")) {
        m_listEntries.push_back(imap::ParseListLine(text));
    } else if (EqualsNoCase(word1, "FLAGS")) {
        std::string flags;
        if (imap::TokenAt(text, "()\r\n", 1, flags))
            imap::ParseFlagList(flags, m_nMailboxFlags, &m_strMailboxKeywords);
    } else if (EqualsNoCase(word1, "OK") || EqualsNoCase(word1, "NO") ||
               EqualsNoCase(word1, "BAD")) {
        // Response codes (RFC 3501 section 7.1).
        if (EqualsNoCase(word2, "[ALERT]")) {
            OnAlert(text.size() > 12 ? line + 12 : "");
        } else if (EqualsNoCase(word2, "[PERMANENTFLAGS")) {
            std::string code;
            std::string flags;
            imap::TokenAt(text, "[]\r\n", 1, code);
            imap::TokenAt(code, "()\r\n", 1, flags);
            imap::ParseFlagList(flags, m_nPermanentFlags, &m_strPermanentKeywords);
        } else if (EqualsNoCase(word2, "[READ-ONLY]")) {
            m_nReadWrite = 0;
        } else if (EqualsNoCase(word2, "[READ-WRITE]")) {
            m_nReadWrite = 1;
        } else if (EqualsNoCase(word2, "[UIDVALIDITY") || EqualsNoCase(word2, "[UNSEEN")) {
            int& number = EqualsNoCase(word2, "[UNSEEN") ? m_nUnseen : m_nUidValidity;
            number = 0;
            std::string value;
            if (imap::TokenAt(text, kLineDelimiters, 3, value))
                number = imap::ParseNumber(value);
        }
    }
    // Only FETCH data is read past its line; the literal of any other line
    // is received and dropped so that its bytes are never taken for replies.
    SkipTrailingLiteral(line);
}

void CUT_IMAP4Client::ParseFetchLine(const char* firstLine) {
    std::string line = firstLine;
    const auto findNoCase = [](const std::string& text, std::string_view what) {
        for (std::size_t i = 0; i + what.size() <= text.size(); ++i)
            if (imap::EqualsNoCase(std::string_view(text).substr(i, what.size()), what))
                return i;
        return std::string::npos;
    };
    const std::size_t items = findNoCase(line, "FETCH (");
    if (items == std::string::npos) {
        SkipTrailingLiteral(line.c_str());
        return;
    }

    MessageRecord record;
    record.number = imap::ParseNumber(Word(line, 1));
    std::size_t pos = items + 7;
    bool literalRead = false; // the literal the current line ends with has been read
    for (;;) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        std::string name;
        if (pos >= line.size() ||
            !imap::TokenAt(std::string_view(line).substr(pos), kLineDelimiters, 0, name))
            break;
        if (name[0] == ')')
            break;
        // The name starts at pos unless CR or LF stand before it.
        pos = line.find(name, pos);
        const std::size_t afterName = pos + name.size();
        using imap::EqualsNoCase;

        if (EqualsNoCase(name, "FLAGS")) {
            pos = afterName + 2; // the space and the opening parenthesis
            if (pos < line.size() && line[pos] == ')') {
                ++pos;
            } else if (pos < line.size()) {
                const std::size_t close = line.find(')', pos);
                const std::size_t end = close == std::string::npos ? line.size() : close;
                imap::ParseFlagList(std::string_view(line).substr(pos, end - pos), record.flags,
                                    &record.keywords);
                pos = close == std::string::npos ? line.size() : close + 1;
            }
        } else if (EqualsNoCase(name, "INTERNALDATE")) {
            const std::size_t open = line.find('"', afterName);
            const std::size_t close =
                open == std::string::npos ? std::string::npos : line.find('"', open + 1);
            if (close == std::string::npos) {
                pos = line.size();
            } else {
                const std::size_t length = close - open - 1;
                record.internalDate = length <= MessageRecord::kMaxInternalDate
                                          ? line.substr(open + 1, length)
                                          : std::string();
                pos = close + 1;
            }
        } else if (EqualsNoCase(name, "UID") || EqualsNoCase(name, "RFC822.SIZE")) {
            std::string value;
            const std::string_view rest = std::string_view(line).substr(afterName);
            if (imap::TokenAt(rest, " )\r\n", 0, value)) {
                (EqualsNoCase(name, "UID") ? record.uid : record.size) = imap::ParseNumber(value);
                pos = afterName + rest.find(value) + value.size();
            } else {
                pos = line.size();
            }
        } else if (EqualsNoCase(name, "BODY[]") || EqualsNoCase(name, "BODY[TEXT]") ||
                   EqualsNoCase(name, "BODY[HEADER]")) {
            record.bodyPart = EqualsNoCase(name, "BODY[]")       ? 0
                              : EqualsNoCase(name, "BODY[TEXT]") ? 1
                                                                 : 2;
            pos = std::min(afterName + 1, line.size());
            const char* value = line.c_str() + pos;
            if (value[0] == '{')
                literalRead = true; // read here, or the connection is gone
            if (CUT_DataSource* body = ReadLiteral(value))
                record.body = body;
            if (value[0] == '"') {
                const std::size_t close = line.find('"', pos + 1);
                pos = close == std::string::npos ? line.size() : close + 1;
            } else if (imap::StartsWithNoCase(value, "NIL")) {
                pos += 3;
            }
        } else {
            // An item this client does not ask for. A literal value is read
            // and dropped, so that its bytes are never taken for replies.
            pos = afterName + 1;
            if (pos < line.size() && LiteralLengthAt(line.c_str() + pos) >= 0) {
                literalRead = true;
                ReceiveLiteral(LiteralLengthAt(line.c_str() + pos), false);
            } else {
                ++pos;
            }
        }
        pos = std::min(pos, line.size());
        if (m_nReplyFault != UT::Success || !IsConnected())
            break;

        // Only a well-formed literal announcement continues the reply on
        // the next line; anything else there would swallow a reply line.
        if (pos < line.size() && line[pos] == '{' && line.find("}\r\n") != std::string::npos &&
            LiteralLengthAt(line.c_str() + pos) >= 0) {
            if (!literalRead) {
                ReceiveLiteral(LiteralLengthAt(line.c_str() + pos), false);
                if (m_nReplyFault != UT::Success || !IsConnected())
                    break;
            }
            // The reply line goes on after the literal.
            char next[kMaxLine + 1];
            next[0] = '\0';
            bool continuation = false;
            if (ReadReplyPiece(next, continuation) <= 0 || m_nReplyFault != UT::Success)
                break;
            line = next;
            pos = 0;
            literalRead = false;
        }
    }
    m_messageRecords.push_back(std::move(record));
    m_bPendingFetch = true;
    if (!literalRead && m_nReplyFault == UT::Success)
        SkipTrailingLiteral(line.c_str());
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
