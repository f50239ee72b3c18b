// A Dovecot instance of the test harness (scripts/dovecot_harness.py), as it
// describes itself in env.txt (KEY=VALUE lines beside env.json).
#pragma once

#include <map>
#include <optional>
#include <string>

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

private:
    std::map<std::string, std::string> m_values;
};

} // namespace tavlo::test
