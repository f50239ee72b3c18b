// The blocked senders: what the user typed (a full address or a domain),
// kept in insertion order, stored one entry per line in "Blocklist.txt", and
// the rule that tells whether a sender's address is blocked.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

struct BlockedSender {
    std::string m_strAddress; // exactly as typed: no trimming, no case change
};

inline constexpr const char* kBlocklistFileName = "Blocklist.txt";

// A hand-edited or damaged file cannot make the program hold more than this:
// the first 4 MiB and at most 100,000 entries are read (far beyond any real
// list: 100,000 domains take about 2 MiB).
inline constexpr std::size_t kMaxBlocklistBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxBlockedSenders = 100000;

// Appends one entry per line of text. A line ends at LF; a CR just before
// the LF belongs to the line end (text mode), any other CR to the text. An
// empty line is an empty entry, a last line without a line end counts as
// well. An entry ends at a NUL byte, as a text read from a line does.
// False when the caps cut the list short: the rest of the text is dropped
// (and with it a last line that the byte cap cut in two).
bool BlockedSendersFromText(const std::string& text, bool textIsWhole,
                            std::vector<BlockedSender>& list);

// Every entry followed by CR LF, in list order; "" for the empty list.
std::string BlockedSendersToText(const std::vector<BlockedSender>& list);

enum class BlocklistLoad {
    Missing, // no file: the list stays as it was
    Loaded,  // every line read
    Cut,     // read in part (the caps above); the file must not be rewritten
    Unreadable,
};

// Appends the entries of the file at path.
BlocklistLoad LoadBlockedSenders(const std::string& path, std::vector<BlockedSender>& list);

// Replaces the file atomically with the list (a temporary file beside it,
// flushed and renamed over it): a failure leaves the old file whole. False,
// with the reason in the thread's last-error value, when it could not.
bool SaveBlockedSenders(const std::string& path, const std::vector<BlockedSender>& list);

// The message shown when the file could not be written; it names the file.
std::string BlocklistWriteError(const std::string& path, int errorCode);
// The message shown instead of rewriting a file that was read in part.
std::string BlocklistTooLargeError(const std::string& path);

// The n-th entry (n from 1, list order) whose text equals text exactly,
// letter case included; nullptr when there is none.
BlockedSender* FindBlockedSender(std::vector<BlockedSender>& list, const std::string& text, int n);
// Removes FindBlockedSender(list, text, n); false when there is none.
bool RemoveBlockedSender(std::vector<BlockedSender>& list, const std::string& text, int n);

// The matching rule over a snapshot of the list. Texts are compared whole,
// without regard to letter case (the list controls' rule). For an address
// with "@", d is the address with every occurrence of its prefix up to the
// first "@" removed; without "@", d is the address. The sender is blocked
// when d is listed; or, when d holds two dots or more, d with every
// occurrence of its first label and dot removed (one label only); or the
// whole address. An empty address or an empty entry never matches.
class BlockedSenderMatcher {
public:
    explicit BlockedSenderMatcher(const std::vector<BlockedSender>& list);

    bool IsBlocked(const std::string& address) const;
    bool Empty() const { return m_folded.empty(); }

private:
    bool Listed(const std::string& text) const;

    std::unordered_set<std::string> m_folded;
};
