// An open registry key that closes itself, with the few value operations the
// program needs.
#pragma once

#include "platform/win32/WindowsGateway.h"

#include <cstdint>
#include <string>
#include <utility>

namespace port {

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(RegistryKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept {
        if (this != &other) {
            Close();
            m_key = std::exchange(other.m_key, nullptr);
        }
        return *this;
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { Close(); }

    // Opens root\subKey, creating it and its missing parents.
    static RegistryKey Create(HKEY root, const std::string& subKey, REGSAM access);
    // Opens root\subKey only when it exists.
    static RegistryKey Open(HKEY root, const std::string& subKey, REGSAM access);

    explicit operator bool() const { return m_key != nullptr; }
    HKEY Get() const { return m_key; }

    // A REG_DWORD of exactly four bytes.
    bool ReadDword(const std::string& name, std::uint32_t& value) const;
    // The value's data of any type as a text: the bytes up to the first zero
    // byte, or all of them when a string was stored without its terminator.
    // type receives the registry type. False when the value is missing.
    bool ReadText(const std::string& name, std::string& text, DWORD& type) const;

    bool WriteDword(const std::string& name, std::uint32_t value) const;
    // REG_SZ of text up to its first zero byte; the stored length counts the
    // terminating zero.
    bool WriteString(const std::string& name, const std::string& text) const;
    // Data of any type, stored as given.
    bool WriteRaw(const std::string& name, DWORD type, const std::string& bytes) const;
    // True when the value is gone afterwards.
    bool DeleteValue(const std::string& name) const;

private:
    explicit RegistryKey(HKEY key) : m_key(key) {}
    void Close() {
        if (m_key != nullptr)
            ::RegCloseKey(std::exchange(m_key, nullptr));
    }

    HKEY m_key = nullptr;
};

} // namespace port
