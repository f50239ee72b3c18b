// Port: the letter-case rule of the system's list controls (sorting, prefix
// and whole-text search) for 8-bit texts in the system code page: ASCII
// letters and the letters of Windows-1252 fold to lower case.
#pragma once

#include <cstddef>
#include <string_view>

namespace port {

constexpr unsigned char FoldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<unsigned char>(c + 32);
    switch (c) {
    case 0x8A: // S caron
    case 0x8C: // OE
    case 0x8E: // Z caron
        return static_cast<unsigned char>(c + 0x10);
    case 0x9F: // Y diaeresis
        return 0xFF;
    default:
        return c;
    }
}

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(static_cast<unsigned char>(a[i])) !=
            FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace port
