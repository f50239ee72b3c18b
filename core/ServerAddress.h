// The server text of an account: a host name or dotted address, optionally
// followed by ":PORT" to reach a server on a non-standard port. Host names
// never contain a colon (IPv4 only), so a text without one keeps its
// meaning and the protocol's standard port.
#pragma once

#include <string>

// Splits server into host and port. Without a colon the port is
// defaultPort. False when the text after the colon is not a decimal port
// 1..65535 or the host part is empty: such an account cannot be reached.
bool SplitServerAddress(const std::string& server, int defaultPort, std::string& host, int& port);
