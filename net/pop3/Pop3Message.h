// One message fetched with RETR (RFC 1939) and the textual reading of its
// header (RFC 5322 field syntax, no MIME decoding).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CPop3Message {
public:
    CPop3Message() = default;
    virtual ~CPop3Message() = default;

    CPop3Message(const CPop3Message&) = delete;
    CPop3Message& operator=(const CPop3Message&) = delete;
    CPop3Message(CPop3Message&&) noexcept = default;
    CPop3Message& operator=(CPop3Message&&) noexcept = default;

    // The text up to (not including) the first CR LF CR LF; the whole text
    // when there is none; empty when there is no text.
    std::string GetHeader() const;

    // The value of the first header field of that name (any letter case),
    // unfolded, tabs turned into blanks, trimmed. Empty when absent.
    std::string GetHeaderField(const std::string& name) const;

    std::string GetFrom() const;

    // The stored text (NUL-terminated), or null when none was stored.
    const char* Text() const { return m_pszText.get(); }

    // Replaces the text with a NUL-terminated copy of length bytes. False,
    // with the old text kept, when the memory is not available.
    bool SetText(const char* data, std::size_t length);

private:
    // The message as received after the "+OK" status line, without the
    // terminating dot line; doubled leading dots are left as they came.
    std::unique_ptr<char[]> m_pszText;
};

// The text between the first '<' and the first '>' when both exist and at
// least one character lies between them; otherwise s unchanged.
std::string ExtractAddress(const std::string& s);
