// libFuzzer target: the server text of an account (HOST or HOST:PORT) and
// the "UpdateHost" value, on arbitrary bytes. The input is the text.
//
// Checked: an accepted text gives a non-empty host without a colon and a
// port 1 ... 65535, and the host written with that port splits back the
// same; a text without a colon keeps its whole self and the default port.
// An accepted update host holds only the characters a URL host may, so
// nothing else reaches the update check's URL.
#include "FuzzSupport.h"
#include "config/Settings.h"
#include "core/ServerAddress.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using tavlo::fuzz::Check;

bool IsUrlHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

void CheckServerAddress(const std::string& text, int defaultPort) {
    std::string host = "unchanged";
    int port = -1;
    if (!SplitServerAddress(text, defaultPort, host, port)) {
        Check(text.empty() || text.find(':') != std::string::npos);
        return;
    }
    Check(!host.empty() && host.find(':') == std::string::npos);
    if (text.find(':') == std::string::npos) {
        Check(host == text && port == defaultPort);
        return;
    }
    Check(port >= 1 && port <= 65535);
    std::string again;
    int againPort = 0;
    Check(SplitServerAddress(host + ":" + std::to_string(port), defaultPort, again, againPort));
    Check(again == host && againPort == port);
}

void CheckUpdateHost(const std::string& text) {
    std::string host;
    int port = 0;
    if (!ParseUpdateHost(text, host, port))
        return;
    Check(!host.empty() && host.size() <= 253);
    for (const char c : host)
        Check(IsUrlHostCharacter(c));
    Check(port >= 1 && port <= 65535);
    Check(text.empty() || text == host || text.starts_with(host + ":"));
    std::string again;
    int againPort = 0;
    Check(ParseUpdateHost(host + ":" + std::to_string(port), again, againPort));
    Check(again == host && againPort == port);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (const int defaultPort : {110, 995, 143, 993})
        CheckServerAddress(input, defaultPort);
    CheckUpdateHost(input);
    return 0;
}
