// Port: the four profile operations on the program's per-user settings.
//
// On Windows the values live in HKEY_CURRENT_USER\Software\<root>\<app>\<section>
// (registry); elsewhere in a settings file that keeps the same sections,
// value names and types. Texts are 8-bit byte strings (system code page);
// a stored text never contains a zero byte.
#pragma once

#include <cstdint>
#include <string>

namespace port {

class ProfileStore {
public:
    virtual ~ProfileStore() = default;

    // The stored 32-bit integer, or def when the value is missing or is not
    // a 4-byte integer.
    virtual std::uint32_t GetInt(const std::string& section, const std::string& name,
                                 std::uint32_t def) = 0;
    // The stored text, or def when the value is missing. A value stored as an
    // integer reads as its four bytes (least significant first) up to the
    // first zero byte, as a registry string read of a REG_DWORD gives them:
    // older versions stored "MailClient" as a number, and such a text matches
    // none of the names.
    virtual std::string GetString(const std::string& section, const std::string& name,
                                  const std::string& def = std::string()) = 0;
    // Writes replace the old value; false when the write failed (callers
    // are free to ignore it).
    virtual bool WriteInt(const std::string& section, const std::string& name,
                          std::uint32_t value) = 0;
    virtual bool WriteString(const std::string& section, const std::string& name,
                             const std::string& text) = 0;
};

} // namespace port
