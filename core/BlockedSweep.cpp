#include "core/BlockedSweep.h"

#include "config/BlockedSenders.h"
#include "net/pop3/Pop3Connection.h"
#include "net/pop3/Pop3Message.h"

#include <cstdint>
#include <utility>

void SweepBlockedSenders(CPop3Connection& connection, const BlockedSenderMatcher& matcher,
                         ExaminedMessages* examined) {
    int count = 0;
    std::uint32_t size = 0;
    if (!connection.Statistics(count, size))
        return;

    ExaminedMessages stillThere;
    for (int n = 1; n <= count; ++n) {
        std::string id;
        const bool known = examined != nullptr && connection.GetMessageId(n, id);
        if (known && examined->count(id) != 0) {
            stillThere.insert(std::move(id));
            continue;
        }

        bool retrieved = false;
        std::string address;
        {
            CPop3Message message;
            retrieved = connection.Retrieve(n, message);
            address = ExtractAddress(message.GetHeaderField("From"));
        }

        if (matcher.IsBlocked(address)) {
            std::string blockedId;
            connection.GetMessageId(n, blockedId);
            int k = 0;
            if (connection.FindMessageById(blockedId, k))
                connection.Delete(k);
        } else if (known && retrieved) {
            stillThere.insert(std::move(id));
        }
    }
    // Only the ids still in the mailbox: the memory does not grow with
    // messages deleted elsewhere.
    if (examined != nullptr)
        *examined = std::move(stillThere);
}
