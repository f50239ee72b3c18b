#include "config/Settings.h"

#include "core/WebSite.h"
#include "platform/Autostart.h"

namespace {

bool ReadFlag(port::ProfileStore& store, const char* name, std::uint32_t def) {
    return store.GetInt(kSectionApp, name, def) != 0;
}

// "Sound" and "Animate" are on only when they hold exactly 1: the options
// dialog stores 0 or 1, and another number does not turn them on.
bool ReadStrictFlag(port::ProfileStore& store, const char* name, std::uint32_t def) {
    return store.GetInt(kSectionApp, name, def) == 1;
}

} // namespace

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool ParseHostAndPort(const std::string& text, int defaultPort, std::string& host, int& port) {
    const std::string::size_type colon = text.find(':');
    const std::string name = text.substr(0, colon);
    if (name.empty() || name.size() > 253)
        return false;
    for (const char c : name) {
        if (!IsHostCharacter(c))
            return false;
    }
    int number = defaultPort;
    if (colon != std::string::npos) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5)
            return false;
        number = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return false;
            number = number * 10 + (c - '0');
        }
    }
    if (number < 1 || number > 65535)
        return false;
    host = name;
    port = number;
    return true;
}

bool ParseUpdateHost(const std::string& text, std::string& host, int& port) {
    return ParseHostAndPort(text.empty() ? std::string(kWebSiteHost) : text, 80, host, port);
}

std::string ReadUpdateHost(port::ProfileStore& store) {
    const std::string stored = store.GetString(kSectionApp, kValueUpdateHost, std::string());
    return stored.empty() ? std::string(kWebSiteHost) : stored;
}

StartupSettings ReadStartupSettings(port::ProfileStore& store) {
    StartupSettings s;
    s.m_nCheckInterval =
        static_cast<int>(store.GetInt(kSectionApp, kValueSearchForMail, kDefaultSearchForMail));
    s.m_bSound = ReadStrictFlag(store, kValueSound, kDefaultSound);
    s.m_bAnimate = ReadStrictFlag(store, kValueAnimate, kDefaultAnimate);
    s.m_bAutostart = ReadFlag(store, kValueAutostart, kDefaultAutostart);
    s.m_bCheckForUpdates = ReadFlag(store, kValueCheckForUpdates, kDefaultCheckForUpdates);
    s.m_bAutostartEmailProgram =
        ReadFlag(store, kValueAutostartEmailProgram, kDefaultAutostartEmailProgram);
    return s;
}

std::string ReadMySound(port::ProfileStore& store, const std::string& exePath, char sep) {
    return store.GetString(kSectionApp, kValueMySound,
                           GetSoundFolder(exePath, sep) + kDefaultSoundFile);
}

std::string ReadMyAnimation(port::ProfileStore& store, const std::string& exePath, char sep) {
    return store.GetString(kSectionApp, kValueMyAnimation,
                           GetAnimationFolder(exePath, sep) + kDefaultAnimationFile);
}

std::string ReadMyMailClient(port::ProfileStore& store) {
    return store.GetString(kSectionApp, kValueMyMailClient, std::string());
}

std::string GetProgramFolder(const std::string& exePath) {
    const std::string::size_type slash = exePath.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : exePath.substr(0, slash + 1);
}

std::string GetSoundFolder(const std::string& exePath, char sep) {
    return GetProgramFolder(exePath) + kSoundFolderName + sep;
}

std::string GetAnimationFolder(const std::string& exePath, char sep) {
    return GetProgramFolder(exePath) + kAnimationFolderName + sep;
}

std::string GetProgramFileName(const std::string& exePath) {
    const std::string::size_type nameStart = GetProgramFolder(exePath).size();
    const std::string::size_type dot = exePath.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return exePath;
    return exePath.substr(0, dot + 1) + "EXE";
}

void WriteAutostart(bool enable) {
    port::SetAutostartEntry(port::ApplicationName(), GetProgramFileName(port::ExecutablePath()),
                            enable);
}
