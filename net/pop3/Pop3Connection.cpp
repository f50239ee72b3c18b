// POP3 client session (RFC 1939) over CWSocket or CSSLSocket.
//
// Replies are read chunk by chunk, each chunk waited for at most
// m_nReadTimeoutMs, into a buffer that doubles when a read fills it. A one-line
// reply ends with CR LF; a multi-line reply (LIST, UIDL, RETR) ends with
// the dot line, CR LF "." CR LF (RFC 1939 section 3).
#include "net/pop3/Pop3Connection.h"

#include "net/Text.h"
#include "net/pop3/Pop3Message.h"
#include "net/tls/TlsSession.h"
#include "platform/Errors.h"
#include "platform/Socket.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kMultiLineEnd = "\r\n.\r\n";

constexpr std::size_t kStatusReplyBuffer = 1000;
constexpr std::size_t kStatReplyBuffer = 100;
constexpr std::size_t kListingExtra = 100;
constexpr std::size_t kMessageExtra = 100;
constexpr std::size_t kReplyGrowthStep = 4096;
constexpr std::size_t kMessageGrowthStep = 32000;

// The socket layer raises heap-allocated exceptions; the catcher owns them.
int TakeErrorCode(CWSocketException* e) {
    const std::unique_ptr<CWSocketException> owner(e);
    return owner->m_nErrorCode;
}

// A positive status indicator, "+OK", in any letter case.
bool IsPositive(std::string_view text) {
    return text.size() >= 3 && text[0] == '+' && (text[1] == 'O' || text[1] == 'o') &&
           (text[2] == 'K' || text[2] == 'k');
}

bool IsSpace(char c) {
    return text::IsCSpace(c);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The decimal number at pos, read as atoi reads it (leading white space,
// an optional sign, digits), but saturating at lo and hi instead of
// overflowing.
long long ParseNumber(std::string_view reply, std::size_t pos, long long lo, long long hi) {
    return text::ReadDecimal(reply.substr(pos), {text::kCSpace, true}).Clamp(lo, hi);
}

// The text after the status line: everything behind the first line feed,
// nothing when there is none.
std::string_view AfterStatusLine(std::string_view text) {
    const std::size_t lf = text.find('\n');
    return lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
}

// A user name or password goes into one command line as it stands. A line
// break or NUL in it would end the command early and let the rest be taken
// as further commands, and the line buffer holds 124 characters of it.
bool IsSafeCommandArgument(const std::string& text) {
    constexpr std::size_t kMaxArgument =
        CPop3Connection::kCommandLineBuffer - std::string_view("USER \r\n").size() - 1;
    return text.size() <= kMaxArgument && !text::HasLineBreakOrNul(text);
}

} // namespace

void CPop3Connection::ReplyBuffer::Free::operator()(char* p) const {
    std::free(p);
}

bool CPop3Connection::ReplyBuffer::Allocate(std::size_t bytes) {
    data.reset(bytes > 0 ? static_cast<char*>(std::malloc(bytes)) : nullptr);
    size = data ? bytes : 0;
    length = 0;
    if (!data) {
        port::SetLastErrorValue(port::kErrOutOfMemory);
        return false;
    }
    data.get()[0] = '\0';
    return true;
}

bool CPop3Connection::ReplyBuffer::Grow(std::size_t bytes) {
    if (!data || bytes <= size)
        return false;
    // realloc keeps the old block when it fails; large blocks are moved by
    // remapping their pages, not by copying them.
    char* larger = static_cast<char*>(std::realloc(data.get(), bytes));
    if (larger == nullptr) {
        port::SetLastErrorValue(port::kErrOutOfMemory);
        return false;
    }
    (void)data.release(); // now owned through `larger`
    data.reset(larger);
    size = bytes;
    return true;
}

std::size_t CPop3Connection::GrownBufferSize(std::size_t size, std::size_t growthStep,
                                             std::size_t maxLength) {
    const std::size_t grown = size + std::max(growthStep, size);
    return std::max(std::min(grown, maxLength + 1), size + 1);
}

CPop3Connection::~CPop3Connection() {
    if (m_bSessionOpen != 0)
        Disconnect();
}

std::string CPop3Connection::LastReply() const {
    return m_strLastReply;
}

bool CPop3Connection::SendCommand(const char* text, std::size_t length) {
    if (m_bUseTls == 1)
        return m_tls.Send(text, length) > 1; // every command is longer than one byte
    try {
        m_socket.Send(text, length);
        return true;
    } catch (CWSocketException* e) {
        port::SetLastErrorValue(TakeErrorCode(e));
        return false;
    }
}

bool CPop3Connection::WaitReadable() {
    try {
        // The TLS channel counts bytes it has already decrypted as readable.
        if (m_bUseTls == 1)
            return m_tls.IsReadable(m_nReadTimeoutMs);
        return m_socket.IsReadable(m_nReadTimeoutMs);
    } catch (CWSocketException* e) {
        TakeErrorCode(e);
        return false;
    }
}

long CPop3Connection::ReceiveChunk(char* buffer, std::size_t capacity) {
    if (m_bUseTls == 1)
        return m_tls.Receive(buffer, capacity);
    try {
        return m_socket.Receive(buffer, capacity);
    } catch (CWSocketException* e) {
        TakeErrorCode(e);
        return -1;
    }
}

void CPop3Connection::FailRead(const ReplyBuffer& reply) {
    // What had arrived, bounded: a reply that failed for being too long
    // must not be copied whole.
    m_strLastReply.assign(reply.Text().substr(0, kMaxStatusReply));
}

bool CPop3Connection::ReadReply(ReplyBuffer& reply, std::string_view terminator,
                                std::size_t growthStep, std::size_t maxLength) {
    if (!reply.data || reply.size < 2)
        return false;
    reply.length = 0;
    reply.Bytes()[0] = '\0';
    // A one-line reply has no status line to look for.
    bool statusLineSeen = terminator == kLineEnd;
    std::size_t statusSearchedTo = 0; // the status line's end is not before
    for (;;) {
        if (reply.length >= terminator.size() && reply.Text().ends_with(terminator)) {
            reply.length -= terminator.size();
            break;
        }
        // A negative reply is one line (RFC 1939, 3), also where a positive
        // one would go on: waiting for the end of a listing or a message
        // that never comes would stall until the time-out. Only the bytes
        // new since the last look are searched (one back, for a CR that
        // ended the last chunk), so a huge status line is searched once.
        if (!statusLineSeen) {
            const std::size_t lineEnd =
                reply.Text().find(kLineEnd, statusSearchedTo > 0 ? statusSearchedTo - 1 : 0);
            if (lineEnd != std::string_view::npos) {
                if (!IsPositive(reply.Text())) {
                    reply.length = lineEnd;
                    break;
                }
                statusLineSeen = true;
            }
            statusSearchedTo = reply.length;
        }
        if (reply.length >= maxLength) {
            port::SetLastErrorValue(port::kErrMessageTooLong);
            FailRead(reply);
            return false;
        }
        if (!WaitReadable()) {
            FailRead(reply);
            return false;
        }
        const std::size_t offered = reply.size - reply.length - 1;
        const long received = ReceiveChunk(reply.Bytes() + reply.length, offered);
        if (received < 1) { // failure, or the server closed the connection
            FailRead(reply);
            return false;
        }
        reply.length += static_cast<std::size_t>(received);
        reply.Bytes()[reply.length] = '\0';
        // A full buffer grows. Past the bound it does not: the loop then
        // ends the read, complete or too long.
        if (static_cast<std::size_t>(received) == offered && reply.length < maxLength &&
            !reply.Grow(GrownBufferSize(reply.size, growthStep, maxLength))) {
            FailRead(reply);
            return false;
        }
    }
    reply.Bytes()[reply.length] = '\0';

    if (!IsPositive(reply.Text())) {
        port::SetLastErrorValue(port::kErrProtocolNotSupported);
        m_strLastReply.assign(reply.Text().substr(0, kMaxStatusReply));
        return false;
    }
    return true;
}

bool CPop3Connection::ReadStatusReply() {
    ReplyBuffer reply;
    return reply.Allocate(kStatusReplyBuffer) &&
           ReadReply(reply, kLineEnd, kReplyGrowthStep, kMaxStatusReply);
}

bool CPop3Connection::ReadStatReply(int& count, std::uint32_t& totalSize) {
    ReplyBuffer reply;
    if (!reply.Allocate(kStatReplyBuffer) ||
        !ReadReply(reply, kLineEnd, kReplyGrowthStep, kMaxStatusReply))
        return false;
    const std::string_view text = reply.Text();
    if (!text.starts_with("+OK")) // this reply alone must be in capitals
        return false;

    // "+OK nn mm": the number after the first blank or tab is the count,
    // the one after the second the total size.
    bool haveCount = false;
    int parsedCount = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsBlank(text[i]))
            continue;
        if (!haveCount) {
            parsedCount = static_cast<int>(ParseNumber(text, i + 1, INT_MIN, INT_MAX));
            m_nMailCount = parsedCount;
            haveCount = true;
        } else {
            totalSize = static_cast<std::uint32_t>(ParseNumber(text, i + 1, 0, UINT32_MAX));
            count = parsedCount;
            return true;
        }
    }
    return false;
}

bool CPop3Connection::ReadListing(ReplyBuffer& reply, int count, std::size_t bytesPerMessage) {
    // Sized from the count, but never gigabytes up front for a hostile one.
    const std::size_t messages = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t initial =
        std::min(bytesPerMessage * messages + kListingExtra, kMaxInitialListingBuffer);
    return reply.Allocate(initial) && ReadMultiLineReply(reply, kReplyGrowthStep, kMaxListing);
}

bool CPop3Connection::ReadMultiLineReply(ReplyBuffer& reply, std::size_t growthStep,
                                         std::size_t maxLength) {
    if (!ReadReply(reply, kMultiLineEnd, growthStep, maxLength))
        return false;
    if (!IsPositive(reply.Text())) { // checked again after the general reader
        port::SetLastErrorValue(port::kErrProtocolNotSupported);
        return false;
    }
    return true;
}

bool CPop3Connection::ReadSizeListing(int count) {
    m_sizeList.clear();
    ReplyBuffer reply;
    if (!ReadListing(reply, count, kSizeListingBytesPerMessage))
        return false;

    // Lines "n size": every blank or tab starts an entry, the number after
    // it as atoi reads it; the message number at the start of each line is
    // not used. atoi skips white space first, so every blank of one run of
    // white space reads the same number: it is read once per run, which
    // keeps the parse linear however many blanks a line holds.
    const std::string_view rest = AfterStatusLine(reply.Text());
    m_sizeList.reserve(std::min(static_cast<std::size_t>(std::max(count, 0)), rest.size()));
    std::size_t numberAt = 0; // where the number of the current run starts
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < rest.size() && rest[i] != '.'; ++i) {
        if (!IsBlank(rest[i]))
            continue;
        if (i >= numberAt) { // a new run: only white space from i to numberAt
            numberAt = i + 1;
            while (numberAt < rest.size() && IsSpace(rest[numberAt]))
                ++numberAt;
            number = static_cast<std::uint32_t>(ParseNumber(rest, numberAt, 0, UINT32_MAX));
        }
        m_sizeList.push_back(number);
    }
    return true;
}

bool CPop3Connection::ReadIdListing(int count) {
    // Longest words kept from a line; longer ones are cut.
    constexpr std::size_t kMaxNumberWord = 15;
    constexpr std::size_t kMaxIdWord = 999;

    m_idList.clear();
    ReplyBuffer reply;
    if (!ReadListing(reply, count, kIdListingBytesPerMessage))
        return false;

    // Lines "n unique-id". A line without a second word gives an empty id;
    // a listing with fewer lines than the count gives a shorter list.
    const std::string_view rest = AfterStatusLine(reply.Text());
    m_idList.reserve(std::min(static_cast<std::size_t>(std::max(count, 0)), rest.size()));
    const auto word = [&rest](std::size_t& pos, std::size_t end, std::size_t maxLength) {
        while (pos < end && IsSpace(rest[pos]))
            ++pos;
        const std::size_t start = pos;
        while (pos < end && !IsSpace(rest[pos]))
            ++pos;
        return rest.substr(start, std::min(pos - start, maxLength));
    };
    std::size_t pos = 0;
    for (int taken = 0; taken < count && pos < rest.size(); ++taken) {
        std::size_t lineEnd = rest.find('\n', pos);
        if (lineEnd == std::string_view::npos)
            lineEnd = rest.size();
        word(pos, lineEnd, kMaxNumberWord); // the message number, not used
        // An id is stored as the account's marker, which cannot hold a NUL:
        // the id of a server that sends one ends before it.
        const std::string_view id = word(pos, lineEnd, kMaxIdWord);
        m_idList.emplace_back(id.substr(0, id.find('\0')));
        pos = lineEnd + 1;
    }
    return true;
}

bool CPop3Connection::ReadMessageText(CPop3Message& message, std::uint32_t size) {
    // Sized from the LIST size, which the server gives: bounded like the text.
    const std::size_t initial =
        std::min(static_cast<std::size_t>(size) + kMessageExtra, kMaxMessageText + 1);
    ReplyBuffer reply;
    if (!reply.Allocate(initial) || !ReadMultiLineReply(reply, kMessageGrowthStep, kMaxMessageText))
        return false;
    // Stored as received: byte-stuffed lines keep their doubled dot.
    const std::string_view text = AfterStatusLine(reply.Text());
    if (!message.SetText(text.data(), text.size())) {
        port::SetLastErrorValue(port::kErrOutOfMemory);
        return false;
    }
    return true;
}

bool CPop3Connection::ConnectTransport(const std::string& host, int port, bool& handshakeOk) {
    handshakeOk = true;
    if (!m_strBindAddress.empty())
        m_socket.Bind(m_strBindAddress.c_str());
    const bool tls = m_bUseTls == 1;
    // Credentials go only with a user name; the User-Agent only when set.
    const char* user = m_strProxyUser.empty() ? nullptr : m_strProxyUser.c_str();
    const char* password = m_strProxyUser.empty() ? nullptr : m_strProxyPassword.c_str();
    const char* agent = m_strUserAgent.empty() ? nullptr : m_strUserAgent.c_str();
    const char* proxy = m_strProxyHost.c_str();
    switch (m_nProxyKind) {
    case 0:
        if (tls)
            handshakeOk = m_tls.Connect(host.c_str(), port, m_nReadTimeoutMs);
        else
            m_socket.Connect(host.c_str(), port);
        return true;
    case 1: // SOCKS4
        if (tls)
            handshakeOk = m_tls.ConnectThroughSocks4(host.c_str(), port, proxy, m_nProxyPort,
                                                     m_nReadTimeoutMs);
        else
            m_socket.ConnectThroughSocks4(host.c_str(), port, proxy, m_nProxyPort,
                                          m_nReadTimeoutMs);
        return true;
    case 2: // SOCKS5 (RFC 1928, RFC 1929)
        if (tls)
            handshakeOk = m_tls.ConnectThroughSocks5(host.c_str(), port, proxy, m_nProxyPort, user,
                                                     password, m_nReadTimeoutMs);
        else
            m_socket.ConnectThroughSocks5(host.c_str(), port, proxy, m_nProxyPort, user, password,
                                          m_nReadTimeoutMs);
        return true;
    case 3: { // HTTP CONNECT
        std::string reply;
        if (tls)
            handshakeOk =
                m_tls.ConnectThroughHttpProxy(host.c_str(), port, proxy, m_nProxyPort, reply, user,
                                              password, m_nReadTimeoutMs, agent);
        else
            m_socket.ConnectThroughHttpProxy(host.c_str(), port, proxy, m_nProxyPort, reply, user,
                                             password, m_nReadTimeoutMs, agent);
        return true;
    }
    default:
        return true; // an unknown kind connects nothing; the greeting read fails
    }
}

bool CPop3Connection::AbandonConnect() {
    // The socket calls of the QUIT exchange may overwrite the thread's
    // last-error value (Windows Sockets shares it); the reason the connect
    // failed is what the caller needs.
    const int reason = port::GetLastErrorValue();
    Disconnect();
    port::SetLastErrorValue(reason);
    return false;
}

bool CPop3Connection::Connect(const std::string& host, const std::string& user,
                              const std::string& password, int port) {
    if (!IsSafeCommandArgument(user) || !IsSafeCommandArgument(password)) {
        port::SetLastErrorValue(port::kErrInvalidParameter);
        return false;
    }
    // What an earlier Connect left open is closed, not overwritten.
    if (m_bSessionOpen != 0 || m_socket.Handle() != port::kInvalidSocket ||
        m_tls.Socket() != nullptr)
        Disconnect();

    try {
        m_socket.Create(port::kSocketStream);
    } catch (CWSocketException* e) {
        port::SetLastErrorValue(TakeErrorCode(e));
        return false;
    }

    // The context lives until the handshake has been attempted; the session
    // keeps its own reference.
    TlsContextHolder context;
    if (m_bUseTls == 1) {
        if (!CreateClientTlsContext(context) || !m_tls.Create(context, m_socket))
            return AbandonConnect();
    }

    bool handshakeOk = true;
    try {
        if (!ConnectTransport(host, port, handshakeOk))
            return false;
    } catch (CWSocketException* e) {
        // The socket stays open until Disconnect or destruction.
        port::SetLastErrorValue(TakeErrorCode(e));
        return false;
    }
    context.Release();

    // A handshake that failed (a server that could not prove its identity
    // among them) carries nothing: no greeting is waited for, no QUIT sent.
    if (!handshakeOk)
        return AbandonConnect();

    m_bSessionOpen = 1;
    if (!ReadStatusReply() || !SendCommand("USER " + user + "\r\n") || !ReadStatusReply() ||
        !SendCommand("PASS " + password + "\r\n") || !ReadStatusReply())
        return AbandonConnect();
    return true;
}

bool CPop3Connection::Disconnect() {
    bool result = false;
    if (m_bSessionOpen != 0) {
        SendCommand("QUIT\r\n");
        // The QUIT reply never replaces the refusal that led here.
        std::string kept = m_strLastReply;
        result = ReadStatusReply();
        m_strLastReply = std::move(kept);
    }
    m_bSessionOpen = 0;
    m_bHaveSizes = 0;
    m_bHaveStat = 0;
    m_bHaveIds = 0;
    m_tls.Close(); // closes the socket it sits on
    m_socket.Close();
    return result;
}

bool CPop3Connection::Statistics(int& count, std::uint32_t& totalSize) {
    if (!SendCommand("STAT\r\n") || !ReadStatReply(count, totalSize))
        return false;
    // The count a first listing needs is now known: the listing fetch does
    // not ask for it again (one STAT per check, not two).
    m_bHaveStat = 1;
    return true;
}

bool CPop3Connection::CountForListing(int& count) {
    // A listing is read for the count of the most recent STAT; without one
    // in this session, it runs its own.
    count = m_nMailCount;
    std::uint32_t total = 0;
    return m_bHaveStat != 0 || Statistics(count, total);
}

bool CPop3Connection::FetchSizeList() {
    int count = 0;
    if (!CountForListing(count) || !SendCommand("LIST\r\n"))
        return false;
    m_bHaveSizes = ReadSizeListing(count) ? 1 : 0;
    return m_bHaveSizes != 0;
}

bool CPop3Connection::FetchIdList() {
    int count = 0;
    if (!CountForListing(count) || !SendCommand("UIDL\r\n"))
        return false;
    m_bHaveIds = ReadIdListing(count) ? 1 : 0;
    return m_bHaveIds != 0;
}

bool CPop3Connection::GetMessageSize(int n, std::uint32_t& size) {
    if (m_bHaveSizes == 0 && !FetchSizeList())
        return false;
    // A number outside the listing fails like any other error.
    if (n < 1 || static_cast<std::size_t>(n) > m_sizeList.size())
        return false;
    size = m_sizeList[static_cast<std::size_t>(n) - 1];
    return true;
}

bool CPop3Connection::GetMessageId(int n, std::string& id) {
    if (m_bHaveIds == 0 && !FetchIdList())
        return false;
    if (n < 1 || static_cast<std::size_t>(n) > m_idList.size())
        return false;
    id = m_idList[static_cast<std::size_t>(n) - 1];
    return true;
}

bool CPop3Connection::FindMessageById(const std::string& id, int& n) {
    if (m_bHaveIds == 0 && !FetchIdList())
        return false;
    const auto it = std::find(m_idList.begin(), m_idList.end(), id); // bytes, case counts
    if (it == m_idList.end())
        return false;
    n = static_cast<int>(it - m_idList.begin()) + 1;
    return true;
}

bool CPop3Connection::Retrieve(int n, CPop3Message& message) {
    std::uint32_t size = 0;
    if (!GetMessageSize(n, size))
        return false;
    if (!SendCommand("RETR " + std::to_string(n) + "\r\n"))
        return false;
    return ReadMessageText(message, size);
}

bool CPop3Connection::Delete(int n) {
    // Message numbers are only known to be meaningful once LIST was read.
    if (m_bHaveSizes == 0)
        return false;
    if (!SendCommand("DELE " + std::to_string(n) + "\r\n"))
        return false;
    return ReadStatusReply();
}
