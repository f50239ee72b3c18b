// The profile operations on the per-user registry:
// HKEY_CURRENT_USER\Software\<registryRoot>\<appName>\<section>.
//
// This header stays free of <windows.h> so that tests can use the class.
#pragma once

#include "platform/ProfileStore.h"

#include <string>

namespace port {

class RegistryProfileStore : public ProfileStore {
public:
    // registryRoot: the program's key below Software ("Tavlo"); appName: the
    // application name.
    RegistryProfileStore(std::string registryRoot, std::string appName);

    // Keys are created when first opened, reads included. GetInt answers def
    // unless the value is a REG_DWORD of exactly four bytes. GetString answers
    // def when the value is missing; otherwise the stored data up to its first
    // zero byte, whatever its type (older versions stored texts that later
    // versions read as numbers, and the other way round).
    std::uint32_t GetInt(const std::string& section, const std::string& name,
                         std::uint32_t def) override;
    std::string GetString(const std::string& section, const std::string& name,
                          const std::string& def = std::string()) override;
    // REG_DWORD; REG_SZ of the text up to its first zero byte.
    bool WriteInt(const std::string& section, const std::string& name,
                  std::uint32_t value) override;
    bool WriteString(const std::string& section, const std::string& name,
                     const std::string& text) override;

    // Stores data of any registry type (a REG_* number) as given: values of
    // older versions and foreign tools, for import and for tests.
    bool WriteRaw(const std::string& section, const std::string& name, unsigned long type,
                  const std::string& bytes);

    // Deletes HKEY_CURRENT_USER\Software\<registryRoot> with everything below
    // it; true when it is gone afterwards.
    static bool DeleteRoot(const std::string& registryRoot);

    // "Software\<root>\<app>\<section>", the key below HKEY_CURRENT_USER.
    std::string SectionKeyPath(const std::string& section) const;

private:
    std::string m_registryRoot;
    std::string m_appName;
};

} // namespace port
