// CUT_MapFileDataSource: a data source in a growable file, mapped for reading.
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_Text.h"
#include "platform/Files.h"
#include "platform/TempFile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

// Far beyond any mail literal; keeps every size computation below in range.
constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 48;
// Block of a copy between two sources.
constexpr std::size_t kCopyBlock = std::size_t{64} << 10;

} // namespace

CUT_MapFileDataSource::CUT_MapFileDataSource(std::uint64_t initialSize, const char* path,
                                             const char* name)
    : m_nSize(initialSize) {
    if (path != nullptr && *path != '\0') {
        // A path that does not fit stays empty: Open then fails instead of
        // opening the file a cut path would name.
        if (std::strlen(path) < sizeof m_szPath)
            UT_CopyCut(m_szPath, sizeof m_szPath, path);
    } else {
        std::string temp;
        if (port::CreateTempFile("Map", temp)) {
            if (temp.size() < sizeof m_szPath) {
                UT_CopyCut(m_szPath, sizeof m_szPath, temp.c_str());
                m_bDeleteOnDestroy = true;
            } else {
                port::RemoveFile(temp);
            }
        }
    }
    UT_CopyCut(m_szName, sizeof m_szName, name != nullptr ? name : m_szPath);
}

CUT_MapFileDataSource::~CUT_MapFileDataSource() {
    Close();
    if (m_bDeleteOnDestroy)
        port::RemoveFile(m_szPath);
}

std::unique_ptr<CUT_DataSource> CUT_MapFileDataSource::Clone() {
    if (!m_bDeleteOnDestroy) {
        // A named file is the content: the clone opens the same file.
        if (m_szPath[0] == '\0')
            return nullptr;
        return std::make_unique<CUT_MapFileDataSource>(m_nSize, m_szPath, m_szName);
    }
    auto copy = std::make_unique<CUT_MapFileDataSource>(m_nSize, nullptr, m_szName);
    if (copy->m_szPath[0] == '\0' || !CopyContentTo(*copy))
        return nullptr;
    return copy;
}

bool CUT_MapFileDataSource::CopyContentTo(CUT_MapFileDataSource& target) {
    const bool wasOpen = IsOpen();
    if (!wasOpen && Open(kOpenRead) != 0)
        return false;
    const std::uint64_t kept = m_nPosition;
    m_nPosition = 0;
    bool ok = target.Open(kOpenWrite) == 0;
    std::unique_ptr<char[]> block(ok ? new (std::nothrow) char[kCopyBlock + 1] : nullptr);
    ok = ok && block != nullptr;
    while (ok && m_nPosition < m_nLength) {
        const int n = Read(block.get(), kCopyBlock + 1);
        ok = n > 0 && target.Write(block.get(), static_cast<std::size_t>(n)) == n;
    }
    if (target.Close() != 0)
        ok = false;
    m_nPosition = kept;
    if (!wasOpen)
        Close();
    return ok;
}

int CUT_MapFileDataSource::Open(int mode) {
    if (mode != kOpenRead && mode != kOpenWrite && mode != kOpenAppend)
        return -1;
    if (IsOpen())
        Close();
    if (m_szPath[0] == '\0')
        return -1;

    const port::FileHandle file = port::FileOpen(
        m_szPath, port::kFileRead | port::kFileWrite,
        mode == kOpenRead ? port::FileCreation::OpenExisting : port::FileCreation::OpenAlways);
    if (file == port::kInvalidFile)
        return -1;
    long long fileSize = port::FileSize(file);
    if (fileSize < 0 || static_cast<std::uint64_t>(fileSize) > kMaxFileSize) {
        port::FileClose(file);
        return -1;
    }
    if (mode == kOpenWrite && fileSize > 0) {
        if (port::FileSetSize(file, 0) != 0) {
            port::FileClose(file);
            return -1;
        }
        fileSize = 0;
    }
    // Read maps the file as it is: nothing beyond what was written.
    if (mode == kOpenRead &&
        !m_view.Map(file, static_cast<std::uint64_t>(fileSize), false)) {
        port::FileClose(file);
        return -1;
    }
    m_hFile = file;
    m_nOpenMode = mode;
    m_nLength = static_cast<std::uint64_t>(fileSize);
    m_nPosition = mode == kOpenAppend ? m_nLength : 0;
    m_nFileOffset = -1;
    return 0;
}

int CUT_MapFileDataSource::Close() {
    if (!IsOpen())
        return 0;
    bool ok = m_view.Unmap();
    if (port::FileClose(m_hFile) != 0)
        ok = false;
    m_hFile = port::kInvalidFile;
    m_nOpenMode = -1;
    m_nPosition = 0;
    m_nFileOffset = -1;
    return ok ? 0 : -1;
}

long CUT_MapFileDataSource::ReadFileAt(char* buffer, std::size_t size) {
    if (m_nFileOffset != static_cast<long long>(m_nPosition)) {
        if (port::FileSeek(m_hFile, static_cast<long long>(m_nPosition), 0) < 0) {
            m_nFileOffset = -1;
            return -1;
        }
        m_nFileOffset = static_cast<long long>(m_nPosition);
    }
    std::size_t done = 0;
    while (done < size) {
        const long n = port::FileRead(m_hFile, buffer + done, size - done);
        if (n <= 0) {
            m_nFileOffset = -1;
            if (n < 0)
                return -1;
            break;
        }
        done += static_cast<std::size_t>(n);
        m_nFileOffset += n;
    }
    return static_cast<long>(done);
}

int CUT_MapFileDataSource::ReadLine(char* buffer, std::size_t size) {
    if (!IsOpen() || buffer == nullptr || size == 0)
        return 0;
    if (m_nOpenMode == kOpenRead)
        return ReadLineFromMemory(m_view.Data(), m_nLength, m_nPosition, buffer, size);
    // The next size - 1 bytes of the file at most, then the line among them.
    const std::uint64_t left = m_nPosition < m_nLength ? m_nLength - m_nPosition : 0;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>({size - 1, left, INT_MAX}));
    std::unique_ptr<char[]> chunk(want > 0 ? new (std::nothrow) char[want] : nullptr);
    const long got = chunk != nullptr ? ReadFileAt(chunk.get(), want) : 0;
    if (got <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    std::uint64_t inChunk = 0;
    const int n = ReadLineFromMemory(chunk.get(), static_cast<std::uint64_t>(got), inChunk,
                                     buffer, size);
    m_nPosition += inChunk;
    return n;
}

int CUT_MapFileDataSource::Read(char* buffer, std::size_t size) {
    if (!IsOpen() || buffer == nullptr || size == 0)
        return -1;
    if (m_nOpenMode == kOpenRead)
        return ReadFromMemory(m_view.Data(), m_nLength, m_nPosition, buffer, size);
    const std::uint64_t left = m_nPosition < m_nLength ? m_nLength - m_nPosition : 0;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>({size - 1, left, INT_MAX}));
    const long got = want > 0 ? ReadFileAt(buffer, want) : 0;
    if (got < 0)
        return -1;
    buffer[got] = '\0';
    m_nPosition += static_cast<std::uint64_t>(got);
    return static_cast<int>(got);
}

int CUT_MapFileDataSource::Write(const char* data, std::size_t size) {
    // Read mode maps the file read-only and takes no writes.
    if (!IsOpen() || m_nOpenMode == kOpenRead || (data == nullptr && size > 0))
        return -1;
    const std::uint64_t n = std::min<std::uint64_t>(size, INT_MAX);
    if (n == 0)
        return 0;
    if (m_nPosition + n > kMaxFileSize)
        return -1;
    if (m_nFileOffset != static_cast<long long>(m_nPosition)) {
        if (port::FileSeek(m_hFile, static_cast<long long>(m_nPosition), 0) < 0) {
            m_nFileOffset = -1;
            return -1;
        }
        m_nFileOffset = static_cast<long long>(m_nPosition);
    }
    std::uint64_t done = 0;
    while (done < n) {
        const long w = port::FileWrite(m_hFile, data + done, static_cast<std::size_t>(n - done));
        if (w <= 0) {
            m_nFileOffset = -1;
            break;
        }
        done += static_cast<std::uint64_t>(w);
        m_nFileOffset += w;
    }
    m_nPosition += done;
    m_nLength = std::max(m_nLength, m_nPosition);
    return done == 0 ? -1 : static_cast<int>(done);
}

long long CUT_MapFileDataSource::Seek(long long offset, int origin) {
    if (!IsOpen())
        return -1;
    return SeekInMemory(m_nLength, m_nPosition, offset, origin);
}
