// Port: the entry that starts the program when the user logs on.
#pragma once

#include <string>

namespace port {

// Windows: the string value appName in SOFTWARE\Microsoft\Windows\CurrentVersion\Run
// (HKCU on NT 5 and later, HKLM before), data programFile (in double quotes
// when it contains a space, so that no shorter path is run instead); the key
// is opened, never created. Elsewhere: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/<appName>.desktop) that runs "programFile run".
// enable false removes the entry. Failures are silent, as callers ignore them.
void SetAutostartEntry(const std::string& appName, const std::string& programFile, bool enable);

// Reads the entry back: true and its command when one exists (Windows: the
// value's data; elsewhere: the Exec line of the desktop entry).
bool GetAutostartEntry(const std::string& appName, std::string& command);

// Where the entry lives, for messages: the registry key with its root
// ("HKEY_CURRENT_USER\SOFTWARE\...\Run") or the desktop entry file.
std::string AutostartLocation(const std::string& appName);

} // namespace port
