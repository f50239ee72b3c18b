#include "MemoryProfileStore.h"

namespace tavlo::test {

const MemoryProfileStore::Value* MemoryProfileStore::Find(const std::string& section,
                                                          const std::string& name) const {
    const auto it = m_values.find(Key(section, name));
    return it == m_values.end() ? nullptr : &it->second;
}

std::uint32_t MemoryProfileStore::GetInt(const std::string& section, const std::string& name,
                                         std::uint32_t def) {
    m_reads.push_back({section, name, true, 0, std::string(), true});
    const auto stored = StoredInt(section, name);
    return stored ? *stored : def;
}

std::string MemoryProfileStore::GetString(const std::string& section, const std::string& name,
                                          const std::string& def) {
    m_reads.push_back({section, name, false, 0, std::string(), true});
    auto stored = StoredString(section, name);
    return stored ? *stored : def;
}

bool MemoryProfileStore::WriteInt(const std::string& section, const std::string& name,
                                  std::uint32_t value) {
    m_writes.push_back({section, name, true, value, std::string(), !m_failWrites});
    if (m_failWrites)
        return false;
    SetInt(section, name, value);
    return true;
}

bool MemoryProfileStore::WriteString(const std::string& section, const std::string& name,
                                     const std::string& text) {
    m_writes.push_back({section, name, false, 0, text, !m_failWrites});
    if (m_failWrites)
        return false;
    SetString(section, name, text);
    return true;
}

void MemoryProfileStore::SetInt(const std::string& section, const std::string& name,
                                std::uint32_t value) {
    m_values[Key(section, name)] = Value{true, value, std::string()};
}

void MemoryProfileStore::SetString(const std::string& section, const std::string& name,
                                   const std::string& text) {
    m_values[Key(section, name)] = Value{false, 0, text};
}

std::optional<std::uint32_t> MemoryProfileStore::StoredInt(const std::string& section,
                                                           const std::string& name) const {
    const Value* v = Find(section, name);
    if (v == nullptr || !v->isInt)
        return std::nullopt;
    return v->intValue;
}

std::optional<std::string> MemoryProfileStore::StoredString(const std::string& section,
                                                            const std::string& name) const {
    const Value* v = Find(section, name);
    if (v == nullptr || v->isInt)
        return std::nullopt;
    return v->text;
}

void MemoryProfileStore::ClearLog() {
    m_writes.clear();
    m_reads.clear();
}

} // namespace tavlo::test
