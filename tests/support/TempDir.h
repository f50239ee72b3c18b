// A fresh folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace tavlo::test {

class TempDir {
public:
    // Creates a new, empty folder below the system's temporary folder; a
    // failure ends the test program (nothing sensible could run without it).
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing separator.
    const std::string& path() const { return m_path; }
    // path() + separator + name.
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

} // namespace tavlo::test
