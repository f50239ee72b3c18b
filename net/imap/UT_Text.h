// Small text helpers of the IMAP client family for its fixed-size fields.
#pragma once

#include <cstddef>

// Copies src into dest of destSize bytes, at most maxChars characters and
// never more than fit with the terminating NUL; a null src gives an empty
// text. Returns the characters copied.
std::size_t UT_CopyCut(char* dest, std::size_t destSize, const char* src,
                       std::size_t maxChars = static_cast<std::size_t>(-1));
