// Port: the error numbers the program raises and reports, and their texts.
//
// The numbers are the platform's own: Windows system and socket error codes
// on Windows, errno values on POSIX, so that the system's message text of a
// code is always available. Each constant keeps the meaning of its Windows
// name.
#pragma once

#include <string>

namespace port {

extern const int kErrInvalidArgument;      // WSAEINVAL / EINVAL
extern const int kErrTimeout;              // ERROR_TIMEOUT / ETIMEDOUT
extern const int kErrGracefulDisconnect;   // ERROR_GRACEFUL_DISCONNECT / ECONNRESET
extern const int kErrBadNetResponse;       // ERROR_BAD_NET_RESP / EPROTO
extern const int kErrInvalidParameter;     // ERROR_INVALID_PARAMETER / EINVAL
extern const int kErrSocketConnRefused;    // WSAECONNREFUSED / ECONNREFUSED
extern const int kErrAccessDenied;         // ERROR_ACCESS_DENIED / EACCES
extern const int kErrOutOfMemory;          // ERROR_OUTOFMEMORY / ENOMEM
extern const int kErrConnectionRefused;    // ERROR_CONNECTION_REFUSED / ECONNREFUSED
extern const int kErrProtocolNotSupported; // WSAEPROTONOSUPPORT / EPROTONOSUPPORT
extern const int kErrHostNotFound;         // WSAHOST_NOT_FOUND / 11001 (no errno exists)
extern const int kErrMessageTooLong;       // WSAEMSGSIZE / EMSGSIZE (reply over its cap)

// The system's message text for an error number (FormatMessage on Windows,
// strerror on POSIX; kErrHostNotFound has its own text there). False and an
// empty text when the system has none.
bool SystemErrorText(int code, std::string& text);

// The calling thread's last-error value (GetLastError/SetLastError on
// Windows; a thread-local value on POSIX).
int GetLastErrorValue();
void SetLastErrorValue(int code);

} // namespace port
