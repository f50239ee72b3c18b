// Data sources: byte stores that the IMAP client family reads message bodies
// into and sends messages from.
//
//   CUT_DataSource         the abstract store: open, read and write in blocks
//                          or lines, seek, find
//   CUT_BufferDataSource   in memory, over a caller's buffer or an own one
//   CUT_MapFileDataSource  a growable memory-mapped file, by default a
//                          temporary file ("Map...") removed with the source
//   CUT_FileDataSource     a plain file, read through a line buffer
//   CUT_File               the small file wrapper under CUT_FileDataSource
//
// Fixed-size text fields (names, paths) never overflow: a name that does not
// fit is cut; a path that does not fit makes Open fail rather than open a
// different file.
#pragma once

#include "platform/FileIO.h"
#include "platform/MappedFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CUT_DataSource {
public:
    // Open modes. Write starts with empty content; append keeps the content
    // and writes continue at its end.
    static constexpr int kOpenRead = 0;
    static constexpr int kOpenWrite = 1;
    static constexpr int kOpenAppend = 2;
    // Seek origins.
    static constexpr int kSeekBegin = 0;
    static constexpr int kSeekCurrent = 1;
    static constexpr int kSeekEnd = 2;
    // Longest text Find searches for; also the size of its search window.
    static constexpr std::size_t kFindWindow = 4095;

    CUT_DataSource() = default;
    virtual ~CUT_DataSource();

    CUT_DataSource(const CUT_DataSource&) = delete;
    CUT_DataSource& operator=(const CUT_DataSource&) = delete;

    // A new source of the same kind with the same name and content; null
    // when it cannot be made.
    virtual std::unique_ptr<CUT_DataSource> Clone() = 0;
    // 0, or -1 on failure.
    virtual int Open(int mode) = 0;
    // 0, or -1 on failure.
    virtual int Close() = 0;
    // The next line with its line end (CR LF; memory and mapped sources also
    // end a line at a lone CR), at most size - 1 bytes, NUL-terminated.
    // Returns the bytes stored; 0 at the end. A line longer than size - 1
    // bytes comes in pieces.
    virtual int ReadLine(char* buffer, std::size_t size) = 0;
    // Writes the text, then CR LF unless the text already ends with CR or LF.
    // Returns the bytes written, -1 on failure.
    virtual int WriteLine(const char* text);
    // Up to size - 1 bytes from the position, then a NUL after them. Returns
    // the bytes read, 0 at the end, -1 on failure.
    virtual int Read(char* buffer, std::size_t size) = 0;
    // Returns the bytes written (fewer when the store is full), -1 on failure.
    virtual int Write(const char* data, std::size_t size) = 0;
    // Moves the position; returns it, or -1 (position unchanged) when it
    // would leave the content.
    virtual long long Seek(long long offset, int origin) = 0;
    // Position of text at or after start, or -1. Unless caseSensitive, the
    // comparison ignores case. A positive maxDistance limits how far beyond
    // start the match may lie. Moves the position. One implementation for
    // every kind, built on Seek and Read.
    virtual long long Find(const char* text, long long start = 0, bool caseSensitive = true,
                           long long maxDistance = 0);

protected:
    // Shared by the sources whose content lies in memory: length bytes at
    // data, read from and moved at position.
    static int ReadLineFromMemory(const char* data, std::uint64_t length, std::uint64_t& position,
                                  char* buffer, std::size_t size);
    static int ReadFromMemory(const char* data, std::uint64_t length, std::uint64_t& position,
                              char* buffer, std::size_t size);
    // What an offset from the end means: the memory and mapped sources
    // count it backwards (position = length - offset), the file source adds
    // it as files do (position = length + offset).
    enum class EndOffset { CountsBack, Adds };
    // The position a Seek reaches from current within content of length
    // bytes, or -1 when it would leave the content (or overflow).
    static long long SeekTarget(long long current, long long length, long long offset, int origin,
                                EndOffset fromEnd);
    // Seek for the sources in memory: moves position when the target lies
    // within the content.
    static long long SeekInMemory(std::uint64_t length, std::uint64_t& position, long long offset,
                                  int origin);
};

// A source in memory. Over a caller's buffer of bufferSize bytes the capacity
// is bufferSize - 1 (one byte stays for the terminating NUL) and the buffer
// stays the caller's; over an own buffer the capacity is as given and the
// buffer (capacity + 1 bytes) is freed with the source.
//
// Open: read takes the content length from the buffer's text (up to its first
// NUL) and starts at 0; write starts empty; append starts at the end of the
// text. Write keeps the buffer NUL-terminated and ends the content at the
// position. Seek from the end counts backwards: position = length - offset.
class CUT_BufferDataSource : public CUT_DataSource {
public:
    static constexpr std::size_t kNameSize = 260;

    CUT_BufferDataSource(char* buffer, std::size_t bufferSize, const char* name = nullptr);
    explicit CUT_BufferDataSource(std::size_t capacity, const char* name = nullptr);
    ~CUT_BufferDataSource() override;

    std::unique_ptr<CUT_DataSource> Clone() override;
    int Open(int mode) override;
    int Close() override;
    int ReadLine(char* buffer, std::size_t size) override;
    int Read(char* buffer, std::size_t size) override;
    int Write(const char* data, std::size_t size) override;
    long long Seek(long long offset, int origin) override;

    // The content: GetLength() bytes, NUL-terminated.
    const char* GetBuffer() const { return m_pBuffer; }
    std::size_t GetCapacity() const { return m_nCapacity; }
    std::size_t GetLength() const { return static_cast<std::size_t>(m_nLength); }
    const char* GetName() const { return m_szName; }

private:
    char* m_pBuffer;
    std::size_t m_nCapacity;
    std::uint64_t m_nLength = 0;
    char m_szName[kNameSize] = {};
    std::uint64_t m_nPosition = 0;
    bool m_bOwnsBuffer;
};

// A source in a file that grows as it is written, read through a memory
// mapping. Made with an initial size (kept for clones) and a path; without a
// path it takes a new temporary file in the platform's temporary folder
// whose name starts with "Map" and deletes it when destroyed.
//
// Open: read maps the file as it is, read-only. Write (which empties the
// file) and append map nothing: bytes go to the file with plain writes, so
// a source of any size holds no more memory than the caller's block, and
// nothing forces the data to disk (a temporary file is deleted long before
// the system would write it out). Reads while writing read the file. Close
// unmaps and closes. Seek from the end counts backwards, as for the memory
// source.
class CUT_MapFileDataSource : public CUT_DataSource {
public:
    static constexpr std::size_t kPathSize = 260;

    explicit CUT_MapFileDataSource(std::uint64_t initialSize = 0, const char* path = nullptr,
                                   const char* name = nullptr);
    ~CUT_MapFileDataSource() override;

    std::unique_ptr<CUT_DataSource> Clone() override;
    int Open(int mode) override;
    int Close() override;
    int ReadLine(char* buffer, std::size_t size) override;
    int Read(char* buffer, std::size_t size) override;
    int Write(const char* data, std::size_t size) override;
    long long Seek(long long offset, int origin) override;

    // The file's path; empty when no usable file could be named.
    const char* GetPath() const { return m_szPath; }
    const char* GetName() const { return m_szName; }
    std::uint64_t GetLength() const { return m_nLength; }
    // The bytes mapped now: the file's length in read mode, 0 otherwise.
    std::uint64_t GetMappedSize() const { return m_view.Size(); }
    bool IsOpen() const { return m_hFile != port::kInvalidFile; }

private:
    // Reads up to size bytes at the position from the file (write and
    // append modes); the count, or -1.
    long ReadFileAt(char* buffer, std::size_t size);
    bool CopyContentTo(CUT_MapFileDataSource& target);

    char m_szPath[kPathSize] = {};
    char m_szName[kPathSize] = {};
    port::FileHandle m_hFile = port::kInvalidFile;
    port::MappedFile m_view; // read mode: the mapping object, the view and its size
    std::uint64_t m_nPosition = 0;
    std::uint64_t m_nLength = 0;
    // Where the file's own offset stands (write and append modes), so that
    // consecutive writes need no seek; -1 when unknown.
    long long m_nFileOffset = -1;
    int m_nOpenMode = -1; // -1 while closed
    bool m_bDeleteOnDestroy = false;
    std::uint64_t m_nSize; // the size given when made
};

// The small file wrapper: one platform file handle.
class CUT_File {
public:
    // Access bits.
    static constexpr unsigned kAccessRead = 1;
    static constexpr unsigned kAccessWrite = 2;

    CUT_File() = default;
    virtual ~CUT_File();

    CUT_File(const CUT_File&) = delete;
    CUT_File& operator=(const CUT_File&) = delete;

    // Closes a handle still open, strips spaces at both ends of the path and
    // opens it with shared reading. With append set every Write goes to the
    // end of the file. 0, or -1 on failure.
    virtual int Open(const char* path, unsigned access, port::FileCreation creation, bool append);
    // 0, or -1 when the platform refused (nothing open is not a failure).
    virtual int Close();
    // Bytes read (0 at the end), -1 on failure.
    virtual int Read(char* buffer, std::size_t size);
    // Bytes written, -1 on failure.
    virtual int Write(const char* data, std::size_t size);
    // method: 0 from the start, 1 from the current position, 2 from the end
    // (the platform's file pointer semantics). New position, or -1.
    virtual long long Seek(long long distance, int method);
    // Bytes in the file, or -1.
    virtual long long Size();

    bool IsOpen() const { return m_hFile != port::kInvalidFile; }

private:
    port::FileHandle m_hFile = port::kInvalidFile;
    bool m_bAppend = false;
};

// A source in a plain file. Read opens an existing file; write creates or
// truncates it; append opens or creates it and writes at its end. An empty
// path fails. ReadLine reads through a line buffer of the size given when
// made (4096 in the socket transfers) and ends lines at LF; Read, Write and
// Seek first give back the bytes the line buffer still holds, so no byte is
// skipped. Seek from the end uses the platform's semantics: position =
// size + offset.
class CUT_FileDataSource : public CUT_DataSource {
public:
    static constexpr std::size_t kPathSize = 260;

    explicit CUT_FileDataSource(const char* path, std::size_t lineBufferSize = 4096);
    ~CUT_FileDataSource() override;

    std::unique_ptr<CUT_DataSource> Clone() override;
    int Open(int mode) override;
    int Close() override;
    int ReadLine(char* buffer, std::size_t size) override;
    int Read(char* buffer, std::size_t size) override;
    int Write(const char* data, std::size_t size) override;
    long long Seek(long long offset, int origin) override;

    // The path; empty when the one given was missing or did not fit.
    const char* GetPath() const { return m_szPath; }

private:
    bool GiveBackLineBuffer();

    CUT_File m_file;
    std::unique_ptr<char[]> m_pLineBuffer;
    std::size_t m_nLineBufferSize;
    std::size_t m_nLineBufferBytes = 0;
    char m_szPath[kPathSize] = {};
};
