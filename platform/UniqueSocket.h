// Port: the owner of one socket handle. Move-only; closes what it holds on
// destruction and on Reset, so a handle that is owned can never leak.
#pragma once

#include "platform/Socket.h"
#include "platform/UniqueResource.h"

namespace port {

struct SocketTraits {
    using Handle = SocketHandle;
    static Handle Invalid() { return kInvalidSocket; }
    static bool IsValid(Handle h) { return h != kInvalidSocket; }
    // The platform close's result: 0, or -1 on failure or with nothing held.
    static int Close(Handle h) { return SocketClose(h); }
    static int ClosedNothing() { return -1; }
};

using UniqueSocket = UniqueResource<SocketTraits>;

} // namespace port
