#include "platform/HttpClient.h"

#include <atomic>

namespace port {
namespace {

std::atomic<HttpClient*> g_defaultClient{nullptr};

} // namespace

HttpClient& DefaultHttpClient() {
    HttpClient* client = g_defaultClient.load();
    return client != nullptr ? *client : SystemHttpClient();
}

void SetDefaultHttpClient(HttpClient* client) {
    g_defaultClient.store(client);
}

bool FirstLineReader::Feed(const char* data, std::size_t size) {
    if (m_complete)
        return false;
    // Room for the cap and a carriage return that may end the line.
    const std::size_t room = kHttpFirstLineCap + 1 - m_bytes.size();
    const std::size_t take = size < room ? size : room;
    m_bytes.append(data, take);
    if (m_bytes.find('\n') != std::string::npos || m_bytes.size() > kHttpFirstLineCap)
        m_complete = true;
    return !m_complete;
}

std::string FirstLineReader::Line() const {
    std::string line = m_bytes.substr(0, m_bytes.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kHttpFirstLineCap)
        line.resize(kHttpFirstLineCap);
    // The line is shown in a message box and printed on a terminal: no NUL
    // to cut it short, no escape sequence to act on.
    for (char& c : line) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F)
            c = '?';
    }
    return line;
}

} // namespace port
