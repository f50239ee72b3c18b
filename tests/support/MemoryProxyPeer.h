// A proxy played from memory behind the ProxyTransport of the tunnels: its
// reply comes in the given pieces (one receive never crosses a piece), and
// everything sent is kept. After the last piece it either closes the
// connection or stays silent, so that the next wait runs out.
#pragma once

#include "net/proxy/ProxyTransport.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tavlo::test {

class MemoryProxyPeer : public ProxyTransport {
public:
    enum class AtEnd { Close, Silence };

    MemoryProxyPeer(std::vector<std::string> pieces, AtEnd atEnd)
        : m_pieces(std::move(pieces)), m_atEnd(atEnd) {}

    int SendAll(const void* data, std::size_t length) override {
        m_sent.append(static_cast<const char*>(data), length);
        return 0;
    }

    int ReceiveSome(void* buffer, std::size_t capacity, std::size_t& received) override {
        received = 0;
        SkipEmptyPieces();
        if (m_piece >= m_pieces.size())
            return 0; // closed
        const std::string& piece = m_pieces[m_piece];
        received = std::min(capacity, piece.size() - m_offset);
        std::memcpy(buffer, piece.data() + m_offset, received);
        m_offset += received;
        m_taken += received;
        return 0;
    }

    int WaitReadable(unsigned long timeoutMs, bool& readable) override {
        ++m_waits;
        m_lastTimeoutMs = timeoutMs;
        SkipEmptyPieces();
        readable = m_piece < m_pieces.size() || m_atEnd == AtEnd::Close;
        return 0;
    }

    const std::string& Sent() const { return m_sent; }
    // Bytes of the reply the tunnel took, and those it left for what comes
    // after it.
    std::size_t Taken() const { return m_taken; }
    std::string Unread() const {
        std::string rest;
        for (std::size_t i = m_piece; i < m_pieces.size(); ++i)
            rest += i == m_piece ? m_pieces[i].substr(m_offset) : m_pieces[i];
        return rest;
    }
    int Waits() const { return m_waits; }
    unsigned long LastTimeoutMs() const { return m_lastTimeoutMs; }

private:
    void SkipEmptyPieces() {
        while (m_piece < m_pieces.size() && m_offset >= m_pieces[m_piece].size()) {
            ++m_piece;
            m_offset = 0;
        }
    }

    std::vector<std::string> m_pieces;
    AtEnd m_atEnd;
    std::size_t m_piece = 0;
    std::size_t m_offset = 0;
    std::size_t m_taken = 0;
    std::string m_sent;
    int m_waits = 0;
    unsigned long m_lastTimeoutMs = 0;
};

} // namespace tavlo::test
