// libFuzzer target: the proxy reply parsers (SOCKS4, SOCKS5 of RFC 1928 and
// 1929, HTTP CONNECT) over a proxy played from memory, and the "Proxy"
// setting's parser.
//
// Input: byte 0 picks the negotiation (mod 5; 4 is the setting parser),
// byte 1 the size of the pieces the reply arrives in, byte 2 whether the
// proxy closes or stays silent after it; the rest is the reply (or the
// setting text). A negotiation must end with 0 or one of its error numbers,
// take no more of the reply than a reply can hold, and hand back an HTTP
// head within its cap. A setting that parses must format and parse back to
// the same fields, and its masked form must not hold the password.
#include "config/ProxySetting.h"
#include "net/proxy/ProxyTunnel.h"
#include "platform/Errors.h"
#include "tests/support/MemoryProxyPeer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tavlo::test::MemoryProxyPeer;

bool IsTunnelError(int code) {
    const int known[] = {
        port::kErrTimeout,          port::kErrGracefulDisconnect, port::kErrBadNetResponse,
        port::kErrInvalidParameter, port::kErrSocketConnRefused,  port::kErrAccessDenied,
        port::kErrOutOfMemory,      port::kErrConnectionRefused,  port::kErrMessageTooLong};
    for (const int k : known) {
        if (code == k)
            return true;
    }
    return false;
}

void FuzzSetting(const std::string& text) {
    ProxyServer server;
    if (!ParseProxySetting(text, server))
        return;
    ProxyServer back;
    if (!ParseProxySetting(FormatProxySetting(server), back) || back.kind != server.kind ||
        back.host != server.host || back.port != server.port || back.user != server.user ||
        back.password != server.password)
        std::abort();
    // The masked form (settings list) reads back as the same proxy with the
    // password replaced by the mask: no piece of the password survives in it.
    // (Searching the masked text for the password would also find it inside
    // an unrelated host name.)
    ProxyServer shown;
    if (!ParseProxySetting(FormatProxySetting(server, true), shown) || shown.kind != server.kind ||
        shown.host != server.host || shown.port != server.port || shown.user != server.user ||
        shown.password != (server.password.empty() ? "" : "****"))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const int which = data[0] % 5;
    const std::size_t piece = data[1] == 0 ? 1 : data[1];
    const auto atEnd =
        (data[2] & 1) != 0 ? MemoryProxyPeer::AtEnd::Close : MemoryProxyPeer::AtEnd::Silence;
    const std::string input(reinterpret_cast<const char*>(data) + 3, size - 3);
    if (which == 4) {
        FuzzSetting(input);
        return 0;
    }

    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < input.size(); at += piece)
        pieces.push_back(input.substr(at, piece));
    MemoryProxyPeer peer(pieces, atEnd);
    std::string reply;
    int result = 0;
    std::size_t most = 0; // the most a reply may take
    switch (which) {
    case 0:
        result = ProxyTunnel::Socks4(peer, "10.0.0.1", 110, 1);
        most = 8;
        break;
    case 1:
        result = ProxyTunnel::Socks5(peer, "mail.example.org", 110, nullptr, nullptr, 1);
        most = 2 + ProxyTunnel::kSocks5ReplyBuffer;
        break;
    case 2:
        result = ProxyTunnel::Socks5(peer, "10.0.0.1", 995, "user", "password", 1);
        most = 2 + 2 + ProxyTunnel::kSocks5ReplyBuffer;
        break;
    default:
        result =
            ProxyTunnel::HttpConnect(peer, "mail.example.org", 993, reply, "u", "p", 1, "Tavlo");
        most = ProxyTunnel::kMaxHttpReply;
        if (reply.size() > ProxyTunnel::kMaxHttpReply || reply.size() != peer.Taken())
            std::abort();
        if (result == 0 &&
            (reply.size() < 4 || reply.compare(reply.size() - 4, 4, "\r\n\r\n") != 0))
            std::abort();
        break;
    }
    if (result != 0 && !IsTunnelError(result))
        std::abort();
    if (peer.Taken() > most || peer.Taken() > input.size())
        std::abort();
    return 0;
}
