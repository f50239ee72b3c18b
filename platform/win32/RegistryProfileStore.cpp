#include "platform/win32/RegistryProfileStore.h"

#include "platform/win32/RegistryKey.h"
#include "platform/win32/WindowsGateway.h"

#include <utility>

namespace port {
namespace {

// Texts end at their first zero byte, as the registry's strings do.
std::string UpToZero(const std::string& text) {
    return std::string(text.c_str());
}

} // namespace

RegistryProfileStore::RegistryProfileStore(std::string registryRoot, std::string appName)
    : m_registryRoot(std::move(registryRoot)), m_appName(std::move(appName)) {}

std::string RegistryProfileStore::SectionKeyPath(const std::string& section) const {
    std::string path = "Software\\" + UpToZero(m_registryRoot) + "\\" + UpToZero(m_appName);
    const std::string name = UpToZero(section);
    if (!name.empty())
        path += "\\" + name;
    return path;
}

std::uint32_t RegistryProfileStore::GetInt(const std::string& section, const std::string& name,
                                           std::uint32_t def) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_CURRENT_USER, SectionKeyPath(section), KEY_READ | KEY_WRITE);
    std::uint32_t value = 0;
    return key && key.ReadDword(name, value) ? value : def;
}

std::string RegistryProfileStore::GetString(const std::string& section, const std::string& name,
                                            const std::string& def) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_CURRENT_USER, SectionKeyPath(section), KEY_READ | KEY_WRITE);
    std::string text;
    DWORD type = REG_NONE;
    return key && key.ReadText(name, text, type) ? text : def;
}

bool RegistryProfileStore::WriteInt(const std::string& section, const std::string& name,
                                    std::uint32_t value) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_CURRENT_USER, SectionKeyPath(section), KEY_READ | KEY_WRITE);
    return key && key.WriteDword(name, value);
}

bool RegistryProfileStore::WriteString(const std::string& section, const std::string& name,
                                       const std::string& text) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_CURRENT_USER, SectionKeyPath(section), KEY_READ | KEY_WRITE);
    return key && key.WriteString(name, text);
}

bool RegistryProfileStore::WriteRaw(const std::string& section, const std::string& name,
                                    unsigned long type, const std::string& bytes) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_CURRENT_USER, SectionKeyPath(section), KEY_READ | KEY_WRITE);
    return key && key.WriteRaw(name, static_cast<DWORD>(type), bytes);
}

bool RegistryProfileStore::DeleteRoot(const std::string& registryRoot) {
    const std::string root = UpToZero(registryRoot);
    if (root.empty())
        return false; // never the whole Software key
    const RegistryKey software =
        RegistryKey::Open(HKEY_CURRENT_USER, "Software", KEY_READ | KEY_WRITE | DELETE);
    if (!software)
        return false;
    const LONG r = ::RegDeleteTreeA(software.Get(), root.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

} // namespace port
