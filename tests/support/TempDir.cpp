#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

namespace tavlo::test {
namespace {

std::string UniqueName() {
    static std::atomic<unsigned> counter{0};
    static const unsigned long long seed =
        std::random_device{}() ^ static_cast<unsigned long long>(
                                     std::chrono::steady_clock::now().time_since_epoch().count());
    return "tavlo-test-" + std::to_string(seed % 1000000007ULL) + "-" +
           std::to_string(counter.fetch_add(1));
}

} // namespace

TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (!ec) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate = base / UniqueName();
            if (fs::create_directory(candidate, ec) && !ec) {
                m_path = candidate.string();
                return;
            }
        }
    }
    std::fprintf(stderr, "TempDir: cannot create a temporary folder: %s\n", ec.message().c_str());
    std::abort();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Files made read-only by a test must not keep the folder alive.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::file(const std::string& name) const {
    return m_path + static_cast<char>(std::filesystem::path::preferred_separator) + name;
}

} // namespace tavlo::test
