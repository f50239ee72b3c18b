#include "net/imap/UT_DataSource.h"

#include "net/imap/UT_Text.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr std::uint64_t kMaxTransfer = INT_MAX;

// Length of the text in a buffer that may lack its NUL within capacity bytes.
std::uint64_t TextLength(const char* buffer, std::size_t capacity) {
    const void* nul = std::memchr(buffer, '\0', capacity);
    return nul != nullptr ? static_cast<std::uint64_t>(static_cast<const char*>(nul) - buffer)
                          : capacity;
}

} // namespace

// ---------------------------------------------------------------------------
// CUT_DataSource
// ---------------------------------------------------------------------------

CUT_DataSource::~CUT_DataSource() = default;

int CUT_DataSource::WriteLine(const char* text) {
    if (text == nullptr)
        return -1;
    const std::size_t length = std::strlen(text);
    const int written = Write(text, length);
    if (written < 0)
        return -1;
    if (static_cast<std::size_t>(written) < length)
        return written; // the store is full; no line end fits either
    if (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        return written;
    const int end = Write("\r\n", 2);
    if (end < 0)
        return -1;
    return written + end;
}

long long CUT_DataSource::Find(const char* text, long long start, bool caseSensitive,
                               long long maxDistance) {
    if (text == nullptr || start < 0)
        return -1;
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > kFindWindow ||
        (maxDistance > 0 && static_cast<long long>(length) > maxDistance))
        return -1;

    std::string needle(text, length);
    const auto upper = [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    };
    if (!caseSensitive)
        std::transform(needle.begin(), needle.end(), needle.begin(), upper);

    long long windowStart = start;
    if (Seek(windowStart, kSeekBegin) < 0)
        return -1;
    char window[kFindWindow + 1];
    for (;;) {
        const int n = Read(window, sizeof window);
        if (n <= 0)
            return -1;
        if (!caseSensitive)
            std::transform(window, window + n, window, upper);
        const char* hit = std::search(window, window + n, needle.begin(), needle.end());
        if (hit != window + n) {
            const long long position = windowStart + (hit - window);
            if (maxDistance > 0 && position - start > maxDistance)
                return -1;
            return position;
        }
        if (static_cast<std::size_t>(n) <= length)
            return -1;
        // Start the next window a text's length back, so a match that
        // straddles the border is seen whole.
        const long long next = windowStart + n - static_cast<long long>(length);
        if (maxDistance > 0 && next - start > maxDistance)
            return -1;
        if (Seek(next, kSeekBegin) < 0)
            return -1;
        windowStart = next;
    }
}

int CUT_DataSource::ReadLineFromMemory(const char* data, std::uint64_t length,
                                       std::uint64_t& position, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    const std::uint64_t room = std::min<std::uint64_t>(size - 1, kMaxTransfer);
    std::uint64_t n = 0;
    while (n < room && position < length) {
        const char c = data[position++];
        buffer[n++] = c;
        if (c == '\n')
            break;
        if (c == '\r') {
            // CR LF, or a lone CR, ends the line.
            if (n < room && position < length && data[position] == '\n')
                buffer[n++] = data[position++];
            break;
        }
    }
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int CUT_DataSource::ReadFromMemory(const char* data, std::uint64_t length, std::uint64_t& position,
                                   char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0)
        return -1;
    const std::uint64_t left = position < length ? length - position : 0;
    const std::uint64_t n = std::min({static_cast<std::uint64_t>(size - 1), left, kMaxTransfer});
    if (n > 0)
        std::memcpy(buffer, data + position, static_cast<std::size_t>(n));
    buffer[n] = '\0';
    position += n;
    return static_cast<int>(n);
}

long long CUT_DataSource::SeekTarget(long long current, long long length, long long offset,
                                     int origin, EndOffset fromEnd) {
    long long target;
    switch (origin) {
    case kSeekBegin:
        target = offset;
        break;
    case kSeekCurrent:
        if (__builtin_add_overflow(current, offset, &target))
            return -1;
        break;
    case kSeekEnd:
        if (fromEnd == EndOffset::CountsBack ? __builtin_sub_overflow(length, offset, &target)
                                             : __builtin_add_overflow(length, offset, &target))
            return -1;
        break;
    default:
        return -1;
    }
    if (target < 0 || target > length)
        return -1;
    return target;
}

long long CUT_DataSource::SeekInMemory(std::uint64_t length, std::uint64_t& position,
                                       long long offset, int origin) {
    const auto clamp = [](std::uint64_t n) {
        return static_cast<long long>(std::min<std::uint64_t>(n, LLONG_MAX));
    };
    const long long target =
        SeekTarget(clamp(position), clamp(length), offset, origin, EndOffset::CountsBack);
    if (target >= 0)
        position = static_cast<std::uint64_t>(target);
    return target;
}

// ---------------------------------------------------------------------------
// CUT_BufferDataSource
// ---------------------------------------------------------------------------

CUT_BufferDataSource::CUT_BufferDataSource(char* buffer, std::size_t bufferSize, const char* name)
    : m_pBuffer(bufferSize > 0 ? buffer : nullptr),
      m_nCapacity(buffer != nullptr && bufferSize > 0 ? bufferSize - 1 : 0), m_bOwnsBuffer(false) {
    UT_CopyCut(m_szName, sizeof m_szName, name);
}

CUT_BufferDataSource::CUT_BufferDataSource(std::size_t capacity, const char* name)
    : m_pBuffer(capacity < static_cast<std::size_t>(-1) ? new (std::nothrow) char[capacity + 1]()
                                                        : nullptr),
      m_nCapacity(m_pBuffer != nullptr ? capacity : 0), m_bOwnsBuffer(true) {
    UT_CopyCut(m_szName, sizeof m_szName, name);
}

CUT_BufferDataSource::~CUT_BufferDataSource() {
    if (m_bOwnsBuffer)
        delete[] m_pBuffer;
}

std::unique_ptr<CUT_DataSource> CUT_BufferDataSource::Clone() {
    if (m_pBuffer == nullptr)
        return nullptr;
    auto copy = std::make_unique<CUT_BufferDataSource>(m_nCapacity, m_szName);
    if (copy->m_pBuffer == nullptr)
        return nullptr;
    std::memcpy(copy->m_pBuffer, m_pBuffer, m_nCapacity);
    copy->m_pBuffer[m_nCapacity] = '\0';
    copy->m_nLength = m_nLength;
    return copy;
}

int CUT_BufferDataSource::Open(int mode) {
    if (m_pBuffer == nullptr)
        return -1;
    switch (mode) {
    case kOpenRead:
        m_nLength = TextLength(m_pBuffer, m_nCapacity);
        m_nPosition = 0;
        return 0;
    case kOpenWrite:
        m_nLength = 0;
        m_nPosition = 0;
        m_pBuffer[0] = '\0';
        return 0;
    case kOpenAppend:
        m_nLength = TextLength(m_pBuffer, m_nCapacity);
        m_nPosition = m_nLength;
        return 0;
    default:
        return -1;
    }
}

int CUT_BufferDataSource::Close() {
    return 0;
}

int CUT_BufferDataSource::ReadLine(char* buffer, std::size_t size) {
    if (m_pBuffer == nullptr)
        return 0;
    return ReadLineFromMemory(m_pBuffer, m_nLength, m_nPosition, buffer, size);
}

int CUT_BufferDataSource::Read(char* buffer, std::size_t size) {
    if (m_pBuffer == nullptr)
        return -1;
    return ReadFromMemory(m_pBuffer, m_nLength, m_nPosition, buffer, size);
}

int CUT_BufferDataSource::Write(const char* data, std::size_t size) {
    if (m_pBuffer == nullptr || (data == nullptr && size > 0))
        return -1;
    const std::uint64_t room = m_nPosition < m_nCapacity ? m_nCapacity - m_nPosition : 0;
    const std::uint64_t n = std::min({static_cast<std::uint64_t>(size), room, kMaxTransfer});
    if (n > 0)
        std::memcpy(m_pBuffer + m_nPosition, data, static_cast<std::size_t>(n));
    m_nPosition += n;
    m_pBuffer[m_nPosition] = '\0';
    m_nLength = m_nPosition;
    return static_cast<int>(n);
}

long long CUT_BufferDataSource::Seek(long long offset, int origin) {
    return SeekInMemory(m_nLength, m_nPosition, offset, origin);
}
