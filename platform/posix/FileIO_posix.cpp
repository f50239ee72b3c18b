// POSIX implementation of the file port (open(2) and its kin).
#include "platform/FileIO.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {
namespace {

int Fd(FileHandle h) {
    return static_cast<int>(h);
}

constexpr std::size_t kMaxTransfer = 0x7fffffff;

} // namespace

FileHandle FileOpen(const char* path, unsigned access, FileCreation creation) {
    if (path == nullptr || *path == '\0')
        return kInvalidFile;
    int flags = O_CLOEXEC;
    const bool read = (access & kFileRead) != 0;
    const bool write = (access & kFileWrite) != 0;
    if (read && write)
        flags |= O_RDWR;
    else if (write)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    switch (creation) {
    case FileCreation::OpenExisting:
        break;
    case FileCreation::CreateAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
    case FileCreation::OpenAlways:
        flags |= O_CREAT;
        break;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kInvalidFile;
    // open(2) happily opens folders for reading; a file handle must be a file.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kInvalidFile;
    }
    return static_cast<FileHandle>(fd);
}

int FileClose(FileHandle h) {
    if (h == kInvalidFile)
        return -1;
    return ::close(Fd(h)) == 0 ? 0 : -1;
}

long FileRead(FileHandle h, void* buffer, std::size_t size) {
    if (size > kMaxTransfer)
        size = kMaxTransfer;
    ssize_t r;
    do {
        r = ::read(Fd(h), buffer, size);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -1 : static_cast<long>(r);
}

long FileWrite(FileHandle h, const void* data, std::size_t size) {
    if (size > kMaxTransfer)
        size = kMaxTransfer;
    ssize_t r;
    do {
        r = ::write(Fd(h), data, size);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -1 : static_cast<long>(r);
}

long long FileSeek(FileHandle h, long long distance, int method) {
    const int whence = method == 0   ? SEEK_SET
                       : method == 1 ? SEEK_CUR
                       : method == 2 ? SEEK_END
                                     : -1;
    if (whence < 0)
        return -1;
    const off_t r = ::lseek(Fd(h), static_cast<off_t>(distance), whence);
    return r < 0 ? -1 : static_cast<long long>(r);
}

long long FileSize(FileHandle h) {
    struct stat st {};
    if (::fstat(Fd(h), &st) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

int FileSetSize(FileHandle h, long long size) {
    if (size < 0)
        return -1;
    int r;
    do {
        r = ::ftruncate(Fd(h), static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : -1;
}

} // namespace port
