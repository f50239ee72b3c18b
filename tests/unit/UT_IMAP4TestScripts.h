// Scripted IMAP server dialogues shared by the IMAP client tests: tags of
// the program-wide counter, and a logged-in session around the steps of one
// test.
#pragma once

#include "net/imap/ImapResponse.h"
#include "support/ScriptedServer.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tavlo::test::imap4 {

// "A0007" for 7 (without the space that the tag carries on the wire).
inline std::string Tag(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "A%04d", n % 10000);
    return text;
}

inline constexpr const char* kGreeting = "* OK IMAP4rev1 server ready\r\n";

// Greeting, the LOGIN of user "u" with password "p" (tag 1), then the test's
// steps. The tag counter must stand at 1 when the session opens.
inline Script LoggedIn(std::vector<Step> steps) {
    Script s{Step::Send(kGreeting), Step::Expect(Tag(1) + " LOGIN \"u\" \"p\""),
             Step::Send(Tag(1) + " OK LOGIN completed\r\n")};
    s.insert(s.end(), std::make_move_iterator(steps.begin()), std::make_move_iterator(steps.end()));
    return s;
}

// The LOGOUT exchange of a client closing its session with tag n.
inline std::vector<Step> Logout(int n) {
    return {Step::Expect(Tag(n) + " LOGOUT"),
            Step::Send("* BYE logging out\r\n" + Tag(n) + " OK LOGOUT completed\r\n")};
}

// One command with tag n: the line expected after the tag, then the reply.
inline std::vector<Step> Exchange(int n, const std::string& line, const std::string& reply) {
    return {Step::Expect(Tag(n) + " " + line), Step::Send(reply)};
}

inline std::vector<Step> Join(std::vector<std::vector<Step>> parts) {
    std::vector<Step> all;
    for (auto& part : parts)
        all.insert(all.end(), std::make_move_iterator(part.begin()),
                   std::make_move_iterator(part.end()));
    return all;
}

} // namespace tavlo::test::imap4
