#include "net/imap/ImapTlsLayer.h"

#include <chrono>
#include <cstddef>

bool ImapTlsLayer::Start(port::SocketHandle socket, const std::string& host, int timeoutSeconds) {
    End();
    const bool ok = CreateClientTlsContext(m_context) &&
                    m_channel.Attach(m_context.Get(), socket) && m_channel.SetPeerHost(host) &&
                    m_channel.Handshake(std::chrono::seconds(timeoutSeconds));
    if (!ok)
        End();
    return ok;
}

void ImapTlsLayer::End() {
    m_channel.Close();
    m_context.Release();
}

int ImapTlsLayer::Send(const char* data, int length) {
    if (length < 0)
        return -1;
    return m_channel.Write(data, static_cast<std::size_t>(length));
}

int ImapTlsLayer::Receive(char* buffer, int size, bool peek) {
    if (size <= 0)
        return -1;
    return m_channel.Read(buffer, static_cast<std::size_t>(size), peek);
}

int ImapTlsLayer::WaitReadable(long seconds, long microseconds) {
    return m_channel.WaitReadable(std::chrono::seconds(seconds) +
                                  std::chrono::microseconds(microseconds)) > 0
               ? 0
               : 1;
}
