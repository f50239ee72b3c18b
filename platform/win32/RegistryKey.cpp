#include "platform/win32/RegistryKey.h"

#include <cstring>
#include <vector>

namespace port {

RegistryKey RegistryKey::Create(HKEY root, const std::string& subKey, REGSAM access) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(key);
}

RegistryKey RegistryKey::Open(HKEY root, const std::string& subKey, REGSAM access) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, access, &key) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(key);
}

bool RegistryKey::ReadDword(const std::string& name, std::uint32_t& value) const {
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    // A larger value answers ERROR_MORE_DATA; a smaller one a smaller size.
    if (::RegQueryValueExA(m_key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

bool RegistryKey::ReadText(const std::string& name, std::string& text, DWORD& type) const {
    // The value may change between the size query and the read: try again
    // when it grew.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = 0;
        if (::RegQueryValueExA(m_key, name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return false;
        // Zeroed room beyond the data: a string stored without its
        // terminator still ends inside the buffer.
        std::vector<char> buffer(static_cast<std::size_t>(size) + 2, '\0');
        DWORD got = size;
        const LONG r = ::RegQueryValueExA(m_key, name.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (r == ERROR_MORE_DATA)
            continue;
        if (r != ERROR_SUCCESS)
            return false;
        const std::size_t length = got < size ? got : size;
        text.assign(buffer.data(), ::strnlen(buffer.data(), length));
        return true;
    }
    return false;
}

bool RegistryKey::WriteDword(const std::string& name, std::uint32_t value) const {
    const DWORD data = value;
    return ::RegSetValueExA(m_key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof data) == ERROR_SUCCESS;
}

bool RegistryKey::WriteString(const std::string& name, const std::string& text) const {
    const std::size_t length = ::strnlen(text.c_str(), text.size());
    if (length >= 0xffffffffu)
        return false;
    return ::RegSetValueExA(m_key, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(length + 1)) == ERROR_SUCCESS;
}

bool RegistryKey::WriteRaw(const std::string& name, DWORD type, const std::string& bytes) const {
    if (bytes.size() > 0xffffffffu)
        return false;
    return ::RegSetValueExA(m_key, name.c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(const std::string& name) const {
    const LONG r = ::RegDeleteValueA(m_key, name.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

} // namespace port
