// Small helpers shared by the tests: test data paths, environment
// variables, the process's socket layer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tavlo::test {

// TAVLO_TEST_DATA_DIR + "/" + relative.
std::string TestDataPath(std::string_view relative);

// Sets (or, with nullopt, removes) an environment variable of the process.
void SetEnvVar(const std::string& name, const std::optional<std::string>& value);

// Sets a variable for the lifetime of the object and then restores it.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// The KEY=VALUE lines of a harness's env.txt (line ends LF or CR LF; lines
// without '=' skipped); nullopt when the file cannot be read.
std::optional<std::map<std::string, std::string>> ReadEnvFile(const std::string& path);

// Starts the socket layer once per process (the application does this at
// start-up; tests that use sockets call this instead).
void EnsureSocketLayer();

} // namespace tavlo::test
