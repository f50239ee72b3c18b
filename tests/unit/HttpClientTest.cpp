// The platform's HTTP client (libcurl natively, WinINet under Wine) against
// a scripted web server on loopback: the request it sends, the first line
// it takes from exact responses, and that answers which are not a 2xx
// status, a server that never answers, one that sends forever and one that
// trickles all end within the time-out.
#include "platform/HttpClient.h"

#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"
#include "support/TestEnv.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using tavlo::test::ScriptedServer;
using tavlo::test::ScriptedServerOptions;
using tavlo::test::Step;

constexpr char kAgent[] = "tavlo-test";
constexpr char kPath[] = "/quendel/version";

// Reads the request up to its empty line (the lines go to the transcript).
Step ReadRequest() {
    return Step::Custom([](tavlo::test::ScriptedConnection& c) {
        for (;;) {
            const auto line = c.ReadLine();
            if (!line)
                return false;
            if (line->empty())
                return true;
        }
    });
}

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The end of a body without a length is the end of the connection.
constexpr char kOkUntilClose[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";

// Either: a response that is no HTTP (an HTTP/0.9 answer), which libcurl
// refuses and WinINet may take as a document.
enum class Expect { Line, Failed, Either };

struct ResponseCase {
    const char* name;
    std::vector<Step> reply; // after the request was read
    Expect expect;
    int status;       // the status seen (Expect::Line and Failed)
    std::string line; // with Expect::Line
    unsigned timeoutMs = 5000;
};

// pattern over and over, size bytes of it.
std::string Repeated(const std::string& pattern, std::size_t size) {
    std::string text;
    while (text.size() < size)
        text += pattern;
    return text.substr(0, size);
}

std::vector<ResponseCase> Cases() {
    const std::string mega(1 << 20, 'x');
    return {
        {"first line of several",
         {Step::Send(Ok("1.9\r\nRelease notes\r\n"))},
         Expect::Line,
         200,
         "1.9"},
        {"bare line feed", {Step::Send(Ok("1.8\nmore\n"))}, Expect::Line, 200, "1.8"},
        {"own version and a blank", {Step::Send(Ok("1.8 \r\n"))}, Expect::Line, 200, "1.8 "},
        {"no line end", {Step::Send(Ok("2.0"))}, Expect::Line, 200, "2.0"},
        {"empty document", {Step::Send(Ok(""))}, Expect::Line, 200, ""},
        {"no content",
         {Step::Send("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")},
         Expect::Line,
         204,
         ""},
        {"response in pieces", {Step::Trickle(Ok("1.9\r\n"), 7, 5)}, Expect::Line, 200, "1.9"},
        {"chunked body",
         {Step::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                     "2\r\n1.\r\n3\r\n9\r\nx\r\n0\r\n\r\n")},
         Expect::Line,
         200,
         "1.9"},
        {"closed mid-line without a length",
         {Step::Send(std::string(kOkUntilClose) + "1.1"), Step::CloseConnection()},
         Expect::Line,
         200,
         "1.1"},
        {"control bytes shown as question marks",
         {Step::Send(Ok(std::string("1.\0\x01\x1b[2J8\x7f\r\n", 12)))},
         Expect::Line,
         200,
         "1.???[2J8?"},
        {"a line of a megabyte is cut",
         {Step::Send(Ok(mega + "\r\n"))},
         Expect::Line,
         200,
         std::string(port::kHttpFirstLineCap, 'x')},
        {"a server that sends forever",
         {Step::Send(kOkUntilClose), Step::SendForever("1.9.9.9.9.9.9")},
         Expect::Line,
         200,
         Repeated("1.9.9.9.9.9.9", port::kHttpFirstLineCap)},
        {"not found",
         {Step::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found")},
         Expect::Failed,
         404,
         ""},
        {"server error",
         {Step::Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 6\r\n\r\nbroken")},
         Expect::Failed,
         500,
         ""},
        {"moved permanently (not followed)",
         {Step::Send("HTTP/1.1 301 Moved Permanently\r\nLocation: /quendel/elsewhere\r\n"
                     "Content-Length: 4\r\n\r\n1.9\n")},
         Expect::Failed,
         301,
         ""},
        {"silent server", {Step::Sleep(4000)}, Expect::Failed, 0, "", 500},
        {"silent after the headers",
         {Step::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"), Step::Sleep(4000)},
         Expect::Failed,
         200,
         "",
         500},
        {"a line trickled slower than the time-out allows",
         {Step::Send(kOkUntilClose), Step::Trickle("1.9.9.9.9.9.9.9\r\n", 1, 150)},
         Expect::Failed,
         200,
         "",
         500},
        {"closed mid-line before the promised length",
         {Step::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n1.9"), Step::CloseConnection()},
         Expect::Failed,
         200,
         ""},
        {"not HTTP at all",
         {Step::Send("hello there\r\n"), Step::CloseConnection()},
         Expect::Either,
         0,
         "hello there"},
    };
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { tavlo::test::EnsureSocketLayer(); }
};

TEST_F(HttpClientTest, FirstLineOfEachResponseOrAFailureWithinTheTimeOut) {
    for (ResponseCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        std::vector<Step> script{ReadRequest()};
        script.insert(script.end(), c.reply.begin(), c.reply.end());
        ScriptedServerOptions options;
        options.lingerMs = 500;
        ScriptedServer server(script, options);
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + kPath;

        const auto started = std::chrono::steady_clock::now();
        const port::HttpFirstLine got =
            port::SystemHttpClient().GetFirstLine(url, kAgent, c.timeoutMs);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - started)
                              .count();
        // Every answer ends well within the time-out (and some slack for a
        // slow machine), however the server behaves.
        EXPECT_LT(took, static_cast<long long>(c.timeoutMs) * 2 + 2000);

        switch (c.expect) {
        case Expect::Line:
            EXPECT_TRUE(got.connected);
            EXPECT_EQ(got.status, c.status);
            EXPECT_EQ(got.line, c.line);
            break;
        case Expect::Failed:
            EXPECT_FALSE(got.connected);
            EXPECT_EQ(got.status, c.status);
            EXPECT_EQ(got.line, "");
            break;
        case Expect::Either:
            // Taken as a document or refused; when taken, nothing but
            // (a beginning of) what the server sent is shown.
            if (got.connected) {
                EXPECT_EQ(c.line.rfind(got.line, 0), 0u) << got.line;
            }
            break;
        }

        // One GET of the path, carrying the agent; a redirect is not
        // followed to a second request.
        server.Stop();
        const auto connections = server.connections();
        ASSERT_EQ(connections.size(), 1u);
        ASSERT_FALSE(connections[0].lines.empty());
        EXPECT_EQ(connections[0].lines[0], std::string("GET ") + kPath + " HTTP/1.1");
        bool agent = false;
        for (const std::string& header : connections[0].lines)
            agent = agent || Lower(header) == Lower(std::string("User-Agent: ") + kAgent);
        EXPECT_TRUE(agent);
    }
}

TEST_F(HttpClientTest, NoServerIsAFailedConnection) {
    const std::string url = "http://127.0.0.1:" + std::to_string(tavlo::test::ClosedPort()) + kPath;
    const port::HttpFirstLine got = port::SystemHttpClient().GetFirstLine(url, kAgent, 2000);
    EXPECT_FALSE(got.connected);
    EXPECT_EQ(got.status, 0);
}

TEST(FirstLineReaderTest, LineFromPieces) {
    struct Case {
        std::vector<std::string> pieces;
        bool complete; // a line feed arrived, or more than the cap
        std::string line;
    };
    const std::string cap(port::kHttpFirstLineCap, 'a');
    const Case cases[] = {
        {{"1.", "9\r", "\nnext"}, true, "1.9"},
        {{"1.9"}, false, "1.9"},
        {{""}, false, ""},
        {{"\r\n"}, true, ""},
        {{"a\rb\n"}, true, "a?b"},
        {{cap + "\r\n"}, true, cap},
        {{cap, "\r"}, true, cap},
        {{cap, "bc"}, true, cap},
        {{std::string(3 * port::kHttpFirstLineCap, 'z')},
         true,
         std::string(port::kHttpFirstLineCap, 'z')},
        {{"\xe5\xe4\xf6\t1\n"}, true, "\xe5\xe4\xf6\t1"}, // 8-bit text and tabs stay
    };
    for (const Case& c : cases) {
        port::FirstLineReader reader;
        for (const std::string& piece : c.pieces)
            reader.Feed(piece.data(), piece.size());
        EXPECT_EQ(reader.Complete(), c.complete) << c.line;
        EXPECT_EQ(reader.Line(), c.line);
        // Once complete, nothing more is taken.
        if (c.complete) {
            EXPECT_FALSE(reader.Feed("x\n", 2));
        }
    }
}

} // namespace
