// The blocked-sender sweep of a POP3 session: every message whose sender is
// blocked is marked for deletion (DELE); the deletions take effect when the
// session ends with QUIT. The sender is the address in the retrieved
// message's "From" field (RETR: the command set has no header-only read).
#pragma once

#include <string>
#include <unordered_set>

class BlockedSenderMatcher;
class CPop3Connection;

// The unique ids of the messages of one mailbox already retrieved and found
// not blocked by the current list.
using ExaminedMessages = std::unordered_set<std::string>;

// Runs on an open session, before the check counts the mailbox.
//
// Without examined (nullptr), every message is retrieved in turn: STAT,
// then for n = 1 ... count: RETR n, and for a blocked sender the unique id
// of n (UIDL, read once per session) looked up again and DELE of its
// number. Failures are not examined: a message that could not be retrieved
// has no sender and stays.
//
// With examined, a message whose unique id it holds is not retrieved again;
// afterwards it holds the ids of this mailbox's messages that are known not
// to be blocked (a blocked message is not remembered: should its deletion
// not take effect, it is examined again). The deletions are the same.
void SweepBlockedSenders(CPop3Connection& connection, const BlockedSenderMatcher& matcher,
                         ExaminedMessages* examined);
