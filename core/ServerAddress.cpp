#include "core/ServerAddress.h"

bool SplitServerAddress(const std::string& server, int defaultPort, std::string& host, int& port) {
    const std::string::size_type colon = server.find(':');
    if (colon == std::string::npos) {
        host = server;
        port = defaultPort;
        return !host.empty();
    }
    const std::string digits = server.substr(colon + 1);
    if (colon == 0 || digits.empty() || digits.size() > 5)
        return false;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    host = server.substr(0, colon);
    port = value;
    return true;
}
