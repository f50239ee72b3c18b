#include "platform/Files.h"

#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using tavlo::test::TempDir;

std::string Read(const std::string& path) {
    std::string content;
    EXPECT_EQ(port::ReadWholeFile(path, content), port::FileReadResult::Ok) << path;
    return content;
}

std::set<std::string> Names(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(FilesTest, ReadWholeFileTellsMissingFromFailed) {
    const TempDir dir;
    std::string content = "stale";
    EXPECT_EQ(port::ReadWholeFile(dir.file("none"), content), port::FileReadResult::Missing);
    EXPECT_EQ(content, "");
    EXPECT_EQ(port::ReadWholeFile(dir.file("none") + "/below", content),
              port::FileReadResult::Missing);
    // A folder is there but cannot be read as a file.
    EXPECT_EQ(port::ReadWholeFile(dir.path(), content), port::FileReadResult::Failed);
}

TEST(FilesTest, WriteFileAtomicallyCreatesAndReplacesWithoutLeftovers) {
    const TempDir dir;
    const std::string path = dir.file("data.txt");
    std::string binary;
    for (int b = 0; b < 256; ++b)
        binary += static_cast<char>(b);
    binary += "\r\n\n";
    ASSERT_TRUE(port::WriteFileAtomically(path, "first"));
    EXPECT_EQ(Read(path), "first");
    ASSERT_TRUE(port::WriteFileAtomically(path, binary));
    EXPECT_EQ(Read(path), binary); // bytes exactly, no text-mode translation
    ASSERT_TRUE(port::WriteFileAtomically(path, ""));
    EXPECT_EQ(Read(path), "");
    EXPECT_EQ(Names(dir), std::set<std::string>{"data.txt"});
}

TEST(FilesTest, FailedReplacementLeavesTheOldFileAndNoTemporaryFile) {
    const TempDir dir;
    // The target is a folder that holds a file: the rename over it must fail.
    const std::string target = dir.file("taken");
    ASSERT_TRUE(port::MakeFolder(target));
    const std::string inside =
        target + static_cast<char>(std::filesystem::path::preferred_separator) + "keep";
    ASSERT_TRUE(port::WriteFileAtomically(inside, "kept"));
    EXPECT_FALSE(port::WriteFileAtomically(target, "new content"));
    EXPECT_TRUE(port::IsFolder(target));
    EXPECT_EQ(Read(inside), "kept");
    EXPECT_EQ(Names(dir), std::set<std::string>{"taken"});
    // No folder: nothing to write into.
    EXPECT_FALSE(port::WriteFileAtomically(dir.file("no-folder") + "/x", "y"));
}

#ifndef _WIN32
// RLIMIT_FSIZE makes a write beyond the limit fail (EFBIG), for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool Set() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_set = false;
};

TEST(FilesTest, WriteFailureMidwayKeepsTheOldContent) {
    const TempDir dir;
    const std::string path = dir.file("settings");
    const std::string old = "old content that must survive";
    ASSERT_TRUE(port::WriteFileAtomically(path, old));
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Set());
        EXPECT_FALSE(port::WriteFileAtomically(path, std::string(100000, 'n')));
    }
    EXPECT_EQ(Read(path), old);
    EXPECT_EQ(Names(dir), std::set<std::string>{"settings"});
}
#endif

TEST(FilesTest, ReadersSeeTheOldOrTheNewContentNeverAMix) {
    const TempDir dir;
    const std::string path = dir.file("swap");
    const std::string a(200000, 'a');
    const std::string b(150000, 'b');
    ASSERT_TRUE(port::WriteFileAtomically(path, a));
    std::atomic<bool> done{false};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        for (int i = 0; i < 60; ++i)
            if (port::WriteFileAtomically(path, i % 2 == 0 ? b : a))
                ++writes;
        done = true;
    });
    int reads = 0;
    int mixed = 0;
    while (!done || reads == 0) {
        std::string content;
        if (port::ReadWholeFile(path, content) == port::FileReadResult::Ok) {
            ++reads;
            if (content != a && content != b)
                ++mixed;
        } else {
            ++mixed; // the file must never be missing either
        }
        // Windows cannot rename over a file while it is open: a reader that
        // never lets go would starve the writer.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.join();
    EXPECT_EQ(writes.load(), 60);
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
}

TEST(FilesTest, MoveFileNoReplaceNeverOverwrites) {
    const TempDir dir;
    const std::string from = dir.file("from");
    const std::string to = dir.file("to");
    ASSERT_TRUE(port::WriteFileAtomically(from, "moving"));
    ASSERT_TRUE(port::WriteFileAtomically(to, "staying"));
    EXPECT_FALSE(port::MoveFileNoReplace(from, to));
    EXPECT_EQ(Read(from), "moving");
    EXPECT_EQ(Read(to), "staying");
    const std::string free = dir.file("free");
    EXPECT_TRUE(port::MoveFileNoReplace(from, free));
    EXPECT_FALSE(port::FileExists(from));
    EXPECT_EQ(Read(free), "moving");
}

TEST(FilesTest, RemoveFileIsDoneWhenTheFileIsGone) {
    const TempDir dir;
    const std::string path = dir.file("gone");
    ASSERT_TRUE(port::WriteFileAtomically(path, "x"));
    EXPECT_TRUE(port::RemoveFile(path));
    EXPECT_FALSE(port::FileExists(path));
    EXPECT_TRUE(port::RemoveFile(path)); // never was: also gone
}

TEST(FilesTest, FileLockExcludesASecondLockUntilReleased) {
    const TempDir dir;
    const std::string lockPath = dir.file("x.lock");
    std::atomic<bool> released{false};
    std::atomic<bool> sawReleased{false};
    std::atomic<bool> secondHeld{false};
    std::thread second;
    {
        const port::FileLock first(lockPath);
        ASSERT_TRUE(first.Held());
        second = std::thread([&] {
            const port::FileLock lock(lockPath);
            secondHeld = lock.Held();
            sawReleased = released.load();
        });
        // Give the second lock every chance to (wrongly) get through.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        released = true;
    }
    second.join();
    EXPECT_TRUE(secondHeld);
    EXPECT_TRUE(sawReleased);
}

#ifndef _WIN32
TEST(FilesTest, ReplacingKeepsSymbolicLinksAndPermissions) {
    const TempDir dir;
    const std::string target = dir.file("real");
    const std::string link = dir.file("link");
    ASSERT_TRUE(port::WriteFileAtomically(target, "old"));
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(port::WriteFileAtomically(link, "new"));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read(target), "new");
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A new file is private: it may hold passwords.
    const std::string fresh = dir.file("fresh");
    ASSERT_TRUE(port::WriteFileAtomically(fresh, "x"));
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}
#endif

} // namespace
