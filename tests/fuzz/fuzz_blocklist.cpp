// libFuzzer target: Blocklist.txt and the matching rule on arbitrary bytes.
// The input is a file's text, then (after the first 0xFF byte, if any) one
// sender address per line. A list read from any text must save and read
// back unchanged, hold no line end or NUL in an entry, keep within its caps,
// and every entry that is not empty must block itself as an address.
#include "config/BlockedSenders.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\xFF');
    const std::string file = input.substr(0, cut);
    const std::string senders = cut == std::string::npos ? std::string() : input.substr(cut + 1);

    // Whole, and as the beginning of a longer file.
    for (const bool whole : {true, false}) {
        std::vector<BlockedSender> list;
        const bool complete = BlockedSendersFromText(file, whole, list);
        if (list.size() > kMaxBlockedSenders ||
            (whole && list.size() < kMaxBlockedSenders && !complete))
            std::abort();
        for (const BlockedSender& entry : list) {
            if (entry.m_strAddress.find('\n') != std::string::npos ||
                entry.m_strAddress.find('\0') != std::string::npos)
                std::abort();
        }
        std::vector<BlockedSender> again;
        if (!BlockedSendersFromText(BlockedSendersToText(list), true, again) ||
            again.size() != list.size())
            std::abort();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (again[i].m_strAddress != list[i].m_strAddress)
                std::abort();
        }

        const BlockedSenderMatcher matcher(list);
        for (const BlockedSender& entry : list) {
            if (!entry.m_strAddress.empty() && !matcher.IsBlocked(entry.m_strAddress))
                std::abort();
        }
        std::size_t from = 0;
        while (from <= senders.size()) {
            std::size_t end = senders.find('\n', from);
            if (end == std::string::npos)
                end = senders.size();
            matcher.IsBlocked(senders.substr(from, end - from));
            from = end + 1;
        }
    }
    return 0;
}
