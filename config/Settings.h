// The program's settings: section and value names with their defaults, the
// start-up reading of the integer settings, the paths that are read when
// used, the program folder and its media sub-folders, and the autostart
// entry.
//
// Values are kept by a port::ProfileStore (the per-user registry on Windows,
// a settings file elsewhere) under section "App"; the account list is the
// value "Accounts" of section "User".
#pragma once

#include "platform/Paths.h"
#include "platform/ProfileStore.h"

#include <cstdint>
#include <string>

// Sections.
inline constexpr char kSectionApp[] = "App";
inline constexpr char kSectionUser[] = "User";

// Values of section "App".
inline constexpr char kValueSearchForMail[] = "SearchForMail";
inline constexpr char kValueSound[] = "Sound";
inline constexpr char kValueAnimate[] = "Animate";
inline constexpr char kValueAutostart[] = "Autostart";
inline constexpr char kValueCheckForUpdates[] = "CheckForUpdates";
inline constexpr char kValueAutostartEmailProgram[] = "AutostartEmailProgram";
inline constexpr char kValueMailClient[] = "MailClient";
inline constexpr char kValueMyMailClient[] = "MyMailClient";
inline constexpr char kValueMySound[] = "MySound";
inline constexpr char kValueMyAnimation[] = "MyAnimation";
inline constexpr char kValueMinimized[] = "Minimized";
// Where the update check asks for the version documents: "HOST" or
// "HOST:PORT"; empty or absent means the maker's host (core/WebSite.h).
inline constexpr char kValueUpdateHost[] = "UpdateHost";

// Value of section "User": the account list (config/AccountStore.h).
inline constexpr char kValueAccounts[] = "Accounts";

// Defaults. The check interval is an index 0 ... 29 meaning index + 1
// minutes, so 9 is ten minutes.
inline constexpr std::uint32_t kDefaultSearchForMail = 9;
inline constexpr std::uint32_t kDefaultSound = 1;
inline constexpr std::uint32_t kDefaultAnimate = 1;
inline constexpr std::uint32_t kDefaultAutostart = 1;
inline constexpr std::uint32_t kDefaultCheckForUpdates = 1;
inline constexpr std::uint32_t kDefaultAutostartEmailProgram = 0;
inline constexpr std::uint32_t kDefaultMinimized = 0;
inline constexpr char kDefaultMailClient[] = "Outlook";
// "MyMailClient" defaults to the empty text; "MySound" and "MyAnimation"
// default to these files in the program's media sub-folders.
inline constexpr char kSoundFolderName[] = "Sound";
inline constexpr char kAnimationFolderName[] = "Animation";
inline constexpr char kDefaultSoundFile[] = "Pling.wav";
inline constexpr char kDefaultAnimationFile[] = "Tavlo.scr";

// The six integer settings read once at start-up.
struct StartupSettings {
    int m_nCheckInterval = static_cast<int>(kDefaultSearchForMail);
    bool m_bSound = true;
    bool m_bAnimate = true;
    bool m_bAutostart = true;
    bool m_bCheckForUpdates = true;
    bool m_bAutostartEmailProgram = false;
};

// Reads "SearchForMail", "Sound", "Animate", "Autostart", "CheckForUpdates"
// and "AutostartEmailProgram", in this order. The interval index is taken
// unchanged, even outside 0 ... 29 (only the options dialog corrects it);
// it is the stored 32-bit value reinterpreted as int. "Sound" and "Animate"
// are on only when they hold 1; the other flags whenever they are not 0, so
// a stored 2 turns "Autostart" on but not "Sound".
StartupSettings ReadStartupSettings(port::ProfileStore& store);

// A letter, digit, '-', '.' or '_': what a host name or IPv4 address in a
// setting may hold, so that it cannot carry anything else into a URL.
bool IsHostCharacter(char c);
// "HOST:PORT", or "HOST" alone when defaultPort is a port (not 0), split
// into host and port. False unless the host is 1 ... 253 host characters and
// the port decimal 1 ... 65535.
bool ParseHostAndPort(const std::string& text, int defaultPort, std::string& host, int& port);

// An "UpdateHost" text split into host and port (80 without a port).
// False unless the host is a name or address of letters, digits, '-', '.'
// and '_' and the port, when given, is decimal 1 ... 65535: the text
// becomes part of a URL, which nothing else may sneak into. The empty text
// is the maker's host.
bool ParseUpdateHost(const std::string& text, std::string& host, int& port);
// The "UpdateHost" in effect, read when used: the stored text, or the
// maker's host when none (or the empty text) is stored.
std::string ReadUpdateHost(port::ProfileStore& store);

// Paths that are read whenever they are used, never cached. exePath is the
// executable's full path, from which the defaults are derived.
std::string ReadMySound(port::ProfileStore& store, const std::string& exePath,
                        char sep = port::PathSeparator());
std::string ReadMyAnimation(port::ProfileStore& store, const std::string& exePath,
                            char sep = port::PathSeparator());
std::string ReadMyMailClient(port::ProfileStore& store);

// Program folder: exePath up to and including its last '\\' or '/'; the
// empty text when exePath names no folder.
std::string GetProgramFolder(const std::string& exePath);
// Program folder + "Sound" + sep, and program folder + "Animation" + sep.
std::string GetSoundFolder(const std::string& exePath, char sep = port::PathSeparator());
std::string GetAnimationFolder(const std::string& exePath, char sep = port::PathSeparator());
// exePath with the extension of its file name written "EXE"
// (C:\Apps\Tavlo\Tavlo.exe gives C:\Apps\Tavlo\Tavlo.EXE). A file name
// without a dot is returned as it is, as Linux executables have none.
std::string GetProgramFileName(const std::string& exePath);

// Creates (enable) or removes the entry that starts the program when the
// user logs on: named by the application name, running GetProgramFileName()
// of the running executable. Failures are silent.
void WriteAutostart(bool enable);
