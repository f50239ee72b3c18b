// Port: the platform's HTTP client, as far as the update check uses it: one
// GET of a plain-text document, of which only the first line matters.
//
// Windows: WinINet (InternetOpen with the system's proxy settings, the
// receive time-out set on the session, InternetOpenUrl with a reload that
// bypasses the cache). Elsewhere: libcurl. Both stop reading once the first
// line is complete, so a server that sends forever costs a few hundred
// bytes; neither follows redirects.
#pragma once

#include <cstddef>
#include <string>

namespace port {

// The longest first line kept; the rest of a longer line is dropped.
inline constexpr std::size_t kHttpFirstLineCap = 256;

struct HttpFirstLine {
    // The server answered with a 2xx status. Everything else (no
    // connection, time-out, a broken or non-2xx answer, a redirect) is a
    // failed connection.
    bool connected = false;
    // The HTTP status seen, 0 when no status line arrived.
    int status = 0;
    // With connected: the first line of the body without its line end, cut
    // at kHttpFirstLineCap bytes, control characters shown as '?'.
    std::string line;
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    // GETs url ("http://HOST[:PORT]/PATH") with agent as User-Agent; every
    // wait for the server is bounded by receiveTimeoutMs, and so is the
    // whole read of the line.
    virtual HttpFirstLine GetFirstLine(const std::string& url, const std::string& agent,
                                       unsigned receiveTimeoutMs) = 0;
};

// The platform's client (WinINet or libcurl).
HttpClient& SystemHttpClient();

// The client a new main window uses: SystemHttpClient() unless a program
// replaced it (tests that must never reach the network). nullptr restores
// the platform's client.
HttpClient& DefaultHttpClient();
void SetDefaultHttpClient(HttpClient* client);

// Collects the first line of a body from the pieces a client receives.
class FirstLineReader {
public:
    // Takes the next bytes of the body; false once the line is complete
    // (line feed seen, or more than the cap held): read no further.
    bool Feed(const char* data, std::size_t size);
    bool Complete() const { return m_complete; }
    // The line as HttpFirstLine::line holds it; at the end of the body
    // (without a line feed) whatever arrived.
    std::string Line() const;

private:
    std::string m_bytes;
    bool m_complete = false;
};

// true for the statuses 200 ... 299.
inline bool IsSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

} // namespace port
