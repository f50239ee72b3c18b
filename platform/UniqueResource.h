// Port: the one owner template behind the handle owners (sockets, kernel
// handles). Move-only; closes what it holds on destruction and on Reset, so
// an owned handle can never leak.
//
// Traits name the handle type and say what "none" is and how to close:
//   using Handle = ...;
//   static Handle Invalid();            the value that means "none"
//   static bool IsValid(Handle h);
//   static auto Close(Handle h);        the platform close's result
//   static auto ClosedNothing();        Close's result when nothing is held
#pragma once

#include <utility>

namespace port {

template <class Traits> class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() = default;
    explicit UniqueResource(Handle h) : m_h(h) {}
    ~UniqueResource() { Close(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_h(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Handle Get() const { return m_h; }
    bool Valid() const { return Traits::IsValid(m_h); }
    explicit operator bool() const { return Valid(); }

    // Closes the handle held (if any) and takes h.
    void Reset(Handle h = Traits::Invalid()) {
        if (h == m_h)
            return;
        Close();
        m_h = h;
    }
    // Gives the handle up without closing it.
    Handle Release() { return std::exchange(m_h, Traits::Invalid()); }
    // Closes now and tells the platform close's result.
    auto Close() {
        const Handle h = Release();
        return Traits::IsValid(h) ? Traits::Close(h) : Traits::ClosedNothing();
    }

    friend bool operator==(const UniqueResource& owner, Handle h) { return owner.m_h == h; }

private:
    Handle m_h = Traits::Invalid();
};

} // namespace port
