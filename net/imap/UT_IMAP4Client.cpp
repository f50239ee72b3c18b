// CUT_IMAP4Client: the session, the commands (RFC 3501 section 6), the
// secure port and the keep-alive thread. The reply side is in
// UT_IMAP4ClientResponses.cpp.
#include "net/imap/UT_IMAP4Client.h"

#include "net/Text.h"
#include "net/imap/ImapResponse.h"
#include "net/imap/UT_DataSource.h"

#include <chrono>
#include <cstring>
#include <string_view>
#include <system_error>

namespace {

constexpr std::size_t kMaxLine = CUT_IMAP4Client::kMaxTextLength;

// A formatted command line lives in a 1000-byte buffer: what goes beyond 999
// characters is cut off, line end included.
std::string Cut(std::string line) {
    if (line.size() > kMaxLine)
        line.resize(kMaxLine);
    return line;
}

bool CarriesLineBreak(const char* argument) {
    return argument != nullptr && text::HasLineBreakOrNul(argument);
}

std::string Quoted(const char* text) {
    return imap::QuoteString(text);
}

// The pieces joined. Built by appending only: GCC 12 at -O3 warns falsely
// (-Wrestrict) about a literal placed before a std::string.
std::string Concat(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view piece : pieces)
        text.append(piece);
    return text;
}

// The host a certificate must name: in "name@host" the part after the last
// at sign, as the host look-up uses it.
std::string CertificateHost(const char* hostText) {
    std::string host = hostText != nullptr ? hostText : "";
    const std::size_t at = host.rfind('@');
    if (at != std::string::npos && at > 0)
        host.erase(0, at + 1);
    return host;
}

} // namespace

CUT_IMAP4Client::CUT_IMAP4Client() = default;

CUT_IMAP4Client::~CUT_IMAP4Client() {
    m_bShuttingDown.store(true);
    EndKeepAlive();
    CloseSession();
    ClearMessageRecords();
    m_tls.End();
}

// --- the transport ------------------------------------------------------------

ResultCode CUT_IMAP4Client::AfterConnect(port::SocketHandle socket, const char* hostText) {
    if (m_bSecure && !m_tls.Start(socket, CertificateHost(hostText), m_nConnectTimeOut))
        return UT::ConnectFailed;
    // A new connection starts a new reply stream.
    m_bLineContinues = false;
    m_nLineBytes = 0;
    // The greeting: one line, whatever it says; a missing one is not an
    // error by itself.
    WaitForCompletion(LockCommands(), nullptr, nullptr);
    return UT::Success;
}

int CUT_IMAP4Client::RawClose(port::SocketHandle socket) {
    if (m_tls.Carries(socket))
        m_tls.End();
    return CUT_WSClient::RawClose(socket);
}

int CUT_IMAP4Client::RawShutdown(port::SocketHandle socket, int how) {
    if (m_tls.Carries(socket))
        m_tls.End();
    return CUT_WSClient::RawShutdown(socket, how);
}

int CUT_IMAP4Client::RawReceive(port::SocketHandle socket, char* buffer, int size, int flags) {
    if (!m_tls.Carries(socket))
        return CUT_WSClient::RawReceive(socket, buffer, size, flags);
    if (flags != 0 && flags != kPeek)
        return -1;
    return m_tls.Receive(buffer, size, flags == kPeek);
}

int CUT_IMAP4Client::RawSend(port::SocketHandle socket, const char* data, int length, int flags) {
    if (!m_tls.Carries(socket))
        return CUT_WSClient::RawSend(socket, data, length, flags);
    if (flags != 0)
        return -1;
    return m_tls.Send(data, length);
}

bool CUT_IMAP4Client::RawHasPendingData(port::SocketHandle socket) {
    if (m_tls.Carries(socket) && m_tls.HasBufferedData())
        return true;
    return CUT_WSClient::RawHasPendingData(socket);
}

int CUT_IMAP4Client::RawWaitReadable(port::SocketHandle socket, long seconds, long microseconds) {
    // Bytes the TLS session has already decrypted are no longer in the
    // socket, and a readable socket may hold no application data.
    if (m_tls.Carries(socket))
        return m_tls.WaitReadable(seconds, microseconds);
    return CUT_WSClient::RawWaitReadable(socket, seconds, microseconds);
}

ResultCode CUT_IMAP4Client::UseSecurePort() {
    m_nPort = kSecurePort;
    m_bSecure = true;
    return ReportResult(UT::Success);
}

// --- the session ----------------------------------------------------------------

SessionState CUT_IMAP4Client::GetState() {
    return static_cast<SessionState>(m_state.load());
}

ResultCode CUT_IMAP4Client::OpenSession(const std::string& host, const std::string& user,
                                        const std::string& password) {
    CloseSession();
    EndKeepAlive(); // a thread of an earlier session must not outlive it

    // No line of the user's may end the LOGIN command early (RFC 3501
    // section 4.3: quoted strings hold no CR, LF or NUL).
    const std::string login =
        Concat({"LOGIN ", imap::QuoteString(user), " ", imap::QuoteString(password), "\r\n"});
    if (text::HasLineBreakOrNul(user) || text::HasLineBreakOrNul(password) ||
        imap::kTagSize - 1 + login.size() > kMaxLine)
        return ReportResult(UT::LoginRejected);
    if (text::HasLineBreakOrNul(host))
        return ReportResult(UT::HostUnresolved);

    const ResultCode rc = ConnectTo(m_nPort, host.c_str(), m_nConnectTimeOut, 2, 1);
    if (rc != UT::Success)
        return rc; // ConnectTo has reported it

    CommandLock lock = LockCommands();
    char tag[imap::kTagSize];
    imap::NextTag(tag);
    SendText((tag + login).c_str());
    if (WaitForCompletion(std::move(lock), tag) != UT::Success)
        return ReportResult(UT::LoginRejected); // the connection stays open

    m_bLoggedIn.store(true);
    m_state.store(Authenticated);
    try {
        {
            std::lock_guard<std::mutex> lock(m_keepAliveMutex);
            m_bStopKeepAlive = false;
        }
        m_bKeepAliveRunning.store(true);
        m_keepAliveThread =
            std::thread(&CUT_IMAP4Client::KeepAliveLoop, this, m_nKeepAliveInterval);
    } catch (const std::system_error&) {
        m_bKeepAliveRunning.store(false);
        ReportResult(UT::Failed);
    }
    return ReportResult(UT::Success);
}

ResultCode CUT_IMAP4Client::CloseSession() {
    if (m_bLoggedIn.load()) {
        char tag[imap::kTagSize];
        imap::NextTag(tag);
        CommandLock lock = LockCommands();
        SendText(tag);
        SendText("LOGOUT\r\n");
        WaitForCompletion(std::move(lock), tag);
        m_state.store(LoggedOut);
    }
    m_bLoggedIn.store(false);
    return Disconnect();
}

ResultCode CUT_IMAP4Client::KeepAlive() {
    if (!m_bLoggedIn.load())
        return ReportResult(UT::NotLoggedIn);
    CommandLock lock = LockCommands();
    char tag[imap::kTagSize];
    imap::NextTag(tag);
    SendText(tag);
    SendText("NOOP\r\n");
    return ReportResult(WaitForCompletion(std::move(lock), tag));
}

void CUT_IMAP4Client::KeepAliveLoop(int interval) {
    if (OnKeepAliveStart()) {
        int seconds = 0;
        std::unique_lock<std::mutex> lock(m_keepAliveMutex);
        for (;;) {
            m_keepAliveWake.wait_for(lock, std::chrono::seconds(1),
                                     [this] { return m_bStopKeepAlive; });
            if (m_bStopKeepAlive || m_bShuttingDown.load())
                break;
            if (++seconds < interval)
                continue;
            seconds = 0;
            if (m_state.load() == Selected && !m_bShuttingDown.load()) {
                lock.unlock();
                KeepAlive();
                lock.lock();
            }
        }
    }
    OnKeepAliveEnd();
    {
        // Under the lock, so that EndKeepAlive cannot miss the wake-up
        // between testing the flag and starting to wait.
        std::lock_guard<std::mutex> lock(m_keepAliveMutex);
        m_bKeepAliveRunning.store(false);
    }
    m_keepAliveWake.notify_all();
}

void CUT_IMAP4Client::EndKeepAlive() {
    if (!m_keepAliveThread.joinable())
        return;
    // The thread wakes at once from its sleep, unless it is inside a NOOP
    // exchange; give that the time it may take, then cut the connection
    // under it so that its reads end. The thread signals its end on the
    // same condition: waiting for it costs no polling.
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(m_keepAliveMutex);
        m_bStopKeepAlive = true;
        m_keepAliveWake.notify_all();
        ended = m_keepAliveWake.wait_for(lock, std::chrono::milliseconds(30000),
                                         [this] { return !m_bKeepAliveRunning.load(); });
    }
    if (!ended) {
        const port::SocketHandle socket = GetSocket();
        if (socket != port::kInvalidSocket)
            port::SocketShutdown(socket, port::ShutdownHow::Both);
    }
    m_keepAliveThread.join();
}

// --- commands -------------------------------------------------------------------

ResultCode CUT_IMAP4Client::CheckAuthenticated() {
    if (!m_bLoggedIn.load())
        return UT::NotLoggedIn;
    const int state = m_state.load();
    if (state != Authenticated && state != Selected)
        return UT::NeedsAuthenticated;
    return UT::Success;
}

ResultCode CUT_IMAP4Client::CheckSelected() {
    if (!m_bLoggedIn.load())
        return UT::NotLoggedIn;
    if (m_state.load() != Selected)
        return UT::NeedsSelected;
    return UT::Success;
}

ResultCode CUT_IMAP4Client::RunCommand(std::initializer_list<std::string> pieces) {
    CommandLock lock = LockCommands();
    char tag[imap::kTagSize];
    imap::NextTag(tag);
    SendText(tag);
    for (const std::string& piece : pieces)
        if (!piece.empty())
            SendText(piece.c_str(), static_cast<int>(piece.size()));
    return ReportResult(WaitForCompletion(std::move(lock), tag));
}

ResultCode CUT_IMAP4Client::RunLine(const std::string& body) {
    CommandLock lock = LockCommands();
    char tag[imap::kTagSize];
    imap::NextTag(tag);
    const std::string line = Cut(Concat({tag, body}));
    SendText(line.c_str(), static_cast<int>(line.size()));
    return WaitForCompletion(std::move(lock), tag);
}

void CUT_IMAP4Client::LeaveSelectedState() {
    int selected = Selected;
    m_state.compare_exchange_strong(selected, Authenticated);
}

ResultCode CUT_IMAP4Client::MailboxCommand(const char* verb, const char* name) {
    if (const ResultCode rc = CheckAuthenticated(); rc != UT::Success)
        return ReportResult(rc);
    if (name == nullptr)
        return ReportResult(UT::NullArgument);
    if (CarriesLineBreak(name))
        return ReportResult(UT::Failed);
    return ReportResult(RunLine(Concat({verb, " ", Quoted(name), "\r\n"})));
}

ResultCode CUT_IMAP4Client::SelectOrExamine(const char* verb, const char* name) {
    if (const ResultCode rc = CheckAuthenticated(); rc != UT::Success)
        return ReportResult(rc);
    if (name == nullptr)
        return ReportResult(UT::NullArgument);
    if (CarriesLineBreak(name))
        return ReportResult(UT::Failed);
    {
        // The stores are filled under the lock (also by a keep-alive NOOP).
        const CommandLock lock = LockCommands();
        m_nReadWrite.store(1);
        m_nMessageCount.store(0);
        m_nRecentCount.store(0);
        m_nMailboxFlags.store(0);
        m_nPermanentFlags.store(0);
        m_nUidValidity.store(0);
        m_nUnseen.store(0);
    }
    const ResultCode rc = RunLine(Concat({verb, " ", Quoted(name), "\r\n"}));
    if (rc == UT::Success && m_bLoggedIn.load())
        m_state.store(Selected);
    else // a failed SELECT leaves no mailbox selected (RFC 3501 section 6.3.1)
        LeaveSelectedState();
    return ReportResult(rc);
}

ResultCode CUT_IMAP4Client::SelectMailbox(const char* name) {
    return SelectOrExamine("SELECT", name);
}

ResultCode CUT_IMAP4Client::ExamineMailbox(const char* name) {
    return SelectOrExamine("EXAMINE", name);
}

ResultCode CUT_IMAP4Client::CreateMailbox(const char* name) {
    return MailboxCommand("CREATE", name);
}

ResultCode CUT_IMAP4Client::DeleteMailbox(const char* name) {
    return MailboxCommand("DELETE", name);
}

ResultCode CUT_IMAP4Client::SubscribeMailbox(const char* name) {
    return MailboxCommand("SUBSCRIBE", name);
}

ResultCode CUT_IMAP4Client::UnsubscribeMailbox(const char* name) {
    return MailboxCommand("UNSUBSCRIBE", name);
}

ResultCode CUT_IMAP4Client::RenameMailbox(const char* oldName, const char* newName) {
    if (const ResultCode rc = CheckAuthenticated(); rc != UT::Success)
        return ReportResult(rc);
    if (oldName == nullptr || newName == nullptr)
        return ReportResult(UT::NullArgument);
    if (CarriesLineBreak(oldName) || CarriesLineBreak(newName))
        return ReportResult(UT::Failed);
    return ReportResult(
        RunLine(Concat({"RENAME ", Quoted(oldName), " ", Quoted(newName), "\r\n"})));
}

ResultCode CUT_IMAP4Client::ListCommand(const char* verb, const char* reference,
                                        const char* pattern) {
    if (const ResultCode rc = CheckAuthenticated(); rc != UT::Success)
        return ReportResult(rc);
    if (reference == nullptr || pattern == nullptr)
        return ReportResult(UT::NullArgument);
    if (CarriesLineBreak(reference) || CarriesLineBreak(pattern))
        return ReportResult(UT::Failed);
    {
        const CommandLock lock = LockCommands();
        m_listEntries.clear();
    }
    return ReportResult(
        RunLine(Concat({verb, " ", Quoted(reference), " ", Quoted(pattern), "\r\n"})));
}

ResultCode CUT_IMAP4Client::ListMailboxes(const char* reference, const char* pattern) {
    return ListCommand("LIST", reference, pattern);
}

ResultCode CUT_IMAP4Client::ListSubscribed(const char* reference, const char* pattern) {
    return ListCommand("LSUB", reference, pattern);
}

ResultCode CUT_IMAP4Client::QueryMailboxStatus(const char* mailbox, const char* items,
                                               MailboxStatus& statusOut) {
    if (const ResultCode rc = CheckAuthenticated(); rc != UT::Success)
        return ReportResult(rc);
    if (mailbox == nullptr || items == nullptr)
        return ReportResult(UT::NullArgument);
    if (CarriesLineBreak(mailbox) || CarriesLineBreak(items))
        return ReportResult(UT::Failed);
    const ResultCode rc = RunLine(Concat({"STATUS ", Quoted(mailbox), " (", items, ")\r\n"}));
    if (rc == UT::Success) {
        const CommandLock lock = LockCommands(); // a keep-alive NOOP may be filling it
        statusOut = m_mailboxStatus;
    }
    return ReportResult(rc);
}

const char* CUT_IMAP4Client::QueryCapabilities() {
    if (m_strCapabilities.empty() && m_bLoggedIn.load()) {
        if (RunCommand({"CAPABILITY\r\n"}) != UT::Success)
            m_strCapabilities.clear();
    }
    return m_strCapabilities.c_str();
}

ResultCode CUT_IMAP4Client::Checkpoint() {
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    return RunCommand({"CHECK\r\n"});
}

ResultCode CUT_IMAP4Client::CloseMailbox() {
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    const ResultCode rc = RunCommand({"CLOSE\r\n"});
    // Whatever the answer, the mailbox is no longer selected (RFC 3501
    // section 6.4.2): commands that need one are refused here from now on
    // instead of being sent for the server to answer BAD.
    LeaveSelectedState();
    return rc;
}

ResultCode CUT_IMAP4Client::ExpungeMailbox() {
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    return RunCommand({"EXPUNGE\r\n"});
}

ResultCode CUT_IMAP4Client::SearchMessages(const char* criteria, const char* charset, bool byUid) {
    if (!m_bLoggedIn.load())
        return ReportResult(UT::NotLoggedIn);
    if (criteria == nullptr)
        return ReportResult(UT::NullArgument);
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    if (CarriesLineBreak(criteria) || CarriesLineBreak(charset))
        return ReportResult(UT::Failed);
    {
        const CommandLock lock = LockCommands();
        m_searchResults.clear();
    }
    std::string charsetPiece;
    if (charset != nullptr && charset[0] != '\0')
        charsetPiece = Concat({"CHARSET ", charset, " "});
    return RunCommand({byUid ? "UID " : "", "SEARCH ", charsetPiece, criteria, "\r\n"});
}

ResultCode CUT_IMAP4Client::CopyMessages(const char* set, const char* mailbox, bool byUid) {
    if (!m_bLoggedIn.load())
        return ReportResult(UT::NotLoggedIn);
    if (set == nullptr || mailbox == nullptr)
        return ReportResult(UT::NullArgument);
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    if (CarriesLineBreak(set) || CarriesLineBreak(mailbox))
        return ReportResult(UT::Failed);
    return RunCommand(
        {byUid ? "UID " : "", Cut(Concat({"COPY ", set, " ", Quoted(mailbox), "\r\n"}))});
}

ResultCode CUT_IMAP4Client::FetchMessages(const char* set, int part, bool markSeen, bool byUid) {
    if (!m_bLoggedIn.load())
        return ReportResult(UT::NotLoggedIn);
    if (set == nullptr)
        return ReportResult(UT::NullArgument);
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    if (CarriesLineBreak(set))
        return ReportResult(UT::Failed);
    const char* section = nullptr;
    switch (part) {
    case kFetchWhole:
        section = "[]";
        break;
    case kFetchText:
        section = "[TEXT]";
        break;
    case kFetchHeader:
        section = "[HEADER]";
        break;
    default:
        return ReportResult(UT::Failed);
    }
    {
        const CommandLock lock = LockCommands();
        ClearMessageRecords();
    }
    return RunCommand(
        {byUid ? "UID " : "", Cut(Concat({"FETCH ", set, " (RFC822.SIZE FLAGS UID INTERNALDATE ",
                                          markSeen ? "BODY" : "BODY.PEEK", section, ")\r\n"}))});
}

ResultCode CUT_IMAP4Client::StoreItems(const char* set, const char* item, const char* value,
                                       bool byUid) {
    if (!m_bLoggedIn.load())
        return ReportResult(UT::NotLoggedIn);
    if (set == nullptr || item == nullptr || value == nullptr)
        return ReportResult(UT::NullArgument);
    if (const ResultCode rc = CheckSelected(); rc != UT::Success)
        return ReportResult(rc);
    if (CarriesLineBreak(set) || CarriesLineBreak(item) || CarriesLineBreak(value))
        return ReportResult(UT::Failed);
    return RunCommand(
        {byUid ? "UID " : "", Cut(Concat({"STORE ", set, " ", item, " (", value, ")\r\n"}))});
}

ResultCode CUT_IMAP4Client::StoreFlags(const char* set, int mode, int flagBits, bool byUid) {
    static constexpr const char* kItems[] = {"FLAGS",         "FLAGS.SILENT", "+FLAGS",
                                             "+FLAGS.SILENT", "-FLAGS",       "-FLAGS.SILENT"};
    if (mode < StoreReplace || mode > StoreRemoveSilent)
        return ReportResult(UT::Failed);
    char flags[kMaxLine + 1] = {};
    FormatFlags(flagBits, flags, sizeof flags);
    return StoreItems(set, kItems[mode], flags, byUid);
}

ResultCode CUT_IMAP4Client::AppendFlagged(const char* mailbox, CUT_DataSource& source, int flagBits,
                                          const char* dateText) {
    char flags[kMaxLine + 1] = {};
    FormatFlags(flagBits, flags, sizeof flags);
    return AppendMessage(mailbox, source, flags, dateText);
}

ResultCode CUT_IMAP4Client::AppendMessage(const char* mailbox, CUT_DataSource& source,
                                          const char* flagsText, const char* dateText) {
    if (const ResultCode rc = CheckAuthenticated(); rc != UT::Success)
        return ReportResult(rc);
    if (mailbox == nullptr)
        return ReportResult(UT::NullArgument);
    if (CarriesLineBreak(mailbox) || CarriesLineBreak(flagsText) || CarriesLineBreak(dateText))
        return ReportResult(UT::Failed);
    if (source.Open(CUT_DataSource::kOpenRead) != 0)
        return ReportResult(UT::SourceOpenFailed);
    const long long length = source.Seek(0, CUT_DataSource::kSeekEnd);
    source.Close();
    if (length < 0)
        return ReportResult(UT::SourceOpenFailed);

    // The whole exchange (command, continuation, literal, completion) holds
    // the lock; each wait takes over and releases a hold of its own.
    const CommandLock exchange = LockCommands();
    char tag[imap::kTagSize];
    imap::NextTag(tag);
    SendText(Cut(Concat({tag, "APPEND ", Quoted(mailbox), " "})).c_str());
    if (flagsText != nullptr && flagsText[0] != '\0')
        SendText(Cut(Concat({"(", flagsText, ") "})).c_str());
    if (dateText != nullptr && dateText[0] != '\0')
        SendText(Cut(Concat({"\"", dateText, "\" "})).c_str());
    SendText(Concat({"{", std::to_string(length), "}\r\n"}).c_str());

    char text[kMaxLine + 1] = {};
    if (WaitForCompletion(LockCommands(), nullptr, text) != UT::Success || text[0] != '+')
        return ReportResult(UT::Failed);
    if (const ResultCode rc = SendSource(source); rc != UT::Success)
        return ReportResult(rc);
    SendText("\r\n");
    return ReportResult(WaitForCompletion(LockCommands(), tag));
}

void CUT_IMAP4Client::FormatFlags(int bits, char* out, int size) {
    imap::FormatFlagBits(bits, out, size);
}

std::string CUT_IMAP4Client::LastResponseText() {
    std::lock_guard<std::mutex> lock(m_lastResponseLock);
    return m_strLastResponse;
}

// --- hooks ------------------------------------------------------------------------

void CUT_IMAP4Client::OnAlert(const char*) {}
void CUT_IMAP4Client::OnExpunged(int) {}
void CUT_IMAP4Client::OnFetchDone() {}
void CUT_IMAP4Client::OnExistsChanged(int) {}
void CUT_IMAP4Client::OnRecentChanged(int) {}
bool CUT_IMAP4Client::OnKeepAliveStart() {
    return true;
}
void CUT_IMAP4Client::OnKeepAliveEnd() {}
