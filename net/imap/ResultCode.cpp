#include "net/imap/ResultCode.h"

const char* ResultCodeName(ResultCode code) {
    switch (code) {
    case UT::Success:
        return "Success";
    case UT::Failed:
        return "Failed";
    case UT::ConnectTimedOut:
        return "ConnectTimedOut";
    case UT::NotLoggedIn:
        return "NotLoggedIn";
    case UT::NameLookupFailed:
        return "NameLookupFailed";
    case UT::NotConnected:
        return "NotConnected";
    case UT::AlreadyConnected:
        return "AlreadyConnected";
    case UT::SocketCreateFailed:
        return "SocketCreateFailed";
    case UT::BindFailed:
        return "BindFailed";
    case UT::ConnectFailed:
        return "ConnectFailed";
    case UT::ReceiveTimedOut:
        return "ReceiveTimedOut";
    case UT::ReceiveFailed:
        return "ReceiveFailed";
    case UT::SendFailed:
        return "SendFailed";
    case UT::ListenFailed:
        return "ListenFailed";
    case UT::BadOpenMode:
        return "BadOpenMode";
    case UT::AddressTooLong:
        return "AddressTooLong";
    case UT::IndexOutOfRange:
        return "IndexOutOfRange";
    case UT::SourceOpenFailed:
        return "SourceOpenFailed";
    case UT::SourceWriteFailed:
        return "SourceWriteFailed";
    case UT::LoginRejected:
        return "LoginRejected";
    case UT::CommandBad:
        return "CommandBad";
    case UT::ResponseUnknown:
        return "ResponseUnknown";
    case UT::NeedsAuthenticated:
        return "NeedsAuthenticated";
    case UT::NeedsSelected:
        return "NeedsSelected";
    case UT::Cancelled:
        return "Cancelled";
    case UT::HostUnresolved:
        return "HostUnresolved";
    case UT::NullArgument:
        return "NullArgument";
    default:
        return "Unknown";
    }
}
