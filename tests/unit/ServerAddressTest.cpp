#include "core/ServerAddress.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* server;
    bool ok;
    const char* host;
    int port;
};

TEST(ServerAddressTest, SplitsHostAndOptionalPort) {
    const Case cases[] = {
        {"mail.example.com", true, "mail.example.com", 110},
        {"10.0.0.1", true, "10.0.0.1", 110},
        {"mail.example.com:2110", true, "mail.example.com", 2110},
        {"127.0.0.1:1", true, "127.0.0.1", 1},
        {"127.0.0.1:65535", true, "127.0.0.1", 65535},
        {"127.0.0.1:00995", true, "127.0.0.1", 995},
        {"", false, "", 0},
        {"host:", false, "", 0},
        {":110", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:999999", false, "", 0},
        {"host:-1", false, "", 0},
        {"host:11a", false, "", 0},
        {"host:1:2", false, "", 0},
        {"host: 110", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host = "unchanged";
        int port = -7;
        EXPECT_EQ(SplitServerAddress(c.server, 110, host, port), c.ok) << c.server;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.server;
            EXPECT_EQ(port, c.port) << c.server;
        }
    }
}

} // namespace
