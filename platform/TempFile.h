// Port: temporary files (GetTempPath and GetTempFileName on Windows; $TMPDIR
// or /tmp and mkstemp on POSIX).
#pragma once

#include <string>

namespace port {

// The platform's folder for temporary files, with a trailing separator.
std::string TempFolder();

// Creates a new, empty file with a unique name in TempFolder() whose name
// starts with prefix (on Windows only its first three characters count) and
// returns its full path. False and an empty path on failure.
bool CreateTempFile(const char* prefix, std::string& path);

} // namespace port
