// The HTTP client through WinINet.
#include "platform/HttpClient.h"
#include "platform/UniqueResource.h"
#include "platform/win32/WindowsGateway.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
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

// How long past the receive time-out the caller waits for an answer at
// most: WinINet builds that ignore the session's receive time-out (Wine's)
// must not hold the user interface for as long as a silent server likes.
constexpr unsigned kGraceMs = 1000;

// The GET itself, as WinINet does it, on the thread that calls it;
// seenStatus hears of the status as soon as it is known.
HttpFirstLine Fetch(const std::string& url, const std::string& agent, unsigned receiveTimeoutMs,
                    const std::function<void(int)>& seenStatus) {
    HttpFirstLine result;
    const ULONGLONG deadline = ::GetTickCount64() + receiveTimeoutMs;
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
    seenStatus(result.status);
    if (!IsSuccessStatus(static_cast<long>(status)))
        return result;
    // A body that ends before its announced length was cut off.
    DWORD length = 0;
    size = sizeof length;
    index = 0;
    const bool lengthKnown =
        ::HttpQueryInfoA(file.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                         &size, &index) != FALSE;

    // The time-out bounds each receive, and a server that trickles the line
    // byte by byte gets no longer in all.
    FirstLineReader reader;
    DWORD total = 0;
    char buffer[512];
    for (;;) {
        DWORD got = 0;
        if (!::InternetReadFile(file.Get(), buffer, sizeof buffer, &got) ||
            ::GetTickCount64() > deadline)
            return result;
        if (got == 0) {
            if (lengthKnown && total < length)
                return result;
            break;
        }
        total += got;
        if (!reader.Feed(buffer, got))
            break;
    }
    result.connected = true;
    result.line = reader.Line();
    return result;
}

class WinInetHttpClient final : public HttpClient {
public:
    HttpFirstLine GetFirstLine(const std::string& url, const std::string& agent,
                               unsigned receiveTimeoutMs) override {
        // The request runs on a thread of its own, which owns its handles;
        // the caller waits for it, but no longer than the time-out allows.
        // A request that outlives that is left to end on its own.
        struct Shared {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            int status = 0;
            HttpFirstLine result;
        };
        const auto shared = std::make_shared<Shared>();
        std::thread worker([shared, url, agent, receiveTimeoutMs] {
            HttpFirstLine result = Fetch(url, agent, receiveTimeoutMs, [&shared](int status) {
                const std::lock_guard<std::mutex> lock(shared->mutex);
                shared->status = status;
            });
            const std::lock_guard<std::mutex> lock(shared->mutex);
            shared->result = std::move(result);
            shared->finished = true;
            shared->done.notify_all();
        });
        std::unique_lock<std::mutex> lock(shared->mutex);
        const bool finished =
            shared->done.wait_for(lock, std::chrono::milliseconds(receiveTimeoutMs + kGraceMs),
                                  [&] { return shared->finished; });
        if (!finished) {
            HttpFirstLine late;
            late.status = shared->status;
            lock.unlock();
            worker.detach();
            return late;
        }
        lock.unlock();
        worker.join();
        return shared->result;
    }
};

} // namespace

HttpClient& SystemHttpClient() {
    static WinInetHttpClient client;
    return client;
}

} // namespace port
