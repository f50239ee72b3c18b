// An in-memory settings store for tests. It keeps integer and string values
// apart as the registry does (reading a value as the other type gives the
// default), records every read and write in order, and can be told to fail
// writes, which then leave the stored value as it was.
#pragma once

#include "platform/ProfileStore.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavlo::test {

class MemoryProfileStore : public port::ProfileStore {
public:
    struct Access {
        std::string section;
        std::string name;
        bool isInt = false;
        std::uint32_t intValue = 0; // writes of integers
        std::string text;           // writes of strings
        bool succeeded = true;      // writes: false when made to fail
    };

    std::uint32_t GetInt(const std::string& section, const std::string& name,
                         std::uint32_t def) override;
    std::string GetString(const std::string& section, const std::string& name,
                          const std::string& def = std::string()) override;
    bool WriteInt(const std::string& section, const std::string& name,
                  std::uint32_t value) override;
    bool WriteString(const std::string& section, const std::string& name,
                     const std::string& text) override;

    // Seed values without recording a write.
    void SetInt(const std::string& section, const std::string& name, std::uint32_t value);
    void SetString(const std::string& section, const std::string& name, const std::string& text);

    // What is stored now; nullopt when missing or of the other type.
    std::optional<std::uint32_t> StoredInt(const std::string& section,
                                           const std::string& name) const;
    std::optional<std::string> StoredString(const std::string& section,
                                            const std::string& name) const;

    void FailWrites(bool fail) { m_failWrites = fail; }

    // Every write attempt / read in call order (seeding is not recorded).
    const std::vector<Access>& Writes() const { return m_writes; }
    const std::vector<Access>& Reads() const { return m_reads; }
    void ClearLog();

private:
    struct Value {
        bool isInt = false;
        std::uint32_t intValue = 0;
        std::string text;
    };
    using Key = std::pair<std::string, std::string>;

    const Value* Find(const std::string& section, const std::string& name) const;

    std::map<Key, Value> m_values;
    std::vector<Access> m_writes;
    std::vector<Access> m_reads;
    bool m_failWrites = false;
};

} // namespace tavlo::test
