// The HTTP client through WinINet.
#include "platform/HttpClient.h"
#include "platform/UniqueResource.h"
#include "platform/win32/WindowsGateway.h"

#include <wininet.h>

namespace port {
namespace {

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static bool Close(Handle h) { return ::InternetCloseHandle(h) != FALSE; }
    static bool ClosedNothing() { return true; }
};
using UniqueInternet = UniqueResource<InternetHandleTraits>;

constexpr DWORD_PTR kContext = 1;

class WinInetHttpClient final : public HttpClient {
public:
    HttpFirstLine GetFirstLine(const std::string& url, const std::string& agent,
                               unsigned receiveTimeoutMs) override {
        HttpFirstLine result;
        // The system's proxy settings, no proxy of our own.
        const UniqueInternet session(
            ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session)
            return result;
        DWORD timeout = receiveTimeoutMs;
        if (!::InternetSetOptionA(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                                  sizeof timeout))
            return result;
        // A reload from the server past every cache; a redirect is not
        // followed but answered as what it is, a status that is not 2xx.
        const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE |
                            INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_NO_AUTO_REDIRECT;
        const UniqueInternet file(
            ::InternetOpenUrlA(session.Get(), url.c_str(), nullptr, 0, flags, kContext));
        if (!file)
            return result;

        DWORD status = 0;
        DWORD size = sizeof status;
        DWORD index = 0;
        if (!::HttpQueryInfoA(file.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                              &size, &index))
            return result;
        result.status = static_cast<int>(status);
        if (!IsSuccessStatus(static_cast<long>(status)))
            return result;

        // The time-out bounds each receive; a server that trickles the
        // line byte by byte is bounded by the same time in all.
        const ULONGLONG deadline = ::GetTickCount64() + receiveTimeoutMs;
        FirstLineReader reader;
        char buffer[512];
        for (;;) {
            DWORD got = 0;
            if (!::InternetReadFile(file.Get(), buffer, sizeof buffer, &got))
                return result;
            if (got == 0 || !reader.Feed(buffer, got))
                break;
            if (::GetTickCount64() > deadline)
                return result;
        }
        result.connected = true;
        result.line = reader.Line();
        return result;
    }
};

} // namespace

HttpClient& SystemHttpClient() {
    static WinInetHttpClient client;
    return client;
}

} // namespace port
