// Port: the owner of one socket handle. Move-only; closes what it holds on
// destruction and on Reset, so a handle that is owned can never leak.
#pragma once

#include "platform/Socket.h"

#include <utility>

namespace port {

class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(SocketHandle h) : m_h(h) {}
    ~UniqueSocket() { Close(); }

    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    UniqueSocket(UniqueSocket&& other) noexcept : m_h(other.Release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    SocketHandle Get() const { return m_h; }
    bool Valid() const { return m_h != kInvalidSocket; }
    explicit operator bool() const { return Valid(); }

    // Closes the handle held (if any) and takes h.
    void Reset(SocketHandle h = kInvalidSocket) {
        if (h == m_h)
            return;
        Close();
        m_h = h;
    }
    // Gives the handle up without closing it.
    SocketHandle Release() { return std::exchange(m_h, kInvalidSocket); }
    // The platform close's result: 0, or -1 on failure or with nothing held.
    int Close() {
        if (m_h == kInvalidSocket)
            return -1;
        return SocketClose(std::exchange(m_h, kInvalidSocket));
    }

    friend bool operator==(const UniqueSocket& s, SocketHandle h) { return s.m_h == h; }

private:
    SocketHandle m_h = kInvalidSocket;
};

} // namespace port
