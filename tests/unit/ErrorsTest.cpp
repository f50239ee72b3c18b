#include "platform/Errors.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

struct NamedCode {
    const char* name;
    int code;
    int expected; // the platform's own number for the meaning
    bool textOptional = false;
};

#ifdef _WIN32
const NamedCode kCodes[] = {
    {"kErrInvalidArgument", port::kErrInvalidArgument, 10022},
    {"kErrTimeout", port::kErrTimeout, 1460},
    {"kErrGracefulDisconnect", port::kErrGracefulDisconnect, 1226},
    {"kErrBadNetResponse", port::kErrBadNetResponse, 58},
    {"kErrInvalidParameter", port::kErrInvalidParameter, 87},
    {"kErrSocketConnRefused", port::kErrSocketConnRefused, 10061},
    {"kErrAccessDenied", port::kErrAccessDenied, 5},
    {"kErrOutOfMemory", port::kErrOutOfMemory, 14},
    {"kErrConnectionRefused", port::kErrConnectionRefused, 1225},
    // Windows has texts for these two socket errors; Wine 8's message table
    // has none.
    {"kErrProtocolNotSupported", port::kErrProtocolNotSupported, 10043, true},
    {"kErrHostNotFound", port::kErrHostNotFound, 11001},
    {"kErrMessageTooLong", port::kErrMessageTooLong, 10040, true},
};
#else
const NamedCode kCodes[] = {
    {"kErrInvalidArgument", port::kErrInvalidArgument, EINVAL},
    {"kErrTimeout", port::kErrTimeout, ETIMEDOUT},
    {"kErrGracefulDisconnect", port::kErrGracefulDisconnect, ECONNRESET},
    {"kErrBadNetResponse", port::kErrBadNetResponse, EPROTO},
    {"kErrInvalidParameter", port::kErrInvalidParameter, EINVAL},
    {"kErrSocketConnRefused", port::kErrSocketConnRefused, ECONNREFUSED},
    {"kErrAccessDenied", port::kErrAccessDenied, EACCES},
    {"kErrOutOfMemory", port::kErrOutOfMemory, ENOMEM},
    {"kErrConnectionRefused", port::kErrConnectionRefused, ECONNREFUSED},
    {"kErrProtocolNotSupported", port::kErrProtocolNotSupported, EPROTONOSUPPORT},
    {"kErrHostNotFound", port::kErrHostNotFound, 11001},
    {"kErrMessageTooLong", port::kErrMessageTooLong, EMSGSIZE},
};
#endif

TEST(ErrorsTest, ConstantsAreThePlatformsNumbersAndHaveSystemTexts) {
    for (const auto& c : kCodes) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.code, c.expected);
        std::string text = "stale";
        const bool found = port::SystemErrorText(c.code, text);
        if (!found && c.textOptional) {
            EXPECT_EQ(text, "");
            continue;
        }
        EXPECT_TRUE(found);
        EXPECT_FALSE(text.empty());
        if (text.empty())
            continue;
        EXPECT_NE(text.back(), '\n');
        EXPECT_NE(text.back(), '\r');
        EXPECT_EQ(text.find("Unknown error"), std::string::npos) << text;
    }
}

TEST(ErrorsTest, HostNotFoundHasItsOwnText) {
    std::string text;
    ASSERT_TRUE(port::SystemErrorText(port::kErrHostNotFound, text));
#ifndef _WIN32
    EXPECT_EQ(text, "Host not found");
#endif
    std::string other;
    ASSERT_TRUE(port::SystemErrorText(port::kErrTimeout, other));
    EXPECT_NE(text, other);
}

TEST(ErrorsTest, UnknownNumbersGiveFalseAndAnEmptyText) {
    for (const int code : {987654, 0x7ffffff0, -7}) {
        SCOPED_TRACE(code);
        std::string text = "stale";
        EXPECT_FALSE(port::SystemErrorText(code, text));
        EXPECT_EQ(text, "");
    }
}

TEST(ErrorsTest, LastErrorValueBelongsToEachThread) {
    // Only atomics between the threads' set and get: any system call could
    // change a Windows thread's last error.
    std::atomic<int> step{0};
    int seenByWorker = 0;
    std::thread worker([&] {
        while (step.load() != 1) {
        }
        port::SetLastErrorValue(99);
        step.store(2);
        while (step.load() != 3) {
        }
        seenByWorker = port::GetLastErrorValue();
    });
    port::SetLastErrorValue(1234);
    step.store(1);
    while (step.load() != 2) {
    }
    const int seenByMain = port::GetLastErrorValue();
    step.store(3);
    worker.join();
    EXPECT_EQ(seenByMain, 1234);
    EXPECT_EQ(seenByWorker, 99);
}

} // namespace
