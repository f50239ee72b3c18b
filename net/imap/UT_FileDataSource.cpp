// CUT_File and CUT_FileDataSource: a data source in a plain file.
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_Text.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>

// ---------------------------------------------------------------------------
// CUT_File
// ---------------------------------------------------------------------------

CUT_File::~CUT_File() {
    Close();
}

int CUT_File::Open(const char* path, unsigned access, port::FileCreation creation, bool append) {
    Close();
    if (path == nullptr)
        return -1;
    std::string trimmed(path);
    const std::size_t first = trimmed.find_first_not_of(' ');
    if (first == std::string::npos)
        return -1;
    trimmed = trimmed.substr(first, trimmed.find_last_not_of(' ') - first + 1);
    unsigned portAccess = 0;
    if (access & kAccessRead)
        portAccess |= port::kFileRead;
    if (access & kAccessWrite)
        portAccess |= port::kFileWrite;
    m_hFile = port::FileOpen(trimmed.c_str(), portAccess, creation);
    if (m_hFile == port::kInvalidFile)
        return -1;
    m_bAppend = append;
    return 0;
}

int CUT_File::Close() {
    if (m_hFile == port::kInvalidFile)
        return 0;
    const int r = port::FileClose(m_hFile);
    m_hFile = port::kInvalidFile;
    m_bAppend = false;
    return r == 0 ? 0 : -1;
}

int CUT_File::Read(char* buffer, std::size_t size) {
    if (m_hFile == port::kInvalidFile || buffer == nullptr)
        return -1;
    return static_cast<int>(port::FileRead(m_hFile, buffer, std::min<std::size_t>(size, INT_MAX)));
}

int CUT_File::Write(const char* data, std::size_t size) {
    if (m_hFile == port::kInvalidFile || (data == nullptr && size > 0))
        return -1;
    if (m_bAppend && port::FileSeek(m_hFile, 0, 2) < 0)
        return -1;
    return static_cast<int>(port::FileWrite(m_hFile, data, std::min<std::size_t>(size, INT_MAX)));
}

long long CUT_File::Seek(long long distance, int method) {
    if (m_hFile == port::kInvalidFile)
        return -1;
    return port::FileSeek(m_hFile, distance, method);
}

long long CUT_File::Size() {
    if (m_hFile == port::kInvalidFile)
        return -1;
    return port::FileSize(m_hFile);
}

// ---------------------------------------------------------------------------
// CUT_FileDataSource
// ---------------------------------------------------------------------------

CUT_FileDataSource::CUT_FileDataSource(const char* path, std::size_t lineBufferSize)
    : m_nLineBufferSize(std::max<std::size_t>(lineBufferSize, 2)) {
    m_pLineBuffer.reset(new (std::nothrow) char[m_nLineBufferSize]);
    // A path that does not fit stays empty, so Open fails rather than open
    // another file.
    if (path != nullptr && std::strlen(path) < sizeof m_szPath)
        UT_CopyCut(m_szPath, sizeof m_szPath, path);
}

CUT_FileDataSource::~CUT_FileDataSource() {
    Close();
}

std::unique_ptr<CUT_DataSource> CUT_FileDataSource::Clone() {
    return std::make_unique<CUT_FileDataSource>(m_szPath, m_nLineBufferSize);
}

int CUT_FileDataSource::Open(int mode) {
    m_nLineBufferBytes = 0;
    if (m_szPath[0] == '\0' || m_pLineBuffer == nullptr)
        return -1;
    const unsigned readWrite = CUT_File::kAccessRead | CUT_File::kAccessWrite;
    switch (mode) {
    case kOpenRead:
        return m_file.Open(m_szPath, CUT_File::kAccessRead, port::FileCreation::OpenExisting,
                           false);
    case kOpenWrite:
        return m_file.Open(m_szPath, readWrite, port::FileCreation::CreateAlways, false);
    case kOpenAppend:
        return m_file.Open(m_szPath, readWrite, port::FileCreation::OpenAlways, true);
    default:
        return -1;
    }
}

int CUT_FileDataSource::Close() {
    m_nLineBufferBytes = 0;
    return m_file.Close();
}

bool CUT_FileDataSource::GiveBackLineBuffer() {
    if (m_nLineBufferBytes == 0)
        return true;
    if (m_file.Seek(-static_cast<long long>(m_nLineBufferBytes), 1) < 0)
        return false;
    m_nLineBufferBytes = 0;
    return true;
}

int CUT_FileDataSource::ReadLine(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    const std::size_t room = std::min<std::size_t>(size - 1, INT_MAX);
    std::size_t n = 0;
    bool lineEnded = false;
    while (n < room && !lineEnded && m_file.IsOpen()) {
        if (m_nLineBufferBytes == 0) {
            const int got = m_file.Read(m_pLineBuffer.get(), m_nLineBufferSize);
            if (got <= 0)
                break;
            m_nLineBufferBytes = static_cast<std::size_t>(got);
        }
        const std::size_t span = std::min(m_nLineBufferBytes, room - n);
        const void* lf = std::memchr(m_pLineBuffer.get(), '\n', span);
        const std::size_t take =
            lf != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(lf) - m_pLineBuffer.get()) + 1
                : span;
        std::memcpy(buffer + n, m_pLineBuffer.get(), take);
        std::memmove(m_pLineBuffer.get(), m_pLineBuffer.get() + take, m_nLineBufferBytes - take);
        m_nLineBufferBytes -= take;
        n += take;
        lineEnded = lf != nullptr;
    }
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int CUT_FileDataSource::Read(char* buffer, std::size_t size) {
    if (!m_file.IsOpen() || buffer == nullptr || size == 0 || !GiveBackLineBuffer())
        return -1;
    const int n = m_file.Read(buffer, size - 1);
    buffer[n > 0 ? n : 0] = '\0';
    return n;
}

int CUT_FileDataSource::Write(const char* data, std::size_t size) {
    if (!m_file.IsOpen() || !GiveBackLineBuffer())
        return -1;
    return m_file.Write(data, size);
}

long long CUT_FileDataSource::Seek(long long offset, int origin) {
    if (!m_file.IsOpen() || !GiveBackLineBuffer())
        return -1;
    const long long current = m_file.Seek(0, kSeekCurrent);
    const long long size = m_file.Size();
    if (current < 0 || size < 0)
        return -1;
    const long long target = SeekTarget(current, size, offset, origin, EndOffset::Adds);
    return target < 0 ? -1 : m_file.Seek(target, kSeekBegin);
}
