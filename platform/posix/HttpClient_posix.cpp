// The HTTP client through libcurl (RFC 9110, RFC 9112).
#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace port {
namespace {

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using UniqueEasy = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using UniqueSlist = std::unique_ptr<curl_slist, SlistDeleter>;

bool GlobalInit() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct Transfer {
    FirstLineReader reader;
    bool stoppedByUs = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (!transfer->reader.Feed(data, bytes)) {
        // The line is complete: a short count ends the transfer here, so
        // a server that keeps sending costs nothing more.
        transfer->stoppedByUs = true;
        return 0;
    }
    return bytes;
}

class CurlHttpClient final : public HttpClient {
public:
    HttpFirstLine GetFirstLine(const std::string& url, const std::string& agent,
                               unsigned receiveTimeoutMs) override {
        HttpFirstLine result;
        if (!GlobalInit())
            return result;
        const UniqueEasy curl(curl_easy_init());
        if (!curl)
            return result;
        // Always from the server itself, as a reload past every cache.
        // (Appending to a list keeps its head.)
        const UniqueSlist headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
        if (!headers || curl_slist_append(headers.get(), "Pragma: no-cache") == nullptr)
            return result;

        Transfer transfer;
        CURL* c = curl.get();
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        // No signals from a resolver time-out in a threaded program.
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(receiveTimeoutMs));
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);

        const CURLcode code = curl_easy_perform(c);
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        result.status = static_cast<int>(status);
        const bool transferred =
            code == CURLE_OK || (code == CURLE_WRITE_ERROR && transfer.stoppedByUs);
        if (!transferred || !IsSuccessStatus(status))
            return result;
        result.connected = true;
        result.line = transfer.reader.Line();
        return result;
    }
};

} // namespace

HttpClient& SystemHttpClient() {
    static CurlHttpClient client;
    return client;
}

} // namespace port
