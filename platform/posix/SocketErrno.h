// The BSD halves of the socket port share one record of the thread's last
// socket error (what LastSocketError() reports).
#pragma once

namespace port::posix {

// Records errno as the calling thread's last socket error; returns -1, the
// failure result of the socket operations.
int RecordSocketError();

} // namespace port::posix
