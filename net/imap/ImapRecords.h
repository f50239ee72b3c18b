// The records the IMAP4 client (CUT_IMAP4Client) fills from server replies
// and hands out: MailboxStatus (STATUS), MailboxListEntry (LIST, LSUB),
// MessageRecord (FETCH), the session states and the flag bits (RFC 3501).
#pragma once

#include <cstdint>
#include <string>

class CUT_DataSource;

// State of an IMAP session (RFC 3501 section 3).
enum SessionState : int {
    NotConnected = 0,
    Authenticated = 1,
    Selected = 2,
    LoggedOut = 3,
};

// Bits of message flags, mailbox flags and permanent flags.
namespace ImapFlag {
inline constexpr int Answered = 1;
inline constexpr int Flagged = 2;
inline constexpr int Deleted = 4;
inline constexpr int Seen = 8;
inline constexpr int Draft = 16;
inline constexpr int Recent = 32;
inline constexpr int Wildcard = 64; // "\*": the client may create keywords
} // namespace ImapFlag

// Bits of the attributes of a LIST or LSUB entry.
namespace MailboxAttribute {
inline constexpr int NoInferiors = 1;
inline constexpr int NoSelect = 2;
inline constexpr int Marked = 4;
inline constexpr int Unmarked = 8;
} // namespace MailboxAttribute

// The name and the five counters of one mailbox as a STATUS reply gives
// them. Counters the server did not name are 0. The counters are signed
// 32-bit: a larger value in a reply (UIDVALIDITY and UIDNEXT may reach
// 4294967295) is taken modulo 2^32 and read as two's complement, so distinct
// 32-bit values stay distinct.
struct MailboxStatus {
    std::string name; // as the server wrote it, quotes included
    std::int32_t messages = 0;
    std::int32_t recent = 0;
    std::int32_t unseen = 0;
    std::int32_t uidNext = 0;
    std::int32_t uidValidity = 0;
};

// One entry of a LIST or LSUB reply.
struct MailboxListEntry {
    int attributes = 0;    // MailboxAttribute bits
    std::string delimiter; // hierarchy delimiter without quotes; "NIL" when none
    std::string name;
};

// One message of a FETCH reply.
struct MessageRecord {
    // Longest texts kept (the fields of 1001 and 101 characters with their
    // terminator); longer values are cut or dropped as the parser says.
    static constexpr std::size_t kMaxKeywords = 1000;
    static constexpr std::size_t kMaxInternalDate = 100;

    int number = 0;           // message sequence number
    int size = 0;             // RFC822.SIZE
    int flags = 0;            // ImapFlag bits
    std::string keywords;     // keywords, each as a backslash, the word and a space
    std::string internalDate; // INTERNALDATE without its quotes
    int uid = 0;
    int bodyPart = 0;               // CUT_IMAP4Client::kFetchWhole, kFetchText or kFetchHeader
    CUT_DataSource* body = nullptr; // owned by the client; none when not fetched
};
