// Port: the file operations that need the platform's own calls: atomic
// replacement, moves that never overwrite, advisory locks.
//
// Paths are 8-bit texts in the system code page, as everywhere else. On
// failure the functions leave the reason in GetLastErrorValue().
#pragma once

#include <cstdint>
#include <string>

namespace port {

enum class FileReadResult { Ok, Missing, Failed };

// Reads a whole file. Missing when there is no such file. Readers do not
// block a concurrent WriteFileAtomically.
FileReadResult ReadWholeFile(const std::string& path, std::string& content);

// Replaces the file's content atomically: writes a temporary file in the same
// folder, flushes it to disk and renames it over the old file. A reader, or a
// crash at any moment, sees the old or the new content, never a mix. On
// failure the old file is untouched and the temporary file is removed. The
// folder must exist. A symbolic link is followed: its target is replaced.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// Renames from to to, only when nothing named to exists (never overwrites).
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Removes a file; true when it is gone afterwards (also when it never was).
bool RemoveFile(const std::string& path);

bool FileExists(const std::string& path); // any kind of entry
bool IsFolder(const std::string& path);

// Creates one folder; true when the folder exists afterwards.
bool MakeFolder(const std::string& path);

// An exclusive advisory lock on a lock file, held while the object lives.
// Blocks until the lock is free. Other processes (and other FileLock objects
// of this process) taking the same lock wait for it; plain readers do not.
class FileLock {
public:
    explicit FileLock(const std::string& lockFilePath);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the lock file could not be opened or locked.
    bool Held() const { return m_held; }

private:
    std::intptr_t m_handle; // a file descriptor or a HANDLE
    bool m_held = false;
};

} // namespace port
