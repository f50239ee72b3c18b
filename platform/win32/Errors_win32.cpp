// Win32 half of the error port: system error numbers and FormatMessage texts.
#include "platform/Errors.h"
#include "platform/win32/WindowsGateway.h"

namespace port {

const int kErrInvalidArgument = WSAEINVAL;
const int kErrTimeout = ERROR_TIMEOUT;
const int kErrGracefulDisconnect = ERROR_GRACEFUL_DISCONNECT;
const int kErrBadNetResponse = ERROR_BAD_NET_RESP;
const int kErrInvalidParameter = ERROR_INVALID_PARAMETER;
const int kErrSocketConnRefused = WSAECONNREFUSED;
const int kErrAccessDenied = ERROR_ACCESS_DENIED;
const int kErrOutOfMemory = ERROR_OUTOFMEMORY;
const int kErrConnectionRefused = ERROR_CONNECTION_REFUSED;
const int kErrProtocolNotSupported = WSAEPROTONOSUPPORT;
const int kErrHostNotFound = WSAHOST_NOT_FOUND;
const int kErrMessageTooLong = WSAEMSGSIZE;

namespace {

// Owns a buffer that FormatMessage allocated.
class LocalBuffer {
public:
    LocalBuffer() = default;
    LocalBuffer(const LocalBuffer&) = delete;
    LocalBuffer& operator=(const LocalBuffer&) = delete;
    ~LocalBuffer() {
        if (m_text != nullptr)
            ::LocalFree(m_text);
    }
    char** receiver() { return &m_text; }
    const char* get() const { return m_text; }

private:
    char* m_text = nullptr;
};

} // namespace

bool SystemErrorText(int code, std::string& text) {
    text.clear();
    LocalBuffer buffer;
    // With ALLOCATE_BUFFER the buffer argument receives a pointer to the text.
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(buffer.receiver()), 0, nullptr);
    if (length == 0 || buffer.get() == nullptr)
        return false;
    text.assign(buffer.get(), length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return !text.empty();
}

int GetLastErrorValue() {
    return static_cast<int>(::GetLastError());
}

void SetLastErrorValue(int code) {
    ::SetLastError(static_cast<DWORD>(code));
}

} // namespace port
