// CUT_IMAP4Client: the IMAP4rev1 client (RFC 3501) on top of CUT_WSClient.
//
// It sends the commands of a session and reads the replies: every command
// takes the command lock, sends a line behind a program-wide tag
// ("A0001 "...) and ends in WaitForCompletion, which examines each reply
// line (HandleResponseLine) until the tagged completion comes. Results are
// ResultCode values handed through ReportResult; nothing is thrown.
//
// On the secure port 993 the whole session runs over TLS from the first byte
// (RFC 8314): the handshake follows the TCP connect, the server's
// certificate and name are verified, and every raw socket operation goes
// through the TLS session.
//
// A logged-in client runs a keep-alive thread that sends NOOP every 15
// seconds while a mailbox is selected. The command lock serialises it with
// the caller's commands: a command holds a CommandLock from its first send
// and hands it to WaitForCompletion, which releases it once the completion
// is read. The results and counters the getters hand out may be read while
// the thread runs. The destructor stops that thread
// before anything of the client goes away. A subclass that overrides the
// keep-alive hooks or KeepAlive must call EndKeepAlive() in its own
// destructor, so that the thread never runs a hook of a half-destroyed
// object.
//
// Replies are bounded: a reply line over kMaxLineBytes, more than
// kMaxReplyBytes of reply lines while one command waits, or a literal over
// kMaxLiteralBytes ends the command with UT::ResponseUnknown and closes the
// connection (the stream can no longer be read in step).
#pragma once

#include "net/imap/ImapRecords.h"
#include "net/imap/ImapTlsLayer.h"
#include "net/imap/UT_WSClient.h"

#include <atomic>
#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class CUT_DataSource;

class CUT_IMAP4Client : public CUT_WSClient {
public:
    static constexpr int kDefaultPort = 143;
    static constexpr int kSecurePort = 993;
    static constexpr int kDefaultTimeOutSeconds = 15;
    // Reply lines are read in pieces of at most this many bytes; command
    // lines and the stored texts are cut to it.
    static constexpr int kMaxTextLength = 999;
    // Longest capability text kept.
    static constexpr int kMaxCapabilityLength = 1003;
    // Literals up to this size are received into memory, larger ones into a
    // temporary mapped file.
    static constexpr long long kMaxMemoryLiteral = 30000;
    static constexpr long long kMaxLineBytes = 64 * 1024;
    static constexpr long long kMaxReplyBytes = 4 * 1024 * 1024;
    static constexpr long long kMaxLiteralBytes = 256LL * 1024 * 1024;

    // Body parts of FetchMessages.
    static constexpr int kFetchWhole = 0;
    static constexpr int kFetchText = 1;
    static constexpr int kFetchHeader = 2;

    // Modes of StoreFlags: replace, add or remove the flags, each also
    // without the untagged FETCH reply (.SILENT).
    enum StoreMode : int {
        StoreReplace = 0,
        StoreReplaceSilent = 1,
        StoreAdd = 2,
        StoreAddSilent = 3,
        StoreRemove = 4,
        StoreRemoveSilent = 5,
    };

    CUT_IMAP4Client();
    ~CUT_IMAP4Client() override;

    // --- the transport ----------------------------------------------------
    // Reads the greeting (on the secure port after the TLS handshake).
    ResultCode AfterConnect(port::SocketHandle socket, const char* hostText) override;
    int RawClose(port::SocketHandle socket) override;
    int RawShutdown(port::SocketHandle socket, int how) override;
    int RawReceive(port::SocketHandle socket, char* buffer, int size, int flags) override;
    int RawSend(port::SocketHandle socket, const char* data, int length, int flags) override;
    bool RawHasPendingData(port::SocketHandle socket) override;
    int RawWaitReadable(port::SocketHandle socket, long seconds, long microseconds) override;

    // --- the session --------------------------------------------------------
    // The capability text (the last CAPABILITY reply without "* CAPABILITY ");
    // asks the server when the text is empty and the client is logged in.
    virtual const char* QueryCapabilities();
    virtual SessionState GetState();
    // Connects to host on the client's port, reads the greeting and logs in
    // with LOGIN, user name and password sent as quoted strings. A user name
    // or password holding CR, LF or NUL is refused with UT::LoginRejected
    // before anything is sent. Connection failures give the codes of
    // ConnectTo; every LOGIN failure gives UT::LoginRejected.
    virtual ResultCode OpenSession(const std::string& host, const std::string& user,
                                   const std::string& password);
    // LOGOUT when logged in, then Disconnect (whose result is the result).
    virtual ResultCode CloseSession();
    // NOOP.
    virtual ResultCode KeepAlive();

    // --- commands (RFC 3501 section 6) -------------------------------------
    // Text arguments that hold CR or LF are refused with UT::Failed before
    // anything is sent; quoted arguments are sent as IMAP quoted strings.
    virtual ResultCode SelectMailbox(const char* name);
    virtual ResultCode ExamineMailbox(const char* name);
    virtual ResultCode CreateMailbox(const char* name);
    virtual ResultCode DeleteMailbox(const char* name);
    virtual ResultCode RenameMailbox(const char* oldName, const char* newName);
    virtual ResultCode SubscribeMailbox(const char* name);
    virtual ResultCode UnsubscribeMailbox(const char* name);
    virtual ResultCode ListMailboxes(const char* reference, const char* pattern);
    virtual ResultCode ListSubscribed(const char* reference, const char* pattern);
    // Copies entry index of the last LIST or LSUB into entryOut.
    virtual ResultCode CopyListEntry(int index, MailboxListEntry* entryOut);
    // Pointers into the stored entry, valid until the next LIST or LSUB.
    virtual ResultCode GetListEntry(int index, const char*& nameOut, const char*& delimiterOut,
                                    int& attributesOut);
    // STATUS "mailbox" (items). On UT::Success the client's status record
    // (refilled by every untagged STATUS reply) is copied into statusOut;
    // otherwise statusOut is left as it was.
    virtual ResultCode QueryMailboxStatus(const char* mailbox, const char* items,
                                          MailboxStatus& statusOut);
    virtual ResultCode AppendFlagged(const char* mailbox, CUT_DataSource& source, int flagBits,
                                     const char* dateText);
    virtual ResultCode AppendMessage(const char* mailbox, CUT_DataSource& source,
                                     const char* flagsText, const char* dateText);
    virtual int ListEntryCount();
    virtual ResultCode Checkpoint();
    virtual ResultCode CloseMailbox();
    virtual ResultCode ExpungeMailbox();
    virtual int SearchResultCount();
    virtual ResultCode GetSearchResult(int index, int& numberOut);
    virtual int MessageRecordCount();
    // Copies record index into the current record and hands out its address,
    // valid until the next call or FETCH.
    virtual ResultCode GetMessageRecord(int index, const MessageRecord*& recordOut);
    virtual ResultCode SearchMessages(const char* criteria, const char* charset, bool byUid);
    virtual ResultCode CopyMessages(const char* set, const char* mailbox, bool byUid);
    // FETCH set (RFC822.SIZE FLAGS UID INTERNALDATE BODY[...]); part is
    // kFetchWhole, kFetchText or kFetchHeader. Bodies land in data sources
    // the client owns until the next FETCH or its end.
    virtual ResultCode FetchMessages(const char* set, int part, bool markSeen, bool byUid);
    virtual ResultCode StoreFlags(const char* set, int mode, int flagBits, bool byUid);
    virtual ResultCode StoreItems(const char* set, const char* item, const char* value, bool byUid);
    // The texts of the set flag bits joined by spaces; nothing at all when
    // size is below 70.
    virtual void FormatFlags(int bits, char* out, int size);
    // The text of the last completion (after tag and status word), or the
    // last line read without a tag. A copy: the keep-alive thread may
    // replace the text at any time.
    virtual std::string LastResponseText();

    // --- hooks ---------------------------------------------------------------
    // OnAlert runs while the [ALERT] line is examined. The others run after
    // the completion of the command during which the server sent the event,
    // with the command lock released, on the command's thread. OnExpunged
    // runs once for every untagged EXPUNGE, in the order they came.
    virtual void OnAlert(const char* text);
    virtual void OnExpunged(int number);
    virtual void OnFetchDone();
    virtual void OnExistsChanged(int count);
    virtual void OnRecentChanged(int count);
    // Run on the keep-alive thread: false from OnKeepAliveStart skips the
    // loop.
    virtual bool OnKeepAliveStart();
    virtual void OnKeepAliveEnd();

    // --- settings and stored state ----------------------------------------
    // Port 993 and TLS from the first byte for the next OpenSession.
    ResultCode UseSecurePort();
    bool IsSecure() const { return m_bSecure; }
    // Another port than 143 or 993 (a server text HOST:PORT); call after
    // UseSecurePort when both are wanted.
    void SetPort(int port) { m_nPort = port; }
    int GetPort() const { return m_nPort; }
    void SetResponseTimeOut(int seconds) { m_nResponseTimeOut = seconds; }
    int GetResponseTimeOut() const { return m_nResponseTimeOut; }
    void SetConnectTimeOut(int seconds) { m_nConnectTimeOut = seconds; }
    int GetConnectTimeOut() const { return m_nConnectTimeOut; }
    // Seconds between keep-alive NOOPs while a mailbox is selected; takes
    // effect for the next session.
    void SetKeepAliveInterval(int seconds) { m_nKeepAliveInterval = seconds; }
    int GetKeepAliveInterval() const { return m_nKeepAliveInterval; }
    bool IsLoggedIn() const { return m_bLoggedIn.load(); }

    // The message count follows EXISTS (set) and EXPUNGE (one less each)
    // once the command that received them has completed.
    int IsReadWrite() const { return m_nReadWrite.load(); }
    int GetMessageCount() const { return m_nMessageCount.load(); }
    int GetRecentCount() const { return m_nRecentCount.load(); }
    int GetMailboxFlags() const { return m_nMailboxFlags.load(); }
    const std::string& GetMailboxKeywords() const { return m_strMailboxKeywords; }
    int GetPermanentFlags() const { return m_nPermanentFlags.load(); }
    const std::string& GetPermanentKeywords() const { return m_strPermanentKeywords; }
    int GetUidValidity() const { return m_nUidValidity.load(); }
    int GetUnseen() const { return m_nUnseen.load(); }
    const MailboxStatus& GetMailboxStatus() const { return m_mailboxStatus; }

protected:
    // The command lock held by one command (or one step of APPEND).
    using CommandLock = std::unique_lock<std::recursive_mutex>;
    CommandLock LockCommands() { return CommandLock(m_commandLock); }

    // Reads reply lines until the completion of tag (the whole text
    // including its trailing space), examining each one. With an empty or
    // missing tag it returns the next line, whatever it is. Takes over the
    // command's lock and releases it on every way out, before the event
    // hooks run. textOut, when given, holds kMaxTextLength + 1 bytes and
    // receives the reply text.
    ResultCode WaitForCompletion(CommandLock lock, const char* tag, char* textOut = nullptr);
    // Examines one reply line and stores what it carries.
    void HandleResponseLine(const char* line);
    // Reads a FETCH body value (quoted string, literal or NIL) that starts at
    // text into a new source owned by the client; null when it cannot be
    // read.
    CUT_DataSource* ReadLiteral(const char* text);
    // Stops the keep-alive thread and waits for its end. Idempotent.
    void EndKeepAlive();

private:
    // Events of untagged replies, kept until the command's completion
    // hands them to the hooks (RFC 3501 section 7.3 and 7.4).
    struct PendingEvents {
        bool exists = false;
        int existsNumber = 0;
        bool recent = false;
        int recentNumber = 0;
        std::vector<int> expunged; // every EXPUNGE, in order
        // How many of expunged came before the last EXISTS, whose number
        // already leaves them out.
        std::size_t expungedBeforeExists = 0;
        bool fetch = false;
    };
    // A FETCH reply being read: the line in hand and what of it is left.
    struct FetchCursor {
        std::string line;
        std::string_view rest;
        bool literalRead = false; // the literal line announces was received
    };

    std::recursive_mutex m_commandLock;

    // The command pattern (preconditions are the caller's): take the lock,
    // make a tag, send, wait. RunLine sends the tag and body as one line cut
    // to kMaxTextLength characters and returns the wait's result; RunCommand
    // sends the tag and then each non-empty piece on its own and reports.
    ResultCode RunLine(const std::string& body);
    ResultCode RunCommand(std::initializer_list<std::string> pieces);
    ResultCode CheckAuthenticated();
    ResultCode CheckSelected();
    ResultCode SelectOrExamine(const char* verb, const char* name);
    ResultCode MailboxCommand(const char* verb, const char* name);
    ResultCode ListCommand(const char* verb, const char* reference, const char* pattern);
    // CLOSE, a failed SELECT or EXAMINE: back to authenticated (a client
    // logged out meanwhile stays so).
    void LeaveSelectedState();

    // Reads one piece of a reply line (kMaxTextLength bytes at most) with the
    // response time-out, keeping the line and reply byte counts. Returns
    // the bytes read (0 when nothing came) and whether the piece continues
    // a line begun earlier.
    int ReadReplyPiece(char* buffer, bool& continuation);
    // Receives and drops the literal that line announces at its end
    // ("{n}\r\n"), when it does; the rest of the reply line that follows the
    // literal is then a continuation.
    void SkipTrailingLiteral(const char* line);
    // Receives the literal that line announces at its end into text
    // (emptied; it stays empty for a literal over kMaxMemoryLiteral bytes,
    // which is received and dropped). False, with nothing read and text
    // unchanged, when the line announces none or there is no connection.
    bool ReadTrailingLiteralInto(const char* line, std::string& text);
    // Closes a connection whose reply stream can no longer be read in step;
    // a fault other than UT::Success becomes the result of the waiting
    // command.
    void AbandonConnection(ResultCode fault);
    // Receives a literal of length bytes into a new source (memory up to
    // kMaxMemoryLiteral, else a temporary mapped file; with keep false a
    // source that drops the bytes). Null, with the connection closed, when
    // the literal is over kMaxLiteralBytes or does not arrive whole.
    std::unique_ptr<CUT_DataSource> ReceiveLiteral(long long length, bool keep);
    // Reads the whole of a line whose first piece is in hand (a SEARCH
    // reply may run past one piece): false when it does not come whole
    // within kMaxLineBytes.
    bool ReadRestOfLine(std::string& line);
    // FETCH data (RFC 3501 section 7.4.2): one record per line, item by
    // item; the body items read their literal, other literals are dropped.
    void ParseFetchLine(const char* line);
    void ReadFetchBody(FetchCursor& cursor, int part, MessageRecord& record);
    void SkipFetchItem(FetchCursor& cursor);
    // Goes on with the line that follows the literal the cursor stands on;
    // false when there is none or it cannot be read.
    bool ContinueAfterLiteral(FetchCursor& cursor);
    void DeliverPendingEvents(const PendingEvents& events);
    void KeepAliveLoop(int interval);
    void ClearMessageRecords();
    void StoreLastResponse(const char* text);

    // Session state (RFC 3501 section 3) and the stores of the replies.
    // Filled under the command lock; the numbers are atomic so that the
    // getters may read them while the keep-alive thread's NOOP fills them.
    std::atomic<int> m_nReadWrite{1};
    std::atomic<int> m_nMessageCount{0};
    std::atomic<int> m_nRecentCount{0};
    std::atomic<int> m_nMailboxFlags{0};
    std::string m_strMailboxKeywords;
    std::atomic<int> m_nPermanentFlags{0};
    std::string m_strPermanentKeywords;
    std::atomic<int> m_nUidValidity{0};
    std::atomic<int> m_nUnseen{0};
    PendingEvents m_pending; // guarded by m_commandLock
    int m_nPort = kDefaultPort;
    int m_nResponseTimeOut = kDefaultTimeOutSeconds;
    int m_nConnectTimeOut = kDefaultTimeOutSeconds;
    int m_nKeepAliveInterval = kDefaultTimeOutSeconds;
    std::string m_strLastResponse; // guarded by m_lastResponseLock
    mutable std::mutex m_lastResponseLock;
    std::atomic<int> m_state{NotConnected};
    std::vector<MailboxListEntry> m_listEntries;
    std::vector<MessageRecord> m_messageRecords;
    MessageRecord m_currentRecord;
    std::vector<int> m_searchResults;
    MailboxStatus m_mailboxStatus;
    std::string m_strCapabilities;
    std::vector<std::unique_ptr<CUT_DataSource>> m_ownedSources;
    std::atomic<bool> m_bLoggedIn{false};
    std::atomic<bool> m_bShuttingDown{false};

    // The secure port.
    bool m_bSecure = false;
    ImapTlsLayer m_tls;

    // The keep-alive thread and what wakes it.
    std::thread m_keepAliveThread;
    std::mutex m_keepAliveMutex;
    std::condition_variable m_keepAliveWake;
    bool m_bStopKeepAlive = false; // guarded by m_keepAliveMutex
    std::atomic<bool> m_bKeepAliveRunning{false};

    // Reply bounds: whether the last piece read ended without its line
    // feed, the bytes of the current line, the reply bytes of the current
    // wait, and the code of a reply that broke a bound.
    bool m_bLineContinues = false;
    long long m_nLineBytes = 0;
    long long m_nReplyBytes = 0;
    ResultCode m_nReplyFault = 0;
};
