// libFuzzer target: the update check's version document, of which only the
// first line counts, on arbitrary bytes. The first input byte chooses the
// size of the pieces the body arrives in (as a network delivers it); the
// rest is the body.
//
// Checked: the line is the same however the body is cut into pieces; it is
// the body's first line without its line end, cut at the cap, with every
// control character shown as '?' (it goes to a message box and a terminal);
// the reader asks for no more once the line is complete.
#include "FuzzSupport.h"
#include "platform/HttpClient.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using tavlo::fuzz::Check;

// The first line as the update check must show it, from the whole body.
std::string ExpectedLine(const std::string& body) {
    std::string line = body.substr(0, body.find('\n'));
    if (line.size() > port::kHttpFirstLineCap + 1)
        line.resize(port::kHttpFirstLineCap + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > port::kHttpFirstLineCap)
        line.resize(port::kHttpFirstLineCap);
    for (char& c : line) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && c != '\t') || b == 0x7F)
            c = '?';
    }
    return line;
}

std::string ReadInPieces(const std::string& body, std::size_t piece) {
    port::FirstLineReader reader;
    for (std::size_t at = 0; at < body.size(); at += piece) {
        const bool more = reader.Feed(body.data() + at, std::min(piece, body.size() - at));
        Check(more == !reader.Complete());
        if (!more)
            break;
    }
    const std::string line = reader.Line();
    if (reader.Complete()) {
        // Complete means complete: more bytes change nothing.
        Check(!reader.Feed("x\n", 2));
        Check(reader.Line() == line);
    }
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0];
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string whole = ReadInPieces(body, body.size() + 1);
    Check(whole == ReadInPieces(body, piece));
    Check(whole == ExpectedLine(body));
    Check(whole.size() <= port::kHttpFirstLineCap);
    return 0;
}
