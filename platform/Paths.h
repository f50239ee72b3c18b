// Port: where the program and its data live.
#pragma once

#include <string>

namespace port {

// Separator of path components: a backslash on Windows, a slash elsewhere.
char PathSeparator();

// Full path of the running executable.
std::string ExecutablePath();

// The application name: the executable's file name without its extension.
std::string ApplicationName();

// Folder for files the program writes beside its settings (Blocklist.txt),
// with a trailing separator. Windows: the program folder. Elsewhere:
// $TAVLO_HOME when set, else $XDG_CONFIG_HOME/tavlo or ~/.config/tavlo.
// The folder is not created here. "" when no folder can be determined.
std::string UserDataFolder();

// Creates a folder and its parents; true when it exists afterwards.
bool CreateFolders(const std::string& path);

// The folder part of a path with its trailing separator ("" when the path
// has no folder part). Both separators count on Windows.
std::string ParentFolder(const std::string& path);

// The last component of a path without its extension ("C:\Apps\Tavlo.exe" gives
// "Tavlo"). A leading dot does not start an extension.
std::string FileNameWithoutExtension(const std::string& path);

} // namespace port
