// POSIX half of the file port.
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {
namespace {

bool Fail(int error) {
    SetLastErrorValue(error);
    return false;
}

bool WriteAll(int fd, const std::string& content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The file that a write to path really replaces: the target of a symbolic
// link, so that a linked settings file stays linked.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string target(real);
    std::free(real);
    return target;
}

// A rename is durable only once the folder entry is on disk.
void SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

FileReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorValue(errno);
        return errno == ENOENT || errno == ENOTDIR ? FileReadResult::Missing
                                                   : FileReadResult::Failed;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastErrorValue(errno);
            ::close(fd);
            content.clear();
            return FileReadResult::Failed;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return FileReadResult::Ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::string target = ResolveTarget(path);
    std::string temp = target + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Fail(errno);
    // mkostemp makes the file private (0600); a file being replaced keeps its
    // own permissions.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0)
        ::fchmod(fd, st.st_mode & 07777);
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return Fail(error);
    }
    SyncFolder(ParentFolder(target));
    return true;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return Fail(errno);
    // The file system cannot rename without replacing: a hard link fails
    // when the name exists, which gives the same guarantee.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST)
        return Fail(errno);
    // No hard links either (e.g. FAT): check, then rename.
    if (FileExists(to))
        return Fail(EEXIST);
    return ::rename(from.c_str(), to.c_str()) == 0 || Fail(errno);
}

bool RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    return Fail(errno);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    const int error = errno;
    return IsFolder(path) || Fail(error);
}

FileLock::FileLock(const std::string& lockFilePath)
    : m_handle(::open(lockFilePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (m_handle < 0) {
        SetLastErrorValue(errno);
        return;
    }
    // flock locks belong to the open file, so two FileLock objects of one
    // process exclude each other as well as other processes do.
    int r;
    do {
        r = ::flock(static_cast<int>(m_handle), LOCK_EX);
    } while (r != 0 && errno == EINTR);
    m_held = r == 0;
    if (!m_held)
        SetLastErrorValue(errno);
}

FileLock::~FileLock() {
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle)); // releases the lock
}

} // namespace port
