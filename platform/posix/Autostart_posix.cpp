// POSIX half of the autostart port: a .desktop entry (format version 1.5)
// in the XDG autostart folder, which desktop sessions start at log-on.
#include "platform/Autostart.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/posix/ConfigHome.h"

#include <sstream>

namespace port {
namespace {

// "" when appName cannot be a file name.
std::string EntryPath(const std::string& appName) {
    if (appName.empty() || appName == "." || appName == ".." ||
        appName.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return std::string();
    const std::string config = posix::ConfigHomeFolder();
    if (config.empty())
        return std::string();
    return config + "autostart/" + appName + ".desktop";
}

// One argument of an Exec key: quoted, with the characters that are special
// inside quotes escaped by a backslash, and '%' doubled (field codes).
std::string QuoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

// The escapes of a string value, applied after the quoting rule. False when
// the text holds a control character no escape can carry.
bool EscapeValue(const std::string& text, std::string& escaped) {
    escaped.clear();
    for (const char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                return false;
            escaped += c;
        }
    }
    return true;
}

std::string UnescapeValue(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            text += ' ';
            break;
        case 'n':
            text += '\n';
            break;
        case 't':
            text += '\t';
            break;
        case 'r':
            text += '\r';
            break;
        case '\\':
            text += '\\';
            break;
        default: // not a value escape: the quoting rule's, kept for it
            text += '\\';
            text += value[i];
        }
    }
    return text;
}

} // namespace

void SetAutostartEntry(const std::string& appName, const std::string& programFile, bool enable) {
    const std::string path = EntryPath(appName);
    if (path.empty())
        return;
    if (!enable) {
        RemoveFile(path);
        return;
    }
    std::string exec;
    if (programFile.empty() || !EscapeValue(QuoteExecArgument(programFile) + " run", exec))
        return;
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Tavlo\n"
                              "Comment=New-mail notifier\n"
                              "Exec=" +
                              exec +
                              "\n"
                              "X-GNOME-Autostart-enabled=true\n";
    if (CreateFolders(ParentFolder(path)))
        WriteFileAtomically(path, entry);
}

bool GetAutostartEntry(const std::string& appName, std::string& command) {
    const std::string path = EntryPath(appName);
    std::string content;
    if (path.empty() || ReadWholeFile(path, content) != FileReadResult::Ok)
        return false;
    std::istringstream lines(content);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[')
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.compare(0, 5, "Exec=") == 0) {
            command = UnescapeValue(line.substr(5));
            return true;
        }
    }
    return false;
}

std::string AutostartLocation(const std::string& appName) {
    return EntryPath(appName);
}

} // namespace port
