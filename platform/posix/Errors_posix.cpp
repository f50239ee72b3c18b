// POSIX half of the error port: errno values and strerror texts.
#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

namespace port {

const int kErrInvalidArgument = EINVAL;
const int kErrTimeout = ETIMEDOUT;
const int kErrGracefulDisconnect = ECONNRESET;
const int kErrBadNetResponse = EPROTO;
const int kErrInvalidParameter = EINVAL;
const int kErrSocketConnRefused = ECONNREFUSED;
const int kErrAccessDenied = EACCES;
const int kErrOutOfMemory = ENOMEM;
const int kErrConnectionRefused = ECONNREFUSED;
const int kErrProtocolNotSupported = EPROTONOSUPPORT;
// Resolver failures have no errno; the Windows number keeps them apart from
// every errno value.
const int kErrHostNotFound = 11001;
const int kErrMessageTooLong = EMSGSIZE;

namespace {

thread_local int t_lastError = 0;

// strerror_r comes in two shapes: the GNU one returns the text, the XSI one
// fills the buffer and returns 0. Overloads pick whichever the C library has.
[[maybe_unused]] const char* PickText(const char* gnuResult, const char*) {
    return gnuResult;
}
[[maybe_unused]] const char* PickText(int xsiResult, const char* buffer) {
    return xsiResult == 0 ? buffer : nullptr;
}

bool IsKnownErrno(int code) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    return ::strerrordesc_np(code) != nullptr;
#else
    // Other C libraries answer unknown numbers with "Unknown error ...".
    char buffer[256] = {};
    const char* text = PickText(::strerror_r(code, buffer, sizeof buffer), buffer);
    return text != nullptr && std::strncmp(text, "Unknown error", 13) != 0;
#endif
}

} // namespace

bool SystemErrorText(int code, std::string& text) {
    text.clear();
    if (code == kErrHostNotFound) {
        text = "Host not found";
        return true;
    }
    if (!IsKnownErrno(code))
        return false;
    char buffer[256] = {};
    const char* message = PickText(::strerror_r(code, buffer, sizeof buffer), buffer);
    if (message == nullptr || *message == '\0')
        return false;
    text = message;
    return true;
}

int GetLastErrorValue() {
    return t_lastError;
}

void SetLastErrorValue(int code) {
    t_lastError = code;
}

} // namespace port
