// Small helpers shared by the libFuzzer targets: a property check that stops
// the run, and a scratch folder for targets that drive file-backed stores.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace tavlo::fuzz {

// A broken property is a finding: abort, so that libFuzzer keeps the input.
inline void Check(bool condition) {
    if (!condition)
        std::abort();
}

// A folder of its own for the process under /tmp, removed (with the files
// named by Remove) at the end of the run.
class ScratchFolder {
public:
    ScratchFolder() {
        char name[] = "/tmp/tavlo-fuzz.XXXXXX";
        Check(mkdtemp(name) != nullptr);
        m_path = name;
    }
    ~ScratchFolder() {
        for (const char* suffix : {"", ".lock", ".bad", ".tmp"})
            std::remove((File() + suffix).c_str());
        rmdir(m_path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The one file the targets use, and its companions (".lock", ".bad").
    std::string File() const { return m_path + "/settings.reg"; }

private:
    std::string m_path;
};

// Replaces a file's content in place. The stores under test replace their
// file atomically with a flush to disk; the fuzz runs do not need that
// cost, and the content is the same.
inline bool WriteWholeFile(const std::string& path, const std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && written;
}

} // namespace tavlo::fuzz
