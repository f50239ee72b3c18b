#include "platform/headless/FileProfileStore.h"

#include "platform/Errors.h"
#include "platform/Paths.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace port {

struct FileProfileValue {
    std::string name;
    bool isInt = false;
    std::uint32_t number = 0;
    std::string text;
};

struct FileProfileSection {
    bool ours = false;
    // Ours: the section name. Another application's: the key exactly as
    // written between the brackets.
    std::string name;
    std::vector<FileProfileValue> values;
    // Where each value is, by its name in ASCII lower case: a file of many
    // values is read in time linear in its size, not quadratic.
    std::unordered_map<std::string, std::size_t> valueIndex;
};

struct FileProfileDocument {
    std::vector<FileProfileSection> sections;
    // Where each section is, by "1" (ours) or "0" and its name in ASCII
    // lower case.
    std::unordered_map<std::string, std::size_t> sectionIndex;
};

const char* const FileProfileStore::kHeader = "Tavlo Settings Version 1";

namespace {

constexpr std::size_t kMaxBadFileNumber = 1000;

// Stored texts end at their first zero byte, as registry strings do.
std::string UpToZero(const std::string& text) {
    return std::string(text.c_str());
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

const char kHexDigits[] = "0123456789abcdef";

std::string HexByte(unsigned char byte) {
    return std::string{kHexDigits[byte >> 4], kHexDigits[byte & 0x0f]};
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A byte as a message may show it: file content is untrusted and must not
// put control bytes on the user's terminal.
std::string Describe(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f)
        return std::string(1, c);
    return "0x" + HexByte(byte);
}

std::string Escape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '"':
            escaped += "\\\"";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default:
            if (byte < 0x20 || byte >= 0x7f)
                escaped += "\\x" + HexByte(byte);
            else
                escaped += c;
        }
    }
    return escaped;
}

struct ParseError {
    std::size_t line = 0;
    std::string what;
};

// Reads escaped text from line at pos up to an unescaped terminator (or to
// the end of the line when terminator is 0) and leaves pos behind it.
bool ReadEscaped(std::string_view line, std::size_t& pos, char terminator, std::string& out,
                 std::string& what) {
    out.clear();
    for (;;) {
        if (pos >= line.size()) {
            if (terminator == '\0')
                return true;
            what = "the closing quote is missing";
            return false;
        }
        const char c = line[pos++];
        const auto byte = static_cast<unsigned char>(c);
        if (terminator != '\0' && c == terminator)
            return true;
        if (c != '\\') {
            if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
                what = "a raw control byte " + Describe(c);
                return false;
            }
            out += c;
            continue;
        }
        if (pos >= line.size()) {
            what = "a backslash at the end of the line";
            return false;
        }
        const char e = line[pos++];
        switch (e) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            const int high = pos < line.size() ? HexValue(line[pos]) : -1;
            const int low = pos + 1 < line.size() ? HexValue(line[pos + 1]) : -1;
            if (high < 0 || low < 0) {
                what = "\\x without two hex digits";
                return false;
            }
            if (high == 0 && low == 0) {
                what = "\\x00 (a zero byte)";
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            pos += 2;
            break;
        }
        default:
            what = "the unknown escape \\" + Describe(e);
            return false;
        }
    }
}

bool ParseDword(std::string_view digits, std::uint32_t& number) {
    if (digits.size() != 8)
        return false;
    number = 0;
    for (const char c : digits) {
        const int v = HexValue(c);
        if (v < 0)
            return false;
        number = number << 4 | static_cast<std::uint32_t>(v);
    }
    return true;
}

// Names compare ASCII case-insensitively: equal names have equal keys.
std::string NameKey(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        c = AsciiLower(c);
    return key;
}

std::string SectionKey(bool ours, std::string_view name) {
    // Appended, not a literal before a std::string: GCC 12 at -O3 warns
    // falsely (-Wrestrict) about that.
    std::string key(1, ours ? '1' : '0');
    key += NameKey(name);
    return key;
}

FileProfileSection* FindSection(FileProfileDocument& document, bool ours, std::string_view name) {
    const auto found = document.sectionIndex.find(SectionKey(ours, name));
    return found == document.sectionIndex.end() ? nullptr : &document.sections[found->second];
}

FileProfileSection& SectionFor(FileProfileDocument& document, bool ours, std::string name) {
    if (FileProfileSection* found = FindSection(document, ours, name))
        return *found;
    document.sectionIndex.emplace(SectionKey(ours, name), document.sections.size());
    document.sections.push_back(FileProfileSection{ours, std::move(name), {}, {}});
    return document.sections.back();
}

// A later value of the same name replaces the data and keeps the place (and
// the spelling) of the first.
void SetValue(FileProfileSection& section, FileProfileValue value) {
    const auto [place, added] =
        section.valueIndex.emplace(NameKey(value.name), section.values.size());
    if (added) {
        section.values.push_back(std::move(value));
        return;
    }
    FileProfileValue& existing = section.values[place->second];
    existing.isInt = value.isInt;
    existing.number = value.number;
    existing.text = std::move(value.text);
}

bool ParseValue(std::string_view line, FileProfileValue& value, std::string& what) {
    std::size_t pos = 1; // behind the opening quote
    if (!ReadEscaped(line, pos, '"', value.name, what))
        return false;
    if (pos >= line.size() || line[pos] != '=') {
        what = "the value name is not followed by =";
        return false;
    }
    const std::string_view data = line.substr(pos + 1);
    if (data.substr(0, 6) == "dword:") {
        value.isInt = true;
        if (!ParseDword(data.substr(6), value.number)) {
            what = "a dword that is not eight hex digits";
            return false;
        }
        return true;
    }
    if (data.empty() || data[0] != '"') {
        what = "a value that is neither dword:XXXXXXXX nor a quoted text";
        return false;
    }
    pos += 2; // behind '=' and the opening quote
    if (!ReadEscaped(line, pos, '"', value.text, what))
        return false;
    if (pos != line.size()) {
        what = "text after the closing quote";
        return false;
    }
    return true;
}

bool Parse(const std::string& content, const std::string& keyPrefix, FileProfileDocument& document,
           ParseError& error) {
    document = FileProfileDocument{};
    const std::string ourKeyStart = keyPrefix + "\\";
    FileProfileSection* current = nullptr;
    std::size_t start = 0;
    for (std::size_t lineNumber = 1; start < content.size(); ++lineNumber) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string_view line(content.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        error.line = lineNumber;
        if (lineNumber == 1) {
            if (line != FileProfileStore::kHeader) {
                error.what =
                    std::string("the first line is not \"") + FileProfileStore::kHeader + "\"";
                return false;
            }
            continue;
        }
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.size() < 2 || line.back() != ']') {
                error.what = "a section line without its closing ]";
                return false;
            }
            const std::string_view key = line.substr(1, line.size() - 2);
            if (key.size() >= ourKeyStart.size() &&
                SameName(key.substr(0, ourKeyStart.size()), ourKeyStart)) {
                std::size_t pos = ourKeyStart.size();
                std::string name;
                if (!ReadEscaped(key, pos, '\0', name, error.what))
                    return false;
                current = &SectionFor(document, true, std::move(name));
            } else {
                current = &SectionFor(document, false, std::string(key));
            }
            continue;
        }
        if (line[0] == '"') {
            if (current == nullptr) {
                error.what = "a value before the first section";
                return false;
            }
            FileProfileValue value;
            if (!ParseValue(line, value, error.what))
                return false;
            SetValue(*current, std::move(value));
            continue;
        }
        error.what = "a line that is neither a section, a value nor a comment";
        return false;
    }
    return true;
}

std::string Serialize(const FileProfileDocument& document, const std::string& keyPrefix) {
    std::string out = FileProfileStore::kHeader;
    out += '\n';
    for (const auto& section : document.sections) {
        out += '\n';
        out += '[';
        out += section.ours ? keyPrefix + "\\" + Escape(section.name) : section.name;
        out += "]\n";
        for (const auto& value : section.values) {
            out += '"' + Escape(value.name) + "\"=";
            if (value.isInt) {
                char digits[9];
                std::snprintf(digits, sizeof digits, "%08lx",
                              static_cast<unsigned long>(value.number));
                out += "dword:";
                out += digits;
            } else {
                out += '"' + Escape(value.text) + '"';
            }
            out += '\n';
        }
    }
    return out;
}

const FileProfileValue* FindValue(FileProfileDocument& document, const std::string& section,
                                  const std::string& name) {
    const FileProfileSection* found = FindSection(document, true, UpToZero(section));
    if (found == nullptr)
        return nullptr;
    const auto value = found->valueIndex.find(NameKey(UpToZero(name)));
    return value == found->valueIndex.end() ? nullptr : &found->values[value->second];
}

std::string ErrorText() {
    std::string text;
    if (!SystemErrorText(GetLastErrorValue(), text))
        text = "error " + std::to_string(GetLastErrorValue());
    return text;
}

} // namespace

void FileProfileStore::ReportToStandardError(const std::string& message) {
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

FileProfileStore::FileProfileStore(std::string filePath, std::string keyPrefix,
                                   ProblemReporter reportProblem, FileWriter writeFile)
    : m_filePath(std::move(filePath)), m_keyPrefix(UpToZero(keyPrefix)),
      m_reportProblem(reportProblem ? std::move(reportProblem)
                                    : ProblemReporter(ReportToStandardError)),
      m_writeFile(writeFile ? std::move(writeFile) : FileWriter(WriteFileAtomically)) {}

void FileProfileStore::ReportOnce(const std::string& message) {
    if (message == m_lastProblem)
        return;
    m_lastProblem = message;
    m_reportProblem(message);
}

bool FileProfileStore::SetAside(std::size_t line, const std::string& what) {
    const std::string problem = "The settings file \"" + m_filePath + "\" cannot be read: line " +
                                std::to_string(line) + ": " + what + ".";
    for (std::size_t n = 0; n < kMaxBadFileNumber; ++n) {
        std::string keep = m_filePath + ".bad";
        if (n > 0)
            keep.append("-").append(std::to_string(n));
        if (MoveFileNoReplace(m_filePath, keep)) {
            ReportOnce(problem + " It was kept as \"" + keep +
                       "\"; the program runs on default settings.");
            return true;
        }
        if (!FileExists(keep))
            break; // the move failed for another reason than a taken name
    }
    ReportOnce(problem + " It could not be set aside (" + ErrorText() +
               ") and is left as it is; the program runs on default settings and does not "
               "save them.");
    return false;
}

bool FileProfileStore::Load(FileProfileDocument& document, bool lockHeld) {
    document = FileProfileDocument{};
    std::string content;
    switch (ReadWholeFile(m_filePath, content)) {
    case FileReadResult::Missing:
        return true;
    case FileReadResult::Failed:
        ReportOnce("The settings file \"" + m_filePath + "\" cannot be read (" + ErrorText() +
                   "); the program runs on default settings.");
        return false;
    case FileReadResult::Ok:
        break;
    }
    ParseError error;
    if (Parse(content, m_keyPrefix, document, error)) {
        m_lastProblem.clear();
        return true;
    }
    document = FileProfileDocument{};
    if (!lockHeld) {
        // A writer may be replacing the file this moment: look again while
        // holding the writers' lock before anything is set aside.
        const FileLock lock(m_filePath + ".lock");
        return Load(document, true);
    }
    return SetAside(error.line, error.what);
}

bool FileProfileStore::Write(const std::string& section, const FileProfileValue& value) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const std::string folder = ParentFolder(m_filePath);
    if (!folder.empty() && !CreateFolders(folder))
        return false;
    // Without a lock file (a read-only folder) the write goes on unguarded;
    // it is bound to fail there anyway.
    const FileLock lock(m_filePath + ".lock");
    FileProfileDocument document;
    if (!Load(document, true))
        return false;
    SetValue(SectionFor(document, true, UpToZero(section)), value);
    return m_writeFile(m_filePath, Serialize(document, m_keyPrefix));
}

std::uint32_t FileProfileStore::GetInt(const std::string& section, const std::string& name,
                                       std::uint32_t def) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    FileProfileDocument document;
    Load(document, false);
    const FileProfileValue* value = FindValue(document, section, name);
    return value != nullptr && value->isInt ? value->number : def;
}

std::string FileProfileStore::GetString(const std::string& section, const std::string& name,
                                        const std::string& def) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    FileProfileDocument document;
    Load(document, false);
    const FileProfileValue* value = FindValue(document, section, name);
    if (value == nullptr)
        return def;
    if (!value->isInt)
        return value->text;
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        const char byte = static_cast<char>((value->number >> shift) & 0xff);
        if (byte == '\0')
            break;
        bytes += byte;
    }
    return bytes;
}

bool FileProfileStore::WriteInt(const std::string& section, const std::string& name,
                                std::uint32_t value) {
    return Write(section, FileProfileValue{UpToZero(name), true, value, std::string()});
}

bool FileProfileStore::WriteString(const std::string& section, const std::string& name,
                                   const std::string& text) {
    return Write(section, FileProfileValue{UpToZero(name), false, 0, UpToZero(text)});
}

} // namespace port
