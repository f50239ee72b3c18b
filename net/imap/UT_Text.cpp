#include "net/imap/UT_Text.h"

#include <cstring>

std::size_t UT_CopyCut(char* dest, std::size_t destSize, const char* src, std::size_t maxChars) {
    if (dest == nullptr || destSize == 0)
        return 0;
    std::size_t n = 0;
    if (src != nullptr) {
        const std::size_t limit = maxChars < destSize - 1 ? maxChars : destSize - 1;
        while (n < limit && src[n] != '\0')
            ++n;
        std::memcpy(dest, src, n);
    }
    dest[n] = '\0';
    return n;
}
