// CUT_MapFileDataSource: a data source in a growable memory-mapped file.
#include "net/imap/UT_DataSource.h"
#include "net/imap/UT_Text.h"
#include "platform/Files.h"
#include "platform/TempFile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace {

// Far beyond any mail literal; keeps every size computation below in range.
constexpr std::uint64_t kMaxMapSize = std::uint64_t{1} << 48;

std::uint64_t GrowthStepFor(std::uint64_t size) {
    return std::max(size / 8, CUT_MapFileDataSource::kMinGrowthStep);
}

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
    bool ok = target.Open(kOpenWrite) == 0;
    std::uint64_t done = 0;
    while (ok && done < m_nLength) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_nLength - done, INT_MAX));
        const int n = target.Write(m_view.Data() + done, chunk);
        ok = n == static_cast<int>(chunk);
        done += chunk;
    }
    if (target.Close() != 0)
        ok = false;
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
    const long long fileSize = port::FileSize(file);
    if (fileSize < 0 || static_cast<std::uint64_t>(fileSize) > kMaxMapSize) {
        port::FileClose(file);
        return -1;
    }

    // Read maps the file as it is: setting its end to the size given when
    // made would append bytes that were never written.
    const std::uint64_t size = m_nSize > 0 ? m_nSize : static_cast<std::uint64_t>(fileSize);
    std::uint64_t mapSize = static_cast<std::uint64_t>(fileSize);
    std::uint64_t length = static_cast<std::uint64_t>(fileSize);
    m_nGrowthStep = GrowthStepFor(size);
    if (mode != kOpenRead) {
        if (mode == kOpenWrite) {
            length = 0;
            mapSize = size + m_nGrowthStep;
        } else {
            mapSize = std::max<std::uint64_t>(size, length) + m_nGrowthStep;
        }
        if (mapSize > kMaxMapSize ||
            port::FileSetSize(file, static_cast<long long>(mapSize)) != 0) {
            port::FileClose(file);
            return -1;
        }
    }
    if (!m_view.Map(file, mapSize, mode != kOpenRead)) {
        port::FileClose(file);
        return -1;
    }
    m_hFile = file;
    m_nOpenMode = mode;
    m_nLength = length;
    m_nPosition = mode == kOpenAppend ? length : 0;
    return 0;
}

int CUT_MapFileDataSource::Close() {
    if (!IsOpen())
        return 0;
    bool ok = m_view.Unmap();
    if (m_nOpenMode != kOpenRead &&
        port::FileSetSize(m_hFile, static_cast<long long>(m_nLength)) != 0)
        ok = false;
    if (port::FileClose(m_hFile) != 0)
        ok = false;
    m_hFile = port::kInvalidFile;
    m_nOpenMode = -1;
    m_nPosition = 0;
    return ok ? 0 : -1;
}

bool CUT_MapFileDataSource::Remap(std::uint64_t size) {
    const std::uint64_t oldSize = m_view.Size();
    if (size > kMaxMapSize || !m_view.Unmap())
        return false;
    if (port::FileSetSize(m_hFile, static_cast<long long>(size)) == 0 &&
        m_view.Map(m_hFile, size, true))
        return true;
    // Keep the source usable at its old size.
    m_view.Map(m_hFile, oldSize, true);
    return false;
}

int CUT_MapFileDataSource::ReadLine(char* buffer, std::size_t size) {
    if (!IsOpen())
        return 0;
    return ReadLineFromMemory(m_view.Data(), m_nLength, m_nPosition, buffer, size);
}

int CUT_MapFileDataSource::Read(char* buffer, std::size_t size) {
    if (!IsOpen())
        return -1;
    return ReadFromMemory(m_view.Data(), m_nLength, m_nPosition, buffer, size);
}

int CUT_MapFileDataSource::Write(const char* data, std::size_t size) {
    // A read-mode view is read-only.
    if (!IsOpen() || m_nOpenMode == kOpenRead || !m_view.IsMapped() ||
        (data == nullptr && size > 0))
        return -1;
    const std::uint64_t n = std::min<std::uint64_t>(size, INT_MAX);
    if (n == 0)
        return 0;
    if (m_nPosition + n > m_view.Size()) {
        const std::uint64_t grow = std::max(n + 101, m_nGrowthStep);
        if (!Remap(m_view.Size() + grow) || !m_view.IsMapped())
            return -1;
    }
    std::memcpy(m_view.Data() + m_nPosition, data, static_cast<std::size_t>(n));
    m_nPosition += n;
    m_nLength = std::max(m_nLength, m_nPosition);
    return static_cast<int>(n);
}

long long CUT_MapFileDataSource::Seek(long long offset, int origin) {
    if (!IsOpen())
        return -1;
    return SeekInMemory(m_nLength, m_nPosition, offset, origin);
}
