// Result codes of the IMAP client family (CUT_Socket, CUT_WSClient,
// CUT_IMAP4Client and the data-source transfers). Every operation of the
// family returns one of these plain integers; 0 means success.
#pragma once

using ResultCode = int;

namespace UT {

inline constexpr ResultCode Success = 0;             // done
inline constexpr ResultCode Failed = 1;              // generic failure
inline constexpr ResultCode ConnectTimedOut = 5;     // not connected within the connect time-out
inline constexpr ResultCode NotLoggedIn = 6;         // IMAP command without an open session
inline constexpr ResultCode NameLookupFailed = 7;    // host name not found
inline constexpr ResultCode NotConnected = 15;       // transfer asked for while no socket is open
inline constexpr ResultCode AlreadyConnected = 16;   // connect or listen while the socket is open
inline constexpr ResultCode SocketCreateFailed = 17; // the platform refused to create the socket
inline constexpr ResultCode BindFailed = 18;         // binding to the local address failed
inline constexpr ResultCode ConnectFailed = 19;      // the connect call failed
inline constexpr ResultCode ReceiveTimedOut = 20;    // nothing arrived in time, or the peer ended
                                                     // the connection while a reply was awaited
inline constexpr ResultCode ReceiveFailed = 21;      // a receive call failed
inline constexpr ResultCode SendFailed = 22;         // a send call failed
inline constexpr ResultCode ListenFailed = 23;       // the listen call failed
inline constexpr ResultCode BadOpenMode = 26;    // receive-into-source with a mode not write/append
inline constexpr ResultCode AddressTooLong = 35; // resolved address text does not fit its field
inline constexpr ResultCode IndexOutOfRange = 39;   // result-list index beyond the list
inline constexpr ResultCode SourceOpenFailed = 81;  // a data source did not open
inline constexpr ResultCode SourceWriteFailed = 83; // a data source accepted fewer bytes than given
inline constexpr ResultCode LoginRejected = 86;     // the IMAP LOGIN was not answered OK
inline constexpr ResultCode CommandBad = 88;        // the tagged reply was BAD
inline constexpr ResultCode ResponseUnknown = 89;   // the tagged reply was neither OK, NO nor BAD
inline constexpr ResultCode NeedsAuthenticated =
    90;                                           // command needs authenticated or selected state
inline constexpr ResultCode NeedsSelected = 91;   // command needs a selected mailbox
inline constexpr ResultCode Cancelled = 98;       // stopped by IsCancelled, a progress hook or
                                                  // the client's shutdown
inline constexpr ResultCode HostUnresolved = 100; // ConnectTo found no address for the host
inline constexpr ResultCode NullArgument = 106;   // a required argument was missing

} // namespace UT

// The constant's name ("Success", "ReceiveTimedOut", ...), or "Unknown" for a
// value outside the table. For logs and test messages.
const char* ResultCodeName(ResultCode code);
