// A Dovecot instance of the test harness (scripts/dovecot_harness.py), as it
// describes itself in env.txt (KEY=VALUE lines beside env.json).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavlo::test {

class DovecotInstance {
public:
    // The instance whose env.json the environment variable names; nullopt
    // when the variable is unset or the file cannot be read.
    static std::optional<DovecotInstance> FromEnvironment(const char* variable);

    std::string Get(const std::string& key) const;
    // "POP3", "POP3S", "IMAP" or "IMAPS".
    int Port(const std::string& protocol) const;
    std::string Password(std::string user) const;
    // The test CA's certificate file.
    std::string Ca() const { return Get("TAVLO_DOVECOT_CA"); }

    // One POP3 session that ended with QUIT, as the server logged it (the
    // default pop3_logout_format "top=%t/%p, retr=%r/%b, del=%d/%m, ...").
    struct Pop3Logout {
        int retrieved = 0;            // RETR commands
        long long retrievedBytes = 0; // bytes those sent
        int deleted = 0;              // messages marked with DELE
        int messages = 0;             // messages in the mailbox at login
    };
    // The user's logged POP3 sessions, oldest first. Waits up to timeoutMs
    // until there are at least atLeast: the log process writes the line a
    // little after the server answered QUIT.
    std::vector<Pop3Logout> Pop3Logouts(const std::string& user, std::size_t atLeast = 0,
                                        int timeoutMs = 10000) const;

private:
    std::map<std::string, std::string> m_values;
};

} // namespace tavlo::test
