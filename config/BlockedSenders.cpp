#include "config/BlockedSenders.h"

#include "config/Occurrence.h"
#include "platform/CaseFold.h"
#include "platform/Errors.h"
#include "platform/FileIO.h"
#include "platform/Files.h"

#include <cstring>

namespace {

std::string Folded(const std::string& text) {
    std::string folded = text;
    for (char& c : folded)
        c = static_cast<char>(port::FoldCase(static_cast<unsigned char>(c)));
    return folded;
}

// Every non-overlapping occurrence of part removed, in one pass from the
// left (what is left after a removal is not searched again).
std::string RemoveEvery(const std::string& text, const std::string& part) {
    std::string rest;
    rest.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, from)) {
        rest.append(text, from, at - from);
        from = at + part.size();
    }
    rest.append(text, from, std::string::npos);
    return rest;
}

// Reads at most limit bytes; more is true when the file holds more.
port::FileReadResult ReadPrefix(const std::string& path, std::size_t limit, std::string& content,
                                bool& more) {
    more = false;
    const port::FileHandle file =
        port::FileOpen(path.c_str(), port::kFileRead, port::FileCreation::OpenExisting);
    if (file == port::kInvalidFile)
        return port::FileExists(path) ? port::FileReadResult::Failed
                                      : port::FileReadResult::Missing;
    content.clear();
    char block[64 * 1024];
    for (;;) {
        const long got = port::FileRead(file, block, sizeof block);
        if (got < 0) {
            port::FileClose(file);
            return port::FileReadResult::Failed;
        }
        if (got == 0)
            break;
        const std::size_t room = limit - content.size();
        if (static_cast<std::size_t>(got) > room) {
            content.append(block, room);
            more = true;
            break;
        }
        content.append(block, static_cast<std::size_t>(got));
    }
    port::FileClose(file);
    return port::FileReadResult::Ok;
}

} // namespace

bool BlockedSendersFromText(const std::string& text, bool textIsWhole,
                            std::vector<BlockedSender>& list) {
    std::size_t added = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        if (added == kMaxBlockedSenders)
            return false;
        std::size_t end = text.find('\n', from);
        const bool lastLine = end == std::string::npos;
        if (lastLine && !textIsWhole)
            return false; // the cap cut this line in two
        if (lastLine)
            end = text.size();
        std::size_t stop = end;
        if (!lastLine && stop > from && text[stop - 1] == '\r')
            --stop;
        const char* start = text.data() + from;
        const void* nul = std::memchr(start, '\0', stop - from);
        if (nul != nullptr)
            stop = from + static_cast<std::size_t>(static_cast<const char*>(nul) - start);
        list.push_back(BlockedSender{text.substr(from, stop - from)});
        ++added;
        from = lastLine ? end : end + 1;
    }
    return true;
}

std::string BlockedSendersToText(const std::vector<BlockedSender>& list) {
    std::size_t size = 0;
    for (const BlockedSender& entry : list)
        size += entry.m_strAddress.size() + 2;
    std::string text;
    text.reserve(size);
    for (const BlockedSender& entry : list) {
        text += entry.m_strAddress;
        text += "\r\n";
    }
    return text;
}

BlocklistLoad LoadBlockedSenders(const std::string& path, std::vector<BlockedSender>& list) {
    std::string content;
    bool more = false;
    switch (ReadPrefix(path, kMaxBlocklistBytes, content, more)) {
    case port::FileReadResult::Missing:
        return BlocklistLoad::Missing;
    case port::FileReadResult::Failed:
        return BlocklistLoad::Unreadable;
    case port::FileReadResult::Ok:
        break;
    }
    return BlockedSendersFromText(content, !more, list) ? BlocklistLoad::Loaded
                                                        : BlocklistLoad::Cut;
}

bool SaveBlockedSenders(const std::string& path, const std::vector<BlockedSender>& list) {
    return port::WriteFileAtomically(path, BlockedSendersToText(list));
}

std::string BlocklistWriteError(const std::string& path, int errorCode) {
    std::string message = "An error occurred while writing to " + path + ".";
    std::string reason;
    if (errorCode != 0 && port::SystemErrorText(errorCode, reason)) {
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                                   reason.back() == ' ' || reason.back() == '.'))
            reason.pop_back();
        if (!reason.empty())
            message += "\n" + reason + ".";
    }
    return message;
}

std::string BlocklistTooLargeError(const std::string& path) {
    return path + " holds more than 4 MB or 100000 entries. Only its beginning was read, and "
                  "it is left as it is: shorten it with a text editor.";
}

BlockedSender* FindBlockedSender(std::vector<BlockedSender>& list, const std::string& text, int n) {
    return FindNthRecord(list, &BlockedSender::m_strAddress, text, n);
}

bool RemoveBlockedSender(std::vector<BlockedSender>& list, const std::string& text, int n) {
    return RemoveNthRecord(list, &BlockedSender::m_strAddress, text, n);
}

BlockedSenderMatcher::BlockedSenderMatcher(const std::vector<BlockedSender>& list) {
    m_folded.reserve(list.size());
    for (const BlockedSender& entry : list) {
        // An empty entry (an empty line of a hand-edited file) would block
        // every message whose sender could not be read.
        if (!entry.m_strAddress.empty())
            m_folded.insert(Folded(entry.m_strAddress));
    }
}

bool BlockedSenderMatcher::Listed(const std::string& text) const {
    return !text.empty() && m_folded.count(Folded(text)) != 0;
}

bool BlockedSenderMatcher::IsBlocked(const std::string& address) const {
    if (address.empty() || m_folded.empty())
        return false;
    // The domain: the address without its local part.
    const std::size_t at = address.find('@');
    const std::string domain =
        at == std::string::npos ? address : RemoveEvery(address, address.substr(0, at + 1));
    if (Listed(domain))
        return true;
    // The parent domain: one label stripped, only when two would remain.
    const std::size_t dot = domain.find('.');
    if (dot != std::string::npos && domain.find('.', dot + 1) != std::string::npos &&
        Listed(RemoveEvery(domain, domain.substr(0, dot + 1))))
        return true;
    return Listed(address);
}
