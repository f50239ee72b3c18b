// The "Proxy" value of section "App": the proxy every POP3 and IMAP
// connection goes through. Empty (or absent) means direct connections;
// otherwise one of
//
//     socks4://HOST:PORT
//     socks5://[USER[:PASSWORD]@]HOST:PORT
//     http://[USER[:PASSWORD]@]HOST:PORT        (HTTP CONNECT)
//
// with user and password percent-encoded (RFC 3986 section 2.1).
#pragma once

#include "net/proxy/ProxyTunnel.h"
#include "platform/ProfileStore.h"

#include <functional>
#include <string>

class CPop3Connection;

inline constexpr char kValueProxy[] = "Proxy";

// Parses a "Proxy" text into server. The empty text is a direct connection.
// False for anything else that is not one of the forms above: an unknown
// scheme, a host of other characters than letters, digits, '-', '.' and '_',
// a missing or out-of-range port (1 ... 65535), a path, credentials on
// socks4://, a bad percent escape, a user name or password that decodes to
// more than 255 bytes or holds a NUL, or an empty user name before '@'.
bool ParseProxySetting(const std::string& text, ProxyServer& server);

// The text of a server in the form above (the empty text for Direct), user
// and password percent-encoded; with maskPassword a password shows as
// "****". ParseProxySetting(FormatProxySetting(s)) gives s back.
std::string FormatProxySetting(const ProxyServer& server, bool maskPassword = false);

// What the "Proxy" form is, for messages.
extern const char kProxySettingForms[];

// The proxy in effect, read when used. A stored text that does not parse
// is taken as a direct connection and reported once per process and text
// through report (by default a line on standard error); the text itself is
// never reported, as it may hold a password.
ProxyServer ReadProxySetting(port::ProfileStore& store,
                             const std::function<void(const std::string&)>& report = {});

// Sets the POP3 session's proxy members from a server (kind, host, port,
// user, password); Direct clears them.
void UseProxy(CPop3Connection& connection, const ProxyServer& server);
