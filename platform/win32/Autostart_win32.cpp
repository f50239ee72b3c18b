// Win32 half of the autostart port: a value in the Run key.
#include "platform/Autostart.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/WindowsGateway.h"

namespace port {
namespace {

const char* const kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct SystemVersion {
    bool ntFamily = false;
    unsigned long major = 0;
};

// RtlGetVersion tells the true version; GetVersionEx answers what the
// program's manifest admits to. Systems without ntdll's function are not NT.
SystemVersion AskSystemVersion() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    SystemVersion version;
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    if (proc == nullptr)
        return version;
    // The detour through void(*)() keeps GCC's function cast check quiet.
    const auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(proc));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion(&info) != 0)
        return version;
    version.ntFamily = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    version.major = info.dwMajorVersion;
    return version;
}

// Per-user entries exist from NT 5 on; older systems only know the
// machine-wide key.
HKEY RunKeyRoot() {
    const SystemVersion version = AskSystemVersion();
    return version.ntFamily && version.major > 4 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// An unquoted path with a space would make the system try the path's
// shorter prefixes ("C:\Program.exe") first.
std::string CommandFor(const std::string& programFile) {
    if (programFile.find_first_of(" \t") == std::string::npos)
        return programFile;
    return "\"" + programFile + "\"";
}

} // namespace

void SetAutostartEntry(const std::string& appName, const std::string& programFile, bool enable) {
    const RegistryKey key = RegistryKey::Open(RunKeyRoot(), kRunKey, KEY_READ | KEY_WRITE);
    if (!key)
        return;
    if (enable)
        key.WriteString(appName, CommandFor(programFile));
    else
        key.DeleteValue(appName);
}

bool GetAutostartEntry(const std::string& appName, std::string& command) {
    const RegistryKey key = RegistryKey::Open(RunKeyRoot(), kRunKey, KEY_READ);
    DWORD type = REG_NONE;
    return key && key.ReadText(appName, command, type) && (type == REG_SZ || type == REG_EXPAND_SZ);
}

std::string AutostartLocation(const std::string&) {
    return std::string(RunKeyRoot() == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER\\"
                                                         : "HKEY_LOCAL_MACHINE\\") +
           kRunKey;
}

} // namespace port
