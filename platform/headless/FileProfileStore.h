// The profile operations on a settings file, for platforms without a
// registry. The file keeps the registry's sections, value names and types.
//
// File format, one entry per line, lines ended by LF (a CR before the LF is
// ignored):
//
//   Tavlo Settings Version 1
//
//   [HKEY_CURRENT_USER\Software\Tavlo\tavlo\App]
//   "SearchForMail"=dword:00000009
//   "MySound"="/usr/share/tavlo/Sound/Pling.wav"
//
// - The first line is the header above, exactly.
// - "[<key prefix>\<section>]" starts a section of this store. Sections under
//   another key prefix (another application name) are kept as they are.
// - "Name"=dword:XXXXXXXX is a 32-bit integer as eight hex digits;
//   "Name"="text" is a text.
// - Empty lines and lines starting with ';' are ignored; a rewrite drops the
//   comments. A file of zero bytes is an empty store.
// - Section names, value names and texts are escaped so that each entry stays
//   on one line and every byte 1..255 comes back unchanged: \\ \" \n \r \t,
//   and \xHH (two hex digits) for the other control bytes, DEL and every byte
//   from 0x80 on. The other bytes stand for themselves; a reader also takes
//   raw tabs and raw bytes from 0x80 on. No escape gives a zero byte.
// - Names compare ASCII case-insensitively, as registry names do; sections
//   and values keep their order on rewrite, new ones are added at the end.
//
// Every operation reads the file again, so a store sees what other stores and
// processes wrote. A write reads, changes and atomically replaces the file
// while it holds an advisory lock on "<file>.lock", so concurrent writers do
// not lose each other's values. A file that cannot be parsed is reported once
// through reportProblem, renamed to "<file>.bad" (or "<file>.bad-N"), never
// overwritten, and the store runs on defaults.
#pragma once

#include "platform/Files.h"
#include "platform/ProfileStore.h"

#include <functional>
#include <mutex>
#include <string>

namespace port {

struct FileProfileDocument; // the parsed file, private to the implementation
struct FileProfileValue;

class FileProfileStore : public ProfileStore {
public:
    using ProblemReporter = std::function<void(const std::string& message)>;
    // Replaces the whole file; WriteFileAtomically unless a test injects a
    // failure.
    using FileWriter = std::function<bool(const std::string& path, const std::string& content)>;

    static const char* const kHeader; // "Tavlo Settings Version 1"

    // Writes the message and a line feed to standard error.
    static void ReportToStandardError(const std::string& message);

    // keyPrefix: the registry-style key of the application, e.g.
    // "HKEY_CURRENT_USER\Software\Tavlo\tavlo".
    FileProfileStore(std::string filePath, std::string keyPrefix,
                     ProblemReporter reportProblem = ReportToStandardError,
                     FileWriter writeFile = WriteFileAtomically);

    // GetInt answers def unless the value is an integer. GetString answers
    // def when the value is missing; an integer reads as its four bytes
    // (least significant first) up to the first zero byte, as the registry
    // gives a REG_DWORD to a string read. Texts and names are cut at their
    // first zero byte.
    std::uint32_t GetInt(const std::string& section, const std::string& name,
                         std::uint32_t def) override;
    std::string GetString(const std::string& section, const std::string& name,
                          const std::string& def = std::string()) override;
    // Creates the file's folder when missing. False when the file could not
    // be written, or when it holds something this store cannot read and could
    // not set aside.
    bool WriteInt(const std::string& section, const std::string& name,
                  std::uint32_t value) override;
    bool WriteString(const std::string& section, const std::string& name,
                     const std::string& text) override;

    const std::string& FilePath() const { return m_filePath; }

private:
    // False when the file exists but cannot be used (unreadable, or
    // unparseable and not set aside); the document is then empty.
    bool Load(FileProfileDocument& document, bool lockHeld);
    bool SetAside(std::size_t line, const std::string& what);
    void ReportOnce(const std::string& message);
    bool Write(const std::string& section, const FileProfileValue& value);

    const std::string m_filePath;
    const std::string m_keyPrefix;
    const ProblemReporter m_reportProblem;
    const FileWriter m_writeFile;

    std::mutex m_mutex;
    // The last problem reported: a file that stays unreadable, or that cannot
    // be set aside, is reported once and not again on every read.
    std::string m_lastProblem;
};

} // namespace port
