// The HTTP client through libcurl (RFC 9110, RFC 9112).
//
// libcurl is loaded when the first request is made, not when the program
// starts: it pulls in some thirty further libraries, whose loading and
// relocation would cost every run of the program (a mail check among them)
// milliseconds for an update check that runs once a day at most.
#include "platform/HttpClient.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <memory>
#include <mutex>

namespace port {
namespace {

// The few libcurl functions used, looked up in the loaded library.
struct Curl {
    CURLcode (*globalInit)(long flags) = nullptr;
    CURL* (*easyInit)() = nullptr;
    void (*easyCleanup)(CURL* curl) = nullptr;
    CURLcode (*easySetopt)(CURL* curl, CURLoption option, ...) = nullptr;
    CURLcode (*easyPerform)(CURL* curl) = nullptr;
    CURLcode (*easyGetinfo)(CURL* curl, CURLINFO info, ...) = nullptr;
    curl_slist* (*slistAppend)(curl_slist* list, const char* text) = nullptr;
    void (*slistFreeAll)(curl_slist* list) = nullptr;
};

template <class Function>
bool Find(void* library, const char* name, Function& out) {
    out = reinterpret_cast<Function>(::dlsym(library, name));
    return out != nullptr;
}

// Loads libcurl and initialises it, once; null when either fails. The
// library stays loaded for the life of the process.
const Curl* LoadCurl() {
    static std::once_flag once;
    static Curl curl;
    static bool ready = false;
    std::call_once(once, [] {
        void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return;
        ready = Find(library, "curl_global_init", curl.globalInit) &&
                Find(library, "curl_easy_init", curl.easyInit) &&
                Find(library, "curl_easy_cleanup", curl.easyCleanup) &&
                Find(library, "curl_easy_setopt", curl.easySetopt) &&
                Find(library, "curl_easy_perform", curl.easyPerform) &&
                Find(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                Find(library, "curl_slist_append", curl.slistAppend) &&
                Find(library, "curl_slist_free_all", curl.slistFreeAll) &&
                curl.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    });
    return ready ? &curl : nullptr;
}

struct EasyDeleter {
    const Curl* curl;
    void operator()(CURL* easy) const { curl->easyCleanup(easy); }
};
using UniqueEasy = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
    const Curl* curl;
    void operator()(curl_slist* list) const { curl->slistFreeAll(list); }
};
using UniqueSlist = std::unique_ptr<curl_slist, SlistDeleter>;

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
        const Curl* lib = LoadCurl();
        if (lib == nullptr)
            return result;
        const UniqueEasy curl(lib->easyInit(), EasyDeleter{lib});
        if (!curl)
            return result;
        // Always from the server itself, as a reload past every cache.
        // (Appending to a list keeps its head.)
        const UniqueSlist headers(lib->slistAppend(nullptr, "Cache-Control: no-cache"),
                                  SlistDeleter{lib});
        if (!headers || lib->slistAppend(headers.get(), "Pragma: no-cache") == nullptr)
            return result;

        Transfer transfer;
        CURL* c = curl.get();
        const auto set = lib->easySetopt;
        set(c, CURLOPT_URL, url.c_str());
        set(c, CURLOPT_PROTOCOLS_STR, "http");
        set(c, CURLOPT_FOLLOWLOCATION, 0L);
        set(c, CURLOPT_HTTPGET, 1L);
        set(c, CURLOPT_USERAGENT, agent.c_str());
        set(c, CURLOPT_HTTPHEADER, headers.get());
        // No signals from a resolver time-out in a threaded program.
        set(c, CURLOPT_NOSIGNAL, 1L);
        set(c, CURLOPT_TIMEOUT_MS, static_cast<long>(receiveTimeoutMs));
        set(c, CURLOPT_WRITEFUNCTION, &OnBody);
        set(c, CURLOPT_WRITEDATA, &transfer);

        const CURLcode code = lib->easyPerform(c);
        long status = 0;
        lib->easyGetinfo(c, CURLINFO_RESPONSE_CODE, &status);
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
