// Owner of a Win32 kernel object handle.
#pragma once

#include "platform/win32/WindowsGateway.h"

#include <utility>

namespace port {

// Owns a kernel object handle (files, events); INVALID_HANDLE_VALUE and null
// both mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_handle(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Close(); }

    explicit operator bool() const {
        return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
    }
    HANDLE Get() const { return m_handle; }
    HANDLE Release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void Reset(HANDLE h) {
        Close();
        m_handle = h;
    }
    // Closes now; false when CloseHandle failed (a write may not have reached
    // the file).
    bool Close() {
        const HANDLE h = Release();
        return h == nullptr || h == INVALID_HANDLE_VALUE || ::CloseHandle(h) != 0;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

} // namespace port
