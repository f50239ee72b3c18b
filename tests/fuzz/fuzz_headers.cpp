// libFuzzer target: a message as RETR brings it (RFC 1939), its header
// fields (RFC 5322 section 2.2) and ExtractAddress, on arbitrary bytes.
// The input is the message; when it holds a NUL byte, the bytes before the
// first NUL name a field to look for as well (a message text ends at its
// first NUL anyway).
//
// Checked: the header is a prefix of the text without an empty line; a
// field's value comes back unfolded (no CR LF pair, no tab) and trimmed;
// the field name matches in any letter case; GetFrom is the "From" field;
// ExtractAddress gives the text itself or the non-empty piece between the
// first '<' and the first '>'.
#include "net/pop3/Pop3Message.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool IsTrimmedSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string CaseFlipped(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void CheckAddress(const std::string& value) {
    const std::string address = ExtractAddress(value);
    if (address == value)
        return;
    const std::size_t open = value.find('<');
    Check(open != std::string::npos);
    Check(!address.empty());
    Check(value.compare(open + 1, address.size(), address) == 0);
    Check(value[open + 1 + address.size()] == '>');
    Check(address.find('>') == std::string::npos);
}

void CheckField(const CPop3Message& message, const std::string& name) {
    const std::string value = message.GetHeaderField(name);
    Check(value.find("\r\n") == std::string::npos);
    Check(value.find('\t') == std::string::npos);
    if (!value.empty()) {
        Check(!IsTrimmedSpace(value.front()));
        Check(!IsTrimmedSpace(value.back()));
    }
    Check(message.GetHeaderField(CaseFlipped(name)) == value);
    CheckAddress(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string text = nul == std::string::npos ? input : input.substr(nul + 1);

    CPop3Message empty;
    Check(empty.GetHeader().empty() && empty.GetFrom().empty());

    CPop3Message message;
    if (!message.SetText(text.data(), text.size()))
        return 0;
    const std::string stored = message.Text();
    const std::string header = message.GetHeader();
    Check(stored.compare(0, header.size(), header) == 0);
    Check(header.find("\r\n\r\n") == std::string::npos);
    Check(header.size() == stored.size() || stored.compare(header.size(), 4, "\r\n\r\n") == 0);

    const std::string from = message.GetFrom();
    Check(message.GetHeaderField("From") == from);
    CheckField(message, "From");
    CheckField(message, "Subject");
    CheckField(message, "Return-Path");
    // A field name is the program's own, short text; a long one from the
    // input would only measure the substring search of the harness.
    if (nul != std::string::npos && nul <= 64)
        CheckField(message, input.substr(0, nul));
    CheckAddress(input);
    return 0;
}
