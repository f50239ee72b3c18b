#include "core/ServerAddress.h"

#include "net/Text.h"

#include <string_view>

bool SplitServerAddress(const std::string& server, int defaultPort, std::string& host, int& port) {
    const std::string::size_type colon = server.find(':');
    if (colon == std::string::npos) {
        host = server;
        port = defaultPort;
        return !host.empty();
    }
    // The port: one to five digits and nothing else.
    const std::string_view digits = std::string_view(server).substr(colon + 1);
    const text::Decimal number = text::ReadDecimal(digits);
    if (colon == 0 || !number.IsWhole(digits) || digits.size() > 5)
        return false;
    const long long value = number.Clamp(0, 65536);
    if (value < 1 || value > 65535)
        return false;
    host = server.substr(0, colon);
    port = static_cast<int>(value);
    return true;
}
