// The client side of one POP3 conversation (RFC 1939): USER/PASS login,
// STAT, LIST, UIDL, RETR, DELE and QUIT, over a plain socket or over TLS
// from the first byte (RFC 8314, port 995).
#pragma once

#include "net/pop3/SSLSocket.h"
#include "net/pop3/WSocket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CPop3Message;

// Operations report success as a boolean and never let an exception out.
// A refused reply leaves its text in LastReply() and the thread's
// last-error value at port::kErrProtocolNotSupported.
class CPop3Connection {
public:
    CPop3Connection() = default;
    virtual ~CPop3Connection();

    CPop3Connection(const CPop3Connection&) = delete;
    CPop3Connection& operator=(const CPop3Connection&) = delete;

    // Transport (TLS when m_bUseTls is 1), greeting, USER, PASS. A user
    // name or password holding CR, LF or NUL, or longer than 124
    // characters, is refused before anything is sent
    // (port::kErrInvalidParameter).
    bool Connect(const std::string& host, const std::string& user, const std::string& password,
                 int port);
    // QUIT when a session is open (its result); always closes the channel.
    bool Disconnect();
    // Message numbers are 1-based positions in the listings fetched first in
    // this session; a number outside them fails.
    bool Statistics(int& count, std::uint32_t& totalSize);
    bool GetMessageSize(int n, std::uint32_t& size);
    bool GetMessageId(int n, std::string& id);
    bool FindMessageById(const std::string& id, int& n);
    bool Retrieve(int n, CPop3Message& message);
    bool Delete(int n);
    std::string LastReply() const;

    // Bounds on what a server can make us hold. RFC 1939 allows 512 octets
    // for a one-line reply; listings and messages get room for very large
    // mailboxes. A reply over its bound fails with port::kErrMessageTooLong.
    static constexpr std::size_t kMaxStatusReply = std::size_t{64} << 10;
    static constexpr std::size_t kMaxListing = std::size_t{64} << 20;
    static constexpr std::size_t kMaxMessageText = std::size_t{128} << 20;
    // A listing buffer is sized from the STAT count; a hostile count must not
    // make us allocate gigabytes up front (growth still takes larger ones).
    static constexpr std::size_t kMaxInitialListingBuffer = std::size_t{1} << 20;
    // USER and PASS lines are formatted into a buffer of this size (with
    // the NUL), so each argument holds at most 124 characters.
    static constexpr std::size_t kCommandLineBuffer = 132;

    // First size of a listing buffer per message of the STAT count: a LIST
    // line "n size" CR LF takes about 10 bytes, a UIDL line with an id of
    // the usual length (a Maildir file name, say) about 40.
    static constexpr std::size_t kSizeListingBytesPerMessage = 16;
    static constexpr std::size_t kIdListingBytesPerMessage = 48;

    // The text of one reply while it is read, NUL-terminated after `length`
    // bytes. It grows in place where the allocator can (realloc), so a
    // long listing is not copied at every growth.
    struct ReplyBuffer {
        struct Free {
            void operator()(char* p) const;
        };
        std::unique_ptr<char, Free> data;
        std::size_t size = 0;
        std::size_t length = 0;

        // False, with the last-error value set, when the memory is not
        // available.
        bool Allocate(std::size_t bytes);
        // Makes the buffer `bytes` long (more than size), keeping the text;
        // on failure the buffer is left as it was.
        bool Grow(std::size_t bytes);
        char* Bytes() const { return data.get(); }
        std::string_view Text() const { return {data.get(), length}; }
    };
    // The size a full buffer grows to: at least by the reader's step, and by
    // its own size (so a reply of n bytes is read with O(log n) growths and
    // O(n) bytes copied at most), never past one byte more than the bound.
    static std::size_t GrownBufferSize(std::size_t size, std::size_t growthStep,
                                       std::size_t maxLength);

    CWSocket m_socket;
    CSSLSocket m_tls;
    int m_nMailCount = 0;
    int m_bHaveSizes = 0;
    int m_bHaveStat = 0;
    int m_bHaveIds = 0;
    std::vector<std::uint32_t> m_sizeList;
    std::vector<std::string> m_idList;
    int m_bSessionOpen = 0;
    // The last refused reply, or what had arrived when a read failed; at
    // most kMaxStatusReply bytes of it.
    std::string m_strLastReply;
    std::uint32_t m_nReadTimeoutMs = 5000; // for each chunk of a reply
    int m_bUseTls = 0;                     // 1: TLS from the first byte
    // 0 direct; 1 SOCKS4, 2 SOCKS5, 3 HTTP CONNECT through m_strProxyHost:
    // m_nProxyPort (net/proxy/ProxyTunnel.h); other values connect nothing.
    // Proxy credentials go only with a non-empty m_strProxyUser.
    int m_nProxyKind = 0;
    std::string m_strProxyHost;
    int m_nProxyPort = 1080;
    std::string m_strBindAddress;
    std::string m_strProxyUser;
    std::string m_strProxyPassword;
    std::string m_strUserAgent;

protected:
    virtual bool ReadStatReply(int& count, std::uint32_t& totalSize);
    virtual bool ReadStatusReply();
    virtual bool ReadSizeListing(int count);
    virtual bool ReadIdListing(int count);
    virtual bool ReadMessageText(CPop3Message& message, std::uint32_t size);
    // Reads one reply into `reply` (already allocated at its initial size)
    // until the text ends with `terminator`, growing the buffer to
    // GrownBufferSize whenever a read fills it; fails when more than
    // maxLength bytes would be needed. The terminator is cut off; true when the reply
    // is positive.
    virtual bool ReadReply(ReplyBuffer& reply, std::string_view terminator, std::size_t growthStep,
                           std::size_t maxLength);

    bool SendCommand(const char* text, std::size_t length);
    bool SendCommand(const std::string& command) {
        return SendCommand(command.data(), command.size());
    }
    bool FetchSizeList();
    bool FetchIdList();

private:
    bool WaitReadable();
    long ReceiveChunk(char* buffer, std::size_t capacity);
    void FailRead(const ReplyBuffer& reply);
    bool ReadListing(ReplyBuffer& reply, int count, std::size_t bytesPerMessage);
    bool ReadMultiLineReply(ReplyBuffer& reply, std::size_t growthStep, std::size_t maxLength);
    bool CountForListing(int& count);
    bool AbandonConnect();
    bool ConnectTransport(const std::string& host, int port, bool& handshakeOk);
};
