// Owner of a Win32 kernel object handle.
#pragma once

#include "platform/UniqueResource.h"
#include "platform/win32/WindowsGateway.h"

namespace port {

// Kernel object handles (files, events); INVALID_HANDLE_VALUE and null both
// mean "none". Close is false when CloseHandle failed (a write may not have
// reached the file).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return ::CloseHandle(h) != 0; }
    static bool ClosedNothing() { return true; }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;

} // namespace port
